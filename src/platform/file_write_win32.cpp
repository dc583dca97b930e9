#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <new>

#include "platform/file_write.h"
#include "platform/file_write_steps.h"

namespace lumafex::platform {

namespace {

constexpr DWORD kLargestWrite = DWORD{1} << 20;

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
    struct BytesFiller final : FileFiller {
        std::string_view bytes;
        WriteResult Fill(intptr_t file, uint64_t& size) noexcept override {
            size = bytes.size();
            return WriteAll(reinterpret_cast<HANDLE>(file), bytes);
        }
    } filler;
    filler.bytes = bytes;
    return WriteFileWholeFrom(path, filler, watcher);
}

WriteResult WriteFileWholeFrom(const char* path, FileFiller& filler, TemporaryFileWatcher* watcher) noexcept {
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
        const WriteResult created = CreateTemporaryBeside(
            target, FolderOf(target), static_cast<unsigned long>(GetCurrentProcessId()), watcher,
            temporary,
            [&file](const std::string& name, int& error) {
                file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
                if (file != INVALID_HANDLE_VALUE) return CreateOutcome::Created;
                const DWORD code = GetLastError();
                error = static_cast<int>(code);
                return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS
                           ? CreateOutcome::Taken
                           : CreateOutcome::Failed;
            },
            [&file, &temporary] {
                CloseHandle(file);
                DeleteFileA(temporary.c_str());
            });
        if (!created) return created;
    } catch (const std::bad_alloc&) {
        return {WriteFailure::NoMemory, static_cast<int>(ERROR_NOT_ENOUGH_MEMORY)};  // nothing was created
    }

    uint64_t written = 0;
    WriteResult result = filler.Fill(reinterpret_cast<intptr_t>(file), written);
    if (result && !FlushFileBuffers(file)) result = {WriteFailure::Write, static_cast<int>(GetLastError())};
    LARGE_INTEGER size{};
    if (result && (!GetFileSizeEx(file, &size) || static_cast<uint64_t>(size.QuadPart) != written))
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
