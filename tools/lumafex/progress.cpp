#include "progress.h"

#include <cinttypes>

#include "system.h"

namespace lumafex::tool {

namespace {

const char* OutcomeName(FrameOutcome outcome) {
    switch (outcome) {
        case FrameOutcome::Written: return "written";
        case FrameOutcome::Skipped: return "skipped";
        case FrameOutcome::Refused: return "refused";
        case FrameOutcome::Missing: return "missing";
        case FrameOutcome::Failed: return "failed";
    }
    return "unknown";
}

double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

Progress::Progress(std::size_t total, Verbosity verbosity, LogFormat format, std::FILE* to)
    : total_(total),
      quiet_(verbosity == Verbosity::Quiet),
      live_(verbosity == Verbosity::Normal && format == LogFormat::Text && IsTerminal(to)),
      format_(format),
      to_(to),
      start_(Clock::now()),
      last_(start_) {}

void Progress::FrameDone(int64_t frame, FrameOutcome outcome, const std::string& detail) {
    ++done_;
    switch (outcome) {
        case FrameOutcome::Written: ++counts_.written; break;
        case FrameOutcome::Skipped: ++counts_.skipped; break;
        case FrameOutcome::Refused: ++counts_.refused; break;
        case FrameOutcome::Missing: ++counts_.missing; break;
        case FrameOutcome::Failed: ++counts_.failed; break;
    }
    const Clock::time_point now = Clock::now();
    const double ms = Milliseconds(now - last_);
    last_ = now;
    const double average = Milliseconds(now - start_) / static_cast<double>(done_);
    const double left = average * static_cast<double>(total_ - done_) / 1000.0;
    if (quiet_) return;
    if (format_ == LogFormat::Json) {
        std::fprintf(to_,
                     "{\"event\":\"frame\",\"frame\":%" PRId64 ",\"index\":%zu,\"total\":%zu,"
                     "\"outcome\":\"%s\",\"ms\":%.1f,\"average_ms\":%.1f,\"left_s\":%.1f,"
                     "\"detail\":%s}\n",
                     frame, done_, total_, OutcomeName(outcome), ms, average, left,
                     JsonString(detail).c_str());
    } else if (live_) {
        std::fprintf(to_, "\rframe %" PRId64 "  %zu/%zu  %.0f ms a frame  %.1fs left   ", frame,
                     done_, total_, average, left);
    } else {
        std::fprintf(to_, "frame %" PRId64 " (%zu/%zu): %.0f ms, average %.0f ms, %.1fs left: %s\n",
                     frame, done_, total_, ms, average, left, detail.c_str());
    }
    std::fflush(to_);
}

void Progress::Finish(const std::vector<std::string>& notes) {
    if (quiet_) return;
    if (live_ && done_ > 0) std::fputc('\n', to_);
    std::string sources;
    for (const std::string& note : notes) {
        if (format_ == LogFormat::Text) std::fprintf(to_, "lumafex: %s\n", note.c_str());
        if (!sources.empty()) sources += ',';
        sources += JsonString(note);
    }
    const double seconds = Milliseconds(Clock::now() - start_) / 1000.0;
    const double average = done_ > 0 ? seconds * 1000.0 / static_cast<double>(done_) : 0.0;
    if (format_ == LogFormat::Json) {
        std::fprintf(to_,
                     "{\"event\":\"summary\",\"frames\":%zu,\"written\":%zu,\"skipped\":%zu,"
                     "\"refused\":%zu,\"missing\":%zu,\"failed\":%zu,\"seconds\":%.2f,"
                     "\"average_ms\":%.1f,\"sources\":[%s]}\n",
                     done_, counts_.written, counts_.skipped, counts_.refused, counts_.missing,
                     counts_.failed, seconds, average, sources.c_str());
    } else {
        std::fprintf(to_,
                     "lumafex: %zu frames: %zu written, %zu skipped, %zu refused, %zu missing, "
                     "%zu failed in %.1f s (%.0f ms a frame)\n",
                     done_, counts_.written, counts_.skipped, counts_.refused, counts_.missing,
                     counts_.failed, seconds, average);
    }
    std::fflush(to_);
}

}  // namespace lumafex::tool
