// Working memory as the module obtains it: zero-filled blocks of system
// memory, locked while in use and released by their owner. On Windows these
// are movable global memory blocks; elsewhere plain zero-filled heap blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

namespace lumafex::platform {

// One owned, locked, zero-filled block. Empty when it could not be obtained.
class MemoryBlock {
public:
    MemoryBlock() = default;
    ~MemoryBlock() { Release(); }
    MemoryBlock(MemoryBlock&& other) noexcept { *this = std::move(other); }
    MemoryBlock& operator=(MemoryBlock&& other) noexcept {
        if (this != &other) {
            Release();
            handle_ = std::exchange(other.handle_, nullptr);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    MemoryBlock(const MemoryBlock&) = delete;
    MemoryBlock& operator=(const MemoryBlock&) = delete;

    // Allocates and locks a zero-filled block of the given size (at least one
    // byte is always requested). Returns an empty block on failure.
    [[nodiscard]] static MemoryBlock Allocate(std::size_t bytes);

    explicit operator bool() const { return data_ != nullptr; }
    void* data() const { return data_; }
    std::size_t size() const { return size_; }

    // Unlocks and frees the block; the block is empty afterwards.
    void Release();

private:
    void* handle_ = nullptr;
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

// A zero-filled working array of count values of T, or empty when the
// memory cannot be had or the byte count would overflow.
template <typename T>
class WorkingArray {
public:
    WorkingArray() = default;
    [[nodiscard]] static WorkingArray Allocate(std::size_t count) {
        WorkingArray array;
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) return array;
        array.block_ = MemoryBlock::Allocate(count * sizeof(T));
        if (array.block_) array.count_ = count;
        return array;
    }
    explicit operator bool() const { return static_cast<bool>(block_); }
    T* data() const { return static_cast<T*>(block_.data()); }
    std::size_t size() const { return count_; }
    T& operator[](std::size_t i) const { return data()[i]; }

private:
    MemoryBlock block_;
    std::size_t count_ = 0;
};

}  // namespace lumafex::platform
