// The host program's few calls into the operating system that the platform
// layer does not make for it: terminals, its environment and termination
// signals. system_posix.cpp and system_win32.cpp implement them.
#pragma once

#include <cstdint>
#include <cstdio>

namespace lumafex::tool {

// Whether stream writes to a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// The processors this process may run on, for its default thread count:
// SLURM_CPUS_PER_TASK inside a Slurm job that sets it, else the CPUs of its
// affinity mask (taskset, cgroups, a scheduler's binding), else every core
// the machine has; at least 1.
int AllowedProcessors();

// Sets an environment variable of this process, replacing any value; false
// when the system refuses.
[[nodiscard]] bool SetEnvironment(const char* name, const char* value);

// Lets this process keep the large blocks it frees, up to `bytes`, for its
// next allocations instead of handing them back to the system, and in one
// heap whichever thread frees them, so that a program working frame after
// frame does not fault in every page of its frames again (a fifth of the
// processor time of a PNG sequence with every filter off; a tenth more of
// an EXR sequence's, from the one heap). Half the budget, up to 1 GiB, is
// address space set aside at the heap's end in huge pages, where first
// touches fault once every 2 MiB instead of every 4 KiB (6 to 18% of the
// processor time of the PNG and EXR sequences measured). The memory held
// never goes above the program's own peak.
// Process-wide, so only the command-line program calls it, never a library
// loaded into someone else's process (glibc; elsewhere it does nothing).
void KeepFreedMemoryForReuse(uint64_t bytes);

// Calls handler on every signal that would end the program by default
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2,
// SIGXCPU, SIGVTALRM, SIGPROF, SIGIO, SIGPWR), leaving any the program was
// started with ignored (nohup) ignored, and ignores SIGXFSZ, so that a
// write past a file-size limit fails with EFBIG instead of ending the
// program (POSIX; Windows installs nothing).
void InstallSignalHandler(void (*handler)(int));

// What a signal did, for the report: "interrupted", "terminated",
// "stopped by SIGHUP (hang-up)". Async-signal-safe.
const char* SignalReport(int signal);

// Async-signal-safe calls for such a handler: a text on standard error, and
// removing a file.
void WriteErrorNow(const char* text);
void RemoveFileNow(const char* path);

}  // namespace lumafex::tool
