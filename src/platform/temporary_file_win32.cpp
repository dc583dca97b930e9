#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdint>

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
            name = std::string(path) + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" +
                   std::to_string(nextCount++);
            // CREATE_NEW: created here or not at all.
            const HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle == INVALID_HANDLE_VALUE) {
                const DWORD error = GetLastError();
                if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
                break;
            }
            const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
            if (fd < 0) {
                CloseHandle(handle);
                DeleteFileA(name.c_str());
                break;
            }
            if (std::FILE* file = _fdopen(fd, "wb")) return file;
            _close(fd);
            DeleteFileA(name.c_str());
            break;
        }
    } catch (...) {
        // No memory for the name: nothing was created.
    }
    name.clear();
    return nullptr;
}

}  // namespace lumafex::platform
