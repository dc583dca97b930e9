// Whole-file reads and safe writes. A write goes through the platform's
// whole-or-nothing file write (platform/file_write.h), with its temporary
// file registered for removal on interruption.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>

namespace lumafex::tool {

// Throws std::runtime_error unless path names an existing regular file
// (after following symbolic links): folders, devices and pipes are refused.
void CheckRegularFile(const std::string& path);

// Reads the whole of a regular file of at most limit bytes; throws
// std::runtime_error naming the file.
std::string ReadWholeFile(const std::string& path,
                          uint64_t limit = std::numeric_limits<uint64_t>::max());

// Replaces path with bytes, safely. A symbolic link is written through to
// its target; an existing file keeps its permissions and is refused when it
// is read-only. Throws std::runtime_error naming the file.
void WriteBytesSafely(const std::string& path, std::string_view bytes);

// Replaces path safely with what fill writes straight into the new
// temporary file beside it, given as the platform's open file (a POSIX file
// descriptor, a Windows HANDLE). fill returns the number of bytes the file
// must hold; an exception it throws is thrown on once the temporary file is
// removed.
void WriteFileSafelyFrom(const std::string& path,
                         const std::function<uint64_t(intptr_t file)>& fill);

// Calls write with a stream, then writes what it wrote with WriteBytesSafely.
void WriteFileSafely(const std::string& path, const std::function<void(std::ostream&)>& write);

}  // namespace lumafex::tool
