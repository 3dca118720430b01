// Fuzzes the header checks and the in-place pass on small bitmap files: the
// pass must never read or write outside the file, and a refused file must
// stay byte for byte as it was. Input: brightness, contrast, gamma (16 bits
// each), a flag byte (bit 0: reduce to line art; bit 1: the caller's width
// is off by one), then the bitmap file.
#include <cstring>
#include <vector>

#include "bitmap_layout.h"
#include "tone_core.h"

using namespace bitmap_layout;

namespace {

const size_t PARAMETER_BYTES = 7;
const size_t BITMAP_INFO_BYTES = 58;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < PARAMETER_BYTES)
        return 0;
    int16_t brightness = int16_t(ReadLe16(data));
    int16_t contrast = int16_t(ReadLe16(data + 2));
    uint16_t gamma = ReadLe16(data + 4);
    uint8_t flags = data[6];
    // The file gets a buffer of exactly its own size, so the sanitizer sees
    // any access past its end.
    std::vector<uint8_t> file(data + PARAMETER_BYTES, data + size);
    if (file.size() < BITMAP_INFO_BYTES || file[0] != 'B' || file[1] != 'M')
        return 0;
    const std::vector<uint8_t> original = file;

    // What the caller reads first: the low 16 bits, as the agent does.
    uint16_t width = uint16_t(ReadLe16(file.data() + OFFSET_WIDTH) + ((flags & 2) ? 1 : 0));
    uint16_t height = ReadLe16(file.data() + OFFSET_HEIGHT);
    bool is24Bit = ReadLe16(file.data() + OFFSET_BIT_COUNT) == 24;
    bool reduce = flags & 1;

    uint8_t table[256];
    BuildToneCurve(brightness, contrast, gamma, table);
    TonePassPlan plan;
    if (PlanTonePass(file.data(), file.size(), file.size(), width, height, is24Bit, true, reduce, &plan) !=
        TONE_PLAN_OK) {
        if (file != original)
            __builtin_trap();
        return 0;
    }
    if (plan.finalFileSize > file.size() || (plan.reduceToLineArt && plan.outputRowBytes > plan.inputRowBytes))
        __builtin_trap();
    if (plan.reduceToLineArt)
        WriteLineArtHeader(file.data(), plan);
    RunToneRows(file.data(), plan, table, 0, plan.height);
    if (plan.reduceToLineArt) {
        // Spot-check the first row's first pixel against the original sample.
        if (plan.width && plan.height) {
            int want = table[original[plan.inputOffset]] >= 128;
            if (((file[plan.outputOffset] >> 7) & 1) != want)
                __builtin_trap();
        }
    }
    return 0;
}
