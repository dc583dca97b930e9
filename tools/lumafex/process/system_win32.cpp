#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "process/system.h"

namespace lumafex::tool {

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

int AllowedProcessors() {
    if (const char* slurm = std::getenv("SLURM_CPUS_PER_TASK"); slurm != nullptr && *slurm != '\0') {
        char* end = nullptr;
        const long count = std::strtol(slurm, &end, 10);
        if (*end == '\0' && count >= 1 && count <= 4096) return static_cast<int>(count);
    }
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) != 0 && process != 0) {
        int count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores >= 1 && cores <= 4096 ? static_cast<int>(cores) : 1;
}

bool SetEnvironment(const char* name, const char* value) { return _putenv_s(name, value) == 0; }

void KeepFreedMemoryForReuse(uint64_t) {}

// Console control events are left to the system's default, which ends the
// process; a temporary file may stay behind there.
void InstallSignalHandler(void (*)(int)) {}

const char* SignalReport(int signal) { return signal == SIGINT ? "interrupted" : "terminated"; }

void WriteErrorNow(const char* text) {
    // A report that cannot be written has nowhere else to go.
    if (_write(2, text, static_cast<unsigned>(std::strlen(text))) < 0) return;
}

void RemoveFileNow(const char* path) {
    // The program is ending; a file that cannot be removed stays, and the
    // caller has nothing to tell the user with.
    DeleteFileA(path);
}

}  // namespace lumafex::tool
