// Ctrl-C, termination requests and every other signal that would end the
// program (a hang-up, SIGQUIT, a broken pipe, CPU-time limits, timers,
// SIGUSR1/2). The program never leaves a temporary file behind: each write
// in progress registers its temporary file, and on any of them those files
// are removed, the signal is reported (with what was being done) and the
// program exits with 128 + the signal's number (130 for SIGINT, 143 for
// SIGTERM). A signal the program was started with ignored (nohup) stays
// ignored. SIGXFSZ is ignored, so a file-size limit (ulimit -f) makes the
// write fail like a full disk, with a message, instead of ending the run.
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

// A temporary file to remove on interruption (call under a shield; several
// writes may be in progress at once, on any threads). Returns the slot to
// forget it by, or -1 when the path is too long or every slot is taken.
[[nodiscard]] int RegisterTemporaryFile(const std::string& path);
void ForgetTemporaryFile(int slot);

}  // namespace lumafex::tool
