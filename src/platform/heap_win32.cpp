#include <malloc.h>

#include "platform/heap.h"

namespace lumafex::platform {

void TrimHeap() { _heapmin(); }

}  // namespace lumafex::platform
