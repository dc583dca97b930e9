// Progress of a render. On a terminal, a line that updates in place; in a
// log (standard error not a terminal, as on a farm) or with --verbose, one
// line per frame with its time, how long its read, filter and write took,
// the running average and the time left.
// Every run ends with a summary line. --log-format json writes the same
// records as JSON lines; quiet writes nothing but errors.
//
// Every other message of the program on standard error goes through
// LogMessage, so that in JSON mode every line there is one JSON record, and
// in text mode no file name or library message can move the cursor, clear
// the screen or forge a line of its own on the terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace lumafex::tool {

enum class Verbosity { Quiet, Normal, Verbose };
enum class LogFormat { Text, Json };

// What became of a frame.
enum class FrameOutcome { Written, Skipped, Refused, Missing, Failed };

struct RunCounts {
    std::size_t written = 0, skipped = 0, refused = 0, missing = 0, failed = 0;
};

// How long each step of a frame took, in milliseconds; 0 for a step not
// taken. Reading ahead, a frame's read and write overlap other frames'
// filtering, so the steps may add up to more than the frame's own time.
struct FrameTimes {
    double readMs = 0.0, filterMs = 0.0, writeMs = 0.0;
    // The module filtered the frame. Only such frames count toward the
    // average and the time left: a frame skipped or missing takes no time.
    bool filtered = false;
};

class Progress {
public:
    Progress(std::size_t total, Verbosity verbosity, LogFormat format = LogFormat::Text,
             std::FILE* to = stderr);
    // Called when a frame is done; detail says what was written or why not.
    void FrameDone(int64_t frame, FrameOutcome outcome, const std::string& detail,
                   const FrameTimes& times = {});
    // Ends the in-place line and writes the summary, after notes on where
    // the frames came from (a line each, or the summary's "sources").
    void Finish(const std::vector<std::string>& notes = {});
    const RunCounts& Counts() const { return counts_; }

private:
    using Clock = std::chrono::steady_clock;
    std::size_t total_;
    std::size_t done_ = 0;
    RunCounts counts_;
    // The frames filtered, the time between their lines and their steps'
    // times, summed.
    std::size_t filtered_ = 0;
    double filteredMs_ = 0.0;
    FrameTimes filteredSteps_;
    bool quiet_;
    bool live_;  // the in-place line of a terminal
    LogFormat format_;
    std::FILE* to_;
    Clock::time_point start_;
    Clock::time_point last_;
};

// Text with its control characters (C0, DEL and C1, the ESC of ANSI
// sequences among them) and bytes that are not UTF-8 written as C escapes
// ("\n", "\x1b"), fit to reach a terminal.
std::string TerminalSafe(const std::string& text);

// How the program's messages are written: set once the command line is read.
void SetLogStyle(LogFormat format, Verbosity verbosity);
// Whether --quiet asked for errors only.
bool QuietLog();

// Passed: a line a library or the module printed, passed on as it was
// (made TerminalSafe) or as {"event": "message", ...}.
enum class LogLevel { Error, Warning, Passed };

// One message on standard error: "lumafex: TEXT" (made TerminalSafe) or a
// JSON record {"event": "error"|"warning", "frame": N, "message": TEXT}.
// Warnings are left out with --quiet. Safe to call from any thread.
void LogMessage(LogLevel level, const std::string& text,
                std::optional<int64_t> frame = std::nullopt);

// Where the log goes: standard error, also while a HeldPrinting lives.
std::FILE* LogStream();

// While a HeldPrinting lives, what anything in the process prints on the C
// standard error stream (an image library such as libpng, the module's own
// messages) is held instead of reaching the terminal: text printed on a
// thread inside a PrintingInto goes to that string, the rest to a common
// store. PassOnPrinted writes held text through LogMessage, a line at a
// time, so it is escaped or made JSON like every other line and keeps its
// place among its frame's lines whichever thread printed it. Only with
// glibc; elsewhere nothing is held. One at a time; threads that print must
// end before it does.
class HeldPrinting {
public:
    HeldPrinting();
    ~HeldPrinting();  // passes on what is still held
    HeldPrinting(const HeldPrinting&) = delete;
    HeldPrinting& operator=(const HeldPrinting&) = delete;
};

class PrintingInto {
public:
    explicit PrintingInto(std::string& into);
    ~PrintingInto();
    PrintingInto(const PrintingInto&) = delete;
    PrintingInto& operator=(const PrintingInto&) = delete;

private:
    std::string* before_;
};

// Passes text on (emptying it), or the common store when text is null.
void PassOnPrinted(std::string* text = nullptr, std::optional<int64_t> frame = std::nullopt);

}  // namespace lumafex::tool
