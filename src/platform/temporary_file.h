// A new file beside another one, to write its replacement into.
#pragma once

#include <cstdio>
#include <string>

namespace lumafex::platform {

// Creates a file that did not exist before in the folder of path, named path
// followed by ".tmp", the process number and a count, and opens it for
// writing in binary mode. An existing file is never opened or replaced,
// whatever its name. Stores the new file's name in name and returns it open;
// returns null, with name empty, when no file can be created there.
std::FILE* CreateFileBeside(const char* path, std::string& name);

}  // namespace lumafex::platform
