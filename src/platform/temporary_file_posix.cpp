#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/temporary_file.h"

namespace lumafex::platform {

namespace {

// Names already taken by other files are skipped; other failures end the
// search at once.
constexpr int kAttempts = 100;
std::atomic<unsigned> nextCount{0};

}  // namespace

std::FILE* CreateFileBeside(const char* path, std::string& name) {
    try {
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            name = std::string(path) + ".tmp" + std::to_string(getpid()) + "-" +
                   std::to_string(nextCount++);
            // O_EXCL: created here or not at all. 0666 leaves the mode to
            // the umask, as for any file the user saves.
            const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST) continue;
                break;
            }
            if (std::FILE* file = fdopen(fd, "wb")) return file;
            close(fd);
            unlink(name.c_str());
            break;
        }
    } catch (...) {
        // No memory for the name: nothing was created.
    }
    name.clear();
    return nullptr;
}

}  // namespace lumafex::platform
