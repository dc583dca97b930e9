#include "platform/file_write.h"

#include <atomic>

#include "platform/file_write_steps.h"

namespace lumafex::platform {

unsigned NextTemporaryCount() {
    static std::atomic<unsigned> count{0};
    return count++;
}

std::string DescribeWriteFailure(const WriteResult& result) {
    const std::string system =
        result.systemError != 0 ? SystemErrorText(result.systemError) : "nothing written";
    std::string what;
    switch (result.failure) {
        case WriteFailure::None: return "written";
        case WriteFailure::NotRegularFile: return "exists and is not a regular file; not replaced";
        case WriteFailure::ReadOnly: return "is read-only; not changed";
        case WriteFailure::Create: return "cannot create a temporary file beside it: " + system;
        case WriteFailure::NoFreeName: return "cannot find a free temporary name beside it";
        case WriteFailure::Untracked: return "the path is too long, or too many files are being written at once";
        case WriteFailure::NoMemory: what = "out of memory"; break;
        case WriteFailure::Write: what = system; break;
        case WriteFailure::KeepMode: what = "cannot keep its permissions: " + system; break;
        case WriteFailure::Size: what = "the file on disk does not have the size written"; break;
        case WriteFailure::Replace: what = "cannot replace it: " + system; break;
    }
    return "cannot write: " + what + " (nothing was changed)";
}

}  // namespace lumafex::platform
