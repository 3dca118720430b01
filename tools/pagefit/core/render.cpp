// Output rendering in fixed point: one pass over the output rows.
#include "render.h"

#include "bitmap_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pagefit {

namespace {

int NearestPaletteIndex(const Bitmap &b, double luma)
{
    int best = 0;
    double bestDistance = 1e9;
    for (int i = 0; i < b.paletteEntries; i++) {
        double d = std::fabs(b.paletteLuma[i] - luma);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

inline int Bit(const uint8_t *row, int x)
{
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}
inline void SetBit(uint8_t *row, int x, int v)
{
    if (v)
        row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    else
        row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
}

const int FRACTION_BITS = 16;
const int64_t ONE = int64_t(1) << FRACTION_BITS;

} // namespace

std::vector<uint8_t> RenderRotated(const Bitmap &b, const RotatedRect &frame, int outWidth, int outHeight,
                                   const Fill &fill)
{
    std::vector<uint8_t> out = NewBitmapLike(b, outWidth, outHeight);
    uint32_t outRowBytes = uint32_t(bitmap_layout::RowBytes(uint32_t(outWidth), uint32_t(b.bits)));
    double c = std::cos(frame.angle), s = std::sin(frame.angle);
    double fillLuma = b.bits == 24 ? (fill.level[0] * luma::BLUE_WEIGHT + fill.level[1] * luma::GREEN_WEIGHT +
                                      fill.level[2] * luma::RED_WEIGHT) /
                                         luma::WEIGHT_TOTAL
                                   : fill.level[0];
    uint8_t fillBytes[3];
    for (int k = 0; k < 3; k++)
        fillBytes[k] = uint8_t(std::lround(std::max(0.0, std::min(255.0, fill.level[k]))));
    int fillIndex = b.bits == 24 ? 0
                                 : (b.greyPalette ? int(std::lround(std::max(0.0, std::min(255.0, fillLuma))))
                                                  : NearestPaletteIndex(b, fillLuma));
    bool nearest = b.bits == 8 && !b.greyPalette;
    int lineArtThreshold = (b.paletteLuma[0] + b.paletteLuma[1] + 1) / 2;
    bool oneIsLight = b.paletteLuma[1] >= b.paletteLuma[0];
    const int64_t W = b.width, H = b.height;
    const uint8_t *top = b.Row(0);
    const ptrdiff_t down = -ptrdiff_t(b.rowBytes); // from one row to the one below it

    for (int j = 0; j < outHeight; j++) {
        uint8_t *dst = out.data() + b.pixelOffset + size_t(outHeight - 1 - j) * outRowBytes;
        // Source position of output pixel (0, j)'s centre, shifted so that
        // integer parts index pixels whose centres lie at +0.5.
        double dx = 0.5 - outWidth / 2.0, dy = j + 0.5 - outHeight / 2.0;
        double sx = frame.cx + dx * c - dy * s - 0.5, sy = frame.cy + dx * s + dy * c - 0.5;
        int64_t fx = int64_t(std::llround(sx * ONE)), fy = int64_t(std::llround(sy * ONE));
        int64_t stepX = int64_t(std::llround(c * ONE)), stepY = int64_t(std::llround(s * ONE));
        for (int i = 0; i < outWidth; i++, fx += stepX, fy += stepY) {
            if (uint64_t(fx) < uint64_t(W - 1) * ONE && uint64_t(fy) < uint64_t(H - 1) * ONE && !nearest) {
                // Inside: all four neighbours exist.
                int x0 = int(fx >> FRACTION_BITS), y0 = int(fy >> FRACTION_BITS);
                int wx = int((fx >> 8) & 255), wy = int((fy >> 8) & 255);
                const uint8_t *r0 = top + ptrdiff_t(y0) * down, *r1 = r0 + down;
                if (b.bits == 24) {
                    const uint8_t *a = r0 + 3 * x0, *d = r1 + 3 * x0;
                    uint8_t *p = dst + 3 * i;
                    for (int k = 0; k < 3; k++) {
                        int upper = a[k] * 256 + (a[k + 3] - a[k]) * wx, lower = d[k] * 256 + (d[k + 3] - d[k]) * wx;
                        p[k] = uint8_t((upper * 256 + (lower - upper) * wy + 32768) >> 16);
                    }
                    continue;
                }
                if (b.bits == 8) {
                    int upper = r0[x0] * 256 + (r0[x0 + 1] - r0[x0]) * wx,
                        lower = r1[x0] * 256 + (r1[x0 + 1] - r1[x0]) * wx;
                    dst[i] = uint8_t((upper * 256 + (lower - upper) * wy + 32768) >> 16);
                    continue;
                }
            }
            // Half a pixel beyond the outer pixel centres still belongs to the page.
            int64_t cx = std::max<int64_t>(0, std::min<int64_t>(fx, (W - 1) * ONE));
            int64_t cy = std::max<int64_t>(0, std::min<int64_t>(fy, (H - 1) * ONE));
            bool inside =
                fx >= -ONE / 2 && fy >= -ONE / 2 && fx <= (W - 1) * ONE + ONE / 2 && fy <= (H - 1) * ONE + ONE / 2;
            int x0 = int(cx >> FRACTION_BITS), y0 = int(cy >> FRACTION_BITS);
            int wx = int((cx >> 8) & 255), wy = int((cy >> 8) & 255);
            int x1 = int(std::min<int64_t>(x0 + 1, W - 1));
            bool lastRow = y0 + 1 >= H;
            const uint8_t *r0 = top + ptrdiff_t(y0) * down;
            const uint8_t *r1 = lastRow ? r0 : r0 + down;
            if (b.bits == 24) {
                uint8_t *p = dst + 3 * i;
                if (!inside) {
                    p[0] = fillBytes[0];
                    p[1] = fillBytes[1];
                    p[2] = fillBytes[2];
                    continue;
                }
                for (int k = 0; k < 3; k++) {
                    int a = r0[3 * x0 + k], bb = r0[3 * x1 + k], cc = r1[3 * x0 + k], d = r1[3 * x1 + k];
                    int upper = a * 256 + (bb - a) * wx, lower = cc * 256 + (d - cc) * wx;
                    p[k] = uint8_t((upper * 256 + (lower - upper) * wy + 32768) >> 16);
                }
            } else if (b.bits == 8) {
                if (!inside) {
                    dst[i] = uint8_t(fillIndex);
                    continue;
                }
                if (nearest) {
                    int nx = wx >= 128 ? x1 : x0;
                    dst[i] = (wy >= 128 ? r1 : r0)[nx];
                    continue;
                }
                int a = r0[x0], bb = r0[x1], cc = r1[x0], d = r1[x1];
                int upper = a * 256 + (bb - a) * wx, lower = cc * 256 + (d - cc) * wx;
                dst[i] = uint8_t((upper * 256 + (lower - upper) * wy + 32768) >> 16);
            } else {
                if (!inside) {
                    SetBit(dst, i, fillIndex);
                    continue;
                }
                int a = b.paletteLuma[Bit(r0, x0)], bb = b.paletteLuma[Bit(r0, x1)];
                int cc = b.paletteLuma[Bit(r1, x0)], d = b.paletteLuma[Bit(r1, x1)];
                int upper = a * 256 + (bb - a) * wx, lower = cc * 256 + (d - cc) * wx;
                int luma = (upper * 256 + (lower - upper) * wy + 32768) >> 16;
                SetBit(dst, i, (luma >= lineArtThreshold) == oneIsLight);
            }
        }
    }
    return out;
}

std::vector<uint8_t> CopyBox(const Bitmap &b, int x, int y, int w, int h)
{
    std::vector<uint8_t> out = NewBitmapLike(b, w, h);
    uint32_t outRowBytes = uint32_t(bitmap_layout::RowBytes(uint32_t(w), uint32_t(b.bits)));
    for (int j = 0; j < h; j++) {
        const uint8_t *src = b.Row(y + j);
        uint8_t *dst = out.data() + b.pixelOffset + size_t(h - 1 - j) * outRowBytes;
        if (b.bits == 1) {
            for (int i = 0; i < w; i++)
                SetBit(dst, i, Bit(src, x + i));
        } else {
            int bytes = b.bits / 8;
            memcpy(dst, src + size_t(x) * bytes, size_t(w) * bytes);
        }
    }
    return out;
}

} // namespace pagefit
