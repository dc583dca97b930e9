// An in-process stand-in for the renderer: the four globals, an ItemInfo
// over a list of items with names and positions, and a FrameAccess over
// in-memory planes that records every output call. The host's operations
// carry no context, so one FakeHost at a time is the current one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abi/host_interface.h"

namespace lumafex::testing {

struct FakeItem {
    int32_t type = 0;
    std::string name;
    double position[3] = {0.0, 0.0, 0.0};
    bool nameUnavailable = false;  // itemName answers null
};

struct OutputCall {
    bool alpha;  // putAlpha, else putRGB
    int32_t x;
    int32_t y;
    uint8_t value[3];
};

class FakeHost {
public:
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // Globals and what the host offers.
    bool provideSceneInfo = true;
    bool provideItemInfo = true;
    bool provideObjectInfo = true;
    bool provideDisplayInfo = true;
    SceneInfo sceneInfo{};
    DisplayInfo displayInfo{};
    std::vector<std::string> lookups;  // every name looked up, in order
    std::vector<FakeItem> items;        // in host order
    std::vector<double> vectorTimes;    // times of every itemVector call

    GlobalLookup Lookup() const;
    const ItemInfo& Items() const { return itemInfo_; }

    // Frame planes, each width x height; depth is optional.
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> red, green, blue, alpha, shadow;
    std::vector<float> depth;
    bool provideShadow = true;
    bool provideDepth = true;
    std::vector<OutputCall> output;

    // Resizes the planes (zero-filled) and clears the recorded output.
    void SetFrameSize(int32_t w, int32_t h);
    FrameAccess Frame(double time = 0.0) const;

    // The output image assembled from the recorded calls.
    std::vector<uint8_t> outRed, outGreen, outBlue, outAlpha;

private:
    ItemInfo itemInfo_{};
};

// Collects the messages the module shows while it lives.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    struct Message {
        std::string text;
        std::string caption;
    };
    std::vector<Message> messages;
};

}  // namespace lumafex::testing
