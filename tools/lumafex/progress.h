// Progress of a render. On a terminal, a line that updates in place; in a
// log (standard error not a terminal, as on a farm) or with --verbose, one
// line per frame with its time, the running average and the time left.
// Every run ends with a summary line. --log-format json writes the same
// records as JSON lines; quiet writes nothing but errors.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
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

class Progress {
public:
    Progress(std::size_t total, Verbosity verbosity, LogFormat format = LogFormat::Text,
             std::FILE* to = stderr);
    // Called when a frame is done; detail says what was written or why not.
    void FrameDone(int64_t frame, FrameOutcome outcome, const std::string& detail);
    // Ends the in-place line and writes the summary, after notes on where
    // the frames came from (a line each, or the summary's "sources").
    void Finish(const std::vector<std::string>& notes = {});
    const RunCounts& Counts() const { return counts_; }

private:
    using Clock = std::chrono::steady_clock;
    std::size_t total_;
    std::size_t done_ = 0;
    RunCounts counts_;
    bool quiet_;
    bool live_;  // the in-place line of a terminal
    LogFormat format_;
    std::FILE* to_;
    Clock::time_point start_;
    Clock::time_point last_;
};

// A JSON string literal of text.
std::string JsonString(const std::string& text);

}  // namespace lumafex::tool
