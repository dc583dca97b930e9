#include "process/progress.h"

#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <mutex>

#include <nlohmann/json.hpp>

#include "process/system.h"

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

// A time to a tenth, as the log shows it.
double Tenths(double value) { return std::round(value * 10.0) / 10.0; }

// One record a line; bytes of the text that are not UTF-8 become U+FFFD.
std::string JsonLine(const nlohmann::ordered_json& record) {
    return record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// The length of the UTF-8 sequence at text[i] (2 to 4), or 0 when the bytes
// there are not one (overlong forms, surrogates and values past U+10FFFF
// included).
std::size_t Utf8Length(const std::string& text, std::size_t i, char32_t* value) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t v = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        v = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        v = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        v = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
        v = (v << 6) | (byte(i + k) & 0x3Fu);
    }
    if ((length == 3 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) ||
        (length == 4 && (v < 0x10000 || v > 0x10FFFF)))
        return 0;
    *value = v;
    return length;
}

struct LogStyle {
    std::mutex mutex;
    LogFormat format = LogFormat::Text;
    bool quiet = false;
};

LogStyle& Style() {
    static LogStyle style;
    return style;
}

// The held standard error stream: the stream it replaced, the common store
// and, per thread, where that thread's printing goes.
std::FILE* g_logStream = nullptr;  // null: stderr
std::mutex g_heldMutex;
std::string g_held;
thread_local std::string* g_printingInto = nullptr;

#if defined(__GLIBC__)
std::terminate_handler g_terminateBefore = nullptr;

// A program that ends abnormally says why on the real standard error, after
// what was held.
[[noreturn]] void TerminateUnheld() {
    if (g_logStream != nullptr) {
        stderr = g_logStream;
        g_logStream = nullptr;
        PassOnPrinted();
    }
    if (g_terminateBefore != nullptr) g_terminateBefore();
    std::abort();
}

ssize_t HoldPrinted(void* /*cookie*/, const char* data, std::size_t size) {
    if (g_printingInto != nullptr) {
        g_printingInto->append(data, size);
    } else {
        const std::lock_guard<std::mutex> lock(g_heldMutex);
        g_held.append(data, size);
    }
    return static_cast<ssize_t>(size);
}
#endif

}  // namespace

std::FILE* LogStream() { return g_logStream != nullptr ? g_logStream : stderr; }

HeldPrinting::HeldPrinting() {
#if defined(__GLIBC__)
    // glibc lets a program replace stderr; the library and module code that
    // prints reads it at every call.
    cookie_io_functions_t functions{};
    functions.write = HoldPrinted;
    std::FILE* held = fopencookie(nullptr, "w", functions);
    if (held == nullptr) return;
    // Unbuffered: every print reaches HoldPrinted on the thread that made it.
    std::setvbuf(held, nullptr, _IONBF, 0);
    std::fflush(stderr);
    g_logStream = stderr;
    stderr = held;
    g_terminateBefore = std::set_terminate(TerminateUnheld);
#endif
}

HeldPrinting::~HeldPrinting() {
#if defined(__GLIBC__)
    if (g_logStream == nullptr) return;
    std::set_terminate(g_terminateBefore);
    std::FILE* held = stderr;
    stderr = g_logStream;
    g_logStream = nullptr;
    std::fclose(held);
    PassOnPrinted();
#endif
}

PrintingInto::PrintingInto(std::string& into) : before_(g_printingInto) { g_printingInto = &into; }

PrintingInto::~PrintingInto() { g_printingInto = before_; }

void PassOnPrinted(std::string* text, std::optional<int64_t> frame) {
    std::string lines;
    if (text != nullptr) {
        lines.swap(*text);
    } else {
        const std::lock_guard<std::mutex> lock(g_heldMutex);
        lines.swap(g_held);
    }
    for (std::size_t start = 0; start < lines.size();) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string::npos) end = lines.size();
        LogMessage(LogLevel::Passed, lines.substr(start, end - start), frame);
        start = end + 1;
    }
}

std::string TerminalSafe(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    auto hex = [&](unsigned char u) {
        static const char kDigits[] = "0123456789abcdef";
        out += "\\x";
        out += kDigits[u >> 4];
        out += kDigits[u & 0xF];
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        if (u >= 0x20 && u < 0x7F) {
            out += text[i++];
        } else if (u == '\n' || u == '\r' || u == '\t') {
            out += u == '\n' ? "\\n" : u == '\r' ? "\\r" : "\\t";
            ++i;
        } else if (char32_t v = 0; const std::size_t length = u >= 0x80 ? Utf8Length(text, i, &v) : 0) {
            // C1 controls (U+0080 to U+009F) act like ESC sequences on many terminals.
            if (v >= 0x80 && v <= 0x9F) {
                for (std::size_t k = 0; k < length; ++k) hex(static_cast<unsigned char>(text[i + k]));
            } else {
                out.append(text, i, length);
            }
            i += length;
        } else {
            hex(u);
            ++i;
        }
    }
    return out;
}

void SetLogStyle(LogFormat format, Verbosity verbosity) {
    LogStyle& style = Style();
    const std::lock_guard<std::mutex> lock(style.mutex);
    style.format = format;
    style.quiet = verbosity == Verbosity::Quiet;
}

bool QuietLog() {
    LogStyle& style = Style();
    const std::lock_guard<std::mutex> lock(style.mutex);
    return style.quiet;
}

void LogMessage(LogLevel level, const std::string& text, std::optional<int64_t> frame) {
    LogStyle& style = Style();
    const std::lock_guard<std::mutex> lock(style.mutex);
    if (level == LogLevel::Warning && style.quiet) return;
    std::string line;
    if (style.format == LogFormat::Json) {
        nlohmann::ordered_json record;
        record["event"] = level == LogLevel::Error ? "error" : level == LogLevel::Warning ? "warning" : "message";
        if (frame) record["frame"] = *frame;
        record["message"] = text;
        line = JsonLine(record);
    } else {
        line = (level == LogLevel::Passed ? "" : "lumafex: ") + TerminalSafe(text) + "\n";
    }
    std::FILE* to = LogStream();
    std::fwrite(line.data(), 1, line.size(), to);
    std::fflush(to);
}

Progress::Progress(std::size_t total, Verbosity verbosity, LogFormat format, std::FILE* to)
    : total_(total),
      quiet_(verbosity == Verbosity::Quiet),
      live_(verbosity == Verbosity::Normal && format == LogFormat::Text && IsTerminal(to)),
      format_(format),
      to_(to),
      start_(Clock::now()),
      last_(start_) {}

void Progress::FrameDone(int64_t frame, FrameOutcome outcome, const std::string& detail,
                         const FrameTimes& times) {
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
    if (times.filtered) {
        ++filtered_;
        filteredMs_ += ms;
        filteredSteps_.readMs += times.readMs;
        filteredSteps_.filterMs += times.filterMs;
        filteredSteps_.writeMs += times.writeMs;
    }
    // Until a frame is filtered there is nothing to tell the time left by.
    std::optional<double> average, left;
    if (filtered_ > 0) {
        average = filteredMs_ / static_cast<double>(filtered_);
        left = *average * static_cast<double>(total_ - done_) / 1000.0;
    }
    if (quiet_) return;
    if (format_ == LogFormat::Json) {
        nlohmann::ordered_json record;
        record["event"] = "frame";
        record["frame"] = frame;
        record["index"] = done_;
        record["total"] = total_;
        record["outcome"] = OutcomeName(outcome);
        record["ms"] = Tenths(ms);
        record["read_ms"] = Tenths(times.readMs);
        record["filter_ms"] = Tenths(times.filterMs);
        record["write_ms"] = Tenths(times.writeMs);
        record["average_ms"] = average ? nlohmann::ordered_json(Tenths(*average)) : nullptr;
        record["left_s"] = left ? nlohmann::ordered_json(Tenths(*left)) : nullptr;
        record["detail"] = detail;
        std::fputs(JsonLine(record).c_str(), to_);
    } else if (live_) {
        if (average) {
            std::fprintf(to_, "\rframe %" PRId64 "  %zu/%zu  %.0f ms a frame  %.1fs left   ", frame, done_,
                         total_, *average, *left);
        } else {
            std::fprintf(to_, "\rframe %" PRId64 "  %zu/%zu  none filtered yet   ", frame, done_, total_);
        }
    } else {
        char pace[96];
        if (average) {
            std::snprintf(pace, sizeof pace, "average %.0f ms, %.1fs left", *average, *left);
        } else {
            std::snprintf(pace, sizeof pace, "average n/a, time left n/a");
        }
        std::fprintf(to_, "frame %" PRId64 " (%zu/%zu): %.0f ms (read %.0f, filter %.0f, write %.0f), %s: %s\n",
                     frame, done_, total_, ms, times.readMs, times.filterMs, times.writeMs, pace,
                     TerminalSafe(detail).c_str());
    }
    std::fflush(to_);
}

void Progress::Finish(const std::vector<std::string>& notes) {
    if (quiet_) return;
    if (live_ && done_ > 0) std::fputc('\n', to_);
    const double seconds = Milliseconds(Clock::now() - start_) / 1000.0;
    // Averages over the frames filtered.
    const double n = static_cast<double>(filtered_);
    if (format_ == LogFormat::Json) {
        auto mean = [&](double sum) { return filtered_ > 0 ? nlohmann::ordered_json(Tenths(sum / n)) : nullptr; };
        nlohmann::ordered_json record;
        record["event"] = "summary";
        record["frames"] = done_;
        record["written"] = counts_.written;
        record["skipped"] = counts_.skipped;
        record["refused"] = counts_.refused;
        record["missing"] = counts_.missing;
        record["failed"] = counts_.failed;
        record["filtered"] = filtered_;
        record["seconds"] = std::round(seconds * 100.0) / 100.0;
        record["average_ms"] = mean(filteredMs_);
        record["average_read_ms"] = mean(filteredSteps_.readMs);
        record["average_filter_ms"] = mean(filteredSteps_.filterMs);
        record["average_write_ms"] = mean(filteredSteps_.writeMs);
        record["sources"] = notes;
        std::fputs(JsonLine(record).c_str(), to_);
    } else {
        for (const std::string& note : notes) std::fprintf(to_, "lumafex: %s\n", TerminalSafe(note).c_str());
        char pace[128];
        if (filtered_ > 0) {
            std::snprintf(pace, sizeof pace, "%.0f ms a frame: read %.0f, filter %.0f, write %.0f",
                          filteredMs_ / n, filteredSteps_.readMs / n, filteredSteps_.filterMs / n,
                          filteredSteps_.writeMs / n);
        } else {
            std::snprintf(pace, sizeof pace, "no frame filtered");
        }
        std::fprintf(to_,
                     "lumafex: %zu frames: %zu written, %zu skipped, %zu refused, %zu missing, "
                     "%zu failed in %.1f s (%s)\n",
                     done_, counts_.written, counts_.skipped, counts_.refused, counts_.missing,
                     counts_.failed, seconds, pace);
    }
    std::fflush(to_);
}

}  // namespace lumafex::tool
