// Ctrl-C and termination requests. The program never leaves a temporary file
// behind: the write in progress registers its temporary file, and on SIGINT
// or SIGTERM that file is removed, the interruption is reported (with what
// was being done) and the program exits with 130 or 143.
#pragma once

#include <string>

namespace lumafex::tool {

// Installs the handlers (POSIX; on Windows nothing is installed).
void InstallInterruptHandlers();

// What the program is doing, for the report ("frame 12"); empty: nothing.
void SetInterruptContext(const std::string& what);

// While an InterruptShield lives, a signal is held back: it is acted on when
// the shield goes, so a temporary file is never created unregistered or
// renamed while still registered.
class InterruptShield {
public:
    InterruptShield();
    ~InterruptShield();
    InterruptShield(const InterruptShield&) = delete;
    InterruptShield& operator=(const InterruptShield&) = delete;
};

// The temporary file to remove on interruption (call under a shield).
// Returns false when the path is too long to register.
[[nodiscard]] bool RegisterTemporaryFile(const std::string& path);
void ForgetTemporaryFile();

// Likewise a scratch file an image is encoded into before its safe write
// (one write is in progress at a time, on whichever thread).
bool RegisterScratchFile(const std::string& path);
void ForgetScratchFile();

}  // namespace lumafex::tool
