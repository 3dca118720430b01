// Backing model: what the scanner's backing looks like on this page, so that
// anything else stands out. A level per channel comes from the page's outer
// ring; deviations per cell column (falloff across the sensor, column
// patterns, dust streaks, which in a sheet-fed scanner run the whole length
// of the page) and per cell row come from the cells far from anything
// photo-like, in two passes. The last part turns the model into the
// full-resolution residual the border fit measures edges on.
#include "analysis_stages.h"
#include "tuning.h"

#include <functional>

namespace pagefit {
namespace stages {

namespace {

void FillGaps(std::vector<float> &v, const std::vector<int> &count)
{
    int n = int(v.size()), last = -1;
    for (int i = 0; i < n; i++) {
        if (count[i] == 0)
            continue;
        if (last < 0)
            for (int j = 0; j < i; j++)
                v[j] = v[i];
        else
            for (int j = last + 1; j < i; j++)
                v[j] = v[last] + (v[i] - v[last]) * float(j - last) / float(i - last);
        last = i;
    }
    if (last < 0)
        std::fill(v.begin(), v.end(), 0.f);
    else
        for (int j = last + 1; j < n; j++)
            v[j] = v[last];
}

void EstimateProfiles(const CellGrid &g, const std::vector<uint8_t> &forColumns, const std::vector<uint8_t> &forRows,
                      const double level[3], BackingProfiles *p)
{
    const std::vector<uint8_t> &isBacking = forColumns;
    // Gathered row by row (the grid's memory order), then a median per column.
    std::vector<std::vector<float>> columns(g.cols);
    std::vector<float> values;
    std::vector<int> count;
    auto medianOfColumns = [&](std::vector<float> *out) {
        out->assign(g.cols, 0);
        count.assign(g.cols, 0);
        for (int cx = 0; cx < g.cols; cx++) {
            count[cx] = columns[cx].size() >= size_t(tuning::PROFILE_MIN_CELLS) ? int(columns[cx].size()) : 0;
            if (count[cx])
                (*out)[cx] = float(Median(std::move(columns[cx])));
            columns[cx].clear();
        }
        FillGaps(*out, count);
    };
    for (int c = 0; c < g.channels; c++) {
        for (int cy = 0; cy < g.rows; cy++)
            for (int cx = 0; cx < g.cols; cx++)
                if (isBacking[g.Index(cx, cy)])
                    columns[cx].push_back(g.mean[c][g.Index(cx, cy)] - float(level[c]));
        medianOfColumns(&p->col[c]);
        p->row[c].assign(g.rows, 0);
        count.assign(g.rows, 0);
        for (int cy = 0; cy < g.rows; cy++) {
            values.clear();
            for (int cx = 0; cx < g.cols; cx++)
                if (forRows[g.Index(cx, cy)])
                    values.push_back(g.mean[c][g.Index(cx, cy)] - float(level[c]) - p->col[c][cx]);
            count[cy] = values.size() >= size_t(tuning::PROFILE_MIN_CELLS) ? int(values.size()) : 0;
            if (count[cy])
                p->row[c][cy] = float(Median(values));
        }
        FillGaps(p->row[c], count);
    }
    for (int cy = 0; cy < g.rows; cy++)
        for (int cx = 0; cx < g.cols; cx++)
            if (isBacking[g.Index(cx, cy)])
                columns[cx].push_back(g.sd[g.Index(cx, cy)]);
    medianOfColumns(&p->colSd);
}

// Marks the cells that differ from the backing model in tone or texture.
struct Deviation {
    double spread[3] = {1, 1, 1};
    double sdSpread = 1;
    // Colour apart from tone: blue and red less luma. A backing's blotches,
    // falloff and streaks change its tone, hardly its colour, so a print of
    // the backing's tone still stands out by its colour.
    double chromaLevel[2] = {};
    double chromaSpread[2] = {1, 1};
};

float Chroma(const CellGrid &g, int k, int i)
{
    return g.mean[k == 0 ? 0 : 2][i] - g.luma[i];
}

void MarkForeground(const CellGrid &g, const double level[3], const BackingProfiles &p, const Deviation &d,
                    double toneLimit, std::vector<uint8_t> *mask)
{
    mask->assign(g.luma.size(), 0);
    for (int cy = 0; cy < g.rows; cy++)
        for (int cx = 0; cx < g.cols; cx++) {
            int i = g.Index(cx, cy);
            bool fg = false;
            for (int c = 0; c < g.channels && !fg; c++) {
                double residual = g.mean[c][i] - level[c] - p.col[c][cx] - p.row[c][cy];
                fg = std::fabs(residual) > toneLimit * d.spread[c];
            }
            for (int k = 0; k < 2 && !fg && g.channels == 3; k++)
                fg = std::fabs(Chroma(g, k, i) - d.chromaLevel[k]) > toneLimit * d.chromaSpread[k];
            double sdBase = p.colSd[cx];
            if (!fg)
                fg = g.sd[i] > sdBase + std::max(toneLimit * d.sdSpread,
                                                 tuning::TEXTURE_MARGIN_PART * sdBase + tuning::TEXTURE_MARGIN_LEVELS);
            (*mask)[i] = fg;
        }
}

// How far from the marks the cells that teach a profile must lie, in cells.
// `distance` holds, for each cell row (or column), how far it lies outside
// the marks' extent (0 inside it). The farthest rows are the safest, but a
// profile learnt from a thin strip follows the backing's blotches instead of
// its columns, so the room shrinks until the strip is thick enough.
int ProfileRoom(const std::vector<int> &distance, int most, int wanted)
{
    std::vector<int> outside;
    for (int d : distance)
        if (d > 0)
            outside.push_back(d);
    if (outside.empty())
        return 0;
    std::sort(outside.begin(), outside.end(), std::greater<int>());
    int reach = outside[std::min(outside.size(), size_t(wanted)) - 1];
    return std::min(most, reach);
}

// Which backing cells teach the column and the row deviations. A light
// border that the mask missed lies within a quarter inch of the picture and
// would pass for backing, so columns learn from the rows above and below the
// marks (as far from them as the margins allow while leaving enough rows)
// and rows from the columns beside them; without such margins all backing
// cells serve.
void ProfileCells(const CellGrid &g, const std::vector<uint8_t> &mask, const std::vector<uint8_t> &backing,
                  double cellsPerInch, std::vector<uint8_t> *forColumns, std::vector<uint8_t> *forRows)
{
    std::vector<uint8_t> solid =
        Dilate(Erode(mask, g.cols, g.rows, tuning::SPECK_RADIUS_CELLS), g.cols, g.rows, tuning::SPECK_RADIUS_CELLS);
    int left = g.cols, right = -1, top = g.rows, bottom = -1;
    for (int cy = 0; cy < g.rows; cy++)
        for (int cx = 0; cx < g.cols; cx++)
            if (solid[g.Index(cx, cy)] && mask[g.Index(cx, cy)]) {
                left = std::min(left, cx);
                right = std::max(right, cx);
                top = std::min(top, cy);
                bottom = std::max(bottom, cy);
            }
    *forColumns = backing;
    *forRows = backing;
    if (right < 0)
        return;
    const int minimum = tuning::PROFILE_STRIP_MIN_CELLS;
    int most = int(std::lround(tuning::PROFILE_ROOM_INCHES * cellsPerInch));
    int wanted = std::max(minimum, int(std::lround(tuning::PROFILE_STRIP_INCHES * cellsPerInch)));
    std::vector<int> rowDistance(g.rows), colDistance(g.cols);
    for (int cy = 0; cy < g.rows; cy++)
        rowDistance[cy] = std::max(0, std::max(top - cy, cy - bottom));
    for (int cx = 0; cx < g.cols; cx++)
        colDistance[cx] = std::max(0, std::max(left - cx, cx - right));
    int outsideRows = int(std::count_if(rowDistance.begin(), rowDistance.end(), [](int d) { return d > 0; }));
    int outsideCols = int(std::count_if(colDistance.begin(), colDistance.end(), [](int d) { return d > 0; }));
    // Only the cells near the marks are left out: a column beside them, or a
    // row beyond them, learns from its whole length, which averages the
    // backing's blotches away.
    if (outsideRows >= minimum) {
        int room = ProfileRoom(rowDistance, most, wanted);
        for (int cy = 0; cy < g.rows; cy++)
            for (int cx = 0; cx < g.cols; cx++)
                if (rowDistance[cy] < room && colDistance[cx] < room)
                    (*forColumns)[g.Index(cx, cy)] = 0;
    }
    if (outsideCols >= minimum) {
        int room = ProfileRoom(colDistance, most, wanted);
        for (int cy = 0; cy < g.rows; cy++)
            for (int cx = 0; cx < g.cols; cx++)
                if (colDistance[cx] < room && rowDistance[cy] < room)
                    (*forRows)[g.Index(cx, cy)] = 0;
    }
}

} // namespace

void ModelBacking(const CellGrid &g, double cellsPerInch, BackingModel *model, BackingEstimate *estimate)
{
    BackingModel &m = *model;
    m.channels = g.channels;

    // The margins: a ring of cells along the page's edges.
    int ring =
        std::max(tuning::SMALLEST_MARGIN_RING_CELLS, int(std::lround(tuning::MARGIN_RING_INCHES * cellsPerInch)));
    std::vector<uint8_t> isRing(g.luma.size(), 0);
    for (int cy = 0; cy < g.rows; cy++)
        for (int cx = 0; cx < g.cols; cx++)
            isRing[g.Index(cx, cy)] = cx < ring || cy < ring || cx >= g.cols - ring || cy >= g.rows - ring;
    std::vector<float> values;
    for (int c = 0; c < g.channels; c++) {
        values.clear();
        for (size_t i = 0; i < isRing.size(); i++)
            if (isRing[i])
                values.push_back(g.mean[c][i]);
        m.level[c] = Median(values);
    }
    Deviation dev;
    for (int k = 0; k < 2 && g.channels == 3; k++) {
        values.clear();
        for (size_t i = 0; i < isRing.size(); i++)
            if (isRing[i])
                values.push_back(Chroma(g, k, int(i)));
        dev.chromaLevel[k] = Median(values);
    }

    // First pass: profiles from the margins alone, a loose mask of what is
    // surely not backing; second pass: profiles from every backing cell.
    BackingProfiles profiles;
    std::vector<uint8_t> mask;
    std::vector<uint8_t> backing = isRing;
    std::vector<uint8_t> forColumns = backing, forRows = backing;
    for (int pass = 0; pass < 2; pass++) {
        EstimateProfiles(g, forColumns, forRows, m.level, &profiles);
        // Spreads from a thinned set of cells: a few ten thousand are plenty.
        int thin = std::max(1, int(g.luma.size() / tuning::SPREAD_SAMPLE_CELLS));
        for (int c = 0; c < g.channels; c++) {
            values.clear();
            for (int cy = 0; cy < g.rows; cy++)
                for (int cx = cy % thin; cx < g.cols; cx += thin) {
                    int i = g.Index(cx, cy);
                    if (backing[i])
                        values.push_back(g.mean[c][i] - float(m.level[c]) - profiles.col[c][cx] - profiles.row[c][cy]);
                }
            dev.spread[c] = std::max(g.jpegBlocks ? tuning::JPEG_TONE_SPREAD_FLOOR : tuning::TONE_SPREAD_FLOOR,
                                     RobustSpread(values, 0));
        }
        for (int k = 0; k < 2 && g.channels == 3; k++) {
            values.clear();
            for (int cy = 0; cy < g.rows; cy++)
                for (int cx = cy % thin; cx < g.cols; cx += thin)
                    if (backing[g.Index(cx, cy)])
                        values.push_back(Chroma(g, k, g.Index(cx, cy)) - float(dev.chromaLevel[k]));
            dev.chromaSpread[k] = std::max(g.jpegBlocks ? tuning::JPEG_TONE_SPREAD_FLOOR : tuning::CHROMA_SPREAD_FLOOR,
                                           RobustSpread(values, 0));
        }
        values.clear();
        for (int cy = 0; cy < g.rows; cy++)
            for (int cx = cy % thin; cx < g.cols; cx += thin)
                if (backing[g.Index(cx, cy)])
                    values.push_back(g.sd[g.Index(cx, cy)] - profiles.colSd[cx]);
        dev.sdSpread = std::max(g.jpegBlocks ? tuning::JPEG_TEXTURE_SPREAD_FLOOR : tuning::TEXTURE_SPREAD_FLOOR,
                                RobustSpread(values, 0));
        MarkForeground(g, m.level, profiles, dev, pass == 0 ? tuning::LOOSE_MARK_SPREADS : tuning::MARK_SPREADS, &mask);
        std::vector<uint8_t> grown = Dilate(mask, g.cols, g.rows, tuning::BACKING_CLEARANCE_CELLS);
        for (size_t i = 0; i < grown.size(); i++)
            backing[i] = !grown[i];
        ProfileCells(g, mask, backing, cellsPerInch, &forColumns, &forRows);
    }
    m.luma = g.channels == 3
                 ? (m.level[0] * luma::BLUE_WEIGHT + m.level[1] * luma::GREEN_WEIGHT + m.level[2] * luma::RED_WEIGHT) /
                       luma::WEIGHT_TOTAL
                 : m.level[0];
    m.cellSpread = dev.spread[g.channels == 3 ? 1 : 0];
    estimate->profiles = std::move(profiles);
    estimate->mask = std::move(mask);
    estimate->forColumns = std::move(forColumns);
}

void BuildResidual(const Bitmap &b, const CellGrid &g, const std::vector<uint8_t> &isBacking, double lumaLevel,
                   const BackingProfiles &p, Residual *r, double *pixelNoise)
{
    r->b = &b;
    r->rowOffset.resize(b.height);
    for (int y = 0; y < b.height; y++) {
        // Interpolate the cell-row deviation between cell centres.
        double cyf = (y + 0.5) / g.cell - 0.5;
        int c0 = std::max(0, std::min(g.rows - 1, int(std::floor(cyf))));
        int c1 = std::min(g.rows - 1, c0 + 1);
        double f = std::max(0.0, std::min(1.0, cyf - c0));
        const std::vector<float> &row = p.row[g.channels == 3 ? 1 : 0];
        // For colour scans the luma row deviation is close to the green one.
        r->rowOffset[y] = float(row[c0] + (row[c1] - row[c0]) * f);
    }
    std::vector<double> sum(b.width, 0);
    std::vector<int> count(b.width, 0);
    std::vector<uint8_t> luma(b.width);
    std::vector<uint32_t> diffHistogram(256, 0);
    // Every fourth row is plenty for a column's mean and for the noise.
    for (int y = 0; y < b.height; y += tuning::RESIDUAL_ROW_STEP) {
        int cy = y / g.cell;
        RowLuma(b, y, luma.data());
        float rowDev = r->rowOffset[y];
        const uint8_t *backingRow = &isBacking[g.Index(0, cy)];
        for (int cx = 0; cx < g.cols; cx++) {
            if (!backingRow[cx])
                continue;
            int x0 = cx * g.cell, x1 = std::min(b.width, x0 + g.cell);
            for (int x = x0; x < x1; x++) {
                sum[x] += luma[x] - rowDev;
                count[x]++;
            }
            if (cx + 1 < g.cols && backingRow[cx + 1])
                for (int x = x0; x < x1; x++)
                    diffHistogram[std::abs(int(luma[x + 1]) - int(luma[x]))]++;
        }
    }
    r->colOffset.resize(b.width);
    const std::vector<float> &colCells = p.col[g.channels == 3 ? 1 : 0];
    for (int x = 0; x < b.width; x++) {
        // Columns with too few backing pixels fall back to the cell profile.
        r->colOffset[x] = count[x] >= tuning::RESIDUAL_MIN_SAMPLES ? float(sum[x] / count[x])
                                                                   : float(lumaLevel + colCells[x / g.cell]);
    }
    uint64_t total = 0, seen = 0;
    for (uint32_t h : diffHistogram)
        total += h;
    int medianDiff = 0;
    for (int i = 0; i < 256; i++) {
        seen += diffHistogram[i];
        if (seen * 2 >= total && total) {
            medianDiff = i;
            break;
        }
    }
    // The median absolute difference of two neighbours is 0.954 sigma for
    // normal noise; a quantised zero still leaves some noise.
    *pixelNoise = std::max(tuning::PIXEL_NOISE_FLOOR, medianDiff / 0.954);
}

} // namespace stages
} // namespace pagefit
