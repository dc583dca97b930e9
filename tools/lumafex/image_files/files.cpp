#include "image_files/files.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "platform/file_write.h"
#include "process/interrupt.h"

namespace lumafex::tool {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw std::runtime_error(path + ": " + what);
}

std::string SystemError() { return std::strerror(errno); }

// Registers a write's temporary file for removal on interruption, with
// signals held back while it is created and registered or renamed and
// forgotten.
class InterruptWatcher final : public platform::TemporaryFileWatcher {
public:
    void Hold() override { shield_.emplace(); }
    void Release() override { shield_.reset(); }
    bool Created(const std::string& temporary) override {
        slot_ = RegisterTemporaryFile(temporary);
        return slot_ >= 0;
    }
    void Gone() override {
        ForgetTemporaryFile(slot_);
        slot_ = -1;
    }

private:
    std::optional<InterruptShield> shield_;
    int slot_ = -1;
};

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
    InterruptWatcher watcher;
    const platform::WriteResult result = platform::WriteFileWhole(path.c_str(), bytes, &watcher);
    if (!result) Fail(path, platform::DescribeWriteFailure(result));
}

void WriteFileSafelyFrom(const std::string& path,
                         const std::function<uint64_t(intptr_t file)>& fill) {
    struct Filler final : platform::FileFiller {
        const std::function<uint64_t(intptr_t)>* fill = nullptr;
        std::exception_ptr failure;
        platform::WriteResult Fill(intptr_t file, uint64_t& size) noexcept override {
            try {
                size = (*fill)(file);
                return {};
            } catch (...) {
                failure = std::current_exception();
                return {platform::WriteFailure::Write, 0};
            }
        }
    } filler;
    filler.fill = &fill;
    InterruptWatcher watcher;
    const platform::WriteResult result = platform::WriteFileWholeFrom(path.c_str(), filler, &watcher);
    if (filler.failure) std::rethrow_exception(filler.failure);
    if (!result) Fail(path, platform::DescribeWriteFailure(result));
}

void WriteFileSafely(const std::string& path, const std::function<void(std::ostream&)>& write) {
    std::ostringstream out(std::ios::binary);
    write(out);
    if (!out) Fail(path, "cannot write: the data could not be formatted");
    WriteBytesSafely(path, out.view());
}

}  // namespace lumafex::tool
