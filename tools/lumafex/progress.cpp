#include "progress.h"

#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <mutex>

#include <nlohmann/json.hpp>

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
        nlohmann::ordered_json record;
        record["event"] = "frame";
        record["frame"] = frame;
        record["index"] = done_;
        record["total"] = total_;
        record["outcome"] = OutcomeName(outcome);
        record["ms"] = Tenths(ms);
        record["average_ms"] = Tenths(average);
        record["left_s"] = Tenths(left);
        record["detail"] = detail;
        std::fputs(JsonLine(record).c_str(), to_);
    } else if (live_) {
        std::fprintf(to_, "\rframe %" PRId64 "  %zu/%zu  %.0f ms a frame  %.1fs left   ", frame,
                     done_, total_, average, left);
    } else {
        std::fprintf(to_, "frame %" PRId64 " (%zu/%zu): %.0f ms, average %.0f ms, %.1fs left: %s\n",
                     frame, done_, total_, ms, average, left, TerminalSafe(detail).c_str());
    }
    std::fflush(to_);
}

void Progress::Finish(const std::vector<std::string>& notes) {
    if (quiet_) return;
    if (live_ && done_ > 0) std::fputc('\n', to_);
    const double seconds = Milliseconds(Clock::now() - start_) / 1000.0;
    const double average = done_ > 0 ? seconds * 1000.0 / static_cast<double>(done_) : 0.0;
    if (format_ == LogFormat::Json) {
        nlohmann::ordered_json record;
        record["event"] = "summary";
        record["frames"] = done_;
        record["written"] = counts_.written;
        record["skipped"] = counts_.skipped;
        record["refused"] = counts_.refused;
        record["missing"] = counts_.missing;
        record["failed"] = counts_.failed;
        record["seconds"] = std::round(seconds * 100.0) / 100.0;
        record["average_ms"] = Tenths(average);
        record["sources"] = notes;
        std::fputs(JsonLine(record).c_str(), to_);
    } else {
        for (const std::string& note : notes) std::fprintf(to_, "lumafex: %s\n", TerminalSafe(note).c_str());
        std::fprintf(to_,
                     "lumafex: %zu frames: %zu written, %zu skipped, %zu refused, %zu missing, "
                     "%zu failed in %.1f s (%.0f ms a frame)\n",
                     done_, counts_.written, counts_.skipped, counts_.refused, counts_.missing,
                     counts_.failed, seconds, average);
    }
    std::fflush(to_);
}

}  // namespace lumafex::tool
