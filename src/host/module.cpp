#include "host/module.h"

namespace lumafex {

Module& TheModule() {
    static Module module;
    return module;
}

}  // namespace lumafex
