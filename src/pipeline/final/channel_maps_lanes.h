// The composed maps of a row on byte lanes, written once over the lanes
// type L and included (without an include guard) inside the namespace that
// names L: see channel_maps.cpp.

#include "pipeline/final/key_lanes.h"

// Looks up every channel byte of pixels x .. while a whole run of
// L::kCount fits from x, and the selection picks the new or the old
// bytes; runs it leaves out are skipped. Returns where it stopped.
template <Key K>
int32_t ApplyComposedRuns(uint8_t* red, uint8_t* green, uint8_t* blue, const uint8_t* key, int32_t x,
                          int32_t width, const ChannelMaps& m) {
    uint8_t* const channels[3] = {red, green, blue};
    const uint8_t* const maps[3] = {m.red, m.green, m.blue};
    for (; width - x >= L::kCount; x += L::kCount) {
        const L::V select = KeySelection<K>(key + x);
        if (!L::Any(select)) continue;
        for (int c = 0; c < 3; ++c) {
            uint8_t* const at = channels[c] + x;
            const L::V old = L::Load(at);
            L::Store(at, L::Select(select, L::LookUp(maps[c], at), old));
        }
    }
    return x;
}
