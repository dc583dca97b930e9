// Whole-file reads and safe writes: a write goes to a temporary file beside
// the target and is renamed over it only when complete, so an interrupted
// or failed write never leaves a truncated file behind.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace lumafex::tool {

// Reads the whole file; throws std::runtime_error naming the file.
std::string ReadWholeFile(const std::string& path);

// Calls write with a stream on a temporary file beside path, then renames it
// to path. Throws std::runtime_error naming the file when anything fails;
// the temporary file is removed then.
void WriteFileSafely(const std::string& path, const std::function<void(std::ostream&)>& write);

// The temporary name used for path (the same folder, so the rename is atomic).
std::string TemporaryPathFor(const std::string& path);

}  // namespace lumafex::tool
