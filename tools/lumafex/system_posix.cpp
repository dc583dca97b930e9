#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "system.h"

namespace lumafex::tool {

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

bool SetEnvironment(const char* name, const char* value) { return setenv(name, value, 1) == 0; }

void InstallSignalHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    // Both can fail only for an invalid signal number.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void WriteErrorNow(const char* text) {
    // A report that cannot be written has nowhere else to go.
    if (write(STDERR_FILENO, text, std::strlen(text)) < 0) return;
}

void RemoveFileNow(const char* path) {
    // The program is ending; a file that cannot be removed stays, and the
    // caller has nothing to tell the user with.
    unlink(path);
}

}  // namespace lumafex::tool
