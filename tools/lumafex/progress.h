// Progress of a render: a line that updates in place on a terminal, one
// line per frame with --verbose, nothing when quiet or not on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace lumafex::tool {

enum class Verbosity { Quiet, Normal, Verbose };

class Progress {
public:
    Progress(std::size_t total, Verbosity verbosity, std::FILE* to = stderr);
    // Called when a frame is done.
    void FrameDone(int64_t frame, const char* what);
    // Ends the in-place line.
    void Finish();

private:
    std::size_t total_;
    std::size_t done_ = 0;
    bool live_;
    bool verbose_;
    std::FILE* to_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace lumafex::tool
