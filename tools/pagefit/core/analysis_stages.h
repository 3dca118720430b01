// The stages of the photo search and what each hands to the next: the grid
// summary (grid_summary.cpp), the backing model (backing_model.cpp), the
// outline (outline.cpp) and the border fit (border_fit.cpp). Only
// analysis.cpp and the stages include this.
#pragma once

#include "analysis.h"
#include "bitmap.h"
#include "geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace pagefit {
namespace stages {

const double DEGREE = 0.017453292519943295;

// Lengths in inches turned into whole pixels at the scan's resolution.
struct Scale {
    double dpi;
    int Px(double inches) const
    {
        return std::max(1, int(std::lround(inches * dpi)));
    }
};

inline double Median(std::vector<float> v)
{
    // Taken by value: callers pass copies or vectors they no longer need.
    if (v.empty())
        return 0;
    size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + mid, v.end());
    return v[mid];
}

// 1.4826 x median absolute deviation: the standard deviation of normal data.
inline double RobustSpread(std::vector<float> v, double centre)
{
    for (float &x : v)
        x = std::fabs(x - float(centre));
    return 1.4826 * Median(std::move(v));
}

inline int PixelLuma(const Bitmap &b, const uint8_t *row, int x)
{
    switch (b.bits) {
    case 24: return luma::OfBgr(row + 3 * x);
    case 8: return b.paletteLuma[row[x]];
    default: return b.paletteLuma[(row[x >> 3] >> (7 - (x & 7))) & 1];
    }
}

// --- Grid summary ---------------------------------------------------------

struct CellGrid {
    int cell = 4, cols = 0, rows = 0, channels = 1;
    bool jpegBlocks = false;    // the page went through JPEG: its blocks are flat
    std::vector<float> mean[3]; // per channel
    std::vector<float> luma;
    std::vector<float> sd; // luma standard deviation inside the cell
    int Index(int cx, int cy) const
    {
        return cy * cols + cx;
    }
};

// A 1-bit scan seen at a scale where its dither is texture: a grey page of
// the same size whose every pixel is the mean of the line art around it.
// `pixels` holds its rows; `grey` points into them.
void SmoothLineArt(const Bitmap &lineArt, std::vector<uint8_t> *pixels, Bitmap *grey);

// Cell size in pixels: about 1/75 inch, or whole 8x8 blocks when the page
// went through JPEG (its blocks then never straddle two cells).
int CellSizeFor(double dpi, bool jpegBlocks);
// Whether the page shows JPEG's 8x8 block grid: steps between neighbours
// clearly larger across block boundaries than inside blocks.
bool ShowsJpegBlocks(const Bitmap &b);
void BuildCells(const Bitmap &b, int cell, CellGrid *g);
// Luma of one row, for the depths where it is not the stored byte.
void RowLuma(const Bitmap &b, int y, uint8_t *out);

// --- Backing model --------------------------------------------------------

// Deviation of the backing from its level along cell columns and rows,
// estimated from the cells marked as backing; gaps are bridged from
// neighbours.
struct BackingProfiles {
    std::vector<float> col[3], row[3];
    std::vector<float> colSd; // typical texture of backing cells per column
};

struct BackingEstimate {
    BackingProfiles profiles;
    std::vector<uint8_t> mask;       // cells that differ from the backing in tone or texture
    std::vector<uint8_t> forColumns; // backing cells that taught the column deviations
};

// Fills `model` (all but the pixel noise) and `estimate` from the grid.
void ModelBacking(const CellGrid &g, double cellsPerInch, BackingModel *model, BackingEstimate *estimate);

// The backing-corrected luma of the page at any point, for measuring edges:
// the page luma minus the backing level and its column and row deviations,
// interpolated between pixel centres.
struct Residual {
    const Bitmap *b = nullptr;
    std::vector<float> colOffset; // per pixel column: backing level + column deviation
    std::vector<float> rowOffset; // per pixel row: row deviation
    bool At(double x, double y, double *value) const
    {
        double xs = x - 0.5, ys = y - 0.5;
        if (!(xs >= 0 && ys >= 0 && xs <= b->width - 1 && ys <= b->height - 1) || b->width < 2 || b->height < 2)
            return false;
        int x0 = std::min(int(xs), b->width - 2), y0 = std::min(int(ys), b->height - 2);
        double fx = xs - x0, fy = ys - y0;
        const uint8_t *r0 = b->Row(y0), *r1 = b->Row(y0 + 1);
        double a = PixelLuma(*b, r0, x0) - colOffset[x0], c = PixelLuma(*b, r0, x0 + 1) - colOffset[x0 + 1];
        double d = PixelLuma(*b, r1, x0) - colOffset[x0], e = PixelLuma(*b, r1, x0 + 1) - colOffset[x0 + 1];
        double top = a + (c - a) * fx, bottom = d + (e - d) * fx;
        *value = top + (bottom - top) * fy - (rowOffset[y0] + (rowOffset[y0 + 1] - rowOffset[y0]) * fy);
        return true;
    }
};

// Full-resolution column offsets from the backing pixels, and the noise of
// one pixel from neighbouring backing pixels.
void BuildResidual(const Bitmap &b, const CellGrid &g, const std::vector<uint8_t> &isBacking, double lumaLevel,
                   const BackingProfiles &p, Residual *r, double *pixelNoise);

// --- Outline --------------------------------------------------------------

// Binary morphology on the cell grid with a square of radius r.
std::vector<uint8_t> Dilate(const std::vector<uint8_t> &m, int cols, int rows, int r);
std::vector<uint8_t> Erode(const std::vector<uint8_t> &m, int cols, int rows, int r);

// The largest photo-sized mark's minimum-area rectangle, in page pixels;
// false when no mark is photo-sized. Counts the marks into `search`.
// `fill` is the part of that rectangle the mark covers.
bool FindOutline(const CellGrid &g, const std::vector<uint8_t> &mask, const Scale &sc, PhotoSearch *search,
                 RotatedRect *outline, double *fill);

// --- Border fit -----------------------------------------------------------

// Measures the border around `outline` at full resolution and fills the
// box and the side counts of `search`.
// `lineArt` is the 1-bit page when `b` is its filtered view, else null.
void FitBorder(const Bitmap &b, const Residual &res, const Scale &sc, const RotatedRect &outline, double outlineFill,
               const Bitmap *lineArt, PhotoSearch *search);

} // namespace stages
} // namespace pagefit
