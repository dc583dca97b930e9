#include "platform/heap.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace lumafex::platform {

void TrimHeap() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace lumafex::platform
