// Tone table arithmetic, bitmap header checks and the in-place row passes.
#include "tone_core.h"

#include <cmath>
#include <cstring>

#include "bitmap_layout.h"

using namespace bitmap_layout;

uint8_t ToneTable[256];

namespace {

// Single-precision 1/127: the contrast slopes are multiples of this value
// (not of the exact fraction), which decides a few entries near the ends.
const double CONTRAST_STEP = double(1.0f / 127.0f);

// Truncates toward zero and keeps the result a sample value. Inside the
// documented input ranges the clamp never acts; outside them it keeps an
// out-of-range setting from wrapping round in a byte.
uint8_t ClampSample(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= 255.0)
        return 255;
    return uint8_t(int(value));
}

int ClampInt(int value)
{
    return value < 0 ? 0 : value > 255 ? 255 : value;
}

void GammaCurve(uint16_t gamma, int entries[256])
{
    double g = gamma * 0.01;
    entries[0] = 0;
    entries[255] = 255;
    for (int i = 1; i < 255; ++i)
        entries[i] = ClampSample(255.0 * std::pow(i * (1.0 / 255.0), 1.0 / g) + 0.5);
}

void BrightnessShift(int16_t brightness, int entries[256])
{
    int offset = brightness == 0 ? 0 : brightness > 0 ? 2 * brightness + 1 : 2 * brightness - 1;
    for (int i = 0; i < 256; ++i)
        entries[i] = ClampInt(entries[i] + offset);
}

// Entries are rewritten in ascending order, so from entry 1 on the lower
// bound is the already rewritten entry 0 while the upper bound is still
// entry 255 as brightness left it.
void Contrast(int16_t contrast, int entries[256])
{
    if (contrast == 127) {
        for (int i = 0; i < 256; ++i)
            entries[i] = entries[i] > 128 ? entries[255] : entries[0];
        return;
    }
    if (contrast == -127) {
        int middle = entries[128];
        for (int i = 0; i < 256; ++i)
            entries[i] = middle;
        return;
    }
    if (contrast > 0) {
        double k = (127 - contrast) * CONTRAST_STEP;
        double kf = double(float(k));
        int a = int(128.0 * k);
        for (int i = 0; i < 256; ++i) {
            int v = entries[i], lo = entries[0], hi = entries[255];
            if (v > 128) {
                int d = v - 128;
                if (d >= a) {
                    entries[i] = hi;
                } else {
                    double r = std::trunc(d / kf + 0.5) + 128.0;
                    entries[i] = ClampSample(r < hi ? r : hi);
                }
            } else if (v <= 128 - a) {
                entries[i] = lo;
            } else {
                double r = std::trunc((v - (128 - a)) / kf + 0.5);
                entries[i] = ClampSample(r > lo ? r : lo);
            }
        }
        return;
    }
    double k = (contrast + 127) * CONTRAST_STEP;
    for (int i = 0; i < 256; ++i) {
        int v = entries[i], lo = entries[0];
        double r = v > 128 ? std::trunc((v - 128) * k + 0.5) + 128.0 : std::trunc(128.0 - (128 - v + 0.5) * k);
        entries[i] = ClampSample(r > lo ? r : lo);
    }
}

} // namespace

void BuildToneCurve(int16_t brightness, int16_t contrast, uint16_t gamma, uint8_t table[256])
{
    int entries[256];
    GammaCurve(gamma, entries);
    BrightnessShift(brightness, entries);
    Contrast(contrast, entries);
    for (int i = 0; i < 256; ++i)
        table[i] = uint8_t(ClampInt(entries[i]));
}

void BuildToneTable(int16_t brightness, int16_t contrast, uint16_t gamma)
{
    BuildToneCurve(brightness, contrast, gamma, ToneTable);
}

bool ToneIsNeutral(int16_t brightness, int16_t contrast, uint16_t gamma)
{
    return brightness == 0 && contrast == 0 && gamma == 100;
}

bool PostProcessingWanted(const ScanJobSettings &settings)
{
    if (!settings.AutoCrop)
        return false;
    bool greyToLineArt = settings.AcquireType == SCAN_TYPE_GREY && settings.OutputType == SCAN_TYPE_LINE_ART;
    return greyToLineArt || !ToneIsNeutral(settings.Brightness, settings.Contrast, settings.Gamma);
}

TonePlanResult PlanTonePass(const uint8_t *header, size_t headerLength, uint64_t fileSize, uint16_t width,
                            uint16_t height, bool is24Bit, bool applyTable, bool reduceToLineArt, TonePassPlan *plan)
{
    if (headerLength < PIXELS_OFFSET_NO_PALETTE || fileSize < headerLength || header[0] != 'B' || header[1] != 'M')
        return TONE_PLAN_NOT_BITMAP;
    // The 16-bit sizes the caller read must be the whole truth: a width or
    // height with high bits set (or a top-down bitmap's negative height)
    // would otherwise be processed as a much smaller picture.
    if (ReadLe32(header + OFFSET_WIDTH) != width || ReadLe32(header + OFFSET_HEIGHT) != height)
        return TONE_PLAN_SIZE_MISMATCH;
    uint16_t bits = ReadLe16(header + OFFSET_BIT_COUNT);
    if ((bits != 8 && bits != 24) || (bits == 24) != is24Bit)
        return TONE_PLAN_UNEXPECTED_DEPTH;
    if (ReadLe32(header + OFFSET_COMPRESSION) != 0)
        return TONE_PLAN_COMPRESSED;

    TonePassPlan p = {};
    p.width = width;
    p.height = height;
    p.samplesPerRow = is24Bit ? 3u * width : width;
    p.inputOffset = is24Bit ? PIXELS_OFFSET_NO_PALETTE : GREY_HEADER_BYTES;
    p.inputRowBytes = uint32_t(RowBytes(width, is24Bit ? 24 : 8));
    if (ReadLe32(header + OFFSET_PIXELS) != p.inputOffset)
        return TONE_PLAN_PIXEL_OFFSET;
    uint64_t rowsEnd = uint64_t(p.inputOffset) + uint64_t(p.inputRowBytes) * height;
    if (rowsEnd > fileSize)
        return TONE_PLAN_TRUNCATED;
    // Rows longer than the width implies, or a header left from another
    // size, would be cut to what the header claims and lose pixels: every
    // size the file states must agree before the pass writes anything. An
    // image size of 0 is allowed for uncompressed rows.
    uint32_t imageSize = ReadLe32(header + OFFSET_IMAGE_SIZE);
    if (rowsEnd != fileSize || ReadLe32(header + OFFSET_FILE_SIZE) != fileSize ||
        (imageSize != 0 && imageSize != rowsEnd - p.inputOffset))
        return TONE_PLAN_SIZE_FIELDS;
    // The header rewrite needs the palette's first two entries in view.
    if (!is24Bit && reduceToLineArt && headerLength < LINE_ART_HEADER_BYTES)
        return TONE_PLAN_NOT_BITMAP;

    p.applyTable = applyTable;
    p.reduceToLineArt = reduceToLineArt && !is24Bit;
    p.outputOffset = p.inputOffset;
    p.outputRowBytes = p.inputRowBytes;
    if (p.reduceToLineArt) {
        p.outputOffset = LINE_ART_HEADER_BYTES;
        p.outputRowBytes = uint32_t(RowBytes(width, 1));
    }
    p.finalFileSize = uint64_t(p.outputOffset) + uint64_t(p.outputRowBytes) * height;
    *plan = p;
    return TONE_PLAN_OK;
}

void WriteLineArtHeader(uint8_t *file, const TonePassPlan &plan)
{
    uint32_t pixelBytes = plan.outputRowBytes * plan.height;
    WriteLe32(file + OFFSET_FILE_SIZE, pixelBytes + LINE_ART_HEADER_BYTES);
    WriteLe32(file + OFFSET_PIXELS, LINE_ART_HEADER_BYTES);
    WriteLe16(file + OFFSET_BIT_COUNT, 1);
    WriteLe32(file + OFFSET_IMAGE_SIZE, pixelBytes);
    WriteLe32(file + OFFSET_COLOURS_USED, 2);
    static const uint8_t palette[8] = {0, 0, 0, 0, 255, 255, 255, 255};
    memcpy(file + OFFSET_PALETTE, palette, sizeof palette);
}

void ApplyTableToRow(uint8_t *samples, size_t count, const uint8_t table[256])
{
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint8_t a = table[samples[i]], b = table[samples[i + 1]];
        uint8_t c = table[samples[i + 2]], d = table[samples[i + 3]];
        samples[i] = a;
        samples[i + 1] = b;
        samples[i + 2] = c;
        samples[i + 3] = d;
    }
    for (; i < count; ++i)
        samples[i] = table[samples[i]];
}

namespace {

// How a sample value becomes a bit: through the tone table and the
// threshold. Every table BuildToneCurve makes inside the documented ranges
// rises monotonically, so the bits are a plain cut at one sample value;
// eight pixels are then compared at once. Other tables take the lookup.
struct LineArtCut {
    uint8_t white[256];
    bool isCut;
    unsigned cut; // first white sample value; 256 when none is white
};

void MakeLineArtCut(const uint8_t *table, LineArtCut *cut)
{
    for (int v = 0; v < 256; ++v)
        cut->white[v] = (table ? table[v] : v) >= 128 ? 1 : 0;
    cut->cut = 256;
    while (cut->cut > 0 && cut->white[cut->cut - 1])
        --cut->cut;
    cut->isCut = true;
    for (unsigned v = 0; v < cut->cut; ++v)
        cut->isCut = cut->isCut && !cut->white[v];
}

const uint64_t HIGH_BITS = 0x8080808080808080ull;
const uint64_t ONES = 0x0101010101010101ull;

// One output byte from eight samples that are white from `cut` on
// (0 < cut < 256): the high bit of each byte lane says sample >= cut, and
// one multiplication gathers the eight bits, the first pixel on top.
inline uint8_t PackEightByCut(const uint8_t *samples, uint64_t cutLanes)
{
    uint64_t x;
    memcpy(&x, samples, 8);
    uint64_t lowAtLeast = (x | HIGH_BITS) - (cutLanes & ~HIGH_BITS); // lanes never borrow
    uint64_t atLeast = ((x & ~cutLanes) | (~(x ^ cutLanes) & lowAtLeast)) & HIGH_BITS;
    return uint8_t(((atLeast >> 7) * 0x8040201008040201ull) >> 56);
}

bool HostIsLittleEndian()
{
    const uint16_t probe = 1;
    uint8_t first;
    memcpy(&first, &probe, 1);
    return first == 1;
}

void PackRow(const uint8_t *samples, uint32_t width, const LineArtCut &cut, uint8_t *bits)
{
    uint32_t whole = width / 8;
    uint32_t byte = 0;
    if (cut.isCut && (cut.cut == 0 || cut.cut == 256)) {
        memset(bits, cut.cut == 0 ? 0xFF : 0x00, whole);
        byte = whole;
    } else if (cut.isCut && HostIsLittleEndian()) {
        uint64_t cutLanes = uint64_t(cut.cut) * ONES;
        for (; byte < whole; ++byte)
            bits[byte] = PackEightByCut(samples + 8 * byte, cutLanes);
    }
    const uint8_t *white = cut.white;
    for (; byte < whole; ++byte) {
        const uint8_t *s = samples + 8 * byte;
        bits[byte] = uint8_t(white[s[0]] << 7 | white[s[1]] << 6 | white[s[2]] << 5 | white[s[3]] << 4 |
                             white[s[4]] << 3 | white[s[5]] << 2 | white[s[6]] << 1 | white[s[7]]);
    }
    uint32_t rest = width % 8;
    if (rest) {
        const uint8_t *s = samples + 8 * whole;
        uint8_t packed = 0;
        for (uint32_t i = 0; i < rest; ++i)
            packed |= uint8_t(white[s[i]] << (7 - i));
        bits[whole] = packed;
    }
}

} // namespace

void PackRowToBits(const uint8_t *samples, uint32_t width, const uint8_t *table, uint8_t *bits)
{
    LineArtCut cut;
    MakeLineArtCut(table, &cut);
    PackRow(samples, width, cut, bits);
}

void RunToneRows(uint8_t *file, const TonePassPlan &plan, const uint8_t table[256], uint32_t firstRow,
                 uint32_t rowCount)
{
    uint32_t packedBytes = (plan.width + 7) / 8;
    LineArtCut cut;
    if (plan.reduceToLineArt)
        MakeLineArtCut(plan.applyTable ? table : nullptr, &cut);
    for (uint32_t r = firstRow; r < firstRow + rowCount && r < plan.height; ++r) {
        uint8_t *input = file + plan.inputOffset + size_t(r) * plan.inputRowBytes;
        if (!plan.reduceToLineArt) {
            if (plan.applyTable)
                ApplyTableToRow(input, plan.samplesPerRow, table);
            continue;
        }
        // Output row r starts at least 1016 bytes before input row r and
        // advances by at most an eighth of its pace, so every byte written
        // here has already been read.
        uint8_t *output = file + plan.outputOffset + size_t(r) * plan.outputRowBytes;
        PackRow(input, plan.width, cut, output);
        memset(output + packedBytes, 0, plan.outputRowBytes - packedBytes);
    }
}
