#include "support/fake_host.h"

#include <cstring>
#include <stdexcept>

#include "platform/messages.h"

namespace lumafex::testing {

namespace {

FakeHost* g_host = nullptr;
int g_objectInfo = 0;

void* LookupGlobal(const char* name, int32_t) {
    FakeHost& host = *g_host;
    host.lookups.emplace_back(name);
    if (std::strcmp(name, "LW Scene Info") == 0)
        return host.provideSceneInfo ? &host.sceneInfo : nullptr;
    if (std::strcmp(name, "LW Item Info") == 0)
        return host.provideItemInfo ? const_cast<ItemInfo*>(&host.Items()) : nullptr;
    if (std::strcmp(name, "LW Object Info") == 0)
        return host.provideObjectInfo ? &g_objectInfo : nullptr;
    if (std::strcmp(name, "Host Display Info") == 0)
        return host.provideDisplayInfo ? &host.displayInfo : nullptr;
    return nullptr;
}

// Items are handed out as 1-based indices into the list.
void* ItemHandle(std::size_t index) { return reinterpret_cast<void*>(index + 1); }
std::size_t ItemIndex(void* item) { return reinterpret_cast<std::size_t>(item) - 1; }

void* NextOfType(int32_t type, std::size_t from) {
    for (std::size_t i = from; i < g_host->items.size(); ++i) {
        if (g_host->items[i].type == type) return ItemHandle(i);
    }
    return nullptr;
}

void* FirstItem(int32_t type, void*) { return NextOfType(type, 0); }
void* NextItem(void* item) {
    const std::size_t index = ItemIndex(item);
    return NextOfType(g_host->items.at(index).type, index + 1);
}
const char* ItemName(void* item) {
    const FakeItem& it = g_host->items.at(ItemIndex(item));
    return it.nameUnavailable ? nullptr : it.name.c_str();
}
void ItemVector(void* item, int32_t param, double time, double vector[3]) {
    if (param != 8) throw std::logic_error("unexpected parameter code");
    g_host->vectorTimes.push_back(time);
    const FakeItem& it = g_host->items.at(ItemIndex(item));
    for (int i = 0; i < 3; ++i) vector[i] = it.position[i];
}

uint8_t* GetLine(int32_t type, int32_t y) {
    FakeHost& h = *g_host;
    if (y < 0 || y >= h.height) return nullptr;
    std::vector<uint8_t>* plane = nullptr;
    switch (type) {
        case 32: plane = &h.red; break;
        case 33: plane = &h.green; break;
        case 34: plane = &h.blue; break;
        case 35: plane = &h.alpha; break;
        case 10: plane = h.provideShadow ? &h.shadow : nullptr; break;
        default: break;
    }
    if (plane == nullptr) return nullptr;
    return plane->data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(h.width);
}

float* GetFloatLine(int32_t type, int32_t y) {
    FakeHost& h = *g_host;
    if (type != 12 || !h.provideDepth || y < 0 || y >= h.height) return nullptr;
    return h.depth.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(h.width);
}

std::size_t OutIndex(int32_t x, int32_t y) {
    FakeHost& h = *g_host;
    if (x < 0 || x >= h.width || y < 0 || y >= h.height)
        throw std::out_of_range("output pixel outside the frame");
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(h.width) +
           static_cast<std::size_t>(x);
}

void PutRGB(int32_t x, int32_t y, const uint8_t rgb[3]) {
    FakeHost& h = *g_host;
    h.output.push_back(OutputCall{false, x, y, {rgb[0], rgb[1], rgb[2]}});
    const std::size_t i = OutIndex(x, y);
    h.outRed[i] = rgb[0];
    h.outGreen[i] = rgb[1];
    h.outBlue[i] = rgb[2];
}

void PutAlpha(int32_t x, int32_t y, uint8_t alpha) {
    FakeHost& h = *g_host;
    h.output.push_back(OutputCall{true, x, y, {alpha, 0, 0}});
    h.outAlpha[OutIndex(x, y)] = alpha;
}

void MessageSinkFn(void* context, const char* text, const char* caption) {
    static_cast<MessageCapture*>(context)->messages.push_back({text, caption});
}

}  // namespace

FakeHost::FakeHost() {
    g_host = this;
    itemInfo_.firstItem = FirstItem;
    itemInfo_.nextItem = NextItem;
    itemInfo_.itemName = ItemName;
    itemInfo_.itemVector = ItemVector;
    displayInfo.mainWindow = reinterpret_cast<void*>(0x1234);
    items.push_back(FakeItem{2, "Camera", {0.0, 0.0, 0.0}, false});
}

FakeHost::~FakeHost() {
    if (g_host == this) g_host = nullptr;
}

GlobalLookup FakeHost::Lookup() const { return LookupGlobal; }

void FakeHost::SetFrameSize(int32_t w, int32_t h) {
    width = w;
    height = h;
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    for (auto* plane : {&red, &green, &blue, &alpha, &shadow, &outRed, &outGreen, &outBlue,
                        &outAlpha}) {
        plane->assign(n, 0);
    }
    depth.assign(n, 0.0f);
    output.clear();
}

FrameAccess FakeHost::Frame(double time) const {
    FrameAccess frame{};
    frame.width = width;
    frame.height = height;
    frame.time = time;
    frame.getLine = GetLine;
    frame.getFloatLine = GetFloatLine;
    frame.putRGB = PutRGB;
    frame.putAlpha = PutAlpha;
    return frame;
}

MessageCapture::MessageCapture() {
    platform::SetMessageSink({MessageSinkFn, this});
}

MessageCapture::~MessageCapture() { platform::SetMessageSink({nullptr, nullptr}); }

}  // namespace lumafex::testing
