// Black and white over a row whose selection rests on alpha or shadow,
// written once and included (without an include guard) inside a namespace
// per instruction set: see colour_stages.cpp. The loop is plain; the
// compiler lays it out in the vector lanes of the region it is compiled in
// (two doubles to a register with SSE2, four with AVX2), since every
// pixel's grey is formed and the selection picks it or the old bytes. The
// products are those of the luma tables, v x weight in double, summed in
// the same order, without contraction.

template <Key K>
void GreyRow(uint8_t* __restrict red, uint8_t* __restrict green, uint8_t* __restrict blue,
             const uint8_t* __restrict key, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const auto y = static_cast<uint8_t>(
            static_cast<int32_t>((kLumaGreen * green[x] + kLumaBlue * blue[x]) + kLumaRed * red[x]));
        // A mask, not a choice: with a choice the compiler keeps a jump.
        const auto keep = static_cast<uint8_t>(KeySelects<K>(key[x]) ? 0u : 0xFFu);
        red[x] = static_cast<uint8_t>(y ^ ((y ^ red[x]) & keep));
        green[x] = static_cast<uint8_t>(y ^ ((y ^ green[x]) & keep));
        blue[x] = static_cast<uint8_t>(y ^ ((y ^ blue[x]) & keep));
    }
}
