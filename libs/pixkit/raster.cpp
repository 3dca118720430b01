// Quarter-turn rotation and area-averaging reduction of pictures.
#include "raster.h"

#include <cstring>
#include <new>
#include <vector>

#include "bitmap_layout.h"

namespace pixkit {

uint32_t BitsPerPixel(PixelLayout layout)
{
    switch (layout) {
    case LAYOUT_BILEVEL: return 1;
    case LAYOUT_GREY: return 8;
    case LAYOUT_BGR: return 24;
    }
    return 24;
}

size_t RowBytesFor(PixelLayout layout, uint32_t width)
{
    return size_t(bitmap_layout::RowBytes(width, BitsPerPixel(layout)));
}

bool AllocateRaster(Raster *raster, PixelLayout layout, uint32_t width, uint32_t height)
{
    raster->pixels.reset();
    raster->layout = layout;
    raster->width = raster->height = 0;
    raster->stride = 0;
    uint64_t stride = bitmap_layout::RowBytes(width, BitsPerPixel(layout));
    if (width == 0 || height == 0 || stride * height > MAX_RASTER_BYTES)
        return false;
    size_t bytes = size_t(stride * height);
    raster->pixels.reset(new (std::nothrow) uint8_t[bytes]);
    if (!raster->pixels)
        return false;
    memset(raster->pixels.get(), 0, bytes);
    raster->width = width;
    raster->height = height;
    raster->stride = size_t(stride);
    return true;
}

namespace {

inline bool BitAt(const uint8_t *row, uint32_t x)
{
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}
inline void SetBit(uint8_t *row, uint32_t x)
{
    row[x >> 3] |= uint8_t(0x80 >> (x & 7));
}

// Where destination pixel (x, y) takes its source pixel from, for a
// clockwise turn by `turns` quarters of a source of w × h.
struct TurnMap {
    int turns;
    uint32_t w, h;
    void Source(uint32_t x, uint32_t y, uint32_t *sx, uint32_t *sy) const
    {
        switch (turns) {
        case 1:
            *sx = y;
            *sy = h - 1 - x;
            break;
        case 2:
            *sx = w - 1 - x;
            *sy = h - 1 - y;
            break;
        case 3:
            *sx = w - 1 - y;
            *sy = x;
            break;
        default:
            *sx = x;
            *sy = y;
            break;
        }
    }
};

} // namespace

bool RotateQuarterTurns(const Raster &source, int quarterTurns, Raster *result)
{
    int turns = ((quarterTurns % 4) + 4) % 4;
    bool sideways = turns == 1 || turns == 3;
    uint32_t width = sideways ? source.height : source.width;
    uint32_t height = sideways ? source.width : source.height;
    if (!AllocateRaster(result, source.layout, width, height))
        return false;
    TurnMap map{turns, source.width, source.height};
    const uint32_t bytesPerPixel = BitsPerPixel(source.layout) / 8;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *out = result->Row(y);
        if (turns == 0 || turns == 2) {
            // Whole rows keep their pixels together: copy or mirror a row at once.
            const uint8_t *in = source.Row(turns == 0 ? y : height - 1 - y);
            if (turns == 0) {
                memcpy(out, in, result->stride);
                continue;
            }
            for (uint32_t x = 0; x < width; ++x) {
                uint32_t sx = width - 1 - x;
                if (source.layout == LAYOUT_BILEVEL) {
                    if (BitAt(in, sx))
                        SetBit(out, x);
                } else {
                    memcpy(out + x * bytesPerPixel, in + sx * bytesPerPixel, bytesPerPixel);
                }
            }
            continue;
        }
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t sx, sy;
            map.Source(x, y, &sx, &sy);
            const uint8_t *in = source.Row(sy);
            if (source.layout == LAYOUT_BILEVEL) {
                if (BitAt(in, sx))
                    SetBit(out, x);
            } else {
                memcpy(out + x * bytesPerPixel, in + sx * bytesPerPixel, bytesPerPixel);
            }
        }
    }
    return true;
}

namespace {

// One axis of the averaging: in units where a source pixel is `to` long and
// a destination pixel `from` long, destination pixel d spans
// [d·from, (d+1)·from) and source pixel s spans [s·to, (s+1)·to). The
// overlaps are exact integers and the weights of one destination pixel add
// up to `from`.
struct Span {
    uint32_t first; // first source pixel touched
    std::vector<uint32_t> weights;
};

bool BuildSpans(uint32_t from, uint32_t to, std::vector<Span> *spans)
{
    spans->clear();
    spans->resize(to);
    for (uint32_t d = 0; d < to; ++d) {
        uint64_t start = uint64_t(d) * from, end = start + from;
        uint32_t s = uint32_t(start / to);
        Span &span = (*spans)[d];
        span.first = s;
        for (; s < from && uint64_t(s) * to < end; ++s) {
            uint64_t lo = uint64_t(s) * to, hi = lo + to;
            if (lo < start)
                lo = start;
            if (hi > end)
                hi = end;
            span.weights.push_back(uint32_t(hi - lo));
        }
    }
    return true;
}

// Reads channel values of one source row into `values` (channels interleaved),
// line art as 0 or 255.
void ExpandRow(const Raster &source, uint32_t y, uint32_t channels, std::vector<uint32_t> *values)
{
    const uint8_t *row = source.Row(y);
    if (source.layout == LAYOUT_BILEVEL) {
        for (uint32_t x = 0; x < source.width; ++x)
            (*values)[x] = BitAt(row, x) ? 255 : 0;
        return;
    }
    for (uint32_t i = 0; i < source.width * channels; ++i)
        (*values)[i] = row[i];
}

} // namespace

bool ResizeByAreaAverage(const Raster &source, uint32_t width, uint32_t height, Raster *result)
{
    if (!source.pixels || width == 0 || height == 0)
        return false;
    if (!AllocateRaster(result, source.layout, width, height))
        return false;
    const uint32_t channels = source.layout == LAYOUT_BGR ? 3 : 1;
    std::vector<Span> across, down;
    BuildSpans(source.width, width, &across);
    BuildSpans(source.height, height, &down);

    // Horizontal sums of one source row (weights add up to source.width),
    // then the weighted sum of those rows for each destination row. The
    // total weight is source.width × source.height, so 64 bits hold it.
    std::vector<uint32_t> expanded(size_t(source.width) * channels);
    std::vector<uint32_t> rowSums(size_t(width) * channels);
    std::vector<uint64_t> columnSums(size_t(width) * channels);
    const uint64_t total = uint64_t(source.width) * source.height;
    for (uint32_t y = 0; y < height; ++y) {
        std::fill(columnSums.begin(), columnSums.end(), 0);
        const Span &vertical = down[y];
        for (size_t k = 0; k < vertical.weights.size(); ++k) {
            ExpandRow(source, vertical.first + uint32_t(k), channels, &expanded);
            for (uint32_t x = 0; x < width; ++x) {
                const Span &horizontal = across[x];
                for (uint32_t c = 0; c < channels; ++c) {
                    uint32_t sum = 0;
                    const uint32_t *in = &expanded[size_t(horizontal.first) * channels + c];
                    for (size_t j = 0; j < horizontal.weights.size(); ++j)
                        sum += horizontal.weights[j] * in[j * channels];
                    rowSums[size_t(x) * channels + c] = sum;
                }
            }
            for (size_t i = 0; i < rowSums.size(); ++i)
                columnSums[i] += uint64_t(rowSums[i]) * vertical.weights[k];
        }
        uint8_t *out = result->Row(y);
        for (uint32_t x = 0; x < width; ++x) {
            for (uint32_t c = 0; c < channels; ++c) {
                uint64_t mean = (columnSums[size_t(x) * channels + c] * 2 + total) / (total * 2);
                if (source.layout == LAYOUT_BILEVEL) {
                    if (mean >= 128)
                        SetBit(out, x);
                } else {
                    out[size_t(x) * channels + c] = uint8_t(mean);
                }
            }
        }
    }
    return true;
}

} // namespace pixkit
