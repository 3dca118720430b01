// Outline: the cells that differ from the backing, cleared of thin marks
// (hairs, streaks, single specks) and joined where one photo's parts are
// separated by backing-toned areas, become marks; the largest photo-sized
// mark's minimum-area rectangle is the first estimate of the photo.
#include "analysis_stages.h"
#include "tuning.h"

namespace pagefit {
namespace stages {

namespace {

// 8-connected components; returns the number of labels (label 0 is empty).
int Label(const std::vector<uint8_t> &m, int cols, int rows, std::vector<int> *labels)
{
    labels->assign(m.size(), 0);
    int next = 0;
    std::vector<int> stack;
    for (size_t start = 0; start < m.size(); start++) {
        if (!m[start] || (*labels)[start])
            continue;
        next++;
        (*labels)[start] = next;
        stack.push_back(int(start));
        while (!stack.empty()) {
            int i = stack.back();
            stack.pop_back();
            int x = i % cols, y = i / cols;
            for (int dy = -1; dy <= 1; dy++)
                for (int dx = -1; dx <= 1; dx++) {
                    int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= cols || ny >= rows)
                        continue;
                    int j = ny * cols + nx;
                    if (m[j] && !(*labels)[j]) {
                        (*labels)[j] = next;
                        stack.push_back(j);
                    }
                }
        }
    }
    return next;
}

} // namespace

// Binary morphology on the cell grid with a square of radius r.
std::vector<uint8_t> Dilate(const std::vector<uint8_t> &m, int cols, int rows, int r)
{
    std::vector<uint8_t> h(m.size()), out(m.size());
    for (int y = 0; y < rows; y++) {
        int last = -1000000; // last set cell seen from the left
        for (int x = 0; x < cols; x++) {
            if (m[y * cols + x])
                last = x;
            h[y * cols + x] = x - last <= r;
        }
        last = 1000000;
        for (int x = cols - 1; x >= 0; x--) {
            if (m[y * cols + x])
                last = x;
            h[y * cols + x] |= last - x <= r;
        }
    }
    for (int x = 0; x < cols; x++) {
        int last = -1000000;
        for (int y = 0; y < rows; y++) {
            if (h[y * cols + x])
                last = y;
            out[y * cols + x] = y - last <= r;
        }
        last = 1000000;
        for (int y = rows - 1; y >= 0; y--) {
            if (h[y * cols + x])
                last = y;
            out[y * cols + x] |= last - y <= r;
        }
    }
    return out;
}

std::vector<uint8_t> Erode(const std::vector<uint8_t> &m, int cols, int rows, int r)
{
    std::vector<uint8_t> inv(m.size());
    for (size_t i = 0; i < m.size(); i++)
        inv[i] = !m[i];
    std::vector<uint8_t> d = Dilate(inv, cols, rows, r);
    for (size_t i = 0; i < d.size(); i++)
        d[i] = !d[i];
    return d;
}

bool FindOutline(const CellGrid &g, const std::vector<uint8_t> &mask, const Scale &sc, PhotoSearch *search,
                 RotatedRect *outline, double *fill)
{
    PhotoSearch &result = *search;
    const int cell = g.cell;
    double cellsPerInch = sc.dpi / cell;
    // Thin marks (hairs, streaks, single specks) go; the photo keeps its shape.
    std::vector<uint8_t> solid =
        Dilate(Erode(mask, g.cols, g.rows, tuning::SPECK_RADIUS_CELLS), g.cols, g.rows, tuning::SPECK_RADIUS_CELLS);
    for (size_t i = 0; i < solid.size(); i++)
        solid[i] &= mask[i];
    // Parts of one photo separated by backing-toned areas join up.
    std::vector<uint8_t> joined =
        Dilate(solid, g.cols, g.rows, std::max(1, int(std::lround(tuning::JOIN_INCHES * cellsPerInch))));
    std::vector<int> labels;
    int count = Label(joined, g.cols, g.rows, &labels);
    std::vector<std::vector<Point>> outlines(count + 1);
    std::vector<int> cells(count + 1, 0);
    for (int cy = 0; cy < g.rows; cy++) {
        int first = -1, last = -1, label = 0;
        for (int cx = 0; cx <= g.cols; cx++) {
            int i = g.Index(std::min(cx, g.cols - 1), cy);
            int l = cx < g.cols && solid[i] ? labels[i] : 0;
            if (l)
                cells[l]++;
            if (l == label && l) {
                last = cx;
                continue;
            }
            if (label) {
                // Row runs of the outline become corner points for the hull.
                std::vector<Point> &o = outlines[label];
                o.push_back({double(first * cell), double(cy * cell)});
                o.push_back({double(first * cell), double((cy + 1) * cell)});
                o.push_back({double((last + 1) * cell), double(cy * cell)});
                o.push_back({double((last + 1) * cell), double((cy + 1) * cell)});
            }
            label = l;
            first = last = cx;
        }
    }
    int best = 0;
    RotatedRect bestRect;
    for (int l = 1; l <= count; l++) {
        if (outlines[l].size() < 3)
            continue;
        RotatedRect r = MinAreaRect(ConvexHull(outlines[l]));
        double area = cells[l] / (cellsPerInch * cellsPerInch);
        result.largestMarkSquareInches = std::max(result.largestMarkSquareInches, area);
        double shortSide = std::min(r.width, r.height) / sc.dpi;
        if (shortSide < MIN_PHOTO_SHORT_SIDE_INCHES || area < MIN_PHOTO_AREA_SQUARE_INCHES)
            continue;
        result.photoSizedMarks++;
        if (!best || cells[l] > cells[best]) {
            best = l;
            bestRect = r;
        }
    }
    if (!best)
        return false;
    *outline = bestRect;
    *fill = double(cells[best]) * cell * cell / std::max(1.0, bestRect.width * bestRect.height);
    return true;
}

} // namespace stages
} // namespace pagefit
