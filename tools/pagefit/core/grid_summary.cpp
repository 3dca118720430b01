// Grid summary: the page's mean tone per channel and luma texture on a grid
// of cells of about 1/75 inch, in one pass over the rows. Every later stage
// but the border fit reads the page only through this grid.
#include "analysis_stages.h"
#include "tuning.h"

namespace pagefit {
namespace stages {

// Box means over windows of 2 * radius + 1, clipped at the page's ends:
// along each row with a running sum, then down the columns with running
// column sums, so every pass reads memory in order.
void BoxMeans(std::vector<uint16_t> &plane, int w, int h, int radius)
{
    std::vector<uint16_t> across(plane.size());
    for (int y = 0; y < h; y++) {
        const uint16_t *in = &plane[size_t(y) * w];
        uint16_t *out = &across[size_t(y) * w];
        uint32_t sum = 0;
        int from = 0, to = -1;
        for (int x = 0; x < w; x++) {
            int lo = std::max(0, x - radius), hi = std::min(w - 1, x + radius);
            while (to < hi)
                sum += in[++to];
            while (from < lo)
                sum -= in[from++];
            out[x] = uint16_t(float(sum) / float(hi - lo + 1) + 0.5f);
        }
    }
    std::vector<uint32_t> sums(w, 0);
    int from = 0, to = -1;
    for (int y = 0; y < h; y++) {
        int lo = std::max(0, y - radius), hi = std::min(h - 1, y + radius);
        while (to < hi) {
            const uint16_t *row = &across[size_t(++to) * w];
            for (int x = 0; x < w; x++)
                sums[x] += row[x];
        }
        while (from < lo) {
            const uint16_t *row = &across[size_t(from++) * w];
            for (int x = 0; x < w; x++)
                sums[x] -= row[x];
        }
        float scale = 1.0f / float(hi - lo + 1);
        uint16_t *out = &plane[size_t(y) * w];
        for (int x = 0; x < w; x++)
            out[x] = uint16_t(float(sums[x]) * scale + 0.5f);
    }
}

void SmoothLineArt(const Bitmap &b, std::vector<uint8_t> *pixels, Bitmap *grey)
{
    int w = b.width, h = b.height;
    int radius = std::max(1, int(std::lround(b.Dpi() * tuning::DITHER_RADIUS_INCHES)));
    std::vector<uint16_t> plane(size_t(w) * h);
    std::vector<uint8_t> row(w);
    for (int y = 0; y < h; y++) {
        RowLuma(b, y, row.data());
        std::copy(row.begin(), row.end(), plane.begin() + size_t(y) * w);
    }
    // Two box passes each way: close to a Gaussian, and error diffusion's
    // dots, which are all fine detail, average out.
    for (int round = 0; round < 2; round++)
        BoxMeans(plane, w, h, radius);
    *grey = Bitmap();
    grey->width = w;
    grey->height = h;
    grey->bits = 8;
    grey->rowBytes = uint32_t(w);
    grey->xPixelsPerMetre = b.xPixelsPerMetre;
    grey->yPixelsPerMetre = b.yPixelsPerMetre;
    grey->paletteEntries = 256;
    for (int i = 0; i < 256; i++)
        grey->paletteLuma[i] = uint8_t(i);
    grey->greyPalette = true;
    // Stored bottom-up, as Row() reads a file.
    pixels->resize(size_t(w) * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            (*pixels)[size_t(h - 1 - y) * w + x] = uint8_t(plane[size_t(y) * w + x]);
    grey->file = pixels->data();
    grey->fileSize = pixels->size();
    grey->pixelOffset = 0;
}

bool ShowsJpegBlocks(const Bitmap &b)
{
    if (b.width < 4 * tuning::JPEG_BLOCK || b.height < 4 * tuning::JPEG_BLOCK)
        return false;
    // Sum of neighbour steps by position inside the block.
    uint64_t step[tuning::JPEG_BLOCK] = {}, count[tuning::JPEG_BLOCK] = {};
    std::vector<uint8_t> luma(b.width);
    for (int y = 0; y < b.height; y += tuning::JPEG_ROW_STEP) {
        RowLuma(b, y, luma.data());
        for (int x = 0; x + 1 < b.width; x++) {
            step[x % tuning::JPEG_BLOCK] += uint64_t(std::abs(int(luma[x + 1]) - int(luma[x])));
            count[x % tuning::JPEG_BLOCK]++;
        }
    }
    double across = double(step[tuning::JPEG_BLOCK - 1]) / double(count[tuning::JPEG_BLOCK - 1]), inside = 0;
    for (int i = 0; i + 1 < tuning::JPEG_BLOCK; i++)
        inside += double(step[i]) / double(count[i]) / (tuning::JPEG_BLOCK - 1);
    return across > tuning::JPEG_STEP_RATIO * inside + tuning::JPEG_STEP_LEVELS;
}

int CellSizeFor(double dpi, bool jpegBlocks)
{
    int cell =
        std::max(tuning::SMALLEST_CELL, std::min(tuning::LARGEST_CELL, int(std::lround(dpi / tuning::CELLS_PER_INCH))));
    if (jpegBlocks)
        cell = (cell + tuning::JPEG_BLOCK - 1) / tuning::JPEG_BLOCK * tuning::JPEG_BLOCK;
    return cell;
}

void RowLuma(const Bitmap &b, int y, uint8_t *out)
{
    const uint8_t *row = b.Row(y);
    if (b.bits == 24) {
        for (int x = 0; x < b.width; x++)
            out[x] = uint8_t(luma::OfBgr(row + 3 * x));
    } else if (b.bits == 8) {
        for (int x = 0; x < b.width; x++)
            out[x] = b.paletteLuma[row[x]];
    } else {
        uint8_t zero = b.paletteLuma[0], one = b.paletteLuma[1];
        for (int x = 0; x < b.width; x++)
            out[x] = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? one : zero;
    }
}

void BuildCells(const Bitmap &b, int cell, CellGrid *g)
{
    g->cell = cell;
    g->cols = (b.width + cell - 1) / cell;
    g->rows = (b.height + cell - 1) / cell;
    g->channels = b.bits == 24 ? 3 : 1;
    size_t n = size_t(g->cols) * g->rows;
    for (int c = 0; c < g->channels; c++)
        g->mean[c].assign(n, 0);
    g->luma.assign(n, 0);
    g->sd.assign(n, 0);
    std::vector<uint32_t> sum[3], sumL(g->cols);
    std::vector<uint64_t> sumL2(g->cols);
    for (int c = 0; c < 3; c++)
        sum[c].assign(g->cols, 0);
    std::vector<uint8_t> luma(b.width);
    for (int cy = 0; cy < g->rows; cy++) {
        for (int c = 0; c < 3; c++)
            std::fill(sum[c].begin(), sum[c].end(), 0);
        std::fill(sumL.begin(), sumL.end(), 0);
        std::fill(sumL2.begin(), sumL2.end(), 0);
        int y0 = cy * cell, y1 = std::min(b.height, y0 + cell);
        for (int y = y0; y < y1; y++) {
            if (b.bits == 24) {
                const uint8_t *row = b.Row(y);
                for (int cx = 0; cx < g->cols; cx++) {
                    int x0 = cx * cell, x1 = std::min(b.width, x0 + cell);
                    uint32_t s0 = 0, s1 = 0, s2 = 0, sl2 = 0;
                    // Texture is measured on green, which carries most of the luma.
                    for (int x = x0; x < x1; x++) {
                        const uint8_t *p = row + 3 * x;
                        s0 += p[0];
                        s1 += p[1];
                        s2 += p[2];
                        sl2 += p[1] * p[1];
                    }
                    sum[0][cx] += s0;
                    sum[1][cx] += s1;
                    sum[2][cx] += s2;
                    sumL[cx] += s1;
                    sumL2[cx] += sl2;
                }
            } else {
                RowLuma(b, y, luma.data());
                for (int cx = 0; cx < g->cols; cx++) {
                    int x0 = cx * cell, x1 = std::min(b.width, x0 + cell);
                    uint32_t sl = 0, sl2 = 0;
                    for (int x = x0; x < x1; x++) {
                        sl += luma[x];
                        sl2 += luma[x] * luma[x];
                    }
                    sumL[cx] += sl;
                    sumL2[cx] += sl2;
                }
            }
        }
        for (int cx = 0; cx < g->cols; cx++) {
            int count = (std::min(b.width, (cx + 1) * cell) - cx * cell) * (y1 - y0);
            int i = g->Index(cx, cy);
            double m = double(sumL[cx]) / count;
            g->sd[i] = float(std::sqrt(std::max(0.0, double(sumL2[cx]) / count - m * m)));
            if (g->channels == 3) {
                for (int c = 0; c < 3; c++)
                    g->mean[c][i] = float(double(sum[c][cx]) / count);
                g->luma[i] = (g->mean[0][i] * luma::BLUE_WEIGHT + g->mean[1][i] * luma::GREEN_WEIGHT +
                              g->mean[2][i] * luma::RED_WEIGHT) /
                             luma::WEIGHT_TOTAL;
            } else {
                g->mean[0][i] = g->luma[i] = float(m);
            }
        }
    }
}

} // namespace stages
} // namespace pagefit
