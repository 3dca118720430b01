// Border fit: the photo's border measured at full resolution. Each side of
// the outline's rectangle is first walked outwards to where the scan turns
// into backing for good; short segments along it then locate the edge to a
// fraction of a pixel, and robust line fits give one angle for the four
// sides and their positions. A side that finds no edge (it cut through a
// part of the picture as dark or as light as the backing) moves out to where
// the picture ends; a border of the backing's own tone is found last, by the
// faint step it makes at the same distance beyond all four sides. Only the
// border is looked at, never the content, so lines inside the picture
// cannot pull the angle.
#include "analysis_stages.h"
#include "tuning.h"

namespace pagefit {
namespace stages {

namespace {

// One side of the photo's rectangle: the midpoint of the side, the
// direction along it and the outward normal.
struct Side {
    Point mid, along, out;
    double halfLength;
};

void SidesOf(const RotatedRect &r, Side sides[4])
{
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
void Profile(const Residual &res, const Side &s, double aFrom, double aTo, double aStep, int oMin, int oMax, bool trim,
             std::vector<double> *profile)
{
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
                if (trim)
                    samples[k].push_back(float(v));
            }
        }
    }
    for (int k = 0; k < n; k++) {
        if (!count[k])
            continue;
        if (!trim || count[k] < tuning::TRIM_MIN_SAMPLES) {
            (*profile)[k] /= count[k];
            continue;
        }
        // Only which samples fall in the outer tenths matters, not their order.
        std::vector<float> &v = samples[k];
        size_t cut = v.size() / tuning::TRIM_PARTS;
        std::nth_element(v.begin(), v.begin() + cut, v.end());
        std::nth_element(v.begin() + cut, v.end() - cut - 1, v.end());
        double sum = 0;
        for (size_t i = cut; i < v.size() - cut; i++)
            sum += v[i];
        (*profile)[k] = sum / double(v.size() - 2 * cut);
    }
}

// A side's trimmed profile over a range of offsets that grows on demand:
// most sides settle within a tenth of an inch, and the far ends of the range
// are read only for the few that do not.
struct GrowingProfile {
    const Residual &res;
    const Side &side;
    double extent;
    int lo, hi; // offsets covered, inclusive
    std::vector<double> values;
    GrowingProfile(const Residual &r, const Side &s, double e, int from, int to)
        : res(r), side(s), extent(e), lo(from), hi(to)
    {
        Profile(res, side, -extent, extent, tuning::PROFILE_STEP_PIXELS, lo, hi, true, &values);
    }
    void Cover(int from, int to)
    {
        std::vector<double> more;
        if (from < lo) {
            Profile(res, side, -extent, extent, tuning::PROFILE_STEP_PIXELS, from, lo - 1, true, &more);
            values.insert(values.begin(), more.begin(), more.end());
            lo = from;
        }
        if (to > hi) {
            Profile(res, side, -extent, extent, tuning::PROFILE_STEP_PIXELS, hi + 1, to, true, &more);
            values.insert(values.end(), more.begin(), more.end());
            hi = to;
        }
    }
    double At(int offset)
    {
        if (offset < lo || offset > hi)
            Cover(std::min(lo, offset), std::max(hi, offset));
        return values[size_t(offset - lo)];
    }
};

// Moves a side out (or in) to where the scan turns into backing for good,
// walking outwards from inside the photo; catches light borders that the
// coarse outline missed. Returns the shift along the outward normal.
double FindOuterEdge(const Residual &res, const Side &s, const Scale &sc, double threshold)
{
    int inner = sc.Px(tuning::WALK_INSIDE_INCHES), deep = sc.Px(tuning::WALK_DEEP_INCHES),
        outer = sc.Px(tuning::WALK_FAR_INCHES);
    int run = std::max(tuning::WALK_RUN_MIN_PIXELS, sc.Px(tuning::WALK_RUN_INCHES));
    GrowingProfile p(res, s, s.halfLength * tuning::WALK_EXTENT, -inner, sc.Px(tuning::WALK_FIRST_INCHES));
    auto isBacking = [&](int o) { return std::fabs(p.At(o)) <= threshold; };
    int o = -inner;
    while (true) {
        while (o <= p.hi && isBacking(o))
            o++;
        if (o <= p.hi || p.hi >= outer)
            break;
        p.Cover(p.lo, outer);
    }
    if (o > p.hi) {
        // Backing from just inside the side outwards: a speck of dust joined to
        // the outline pushed the side into the backing. The print begins at the
        // first place further in that is clearly not backing.
        p.Cover(-deep, p.hi);
        for (o = -inner - 1; o >= -deep + 1; o--)
            if (!isBacking(o) && !isBacking(o - 1))
                return o + 0.5;
        return 0;
    }
    for (;; o++) {
        if (o + run - 1 > p.hi) {
            if (p.hi >= outer)
                return 0;
            p.Cover(p.lo, outer);
            if (o + run - 1 > p.hi)
                return 0;
        }
        bool backing = true;
        for (int j = o; j < o + run && backing; j++)
            backing = isBacking(j);
        if (!backing)
            continue;
        // Where the backing model is off (its blotches near narrow margins), the
        // backing just outside the print reads as not quite backing, and the walk
        // ends too far out. The print's edge is a sharp step, the model's error a
        // slow drift of a few levels: the side goes to the outermost sharp step
        // inside, unless a plateau too far from the backing for a drift (a border
        // seen at a slant) lies between.
        const int half = tuning::STEP_HALF_PIXELS;
        auto step = [&](int j) { return std::fabs(p.At(j + half) - p.At(j - half)); };
        for (int j = std::min(o, p.hi - half); j >= -deep + half; j--) {
            if (std::fabs(p.At(j + half)) > tuning::PLATEAU_LIMITS * threshold)
                break;
            if (step(j) < tuning::STEP_LIMITS * threshold)
                continue;
            while (j - 1 >= -deep + half && step(j - 1) > step(j))
                j--;
            return j;
        }
        return o - 0.5;
    }
}

struct EdgePoint {
    double a, o, weight;
};

// Where the profile crosses `level` between index k - 1 and k.
double Crossing(const std::vector<double> &p, int k, double level)
{
    double d = p[k] - p[k - 1];
    double f = d != 0 ? (level - p[k - 1]) / d : 0.5;
    return k - 1 + f;
}

// A print casts a shadow along two of its sides: a band a few pixels wide,
// darker than the backing, between the print and the backing. The halfway
// crossing then falls on the band's outer side unless the print is far
// darker than the band, and the crop would keep a dark line. On such a side
// the profile shows two steps, the print's and the band's; the print's edge
// is the inner one. `outer` is the halfway crossing (an index); returns the
// print's edge as an index, or `outer` when there is no band.
double InsideShadow(const std::vector<double> &p, double outer, int shadow, double backing, double threshold)
{
    int n = int(p.size()), q = int(std::lround(outer)), width = tuning::SHADOW_WIDTHS * shadow;
    if (q - width - 2 < 1 || q + 2 >= n)
        return outer;
    auto step = [&](int k) { return std::fabs(p[k + 1] - p[k - 1]) / 2; };
    // The band's step: the steepest point near the crossing.
    int bandStep = q;
    for (int k = q - 1; k <= q + 1; k++)
        if (step(k) > step(bandStep))
            bandStep = k;
    // The print's step: a separate, steep enough peak further in.
    int printStep = -1;
    for (int k = bandStep - 2; k >= bandStep - width && k >= 2; k--)
        if (step(k) >= std::max(threshold, tuning::SHADOW_STEP_PART * step(bandStep)) && step(k) >= step(k - 1) &&
            step(k) >= step(k + 1) && (printStep < 0 || step(k) > step(printStep)))
            printStep = k;
    if (printStep < 0)
        return outer;
    // Between the two, the band lies darker than the backing, all of it.
    for (int k = printStep + 1; k < bandStep; k++)
        if (p[k] > backing - threshold)
            return outer;
    double inside = p[printStep - 2], band = p[(printStep + bandStep + 1) / 2], half = (inside + band) / 2;
    for (int k = printStep - 1; k <= printStep + 2; k++)
        if ((p[k] - half) * (p[k - 1] - half) <= 0 && p[k] != p[k - 1])
            return Crossing(p, k, half);
    return printStep;
}

// Locates the edge inside one segment's profile (index k is offset k - inward):
// the outermost place where the profile leaves the backing, then the crossing
// of the level halfway between backing and photo, measured just inside the
// shadow a print's edge may cast on the backing.
bool LocateEdge(const std::vector<double> &p, int inward, int shadow, double threshold, double *offset,
                double *contrast, bool pastShadow = false)
{
    int n = int(p.size());
    int dep = -1;
    for (int k = n - 1; k >= 1; k--)
        if (std::fabs(p[k]) > threshold && std::fabs(p[k - 1]) > threshold) {
            dep = k;
            break;
        }
    if (dep < 0)
        return false;
    double backing = 0;
    int count = 0;
    for (int k = dep + 2 + shadow; k < n; k++) {
        backing += p[k];
        count++;
    }
    backing = count >= 3 ? backing / count : 0;
    int inside = dep - shadow - 1;
    if (inside - 2 < 0)
        return false;
    double level = (p[inside] + p[inside - 1] + p[inside - 2]) / 3;
    double c = level - backing;
    if (std::fabs(c) < threshold)
        return false;
    double mid = backing + c / 2;
    for (int k = inside + 1; k < n; k++) {
        if ((p[k] - mid) * c <= 0) {
            *offset = Crossing(p, k, mid) - inward;
            *contrast = c;
            if (pastShadow)
                *offset = InsideShadow(p, Crossing(p, k, mid), shadow, backing, threshold) - inward;
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
LineFit FitLine(const std::vector<EdgePoint> &pts, int minimum)
{
    LineFit fit;
    std::vector<uint8_t> keep(pts.size(), 1);
    for (int round = 0; round < tuning::LINE_FIT_ROUNDS; round++) {
        double sw = 0, sa = 0, so = 0, saa = 0, sao = 0;
        int n = 0;
        for (size_t i = 0; i < pts.size(); i++) {
            if (!keep[i])
                continue;
            double w = pts[i].weight;
            sw += w;
            sa += w * pts[i].a;
            so += w * pts[i].o;
            saa += w * pts[i].a * pts[i].a;
            sao += w * pts[i].a * pts[i].o;
            n++;
        }
        if (n < minimum)
            return LineFit();
        double det = sw * saa - sa * sa;
        if (det <= 1e-9)
            return LineFit();
        fit.slope = (sw * sao - sa * so) / det;
        fit.offset = (so - fit.slope * sa) / sw;
        fit.inliers = n;
        fit.ok = true;
        std::vector<float> residuals;
        for (size_t i = 0; i < pts.size(); i++)
            if (keep[i])
                residuals.push_back(float(std::fabs(pts[i].o - fit.offset - fit.slope * pts[i].a)));
        double limit = std::max(tuning::LINE_OUTLIER_PIXELS, tuning::LINE_OUTLIER_SPREADS * 1.4826 * Median(residuals));
        for (size_t i = 0; i < pts.size(); i++)
            keep[i] = std::fabs(pts[i].o - fit.offset - fit.slope * pts[i].a) <= limit;
    }
    return fit;
}

// Moves the sides (top, bottom, left, right) outwards by d[i] pixels.
void MoveSides(RotatedRect *r, const double d[4])
{
    double c = std::cos(r->angle), s = std::sin(r->angle);
    r->height += d[0] + d[1];
    r->cx += -s * (d[1] - d[0]) / 2;
    r->cy += c * (d[1] - d[0]) / 2;
    r->width += d[2] + d[3];
    r->cx += c * (d[3] - d[2]) / 2;
    r->cy += s * (d[3] - d[2]) / 2;
}

// One round of measuring the four sides; updates the rectangle.
int RefineRect(const Residual &res, const Scale &sc, double threshold, RotatedRect *r, bool measured[4])
{
    Side sides[4];
    SidesOf(*r, sides);
    // The search reaches further inwards: the photo's level is read a shadow's
    // width inside the edge.
    int reach = sc.Px(tuning::EDGE_REACH_INCHES) + tuning::EDGE_REACH_PIXELS;
    int shadow = sc.Px(tuning::SHADOW_INCHES) + tuning::SHADOW_PIXELS,
        inward = reach + shadow + tuning::EDGE_INWARD_PIXELS;
    double segment = std::max(tuning::SEGMENT_MIN_PIXELS, sc.Px(tuning::SEGMENT_INCHES));
    LineFit fits[4];
    double rotation[4] = {};
    std::vector<double> profile;
    std::vector<EdgePoint> pts;
    for (int i = 0; i < 4; i++) {
        const Side &s = sides[i];
        // Stay clear of the corners, which may be rounded or shadowed.
        double extent = s.halfLength * tuning::SEGMENT_EXTENT;
        int segments = std::max(1, int(2 * extent / segment));
        double step = 2 * extent / segments;
        pts.clear();
        for (int k = 0; k < segments; k++) {
            double a0 = -extent + k * step;
            Profile(res, s, a0, a0 + step - 1, tuning::SEGMENT_STEP_PIXELS, -inward, reach, false, &profile);
            double o, c;
            if (LocateEdge(profile, inward, shadow, threshold, &o, &c))
                pts.push_back({a0 + step / 2, o, std::min(std::fabs(c), tuning::MOST_EDGE_WEIGHT)});
        }
        fits[i] = FitLine(pts, std::max(tuning::LINE_MIN_POINTS, segments / tuning::LINE_MIN_PART));
        // Every point lies inside the searched band; a line through them that
        // crosses the side's middle outside it is an extrapolation from a
        // cluster of points, not an edge, and would throw the side off the page.
        if (std::fabs(fits[i].offset) > inward + reach)
            fits[i].ok = false;
        // A positive slope turns the side from `along` towards `out`.
        double turn = s.along.x * s.out.y - s.along.y * s.out.x;
        rotation[i] = std::atan(fits[i].slope) * turn;
    }
    // Opposite sides of a print are parallel and neighbours square: one angle
    // for all four, from the sides that agree.
    std::vector<float> angles;
    for (int i = 0; i < 4; i++)
        if (fits[i].ok)
            angles.push_back(float(rotation[i]));
    int fitted = int(angles.size());
    if (fitted == 0)
        return 0;
    double centre = Median(angles), sum = 0, weight = 0;
    for (int i = 0; i < 4; i++) {
        if (!fits[i].ok)
            continue;
        if (fitted >= 3 && std::fabs(rotation[i] - centre) > tuning::SIDE_AGREEMENT_DEGREES * DEGREE) {
            fits[i].ok = false;
            continue;
        }
        sum += rotation[i] * fits[i].inliers;
        weight += fits[i].inliers;
    }
    double o[4];
    for (int i = 0; i < 4; i++)
        o[i] = fits[i].ok ? fits[i].offset : 0;
    MoveSides(r, o);
    if (weight > 0)
        r->angle += sum / weight;
    int used = 0;
    for (int i = 0; i < 4; i++)
        used += measured[i] = fits[i].ok;
    return used;
}

// A shadow runs the whole length of the sides it falls on, as wide all
// along: it is measured on each measured side's profile as a whole, where
// noise cannot make single segments disagree, and the side moves in past it.
// (Sides are top, bottom, left, right: opposite sides are 0 and 1, 2 and 3.)
void StepInsideShadows(const Residual &res, const Scale &sc, double threshold, const bool measured[4], bool lineArt,
                       RotatedRect *r)
{
    Side sides[4];
    SidesOf(*r, sides);
    int reach = sc.Px(tuning::EDGE_REACH_INCHES) + tuning::EDGE_REACH_PIXELS;
    int shadow = sc.Px(tuning::SHADOW_INCHES) + tuning::SHADOW_PIXELS,
        inward = reach + shadow + tuning::EDGE_INWARD_PIXELS;
    double shift[4] = {};
    std::vector<double> p;
    for (int i = 0; i < 4; i++) {
        if (!measured[i])
            continue;
        double extent = sides[i].halfLength * tuning::SEGMENT_EXTENT, outer, inner, c;
        // Line art is read dot by dot along the whole side, untrimmed (a
        // trimmed mean of dots is biased), where the filter that found the
        // print would have blurred the shadow into its edge.
        Profile(res, sides[i], -extent, extent, lineArt ? tuning::LINE_ART_STEP_PIXELS : tuning::PROFILE_STEP_PIXELS,
                -inward, reach, !lineArt, &p);
        if (LocateEdge(p, inward, shadow, threshold, &outer, &c) &&
            LocateEdge(p, inward, shadow, threshold, &inner, &c, true) && inner < outer)
            shift[i] = inner - outer;
    }
    // The light comes from one side: a shadow falls on one of two opposite
    // sides at most, so a pair that both show one shows picture, not shadow.
    for (int i = 0; i < 4; i += 2)
        if (shift[i] < 0 && shift[i + 1] < 0)
            shift[i] = shift[i + 1] = 0;
    MoveSides(r, shift);
}

// Rounds of measuring until the rectangle settles; returns the sides
// measured in the last round.
int Refine(const Residual &res, const Scale &sc, double threshold, RotatedRect *r, bool measured[4])
{
    int fitted = 0;
    for (int round = 0; round < tuning::REFINE_ROUNDS; round++) {
        RotatedRect before = *r;
        fitted = RefineRect(res, sc, threshold, r, measured);
        if (fitted == 0)
            break;
        if (std::fabs(r->angle - before.angle) < tuning::SETTLED_DEGREES * DEGREE &&
            std::fabs(r->cx - before.cx) < tuning::SETTLED_PIXELS &&
            std::fabs(r->cy - before.cy) < tuning::SETTLED_PIXELS && round >= 1)
            break;
    }
    return fitted;
}

// How far beyond side `i` the picture goes on, when the side found no edge:
// the largest sharp step in the profile out to the page's end that has
// backing beyond it and no stretch of plain backing before it (which would
// be a gap to another print or to a streak). 0 when there is none.
double FindPictureEnd(const Residual &res, const RotatedRect &r, int i, const Bitmap &b, const Scale &sc,
                      double threshold)
{
    Side sides[4];
    SidesOf(r, sides);
    const Side &s = sides[i];
    double extent = s.halfLength * tuning::WALK_EXTENT, reach = 0;
    for (double a : {-extent, extent}) {
        double x = s.mid.x + s.along.x * a, y = s.mid.y + s.along.y * a;
        double tx = s.out.x > 1e-9 ? (b.width - x) / s.out.x : s.out.x < -1e-9 ? -x / s.out.x : 1e9;
        double ty = s.out.y > 1e-9 ? (b.height - y) / s.out.y : s.out.y < -1e-9 ? -y / s.out.y : 1e9;
        reach = std::max(reach, std::min(tx, ty));
    }
    int n = std::min(int(reach) + 2, int(b.width + b.height));
    if (n < sc.Px(tuning::END_LEAST_REACH_INCHES))
        return 0;
    std::vector<double> p;
    Profile(res, s, -extent, extent, tuning::PROFILE_STEP_PIXELS, 0, n, true, &p);
    n = int(p.size());
    std::vector<float> diffs;
    for (int k = 0; k + 1 < n; k++)
        diffs.push_back(float(p[k + 1] - p[k]));
    double noise = std::max(tuning::END_NOISE_FLOOR, RobustSpread(diffs, 0) / std::sqrt(2.0));
    const int w = std::max(tuning::STEP_WINDOW_MIN_PIXELS, sc.Px(tuning::STEP_WINDOW_INCHES));
    const int gap = sc.Px(tuning::END_GAP_INCHES), clear = sc.Px(tuning::END_CLEAR_INCHES);
    double plain = std::max(tuning::END_PLAIN_LEVELS, tuning::END_PLAIN_NOISES * noise);
    auto mean = [&](int a, int z) {
        double sum = 0;
        for (int k = a; k <= z; k++)
            sum += p[k];
        return sum / (z - a + 1);
    };
    // Where a stretch of plain backing first begins; the picture ends before it.
    int firstGap = n;
    for (int k = 0, run = 0; k < n; k++) {
        run = std::fabs(p[k]) <= plain ? run + 1 : 0;
        if (run >= gap) {
            firstGap = k - run + 1;
            break;
        }
    }
    double best = 0;
    int at = -1;
    for (int k = w; k + clear < n && k <= firstGap; k++) {
        double step = std::fabs(mean(k - w, k - 1) - mean(k + 1, std::min(n - 1, k + w)));
        if (step <= best || step < std::max(threshold, tuning::END_STEP_NOISES * noise))
            continue;
        bool backingBeyond = true;
        for (int j = k + 2; j < std::min(n, k + 2 + clear) && backingBeyond; j++)
            backingBeyond = std::fabs(p[j]) <= threshold;
        if (!backingBeyond)
            continue;
        best = step;
        at = k;
    }
    if (at < sc.Px(tuning::END_LEAST_INCHES))
        return 0;
    // Sub-pixel: where the profile crosses halfway between the two levels.
    double mid = (mean(at - w, at - 1) + mean(at + 1, std::min(n - 1, at + w))) / 2;
    for (int k = at - w; k < std::min(n - 1, at + w); k++)
        if ((p[k] - mid) * (p[k + 1] - mid) <= 0 && p[k] != p[k + 1])
            return k + (mid - p[k]) / (p[k + 1] - p[k]);
    return at;
}

// A border of nearly the backing's tone (a dark border on black) is below
// every threshold above, and the sides then sit where the picture meets the
// border. Its outer edge is still a faint, sharp step at the same distance
// beyond all four sides, which noise, drift and shadows are not. Returns
// the border's width on each side (0 where none was found), or false when
// the sides do not agree on one.
bool FindFaintBorder(const Residual &res, const RotatedRect &r, const Scale &sc, double widths[4])
{
    Side sides[4];
    SidesOf(r, sides);
    // Narrower than `least` is a shadow or the edge's own blur, not a border.
    const int from = tuning::FAINT_FROM_PIXELS, to = sc.Px(tuning::FAINT_TO_INCHES),
              least = sc.Px(tuning::FAINT_LEAST_INCHES);
    const int window = std::max(tuning::STEP_WINDOW_MIN_PIXELS, sc.Px(tuning::STEP_WINDOW_INCHES));
    double found[4] = {}, sign[4] = {};
    std::vector<double> p;
    std::vector<float> diffs;
    for (int i = 0; i < 4; i++) {
        Profile(res, sides[i], -sides[i].halfLength * tuning::WALK_EXTENT, sides[i].halfLength * tuning::WALK_EXTENT,
                tuning::PROFILE_STEP_PIXELS, from, to, true, &p);
        int n = int(p.size());
        // The profile's own noise, from neighbouring offsets in its outer part.
        diffs.clear();
        for (int k = n / 2; k + 1 < n; k++)
            diffs.push_back(float(p[k + 1] - p[k]));
        double noise = std::max(tuning::FAINT_NOISE_FLOOR, RobustSpread(diffs, 0) / std::sqrt(2.0));
        auto mean = [&](int a, int b) {
            double sum = 0;
            for (int k = a; k <= b; k++)
                sum += p[k];
            return sum / (b - a + 1);
        };
        double best = 0;
        int at = -1;
        for (int k = least - from + window; k + window + 1 < n; k++) {
            double step = mean(k - window, k - 1) - mean(k + 1, k + window);
            if (std::fabs(step) > std::fabs(best)) {
                best = step;
                at = k;
            }
        }
        if (at < 0 || std::fabs(best) < std::max(tuning::FAINT_STEP_LEVELS, tuning::FAINT_STEP_NOISES * noise))
            continue;
        // The plateau inside the step stands off the backing beyond it by the
        // same amount all along: a border, not a slope.
        double inner = mean(0, at - window - 1),
               outer = mean(at + window + 1, std::min(n - 1, at + tuning::FAINT_OUTER_WINDOWS * window));
        if ((inner - outer) * best <= 0 || std::fabs(inner - outer) < tuning::FAINT_PLATEAU_PART * std::fabs(best))
            continue;
        // Sub-pixel: where the profile crosses halfway between the two levels.
        double mid = (inner + outer) / 2, edge = at + from;
        for (int k = at - window; k < at + window; k++)
            if ((p[k] - mid) * (p[k + 1] - mid) <= 0 && p[k] != p[k + 1]) {
                edge = k + from + (mid - p[k]) / (p[k + 1] - p[k]);
                break;
            }
        if (edge < least)
            continue;
        found[i] = edge;
        sign[i] = best > 0 ? 1 : -1;
    }
    std::vector<float> ws;
    for (int i = 0; i < 4; i++)
        if (found[i] > 0)
            ws.push_back(float(found[i]));
    if (ws.size() < size_t(tuning::FAINT_AGREEING_SIDES))
        return false;
    double median = Median(ws);
    int agree = 0;
    double agreedSign = 0;
    for (int i = 0; i < 4; i++)
        if (found[i] > 0 && std::fabs(found[i] - median) <=
                                std::max(tuning::FAINT_AGREEMENT_PIXELS, tuning::FAINT_AGREEMENT_PART * median)) {
            agree++;
            agreedSign += sign[i];
        }
    if (agree < tuning::FAINT_AGREEING_SIDES || std::fabs(agreedSign) < agree)
        return false;
    for (int i = 0; i < 4; i++)
        widths[i] = found[i] > 0 && std::fabs(found[i] - median) <=
                                        std::max(tuning::FAINT_AGREEMENT_PIXELS, tuning::FAINT_AGREEMENT_PART * median)
                        ? found[i]
                        : median;
    return true;
}

// Without a measured edge the outline's rectangle may crop the page, but
// its turn is trusted only when the outline is one solid rectangle turned
// no further than a feeder turns a sheet: the rectangle around a fragment
// of a print can lie at any angle.
bool OutlineTurnTrusted(const RotatedRect &box, double fill)
{
    return fill >= tuning::SOLID_OUTLINE_PART && std::fabs(box.angle) <= tuning::MOST_UNMEASURED_TURN_DEGREES * DEGREE;
}

RotatedRect UprightBoxAround(const RotatedRect &box)
{
    Point corners[4];
    RectCorners(box, corners);
    double x0 = corners[0].x, y0 = corners[0].y, x1 = x0, y1 = y0;
    for (const Point &p : corners) {
        x0 = std::min(x0, p.x);
        y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x);
        y1 = std::max(y1, p.y);
    }
    return {(x0 + x1) / 2, (y0 + y1) / 2, x1 - x0, y1 - y0, 0};
}

} // namespace

void FitBorder(const Bitmap &b, const Residual &res, const Scale &sc, const RotatedRect &outline, double outlineFill,
               const Bitmap *lineArt, PhotoSearch *search)
{
    PhotoSearch &result = *search;
    const BackingModel &m = result.backing;
    const RotatedRect &bestRect = outline;
    RotatedRect r = bestRect;
    double sideThreshold = std::max(tuning::SIDE_LIMIT_LEVELS, tuning::SIDE_LIMIT_SPREADS * m.cellSpread);
    Side sides[4];
    SidesOf(r, sides);
    double shift[4];
    for (int i = 0; i < 4; i++)
        shift[i] = FindOuterEdge(res, sides[i], sc, sideThreshold);
    MoveSides(&r, shift);
    double segmentThreshold =
        std::max(tuning::SEGMENT_LIMIT_LEVELS,
                 tuning::SEGMENT_LIMIT_NOISES * m.pixelNoise /
                         std::sqrt(std::max(tuning::SEGMENT_MIN_PIXELS, sc.Px(tuning::SEGMENT_INCHES))) +
                     tuning::SEGMENT_LIMIT_SPREADS * m.cellSpread);
    bool measured[4] = {};
    int fitted = Refine(res, sc, segmentThreshold, &r, measured);
    if (fitted >= 2 && fitted < 4) {
        // A side without an edge may cut through the picture where its tone
        // meets the backing's; it moves out to the picture's end when that end
        // proves to be an edge.
        double extend[4] = {};
        bool any = false;
        for (int i = 0; i < 4; i++)
            if (!measured[i])
                any |= (extend[i] = FindPictureEnd(res, r, i, b, sc, sideThreshold)) > 0;
        if (any) {
            RotatedRect wider = r;
            MoveSides(&wider, extend);
            // The measured sides must survive the move; the moved ones may be too
            // faint for the segments and keep the place their step gave them.
            bool again[4] = {};
            int refitted = Refine(res, sc, segmentThreshold, &wider, again);
            bool kept = true;
            for (int i = 0; i < 4; i++)
                kept &= !measured[i] || again[i];
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
    double turnAllowed = (fitted == 4 ? tuning::TURN_ALLOWED_ALL_SIDES_DEGREES : tuning::TURN_ALLOWED_DEGREES) * DEGREE;
    // One side alone is no evidence for a turn: a faint side's segments can
    // follow a line of the picture near the edge.
    if (fitted == 1 || (fitted && (std::fabs(r.angle - bestRect.angle) > turnAllowed ||
                                   r.width < bestRect.width * tuning::LEAST_SIZE_PART ||
                                   r.height < bestRect.height * tuning::LEAST_SIZE_PART ||
                                   r.width > bestRect.width * tuning::MOST_SIZE_PART + sc.dpi ||
                                   r.height > bestRect.height * tuning::MOST_SIZE_PART + sc.dpi))) {
        r = bestRect;
        fitted = 0;
    }
    if (fitted) {
        if (lineArt) {
            Residual dots = res;
            dots.b = lineArt;
            StepInsideShadows(dots, sc, segmentThreshold, measured, true, &r);
        } else {
            StepInsideShadows(res, sc, segmentThreshold, measured, false, &r);
        }
    }
    double border[4];
    if (fitted && FindFaintBorder(res, r, sc, border)) {
        MoveSides(&r, border);
        result.faintBorder = (border[0] + border[1] + border[2] + border[3]) / 4;
    }
    result.box = NormaliseRect(r);
    if (!fitted && !OutlineTurnTrusted(result.box, outlineFill))
        result.box = UprightBoxAround(result.box);
    result.sidesFitted = fitted;
}

} // namespace stages
} // namespace pagefit
