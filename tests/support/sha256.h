// SHA-256 of a byte stream, for frozen digests of rendered output.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace lumafex::testing {

class Sha256 {
public:
    Sha256();
    void Add(const void* data, std::size_t size);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t* p);
    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> buffer_{};
    std::size_t used_ = 0;
    uint64_t length_ = 0;
};

}  // namespace lumafex::testing
