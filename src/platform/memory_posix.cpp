#include <cstdlib>

#include "platform/memory.h"

namespace lumafex::platform {

MemoryBlock MemoryBlock::Allocate(std::size_t bytes) {
    MemoryBlock block;
    void* data = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (data == nullptr) return block;
    block.handle_ = data;
    block.data_ = data;
    block.size_ = bytes;
    return block;
}

void MemoryBlock::Release() {
    std::free(handle_);
    handle_ = nullptr;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace lumafex::platform
