// The built-in demo: generates a short rendered-looking sequence (three
// spheres over a ground plane with exact alpha, a shadow mask and depth)
// and a scene whose null objects pull focus between the spheres, renders
// it through the module and writes a contact sheet of the results.
#pragma once

#include <string>

#include "process/progress.h"

namespace lumafex::tool {

struct DemoOptions {
    std::string dir = "lumafex-demo";
    std::string module;
    Verbosity verbosity = Verbosity::Normal;
    int frames = 24;
};

int RunDemo(const DemoOptions& options);

}  // namespace lumafex::tool
