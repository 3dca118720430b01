// Photo detection and border fitting.
//
// The page is first summarised on a grid of cells of about 1/75 inch. The
// backing is modelled from the cells that look like backing: a level per
// channel, a deviation per cell column (illumination falloff across the
// sensor, column patterns and dust streaks, which in a sheet-fed scanner run
// the whole length of the page) and a deviation per cell row. Cells that
// differ from that model by more than its own spread, in tone or in texture,
// form the photo's outline; its minimum-area rectangle is the first estimate.
// The border is then measured at full resolution: each side is searched for
// where the scan stops being backing, and short segments along it locate
// the edge to a fraction of a pixel, from which robust line fits give the
// angle and the position. A side that finds no edge (it cut through a part
// of the picture as dark or as light as the backing) moves out to where the
// picture ends; a border of the backing's own tone is found last, by the
// faint step it makes at the same distance beyond all four sides. Only the
// border is looked at, never the content, so lines inside the picture
// cannot pull the angle.
#include "analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

namespace pagefit {

namespace {

const double DEGREE = 0.017453292519943295;

double Median(std::vector<float> v) {
  // Taken by value: callers pass copies or vectors they no longer need.
  if (v.empty()) return 0;
  size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + mid, v.end());
  return v[mid];
}

// 1.4826 x median absolute deviation: the standard deviation of normal data.
double RobustSpread(std::vector<float> v, double centre) {
  for (float &x : v) x = std::fabs(x - float(centre));
  return 1.4826 * Median(std::move(v));
}

inline int PixelLuma(const Bitmap &b, const uint8_t *row, int x) {
  switch (b.bits) {
  case 24: return Luma24(row + 3 * x);
  case 8: return b.paletteLuma[row[x]];
  default: return b.paletteLuma[(row[x >> 3] >> (7 - (x & 7))) & 1];
  }
}

// Luma of one row, for the depths where it is not the stored byte.
void RowLuma(const Bitmap &b, int y, uint8_t *out) {
  const uint8_t *row = b.Row(y);
  if (b.bits == 24) {
    for (int x = 0; x < b.width; x++) out[x] = uint8_t(Luma24(row + 3 * x));
  } else if (b.bits == 8) {
    for (int x = 0; x < b.width; x++) out[x] = b.paletteLuma[row[x]];
  } else {
    uint8_t zero = b.paletteLuma[0], one = b.paletteLuma[1];
    for (int x = 0; x < b.width; x++) out[x] = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? one : zero;
  }
}

struct CellGrid {
  int cell = 4, cols = 0, rows = 0, channels = 1;
  std::vector<float> mean[3]; // per channel
  std::vector<float> luma;
  std::vector<float> sd;      // luma standard deviation inside the cell
  int Index(int cx, int cy) const { return cy * cols + cx; }
};

void BuildCells(const Bitmap &b, int cell, CellGrid *g) {
  g->cell = cell;
  g->cols = (b.width + cell - 1) / cell;
  g->rows = (b.height + cell - 1) / cell;
  g->channels = b.bits == 24 ? 3 : 1;
  size_t n = size_t(g->cols) * g->rows;
  for (int c = 0; c < g->channels; c++) g->mean[c].assign(n, 0);
  g->luma.assign(n, 0);
  g->sd.assign(n, 0);
  std::vector<uint32_t> sum[3], sumL(g->cols);
  std::vector<uint64_t> sumL2(g->cols);
  for (int c = 0; c < 3; c++) sum[c].assign(g->cols, 0);
  std::vector<uint8_t> luma(b.width);
  for (int cy = 0; cy < g->rows; cy++) {
    for (int c = 0; c < 3; c++) std::fill(sum[c].begin(), sum[c].end(), 0);
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
            s0 += p[0]; s1 += p[1]; s2 += p[2];
            sl2 += p[1] * p[1];
          }
          sum[0][cx] += s0; sum[1][cx] += s1; sum[2][cx] += s2;
          sumL[cx] += s1; sumL2[cx] += sl2;
        }
      } else {
        RowLuma(b, y, luma.data());
        for (int cx = 0; cx < g->cols; cx++) {
          int x0 = cx * cell, x1 = std::min(b.width, x0 + cell);
          uint32_t sl = 0, sl2 = 0;
          for (int x = x0; x < x1; x++) { sl += luma[x]; sl2 += luma[x] * luma[x]; }
          sumL[cx] += sl; sumL2[cx] += sl2;
        }
      }
    }
    for (int cx = 0; cx < g->cols; cx++) {
      int count = (std::min(b.width, (cx + 1) * cell) - cx * cell) * (y1 - y0);
      int i = g->Index(cx, cy);
      double m = double(sumL[cx]) / count;
      g->sd[i] = float(std::sqrt(std::max(0.0, double(sumL2[cx]) / count - m * m)));
      if (g->channels == 3) {
        for (int c = 0; c < 3; c++) g->mean[c][i] = float(double(sum[c][cx]) / count);
        g->luma[i] = (g->mean[0][i] * 29 + g->mean[1][i] * 150 + g->mean[2][i] * 77) / 256;
      } else {
        g->mean[0][i] = g->luma[i] = float(m);
      }
    }
  }
}

// Deviation of the backing from its level along cell columns and rows,
// estimated from the cells marked as backing; gaps are bridged from
// neighbours.
struct BackingProfiles {
  std::vector<float> col[3], row[3];
  std::vector<float> colSd; // typical texture of backing cells per column
};

void FillGaps(std::vector<float> &v, const std::vector<int> &count) {
  int n = int(v.size()), last = -1;
  for (int i = 0; i < n; i++) {
    if (count[i] == 0) continue;
    if (last < 0)
      for (int j = 0; j < i; j++) v[j] = v[i];
    else
      for (int j = last + 1; j < i; j++) v[j] = v[last] + (v[i] - v[last]) * float(j - last) / float(i - last);
    last = i;
  }
  if (last < 0) std::fill(v.begin(), v.end(), 0.f);
  else
    for (int j = last + 1; j < n; j++) v[j] = v[last];
}

void EstimateProfiles(const CellGrid &g, const std::vector<uint8_t> &forColumns, const std::vector<uint8_t> &forRows,
                      const double level[3], BackingProfiles *p) {
  const std::vector<uint8_t> &isBacking = forColumns;
  // Gathered row by row (the grid's memory order), then a median per column.
  std::vector<std::vector<float>> columns(g.cols);
  std::vector<float> values;
  std::vector<int> count;
  auto medianOfColumns = [&](std::vector<float> *out) {
    out->assign(g.cols, 0);
    count.assign(g.cols, 0);
    for (int cx = 0; cx < g.cols; cx++) {
      count[cx] = columns[cx].size() >= 3 ? int(columns[cx].size()) : 0;
      if (count[cx]) (*out)[cx] = float(Median(std::move(columns[cx])));
      columns[cx].clear();
    }
    FillGaps(*out, count);
  };
  for (int c = 0; c < g.channels; c++) {
    for (int cy = 0; cy < g.rows; cy++)
      for (int cx = 0; cx < g.cols; cx++)
        if (isBacking[g.Index(cx, cy)]) columns[cx].push_back(g.mean[c][g.Index(cx, cy)] - float(level[c]));
    medianOfColumns(&p->col[c]);
    p->row[c].assign(g.rows, 0);
    count.assign(g.rows, 0);
    for (int cy = 0; cy < g.rows; cy++) {
      values.clear();
      for (int cx = 0; cx < g.cols; cx++)
        if (forRows[g.Index(cx, cy)]) values.push_back(g.mean[c][g.Index(cx, cy)] - float(level[c]) - p->col[c][cx]);
      count[cy] = values.size() >= 3 ? int(values.size()) : 0;
      if (count[cy]) p->row[c][cy] = float(Median(values));
    }
    FillGaps(p->row[c], count);
  }
  for (int cy = 0; cy < g.rows; cy++)
    for (int cx = 0; cx < g.cols; cx++)
      if (isBacking[g.Index(cx, cy)]) columns[cx].push_back(g.sd[g.Index(cx, cy)]);
  medianOfColumns(&p->colSd);
}

// Marks the cells that differ from the backing model in tone or texture.
struct Deviation {
  double spread[3] = {1, 1, 1};
  double sdSpread = 1;
};

void MarkForeground(const CellGrid &g, const double level[3], const BackingProfiles &p, const Deviation &d,
                    double toneLimit, std::vector<uint8_t> *mask) {
  mask->assign(g.luma.size(), 0);
  for (int cy = 0; cy < g.rows; cy++)
    for (int cx = 0; cx < g.cols; cx++) {
      int i = g.Index(cx, cy);
      bool fg = false;
      for (int c = 0; c < g.channels && !fg; c++) {
        double residual = g.mean[c][i] - level[c] - p.col[c][cx] - p.row[c][cy];
        fg = std::fabs(residual) > toneLimit * d.spread[c];
      }
      double sdBase = p.colSd[cx];
      if (!fg) fg = g.sd[i] > sdBase + std::max(toneLimit * d.sdSpread, 0.35 * sdBase + 1.5);
      (*mask)[i] = fg;
    }
}

// Binary morphology on the cell grid with a square of radius r.
std::vector<uint8_t> Dilate(const std::vector<uint8_t> &m, int cols, int rows, int r) {
  std::vector<uint8_t> h(m.size()), out(m.size());
  for (int y = 0; y < rows; y++) {
    int last = -1000000; // last set cell seen from the left
    for (int x = 0; x < cols; x++) {
      if (m[y * cols + x]) last = x;
      h[y * cols + x] = x - last <= r;
    }
    last = 1000000;
    for (int x = cols - 1; x >= 0; x--) {
      if (m[y * cols + x]) last = x;
      h[y * cols + x] |= last - x <= r;
    }
  }
  for (int x = 0; x < cols; x++) {
    int last = -1000000;
    for (int y = 0; y < rows; y++) {
      if (h[y * cols + x]) last = y;
      out[y * cols + x] = y - last <= r;
    }
    last = 1000000;
    for (int y = rows - 1; y >= 0; y--) {
      if (h[y * cols + x]) last = y;
      out[y * cols + x] |= last - y <= r;
    }
  }
  return out;
}

std::vector<uint8_t> Erode(const std::vector<uint8_t> &m, int cols, int rows, int r) {
  std::vector<uint8_t> inv(m.size());
  for (size_t i = 0; i < m.size(); i++) inv[i] = !m[i];
  std::vector<uint8_t> d = Dilate(inv, cols, rows, r);
  for (size_t i = 0; i < d.size(); i++) d[i] = !d[i];
  return d;
}

// How far from the marks the cells that teach a profile must lie, in cells.
// `distance` holds, for each cell row (or column), how far it lies outside
// the marks' extent (0 inside it). The farthest rows are the safest, but a
// profile learnt from a thin strip follows the backing's blotches instead of
// its columns, so the room shrinks until the strip is thick enough.
int ProfileRoom(const std::vector<int> &distance, int most, int wanted) {
  std::vector<int> outside;
  for (int d : distance)
    if (d > 0) outside.push_back(d);
  if (outside.empty()) return 0;
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
                  double cellsPerInch, std::vector<uint8_t> *forColumns, std::vector<uint8_t> *forRows) {
  std::vector<uint8_t> solid = Dilate(Erode(mask, g.cols, g.rows, 1), g.cols, g.rows, 1);
  int left = g.cols, right = -1, top = g.rows, bottom = -1;
  for (int cy = 0; cy < g.rows; cy++)
    for (int cx = 0; cx < g.cols; cx++)
      if (solid[g.Index(cx, cy)] && mask[g.Index(cx, cy)]) {
        left = std::min(left, cx); right = std::max(right, cx);
        top = std::min(top, cy); bottom = std::max(bottom, cy);
      }
  *forColumns = backing;
  *forRows = backing;
  if (right < 0) return;
  const int minimum = 4;
  int most = int(std::lround(0.3 * cellsPerInch)), wanted = std::max(minimum, int(std::lround(0.4 * cellsPerInch)));
  std::vector<int> rowDistance(g.rows), colDistance(g.cols);
  for (int cy = 0; cy < g.rows; cy++) rowDistance[cy] = std::max(0, std::max(top - cy, cy - bottom));
  for (int cx = 0; cx < g.cols; cx++) colDistance[cx] = std::max(0, std::max(left - cx, cx - right));
  int outsideRows = int(std::count_if(rowDistance.begin(), rowDistance.end(), [](int d) { return d > 0; }));
  int outsideCols = int(std::count_if(colDistance.begin(), colDistance.end(), [](int d) { return d > 0; }));
  // Only the cells near the marks are left out: a column beside them, or a
  // row beyond them, learns from its whole length, which averages the
  // backing's blotches away.
  if (outsideRows >= minimum) {
    int room = ProfileRoom(rowDistance, most, wanted);
    for (int cy = 0; cy < g.rows; cy++)
      for (int cx = 0; cx < g.cols; cx++)
        if (rowDistance[cy] < room && colDistance[cx] < room) (*forColumns)[g.Index(cx, cy)] = 0;
  }
  if (outsideCols >= minimum) {
    int room = ProfileRoom(colDistance, most, wanted);
    for (int cy = 0; cy < g.rows; cy++)
      for (int cx = 0; cx < g.cols; cx++)
        if (colDistance[cx] < room && rowDistance[cy] < room) (*forRows)[g.Index(cx, cy)] = 0;
  }
}

// 8-connected components; returns the number of labels (label 0 is empty).
int Label(const std::vector<uint8_t> &m, int cols, int rows, std::vector<int> *labels) {
  labels->assign(m.size(), 0);
  int next = 0;
  std::vector<int> stack;
  for (size_t start = 0; start < m.size(); start++) {
    if (!m[start] || (*labels)[start]) continue;
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
          if (nx < 0 || ny < 0 || nx >= cols || ny >= rows) continue;
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

// The backing-corrected luma of the page at any point, for measuring edges:
// the page luma minus the backing level and its column and row deviations,
// interpolated between pixel centres.
struct Residual {
  const Bitmap *b = nullptr;
  std::vector<float> colOffset; // per pixel column: backing level + column deviation
  std::vector<float> rowOffset; // per pixel row: row deviation
  bool At(double x, double y, double *value) const {
    double xs = x - 0.5, ys = y - 0.5;
    if (!(xs >= 0 && ys >= 0 && xs <= b->width - 1 && ys <= b->height - 1) || b->width < 2 || b->height < 2) return false;
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
                   const BackingProfiles &p, Residual *r, double *pixelNoise) {
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
  for (int y = 0; y < b.height; y += 4) {
    int cy = y / g.cell;
    RowLuma(b, y, luma.data());
    float rowDev = r->rowOffset[y];
    const uint8_t *backingRow = &isBacking[g.Index(0, cy)];
    for (int cx = 0; cx < g.cols; cx++) {
      if (!backingRow[cx]) continue;
      int x0 = cx * g.cell, x1 = std::min(b.width, x0 + g.cell);
      for (int x = x0; x < x1; x++) {
        sum[x] += luma[x] - rowDev;
        count[x]++;
      }
      if (cx + 1 < g.cols && backingRow[cx + 1])
        for (int x = x0; x < x1; x++) diffHistogram[std::abs(int(luma[x + 1]) - int(luma[x]))]++;
    }
  }
  r->colOffset.resize(b.width);
  const std::vector<float> &colCells = p.col[g.channels == 3 ? 1 : 0];
  for (int x = 0; x < b.width; x++) {
    // Columns with too few backing pixels fall back to the cell profile.
    r->colOffset[x] = count[x] >= 3 ? float(sum[x] / count[x]) : float(lumaLevel + colCells[x / g.cell]);
  }
  uint64_t total = 0, seen = 0;
  for (uint32_t h : diffHistogram) total += h;
  int medianDiff = 0;
  for (int i = 0; i < 256; i++) {
    seen += diffHistogram[i];
    if (seen * 2 >= total && total) { medianDiff = i; break; }
  }
  // The median absolute difference of two neighbours is 0.954 sigma for
  // normal noise; a quantised zero still leaves some noise.
  *pixelNoise = std::max(0.5, medianDiff / 0.954);
}

// One side of the photo's rectangle: the midpoint of the side, the
// direction along it and the outward normal.
struct Side {
  Point mid, along, out;
  double halfLength;
};

void SidesOf(const RotatedRect &r, Side sides[4]) {
  double c = std::cos(r.angle), s = std::sin(r.angle);
  Point u{c, s}, v{-s, c};
  double hw = r.width / 2, hh = r.height / 2;
  sides[0] = {{r.cx - v.x * hh, r.cy - v.y * hh}, u, {-v.x, -v.y}, hw}; // top
  sides[1] = {{r.cx + v.x * hh, r.cy + v.y * hh}, u, v, hw};            // bottom
  sides[2] = {{r.cx - u.x * hw, r.cy - u.y * hw}, v, {-u.x, -u.y}, hh}; // left
  sides[3] = {{r.cx + u.x * hw, r.cy + u.y * hw}, v, u, hh};            // right
}

// Mean residual across a stretch of a side, at whole-pixel offsets from
// oMin to oMax along the outward normal. Offsets never sampled read 0
// (backing). With `trim`, the highest and lowest tenth of the samples at each
// offset are left out, so a speck of dust or a streak crossing the side
// does not pass for an edge.
void Profile(const Residual &res, const Side &s, double aFrom, double aTo, double aStep, int oMin, int oMax,
             bool trim, std::vector<double> *profile) {
  int n = oMax - oMin + 1;
  profile->assign(n, 0);
  std::vector<int> count(n, 0);
  std::vector<std::vector<float>> samples(trim ? n : 0);
  for (double a = aFrom; a <= aTo; a += aStep) {
    double bx = s.mid.x + s.along.x * a, by = s.mid.y + s.along.y * a;
    for (int k = 0; k < n; k++) {
      double o = oMin + k, v;
      if (res.At(bx + s.out.x * o, by + s.out.y * o, &v)) {
        (*profile)[k] += v;
        count[k]++;
        if (trim) samples[k].push_back(float(v));
      }
    }
  }
  for (int k = 0; k < n; k++) {
    if (!count[k]) continue;
    if (!trim || count[k] < 10) {
      (*profile)[k] /= count[k];
      continue;
    }
    // Only which samples fall in the outer tenths matters, not their order.
    std::vector<float> &v = samples[k];
    size_t cut = v.size() / 10;
    std::nth_element(v.begin(), v.begin() + cut, v.end());
    std::nth_element(v.begin() + cut, v.end() - cut - 1, v.end());
    double sum = 0;
    for (size_t i = cut; i < v.size() - cut; i++) sum += v[i];
    (*profile)[k] = sum / double(v.size() - 2 * cut);
  }
}

struct Scale {
  double dpi;
  int Px(double inches) const { return std::max(1, int(std::lround(inches * dpi))); }
};

// Moves a side out (or in) to where the scan turns into backing for good,
// walking outwards from inside the photo; catches light borders that the
// coarse outline missed. Returns the shift along the outward normal.
// A side's trimmed profile over a range of offsets that grows on demand:
// most sides settle within a tenth of an inch, and the far ends of the range
// are read only for the few that do not.
struct GrowingProfile {
  const Residual &res;
  const Side &side;
  double extent;
  int lo, hi; // offsets covered, inclusive
  std::vector<double> values;
  GrowingProfile(const Residual &r, const Side &s, double e, int from, int to) : res(r), side(s), extent(e), lo(from), hi(to) {
    Profile(res, side, -extent, extent, 3.0, lo, hi, true, &values);
  }
  void Cover(int from, int to) {
    std::vector<double> more;
    if (from < lo) {
      Profile(res, side, -extent, extent, 3.0, from, lo - 1, true, &more);
      values.insert(values.begin(), more.begin(), more.end());
      lo = from;
    }
    if (to > hi) {
      Profile(res, side, -extent, extent, 3.0, hi + 1, to, true, &more);
      values.insert(values.end(), more.begin(), more.end());
      hi = to;
    }
  }
  double At(int offset) {
    if (offset < lo || offset > hi) Cover(std::min(lo, offset), std::max(hi, offset));
    return values[size_t(offset - lo)];
  }
};

double FindOuterEdge(const Residual &res, const Side &s, const Scale &sc, double threshold) {
  int inner = sc.Px(0.05), deep = sc.Px(0.25), outer = sc.Px(0.6), run = std::max(6, sc.Px(0.08));
  GrowingProfile p(res, s, s.halfLength * 0.8, -inner, sc.Px(0.3));
  auto isBacking = [&](int o) { return std::fabs(p.At(o)) <= threshold; };
  int o = -inner;
  while (true) {
    while (o <= p.hi && isBacking(o)) o++;
    if (o <= p.hi || p.hi >= outer) break;
    p.Cover(p.lo, outer);
  }
  if (o > p.hi) {
    // Backing from just inside the side outwards: a speck of dust joined to
    // the outline pushed the side into the backing. The print begins at the
    // first place further in that is clearly not backing.
    p.Cover(-deep, p.hi);
    for (o = -inner - 1; o >= -deep + 1; o--)
      if (!isBacking(o) && !isBacking(o - 1)) return o + 0.5;
    return 0;
  }
  for (;; o++) {
    if (o + run - 1 > p.hi) {
      if (p.hi >= outer) return 0;
      p.Cover(p.lo, outer);
      if (o + run - 1 > p.hi) return 0;
    }
    bool backing = true;
    for (int j = o; j < o + run && backing; j++) backing = isBacking(j);
    if (!backing) continue;
    // Where the backing model is off (its blotches near narrow margins), the
    // backing just outside the print reads as not quite backing, and the walk
    // ends too far out. The print's edge is a sharp step, the model's error a
    // slow drift of a few levels: the side goes to the outermost sharp step
    // inside, unless a plateau too far from the backing for a drift (a border
    // seen at a slant) lies between.
    const int half = 2;
    auto step = [&](int j) { return std::fabs(p.At(j + half) - p.At(j - half)); };
    for (int j = std::min(o, p.hi - half); j >= -deep + half; j--) {
      if (std::fabs(p.At(j + half)) > 2 * threshold) break;
      if (step(j) < 0.75 * threshold) continue;
      while (j - 1 >= -deep + half && step(j - 1) > step(j)) j--;
      return j;
    }
    return o - 0.5;
  }
}

struct EdgePoint {
  double a, o, weight;
};

// Locates the edge inside one segment's profile (index k is offset k - inward):
// the outermost place where the profile leaves the backing, then the crossing
// of the level halfway between backing and photo, measured just inside the
// shadow a print's edge may cast on the backing.
bool LocateEdge(const std::vector<double> &p, int inward, int shadow, double threshold, double *offset, double *contrast) {
  int n = int(p.size());
  int dep = -1;
  for (int k = n - 1; k >= 1; k--)
    if (std::fabs(p[k]) > threshold && std::fabs(p[k - 1]) > threshold) { dep = k; break; }
  if (dep < 0) return false;
  double backing = 0;
  int count = 0;
  for (int k = dep + 2 + shadow; k < n; k++) { backing += p[k]; count++; }
  backing = count >= 3 ? backing / count : 0;
  int inside = dep - shadow - 1;
  if (inside - 2 < 0) return false;
  double level = (p[inside] + p[inside - 1] + p[inside - 2]) / 3;
  double c = level - backing;
  if (std::fabs(c) < threshold) return false;
  double mid = backing + c / 2;
  for (int k = inside + 1; k < n; k++) {
    if ((p[k] - mid) * c <= 0) {
      double d = p[k] - p[k - 1];
      double f = d != 0 ? (mid - p[k - 1]) / d : 0.5;
      *offset = (k - 1 + f) - inward;
      *contrast = c;
      return true;
    }
  }
  return false;
}

struct LineFit {
  bool ok = false;
  double offset = 0, slope = 0;
  int inliers = 0;
};

// Weighted least squares of o = offset + slope * a, repeated without the
// points that lie far off the line (corners, dust, a torn edge).
LineFit FitLine(const std::vector<EdgePoint> &pts, int minimum) {
  LineFit fit;
  std::vector<uint8_t> keep(pts.size(), 1);
  for (int round = 0; round < 4; round++) {
    double sw = 0, sa = 0, so = 0, saa = 0, sao = 0;
    int n = 0;
    for (size_t i = 0; i < pts.size(); i++) {
      if (!keep[i]) continue;
      double w = pts[i].weight;
      sw += w; sa += w * pts[i].a; so += w * pts[i].o; saa += w * pts[i].a * pts[i].a; sao += w * pts[i].a * pts[i].o;
      n++;
    }
    if (n < minimum) return LineFit();
    double det = sw * saa - sa * sa;
    if (det <= 1e-9) return LineFit();
    fit.slope = (sw * sao - sa * so) / det;
    fit.offset = (so - fit.slope * sa) / sw;
    fit.inliers = n;
    fit.ok = true;
    std::vector<float> residuals;
    for (size_t i = 0; i < pts.size(); i++)
      if (keep[i]) residuals.push_back(float(std::fabs(pts[i].o - fit.offset - fit.slope * pts[i].a)));
    double limit = std::max(0.5, 3 * 1.4826 * Median(residuals));
    for (size_t i = 0; i < pts.size(); i++)
      keep[i] = std::fabs(pts[i].o - fit.offset - fit.slope * pts[i].a) <= limit;
  }
  return fit;
}

// Moves the sides (top, bottom, left, right) outwards by d[i] pixels.
void MoveSides(RotatedRect *r, const double d[4]) {
  double c = std::cos(r->angle), s = std::sin(r->angle);
  r->height += d[0] + d[1];
  r->cx += -s * (d[1] - d[0]) / 2; r->cy += c * (d[1] - d[0]) / 2;
  r->width += d[2] + d[3];
  r->cx += c * (d[3] - d[2]) / 2; r->cy += s * (d[3] - d[2]) / 2;
}

// One round of measuring the four sides; updates the rectangle.
int RefineRect(const Residual &res, const Scale &sc, double threshold, RotatedRect *r, bool measured[4]) {
  Side sides[4];
  SidesOf(*r, sides);
  // The search reaches further inwards: the photo's level is read a shadow's
  // width inside the edge.
  int reach = sc.Px(0.04) + 4, shadow = sc.Px(0.01) + 1, inward = reach + shadow + 4;
  double segment = std::max(16, sc.Px(0.12));
  LineFit fits[4];
  double rotation[4] = {};
  std::vector<double> profile;
  std::vector<EdgePoint> pts;
  for (int i = 0; i < 4; i++) {
    const Side &s = sides[i];
    // Stay clear of the corners, which may be rounded or shadowed.
    double extent = s.halfLength * 0.84;
    int segments = std::max(1, int(2 * extent / segment));
    double step = 2 * extent / segments;
    pts.clear();
    for (int k = 0; k < segments; k++) {
      double a0 = -extent + k * step;
      Profile(res, s, a0, a0 + step - 1, 2.0, -inward, reach, false, &profile);
      double o, c;
      if (LocateEdge(profile, inward, shadow, threshold, &o, &c)) pts.push_back({a0 + step / 2, o, std::min(std::fabs(c), 60.0)});
    }
    fits[i] = FitLine(pts, std::max(4, segments / 4));
    // A positive slope turns the side from `along` towards `out`.
    double turn = s.along.x * s.out.y - s.along.y * s.out.x;
    rotation[i] = std::atan(fits[i].slope) * turn;
  }
  // Opposite sides of a print are parallel and neighbours square: one angle
  // for all four, from the sides that agree.
  std::vector<float> angles;
  for (int i = 0; i < 4; i++)
    if (fits[i].ok) angles.push_back(float(rotation[i]));
  int fitted = int(angles.size());
  if (fitted == 0) return 0;
  double centre = Median(angles), sum = 0, weight = 0;
  for (int i = 0; i < 4; i++) {
    if (!fits[i].ok) continue;
    if (fitted >= 3 && std::fabs(rotation[i] - centre) > 0.3 * DEGREE) { fits[i].ok = false; continue; }
    sum += rotation[i] * fits[i].inliers;
    weight += fits[i].inliers;
  }
  double o[4];
  for (int i = 0; i < 4; i++) o[i] = fits[i].ok ? fits[i].offset : 0;
  MoveSides(r, o);
  if (weight > 0) r->angle += sum / weight;
  int used = 0;
  for (int i = 0; i < 4; i++) used += measured[i] = fits[i].ok;
  return used;
}

// Rounds of measuring until the rectangle settles; returns the sides
// measured in the last round.
int Refine(const Residual &res, const Scale &sc, double threshold, RotatedRect *r, bool measured[4]) {
  int fitted = 0;
  for (int round = 0; round < 4; round++) {
    RotatedRect before = *r;
    fitted = RefineRect(res, sc, threshold, r, measured);
    if (fitted == 0) break;
    if (std::fabs(r->angle - before.angle) < 0.002 * DEGREE && std::fabs(r->cx - before.cx) < 0.05 &&
        std::fabs(r->cy - before.cy) < 0.05 && round >= 1)
      break;
  }
  return fitted;
}

// How far beyond side `i` the picture goes on, when the side found no edge:
// the largest sharp step in the profile out to the page's end that has
// backing beyond it and no stretch of plain backing before it (which would
// be a gap to another print or to a streak). 0 when there is none.
double FindPictureEnd(const Residual &res, const RotatedRect &r, int i, const Bitmap &b, const Scale &sc, double threshold) {
  Side sides[4];
  SidesOf(r, sides);
  const Side &s = sides[i];
  double extent = s.halfLength * 0.8, reach = 0;
  for (double a : {-extent, extent}) {
    double x = s.mid.x + s.along.x * a, y = s.mid.y + s.along.y * a;
    double tx = s.out.x > 1e-9 ? (b.width - x) / s.out.x : s.out.x < -1e-9 ? -x / s.out.x : 1e9;
    double ty = s.out.y > 1e-9 ? (b.height - y) / s.out.y : s.out.y < -1e-9 ? -y / s.out.y : 1e9;
    reach = std::max(reach, std::min(tx, ty));
  }
  int n = std::min(int(reach) + 2, int(b.width + b.height));
  if (n < sc.Px(0.2)) return 0;
  std::vector<double> p;
  Profile(res, s, -extent, extent, 3.0, 0, n, true, &p);
  n = int(p.size());
  std::vector<float> diffs;
  for (int k = 0; k + 1 < n; k++) diffs.push_back(float(p[k + 1] - p[k]));
  double noise = std::max(0.05, RobustSpread(diffs, 0) / std::sqrt(2.0));
  const int w = std::max(3, sc.Px(0.012)), gap = sc.Px(0.1), clear = sc.Px(0.05);
  double plain = std::max(0.5, 3 * noise);
  auto mean = [&](int a, int z) {
    double sum = 0;
    for (int k = a; k <= z; k++) sum += p[k];
    return sum / (z - a + 1);
  };
  // Where a stretch of plain backing first begins; the picture ends before it.
  int firstGap = n;
  for (int k = 0, run = 0; k < n; k++) {
    run = std::fabs(p[k]) <= plain ? run + 1 : 0;
    if (run >= gap) { firstGap = k - run + 1; break; }
  }
  double best = 0;
  int at = -1;
  for (int k = w; k + clear < n && k <= firstGap; k++) {
    double step = std::fabs(mean(k - w, k - 1) - mean(k + 1, std::min(n - 1, k + w)));
    if (step <= best || step < std::max(threshold, 8 * noise)) continue;
    bool backingBeyond = true;
    for (int j = k + 2; j < std::min(n, k + 2 + clear) && backingBeyond; j++) backingBeyond = std::fabs(p[j]) <= threshold;
    if (!backingBeyond) continue;
    best = step;
    at = k;
  }
  if (at < sc.Px(0.1)) return 0;
  // Sub-pixel: where the profile crosses halfway between the two levels.
  double mid = (mean(at - w, at - 1) + mean(at + 1, std::min(n - 1, at + w))) / 2;
  for (int k = at - w; k < std::min(n - 1, at + w); k++)
    if ((p[k] - mid) * (p[k + 1] - mid) <= 0 && p[k] != p[k + 1]) return k + (mid - p[k]) / (p[k + 1] - p[k]);
  return at;
}

// A border of nearly the backing's tone (a dark border on black) is below
// every threshold above, and the sides then sit where the picture meets the
// border. Its outer edge is still a faint, sharp step at the same distance
// beyond all four sides, which noise, drift and shadows are not. Returns
// the border's width on each side (0 where none was found), or false when
// the sides do not agree on one.
bool FindFaintBorder(const Residual &res, const RotatedRect &r, const Scale &sc, double widths[4]) {
  Side sides[4];
  SidesOf(r, sides);
  // Narrower than `least` is a shadow or the edge's own blur, not a border.
  const int from = 2, to = sc.Px(0.35), window = std::max(3, sc.Px(0.012)), least = sc.Px(0.06);
  double found[4] = {}, sign[4] = {};
  std::vector<double> p;
  std::vector<float> diffs;
  for (int i = 0; i < 4; i++) {
    Profile(res, sides[i], -sides[i].halfLength * 0.8, sides[i].halfLength * 0.8, 3.0, from, to, true, &p);
    int n = int(p.size());
    // The profile's own noise, from neighbouring offsets in its outer part.
    diffs.clear();
    for (int k = n / 2; k + 1 < n; k++) diffs.push_back(float(p[k + 1] - p[k]));
    double noise = std::max(0.02, RobustSpread(diffs, 0) / std::sqrt(2.0));
    auto mean = [&](int a, int b) {
      double sum = 0;
      for (int k = a; k <= b; k++) sum += p[k];
      return sum / (b - a + 1);
    };
    double best = 0;
    int at = -1;
    for (int k = least - from + window; k + window + 1 < n; k++) {
      double step = mean(k - window, k - 1) - mean(k + 1, k + window);
      if (std::fabs(step) > std::fabs(best)) { best = step; at = k; }
    }
    if (at < 0 || std::fabs(best) < std::max(0.3, 6 * noise)) continue;
    // The plateau inside the step stands off the backing beyond it by the
    // same amount all along: a border, not a slope.
    double inner = mean(0, at - window - 1), outer = mean(at + window + 1, std::min(n - 1, at + 4 * window));
    if ((inner - outer) * best <= 0 || std::fabs(inner - outer) < 0.5 * std::fabs(best)) continue;
    // Sub-pixel: where the profile crosses halfway between the two levels.
    double mid = (inner + outer) / 2, edge = at + from;
    for (int k = at - window; k < at + window; k++)
      if ((p[k] - mid) * (p[k + 1] - mid) <= 0 && p[k] != p[k + 1]) {
        edge = k + from + (mid - p[k]) / (p[k + 1] - p[k]);
        break;
      }
    if (edge < least) continue;
    found[i] = edge;
    sign[i] = best > 0 ? 1 : -1;
  }
  std::vector<float> ws;
  for (int i = 0; i < 4; i++)
    if (found[i] > 0) ws.push_back(float(found[i]));
  if (ws.size() < 3) return false;
  double median = Median(ws);
  int agree = 0;
  double agreedSign = 0;
  for (int i = 0; i < 4; i++)
    if (found[i] > 0 && std::fabs(found[i] - median) <= std::max(2.0, 0.1 * median)) {
      agree++;
      agreedSign += sign[i];
    }
  if (agree < 3 || std::fabs(agreedSign) < agree) return false;
  for (int i = 0; i < 4; i++)
    widths[i] = found[i] > 0 && std::fabs(found[i] - median) <= std::max(2.0, 0.1 * median) ? found[i] : median;
  return true;
}

} // namespace

PhotoSearch FindPhoto(const Bitmap &b) {
  PhotoSearch result;
  Scale sc{b.Dpi()};
  int cell = std::max(2, std::min(16, int(std::lround(sc.dpi / 75))));
  CellGrid g;
  BuildCells(b, cell, &g);
  double cellsPerInch = sc.dpi / cell;
  BackingModel &m = result.backing;
  m.channels = g.channels;

  // The margins: a ring of cells along the page's edges.
  int ring = std::max(2, int(std::lround(0.12 * cellsPerInch)));
  std::vector<uint8_t> isRing(g.luma.size(), 0);
  for (int cy = 0; cy < g.rows; cy++)
    for (int cx = 0; cx < g.cols; cx++)
      isRing[g.Index(cx, cy)] = cx < ring || cy < ring || cx >= g.cols - ring || cy >= g.rows - ring;
  std::vector<float> values;
  for (int c = 0; c < g.channels; c++) {
    values.clear();
    for (size_t i = 0; i < isRing.size(); i++)
      if (isRing[i]) values.push_back(g.mean[c][i]);
    m.level[c] = Median(values);
  }

  // First pass: profiles from the margins alone, a loose mask of what is
  // surely not backing; second pass: profiles from every backing cell.
  BackingProfiles profiles;
  Deviation dev;
  std::vector<uint8_t> mask;
  std::vector<uint8_t> backing = isRing;
  std::vector<uint8_t> forColumns = backing, forRows = backing;
  for (int pass = 0; pass < 2; pass++) {
    EstimateProfiles(g, forColumns, forRows, m.level, &profiles);
    // Spreads from a thinned set of cells: a few ten thousand are plenty.
    int thin = std::max(1, int(g.luma.size() / 40000));
    for (int c = 0; c < g.channels; c++) {
      values.clear();
      for (int cy = 0; cy < g.rows; cy++)
        for (int cx = cy % thin; cx < g.cols; cx += thin) {
          int i = g.Index(cx, cy);
          if (backing[i]) values.push_back(g.mean[c][i] - float(m.level[c]) - profiles.col[c][cx] - profiles.row[c][cy]);
        }
      dev.spread[c] = std::max(0.35, RobustSpread(values, 0));
    }
    values.clear();
    for (int cy = 0; cy < g.rows; cy++)
      for (int cx = cy % thin; cx < g.cols; cx += thin)
        if (backing[g.Index(cx, cy)]) values.push_back(g.sd[g.Index(cx, cy)] - profiles.colSd[cx]);
    dev.sdSpread = std::max(0.25, RobustSpread(values, 0));
    MarkForeground(g, m.level, profiles, dev, pass == 0 ? 8.0 : 5.5, &mask);
    std::vector<uint8_t> grown = Dilate(mask, g.cols, g.rows, 2);
    for (size_t i = 0; i < grown.size(); i++) backing[i] = !grown[i];
    ProfileCells(g, mask, backing, cellsPerInch, &forColumns, &forRows);
  }
  m.luma = g.channels == 3 ? (m.level[0] * 29 + m.level[1] * 150 + m.level[2] * 77) / 256 : m.level[0];
  m.cellSpread = dev.spread[g.channels == 3 ? 1 : 0];

  // Thin marks (hairs, streaks, single specks) go; the photo keeps its shape.
  std::vector<uint8_t> solid = Dilate(Erode(mask, g.cols, g.rows, 1), g.cols, g.rows, 1);
  for (size_t i = 0; i < solid.size(); i++) solid[i] &= mask[i];
  // Parts of one photo separated by backing-toned areas join up.
  std::vector<uint8_t> joined = Dilate(solid, g.cols, g.rows, std::max(1, int(std::lround(0.06 * cellsPerInch))));
  std::vector<int> labels;
  int count = Label(joined, g.cols, g.rows, &labels);
  std::vector<std::vector<Point>> outlines(count + 1);
  std::vector<int> cells(count + 1, 0);
  for (int cy = 0; cy < g.rows; cy++) {
    int first = -1, last = -1, label = 0;
    for (int cx = 0; cx <= g.cols; cx++) {
      int i = g.Index(std::min(cx, g.cols - 1), cy);
      int l = cx < g.cols && solid[i] ? labels[i] : 0;
      if (l) cells[l]++;
      if (l == label && l) { last = cx; continue; }
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
    if (outlines[l].size() < 3) continue;
    RotatedRect r = MinAreaRect(ConvexHull(outlines[l]));
    double area = cells[l] / (cellsPerInch * cellsPerInch);
    result.largestMarkSquareInches = std::max(result.largestMarkSquareInches, area);
    double shortSide = std::min(r.width, r.height) / sc.dpi;
    if (shortSide < MIN_PHOTO_SHORT_SIDE_INCHES || area < MIN_PHOTO_AREA_SQUARE_INCHES) continue;
    result.photoSizedMarks++;
    if (!best || cells[l] > cells[best]) {
      best = l;
      bestRect = r;
    }
  }
  if (!best) return result;
  result.photoFound = true;

  Residual res;
  BuildResidual(b, g, forColumns, m.luma, profiles, &res, &m.pixelNoise);
  RotatedRect r = bestRect;
  double sideThreshold = std::max(1.5, 1.5 * m.cellSpread);
  Side sides[4];
  SidesOf(r, sides);
  double shift[4];
  for (int i = 0; i < 4; i++) shift[i] = FindOuterEdge(res, sides[i], sc, sideThreshold);
  MoveSides(&r, shift);
  double segmentThreshold = std::max(2.0, 4 * m.pixelNoise / std::sqrt(std::max(16, sc.Px(0.12))) + 2 * m.cellSpread);
  bool measured[4] = {};
  int fitted = Refine(res, sc, segmentThreshold, &r, measured);
  if (fitted >= 2 && fitted < 4) {
    // A side without an edge may cut through the picture where its tone
    // meets the backing's; it moves out to the picture's end when that end
    // proves to be an edge.
    double extend[4] = {};
    bool any = false;
    for (int i = 0; i < 4; i++)
      if (!measured[i]) any |= (extend[i] = FindPictureEnd(res, r, i, b, sc, sideThreshold)) > 0;
    if (any) {
      RotatedRect wider = r;
      MoveSides(&wider, extend);
      // The measured sides must survive the move; the moved ones may be too
      // faint for the segments and keep the place their step gave them.
      bool again[4] = {};
      int refitted = Refine(res, sc, segmentThreshold, &wider, again);
      bool kept = true;
      for (int i = 0; i < 4; i++) kept &= !measured[i] || again[i];
      if (kept) {
        r = wider;
        fitted = refitted;
        result.sidesMovedToPictureEnd = int(std::count_if(extend, extend + 4, [](double e) { return e > 0; }));
      }
    }
  }
  // A fit that wandered far from the outline is not trusted. All four sides
  // agreeing on one angle may turn further: a border the outline caught in
  // patches can tilt the outline's rectangle by a few degrees.
  double turnAllowed = (fitted == 4 ? 8 : 3) * DEGREE;
  if (fitted && (std::fabs(r.angle - bestRect.angle) > turnAllowed || r.width < bestRect.width * 0.7 ||
                 r.height < bestRect.height * 0.7 || r.width > bestRect.width * 1.5 + sc.dpi || r.height > bestRect.height * 1.5 + sc.dpi)) {
    r = bestRect;
    fitted = 0;
  }
  double border[4];
  if (fitted && FindFaintBorder(res, r, sc, border)) {
    MoveSides(&r, border);
    result.faintBorder = (border[0] + border[1] + border[2] + border[3]) / 4;
  }
  result.box = NormaliseRect(r);
  result.sidesFitted = fitted;
  return result;
}

} // namespace pagefit
