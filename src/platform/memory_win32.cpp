#include <windows.h>

#include "platform/memory.h"

namespace lumafex::platform {

// A movable global memory block, zero-filled by the system and locked for
// as long as this object owns it.
MemoryBlock MemoryBlock::Allocate(std::size_t bytes) {
    MemoryBlock block;
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes == 0 ? 1 : bytes);
    if (handle == nullptr) return block;
    void* data = GlobalLock(handle);
    if (data == nullptr) {
        GlobalFree(handle);
        return block;
    }
    block.handle_ = handle;
    block.data_ = data;
    block.size_ = bytes;
    return block;
}

void MemoryBlock::Release() {
    if (handle_ != nullptr) {
        GlobalUnlock(static_cast<HGLOBAL>(handle_));
        GlobalFree(static_cast<HGLOBAL>(handle_));
    }
    handle_ = nullptr;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace lumafex::platform
