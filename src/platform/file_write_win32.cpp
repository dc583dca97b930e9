#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <new>

#include "platform/file_write.h"

namespace lumafex::platform {

namespace {

// Names already taken by other files are skipped; other failures end the
// search at once.
constexpr int kAttempts = 100;
constexpr DWORD kLargestWrite = DWORD{1} << 20;
std::atomic<unsigned> g_temporaryCount{0};

// Holds the watcher for as long as it lives.
class Holding {
public:
    explicit Holding(TemporaryFileWatcher* watcher) : watcher_(watcher) {
        if (watcher_ != nullptr) watcher_->Hold();
    }
    ~Holding() {
        if (watcher_ != nullptr) watcher_->Release();
    }
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;

private:
    TemporaryFileWatcher* watcher_;
};

// The file a write to path replaces: a symbolic link is followed, so the
// link stays and the file it names gets the new contents. Paths stay in the
// ANSI code page the A functions use, except behind a link.
std::string TargetOf(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
        if (!ec) return target.string();
    }
    return path;
}

// The folder part of target, with its separator ("" for the current folder).
std::string FolderOf(const std::string& target) {
    const std::size_t separator = target.find_last_of("/\\:");
    return separator == std::string::npos ? std::string() : target.substr(0, separator + 1);
}

// Creates a hidden temporary file beside target, named after it, the
// process and a count. CREATE_NEW: created here or not at all, so no other
// file is ever opened or replaced.
WriteResult CreateTemporary(const std::string& target, TemporaryFileWatcher* watcher, std::string& temporary,
                            HANDLE& file) {
    const std::string folder = FolderOf(target);
    const std::string stem =
        folder + "." + target.substr(folder.size()) + ".tmp" + std::to_string(GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = stem + std::to_string(g_temporaryCount++);
        Holding hold(watcher);
        file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return {WriteFailure::Create, static_cast<int>(error)};
        }
        if (watcher != nullptr && !watcher->Created(temporary)) {
            // Nothing was written to it: removing it is all there is to do.
            CloseHandle(file);
            DeleteFileA(temporary.c_str());
            return {WriteFailure::Untracked, 0};
        }
        return {};
    }
    return {WriteFailure::NoFreeName, 0};
}

WriteResult WriteAll(HANDLE file, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, kLargestWrite));
        DWORD n = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &n, nullptr)) {
            return {WriteFailure::Write, static_cast<int>(GetLastError())};
        }
        if (n == 0) return {WriteFailure::Write, 0};
        done += n;
    }
    return {};
}

}  // namespace

WriteResult WriteFileWhole(const char* path, std::string_view bytes, TemporaryFileWatcher* watcher) noexcept {
    std::string target;
    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    try {
        target = TargetOf(path);
        const DWORD attributes = GetFileAttributesA(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {WriteFailure::NotRegularFile, 0};
            if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return {WriteFailure::ReadOnly, 0};
        }
        const WriteResult created = CreateTemporary(target, watcher, temporary, file);
        if (!created) return created;
    } catch (const std::bad_alloc&) {
        return {WriteFailure::NoMemory, static_cast<int>(ERROR_NOT_ENOUGH_MEMORY)};  // nothing was created
    }

    WriteResult result = WriteAll(file, bytes);
    if (result && !FlushFileBuffers(file)) result = {WriteFailure::Write, static_cast<int>(GetLastError())};
    LARGE_INTEGER size{};
    if (result && (!GetFileSizeEx(file, &size) || static_cast<uint64_t>(size.QuadPart) != bytes.size()))
        result = {WriteFailure::Size, 0};
    if (!CloseHandle(file) && result) result = {WriteFailure::Write, static_cast<int>(GetLastError())};

    Holding hold(watcher);
    // The C runtime's rename refuses an existing target on Windows.
    if (result &&
        !MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        result = {WriteFailure::Replace, static_cast<int>(GetLastError())};
    // A removal that fails leaves a hidden file behind; the write has failed
    // already and says so.
    if (!result) DeleteFileA(temporary.c_str());
    if (watcher != nullptr) watcher->Gone();
    return result;
}

std::string SystemErrorText(int code) {
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string words(text, n);
    // The system ends its sentences with a full stop and a line break.
    while (!words.empty() &&
           (words.back() == '\r' || words.back() == '\n' || words.back() == ' ' || words.back() == '.'))
        words.pop_back();
    if (words.empty()) words = "system error " + std::to_string(code);
    return words;
}

}  // namespace lumafex::platform
