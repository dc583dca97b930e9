// Where a block of settings lines comes from and goes to: the host's scene
// file through the handler's load and save entries, or a test's store.
#pragma once

#include <cstdint>

namespace lumafex {

class LineSource {
public:
    virtual ~LineSource() = default;
    // Stores at most size characters of the next line, a terminating zero
    // included, and returns how many it stored; negative at the block's end.
    virtual int32_t ReadLine(char* buffer, int32_t size) = 0;
};

class LineSink {
public:
    virtual ~LineSink() = default;
    // Writes one line of length characters.
    virtual void WriteLine(const char* text, int32_t length) = 0;
};

}  // namespace lumafex
