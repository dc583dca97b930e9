#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <new>

#include "platform/file_write.h"
#include "platform/file_write_steps.h"

namespace lumafex::platform {

namespace {

constexpr std::size_t kLargestWrite = std::size_t{1} << 20;

// The file a write to path replaces: a symbolic link is followed, so the
// link stays and the file it names gets the new contents.
std::string TargetOf(const char* path) {
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
        const std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
        if (!ec) return target.string();
    }
    return path;
}

// The folder part of target, with its separator ("" for the current folder).
std::string FolderOf(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    return slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
}

WriteResult WriteAll(int fd, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t chunk = std::min(bytes.size() - done, kLargestWrite);
        const ssize_t n = write(fd, bytes.data() + done, chunk);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return {WriteFailure::Write, n < 0 ? errno : 0};
        }
    }
    return {};
}

}  // namespace

WriteResult WriteFileWhole(const char* path, std::string_view bytes, TemporaryFileWatcher* watcher) noexcept {
    struct BytesFiller final : FileFiller {
        std::string_view bytes;
        WriteResult Fill(intptr_t file, uint64_t& size) noexcept override {
            size = bytes.size();
            return WriteAll(static_cast<int>(file), bytes);
        }
    } filler;
    filler.bytes = bytes;
    return WriteFileWholeFrom(path, filler, watcher);
}

WriteResult WriteFileWholeFrom(const char* path, FileFiller& filler, TemporaryFileWatcher* watcher) noexcept {
    std::string target;
    std::string temporary;
    int fd = -1;
    struct stat existing {};
    bool exists = false;
    try {
        target = TargetOf(path);
        exists = stat(target.c_str(), &existing) == 0;
        if (exists) {
            if (!S_ISREG(existing.st_mode)) return {WriteFailure::NotRegularFile, 0};
            // The mode bits too: root may write anything, but a file
            // without write permission is still not meant to change.
            if ((existing.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)
                return {WriteFailure::ReadOnly, 0};
        }
        // 0666 leaves a new file's mode to the umask, as for any file the
        // user saves.
        const WriteResult created = CreateTemporaryBeside(
            target, FolderOf(target), static_cast<unsigned long>(getpid()), watcher, temporary,
            [&fd](const std::string& name, int& error) {
                fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
                if (fd >= 0) return CreateOutcome::Created;
                error = errno;
                return errno == EEXIST ? CreateOutcome::Taken : CreateOutcome::Failed;
            },
            [&fd, &temporary] {
                close(fd);
                unlink(temporary.c_str());
            });
        if (!created) return created;
    } catch (const std::bad_alloc&) {
        return {WriteFailure::NoMemory, ENOMEM};  // nothing was created
    }

    uint64_t size = 0;
    WriteResult result = filler.Fill(fd, size);
    if (result && exists) {
        if (fchmod(fd, existing.st_mode & 07777) != 0) result = {WriteFailure::KeepMode, errno};
        // The owner too where the process may give the file away (root). A
        // failure there is not one of the write: the contents are whole and
        // the file belongs to whoever wrote it, as with any editor.
        if (geteuid() == 0 && fchown(fd, existing.st_uid, existing.st_gid) != 0) {}
    }
    if (result && fsync(fd) != 0) result = {WriteFailure::Write, errno};
    struct stat written {};
    if (result && (fstat(fd, &written) != 0 || static_cast<uint64_t>(written.st_size) != size))
        result = {WriteFailure::Size, 0};
    if (close(fd) != 0 && result) result = {WriteFailure::Write, errno};

    Holding hold(watcher);
    if (result && rename(temporary.c_str(), target.c_str()) != 0) result = {WriteFailure::Replace, errno};
    // A removal that fails leaves a hidden file behind; the write has failed
    // already and says so.
    if (!result) unlink(temporary.c_str());
    if (watcher != nullptr) watcher->Gone();
    return result;
}

std::string SystemErrorText(int code) { return std::strerror(code); }

}  // namespace lumafex::platform
