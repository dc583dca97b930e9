#include "files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "interrupt.h"

namespace lumafex::tool {

namespace {

#if defined(_WIN32)
constexpr int kOpenFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
int OpenNew(const char* p) { return _open(p, kOpenFlags, _S_IREAD | _S_IWRITE); }
long WriteSome(int fd, const char* data, std::size_t n) {
    return _write(fd, data, static_cast<unsigned>(n));
}
int FlushToDisk(int fd) { return _commit(fd); }
int CloseFile(int fd) { return _close(fd); }
int ProcessId() { return _getpid(); }
#else
constexpr int kOpenFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
int OpenNew(const char* p) { return open(p, kOpenFlags, 0666); }
long WriteSome(int fd, const char* data, std::size_t n) { return write(fd, data, n); }
int FlushToDisk(int fd) { return fsync(fd); }
int CloseFile(int fd) { return close(fd); }
int ProcessId() { return getpid(); }
#endif

std::atomic<unsigned> gTemporaryCount{0};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw std::runtime_error(path + ": " + what);
}

std::string SystemError() { return std::strerror(errno); }

// The file a write to path replaces: symbolic links are followed, so the
// link stays and its target gets the new contents.
std::filesystem::path TargetOf(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
        const std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
        if (!ec) return target;
    }
    return path;
}

// A temporary file beside target with a name no other file has; returns its
// descriptor and registers it for removal on interruption.
int CreateTemporary(const std::string& path, const std::filesystem::path& target,
                    std::string& temp) {
    std::string name(1, '.');
    name.append(target.filename().string());
    name.append(".tmp");
    name.append(std::to_string(ProcessId()));
    name.push_back('-');
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string unique = name;
        unique.append(std::to_string(gTemporaryCount++));
        temp = (target.parent_path() / unique).string();
        InterruptShield shield;
        const int fd = OpenNew(temp.c_str());
        if (fd >= 0) {
            if (!RegisterTemporaryFile(temp)) {
                CloseFile(fd);
                std::remove(temp.c_str());
                Fail(path, "the path is too long");
            }
            return fd;
        }
        if (errno != EEXIST) Fail(path, "cannot create a temporary file beside it: " + SystemError());
    }
    Fail(path, "cannot find a free temporary name beside it");
}

}  // namespace

void CheckRegularFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) Fail(path, "no such file");
    if (std::filesystem::is_directory(status)) Fail(path, "is a folder, not a file");
    if (!std::filesystem::is_regular_file(status)) Fail(path, "is not a regular file (a device, pipe or socket)");
}

std::string ReadWholeFile(const std::string& path, uint64_t limit) {
    CheckRegularFile(path);
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(path, std::string("cannot open: ") + SystemError());
    std::string data;
    char buffer[1 << 16];
    while (in) {
        in.read(buffer, sizeof buffer);
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got > limit - data.size()) {
            Fail(path, "file is larger than this program reads (" + std::to_string(limit) + " bytes)");
        }
        data.append(buffer, got);
    }
    if (in.bad()) Fail(path, "read error");
    return data;
}

void WriteBytesSafely(const std::string& path, std::string_view bytes) {
    const std::filesystem::path target = TargetOf(path);
    struct stat existing {};
    const bool exists = stat(target.string().c_str(), &existing) == 0;
    if (exists) {
        if ((existing.st_mode & S_IFMT) != S_IFREG) Fail(path, "exists and is not a regular file; not replaced");
#if !defined(_WIN32)
        if ((existing.st_mode & 0222) == 0 || access(target.string().c_str(), W_OK) != 0)
            Fail(path, "is read-only; not changed");
#else
        if ((existing.st_mode & _S_IWRITE) == 0) Fail(path, "is read-only; not changed");
#endif
    }

    std::string temp;
    const int fd = CreateTemporary(path, target, temp);
    std::string error;
    for (std::size_t done = 0; done < bytes.size() && error.empty();) {
        const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, std::size_t{1} << 20);
        const long n = WriteSome(fd, bytes.data() + done, chunk);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            error = n < 0 ? SystemError() : "nothing written";
        }
    }
#if !defined(_WIN32)
    if (error.empty() && exists) {
        // Keep the replaced file's permissions, and its owner when allowed.
        if (fchmod(fd, existing.st_mode & 07777) != 0) error = "cannot keep its permissions: " + SystemError();
        if (geteuid() == 0 && fchown(fd, existing.st_uid, existing.st_gid) != 0) {
        }
    }
#endif
    if (error.empty() && FlushToDisk(fd) != 0) error = SystemError();
    if (CloseFile(fd) != 0 && error.empty()) error = SystemError();
    struct stat written {};
    if (error.empty() && (stat(temp.c_str(), &written) != 0 ||
                          static_cast<uint64_t>(written.st_size) != bytes.size())) {
        error = "the file on disk does not have the size written";
    }
    if (error.empty()) {
        InterruptShield shield;
        std::error_code ec;
        std::filesystem::rename(temp, target, ec);
        if (!ec) {
            ForgetTemporaryFile();
            return;
        }
        error = "cannot replace it: " + ec.message();
    }
    {
        InterruptShield shield;
        std::remove(temp.c_str());
        ForgetTemporaryFile();
    }
    Fail(path, "cannot write: " + error + " (nothing was changed)");
}

void WriteFileSafely(const std::string& path, const std::function<void(std::ostream&)>& write) {
    std::ostringstream out(std::ios::binary);
    write(out);
    if (!out) Fail(path, "cannot write: the data could not be formatted");
    WriteBytesSafely(path, out.view());
}

}  // namespace lumafex::tool
