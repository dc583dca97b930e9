// Writing a file whole or not at all. The bytes go to a new temporary file
// with a unique name beside the target; every write is checked, the file is
// flushed to the disk and its size compared with what was written, and only
// then is it renamed over the target. On any failure the temporary file is
// removed and the target is untouched. A symbolic link is written through to
// the file it names; an existing file keeps its permissions (and its owner,
// where the process may set it) and is refused when it is read-only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumafex::platform {

// Told about the temporary file a write creates, so that a program stopped
// part way (Ctrl-C) can remove it.
class TemporaryFileWatcher {
public:
    virtual ~TemporaryFileWatcher() = default;
    // Between Hold and Release the program must not be stopped: the
    // temporary file is created and reported, or renamed or removed and
    // forgotten, as one step.
    virtual void Hold() = 0;
    virtual void Release() = 0;
    // The temporary file was just created. False when it cannot be kept
    // track of; the write then removes it and gives up.
    [[nodiscard]] virtual bool Created(const std::string& temporary) = 0;
    // The temporary file is gone: renamed over the target or removed.
    virtual void Gone() = 0;
};

// The step a write failed at.
enum class WriteFailure {
    None,
    NotRegularFile,  // the target exists and is a folder or a device
    ReadOnly,        // the target exists and may not be written
    NoMemory,        // no memory for the names
    Create,          // no temporary file can be created beside the target
    NoFreeName,      // every temporary name tried was taken
    Untracked,       // the watcher could not keep track of the temporary file
    Write,           // writing or flushing the temporary file failed
    KeepMode,        // the temporary file cannot take the target's permissions
    Size,            // the file on disk does not have the size written
    Replace,         // the temporary file cannot be renamed over the target
};

struct [[nodiscard]] WriteResult {
    WriteFailure failure = WriteFailure::None;
    int systemError = 0;  // the system's error code, 0 when it gave none

    explicit operator bool() const { return failure == WriteFailure::None; }
};

// Replaces the file at path with bytes, whole or not at all. Never throws.
WriteResult WriteFileWhole(const char* path, std::string_view bytes,
                           TemporaryFileWatcher* watcher = nullptr) noexcept;

// Writes the contents of a whole-file write straight into its temporary
// file, for writers that make the bytes as they go (an image encoder), so
// that they need neither a copy in memory nor a file of their own.
class FileFiller {
public:
    virtual ~FileFiller() = default;
    // file is the open temporary file: a POSIX file descriptor, a Windows
    // HANDLE. Sets size to the number of bytes the file must hold once
    // written. A failure is returned as a WriteFailure::Write result.
    [[nodiscard]] virtual WriteResult Fill(intptr_t file, uint64_t& size) noexcept = 0;
};

// As WriteFileWhole, with filler writing the contents: the same checks of
// the target, the same flush, size check and rename. Never throws.
WriteResult WriteFileWholeFrom(const char* path, FileFiller& filler,
                               TemporaryFileWatcher* watcher = nullptr) noexcept;

// What went wrong, for a message after the file's name: "is read-only; not
// changed", "cannot write: No space left on device (nothing was changed)".
std::string DescribeWriteFailure(const WriteResult& result);

// The system's words for an error code of a failed write.
std::string SystemErrorText(int code);

}  // namespace lumafex::platform
