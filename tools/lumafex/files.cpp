#include "files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#if defined(_WIN32)
#include <process.h>
#define LUMAFEX_GETPID _getpid
#else
#include <unistd.h>
#define LUMAFEX_GETPID getpid
#endif

namespace lumafex::tool {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot open: " + std::strerror(errno));
    std::ostringstream data;
    data << in.rdbuf();
    if (in.bad()) throw std::runtime_error(path + ": read error");
    return data.str();
}

std::string TemporaryPathFor(const std::string& path) {
    const std::filesystem::path p(path);
    std::string name = ".";
    name.append(p.filename().string());
    name.append(".tmp");
    name.append(std::to_string(LUMAFEX_GETPID()));
    return (p.parent_path() / name).string();
}

void WriteFileSafely(const std::string& path, const std::function<void(std::ostream&)>& write) {
    const std::string temp = TemporaryPathFor(path);
    try {
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!out) throw std::runtime_error(path + ": cannot write: " + std::strerror(errno));
            write(out);
            out.flush();
            if (!out) throw std::runtime_error(path + ": write error");
        }
        std::error_code ec;
        std::filesystem::rename(temp, path, ec);
        if (ec) throw std::runtime_error(path + ": cannot replace: " + ec.message());
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        throw;
    }
}

}  // namespace lumafex::tool
