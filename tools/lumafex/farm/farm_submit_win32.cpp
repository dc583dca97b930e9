// lumafex farm submit on Windows: Slurm's commands are not there.
#include <stdexcept>

#include "farm/farm.h"

namespace lumafex::tool {

int FarmSubmit(const FarmOptions&) {
    throw std::runtime_error("lumafex farm submits to Slurm, whose commands run on Linux; "
                             "submit from a Linux machine of the farm");
}

int FarmStatus(const std::string&) { return FarmSubmit(FarmOptions{}); }
int FarmResume(const std::string&, bool) { return FarmSubmit(FarmOptions{}); }

}  // namespace lumafex::tool
