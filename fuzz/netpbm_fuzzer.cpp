// Fuzz target for the PAM, PPM, PGM and PFM readers.
//
// Input: the first byte chooses the reader (colour, grey or depth), the rest
// is the file. A file the reader refuses must give an ImageError naming the
// file; an image it accepts must have planes of its size, no more pixels
// than the file has bytes for, and must come back unchanged when written
// out and read again.
//
// Memory: the readers compare the declared size with the bytes present
// before they allocate, so what a run allocates is a small multiple of the
// input; inputs above kMaxInput are skipped, which keeps every legitimate
// allocation far below the fuzzer's memory limit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "image_files/images.h"
#include "image_files/netpbm.h"

namespace {

using namespace lumafex::tool;

constexpr std::size_t kMaxInput = std::size_t{1} << 20;
const std::string kName = "fuzz.pnm";

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "netpbm check failed: %s\n", what);
        std::abort();
    }
}

void CheckSize(int32_t width, int32_t height, std::size_t planeSize, std::size_t bytesPerPixel,
               std::size_t fileSize) {
    Check(width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide,
          "accepted size out of limits");
    Check(PixelCount(width, height) <= static_cast<std::size_t>(kMaxImagePixels),
          "accepted pixel count out of limits");
    Check(planeSize == PixelCount(width, height), "a plane does not match the size");
    Check(PixelCount(width, height) * bytesPerPixel <= fileSize, "more pixels than bytes");
}

void Colour(const std::string& file) {
    const ColourImage image = ParseNetpbmColour(file, kName);
    CheckSize(image.width, image.height, image.red.size(), 1, file.size());
    Check(image.green.size() == image.red.size() && image.blue.size() == image.red.size() &&
              image.alpha.size() == image.red.size(),
          "colour planes differ in size");
    std::ostringstream out;
    WritePamTo(out, image);
    const ColourImage back = ParseNetpbmColour(out.str(), kName);
    Check(back.width == image.width && back.height == image.height && back.red == image.red &&
              back.green == image.green && back.blue == image.blue && back.alpha == image.alpha,
          "colour does not survive PAM output");
}

void Grey(const std::string& file) {
    const GreyImage image = ParseNetpbmGrey(file, kName);
    CheckSize(image.width, image.height, image.value.size(), 1, file.size());
    std::ostringstream out;
    WritePgmTo(out, image);
    const GreyImage back = ParseNetpbmGrey(out.str(), kName);
    Check(back.width == image.width && back.height == image.height && back.value == image.value,
          "grey does not survive PGM output");
}

void Depth(const std::string& file) {
    const DepthImage image = ParsePfm(file, kName);
    CheckSize(image.width, image.height, image.value.size(), 4, file.size());
    std::ostringstream out;
    WritePfmTo(out, image);
    const DepthImage back = ParsePfm(out.str(), kName);
    // Bit for bit, NaN payloads included.
    Check(back.width == image.width && back.height == image.height &&
              back.value.size() == image.value.size() &&
              std::memcmp(back.value.data(), image.value.data(),
                          image.value.size() * sizeof(float)) == 0,
          "depth does not survive PFM output");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1 || size > kMaxInput) return 0;
    const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        switch (data[0] % 3) {
            case 0: Colour(file); break;
            case 1: Grey(file); break;
            default: Depth(file); break;
        }
    } catch (const ImageError& e) {
        const std::string message = e.what();
        Check(message.compare(0, kName.size() + 2, kName + ": ") == 0, "error does not name the file");
        Check(message.size() > kName.size() + 2, "error says nothing");
    }
    return 0;
}
