// Plane geometry helpers for the photo's rectangle.
#include "geometry.h"

#include <algorithm>
#include <cmath>

namespace pagefit {

static const double HALF_PI = 1.5707963267948966;

void RectCorners(const RotatedRect &r, Point corners[4])
{
    double c = std::cos(r.angle), s = std::sin(r.angle);
    double ux = c * r.width / 2, uy = s * r.width / 2;    // half the top edge
    double vx = -s * r.height / 2, vy = c * r.height / 2; // half the left edge, downwards
    corners[0] = {r.cx - ux - vx, r.cy - uy - vy};
    corners[1] = {r.cx + ux - vx, r.cy + uy - vy};
    corners[2] = {r.cx + ux + vx, r.cy + uy + vy};
    corners[3] = {r.cx - ux + vx, r.cy - uy + vy};
}

RotatedRect NormaliseRect(RotatedRect r)
{
    while (r.angle > HALF_PI / 2) {
        r.angle -= HALF_PI;
        std::swap(r.width, r.height);
    }
    while (r.angle <= -HALF_PI / 2) {
        r.angle += HALF_PI;
        std::swap(r.width, r.height);
    }
    return r;
}

static double Cross(const Point &o, const Point &a, const Point &b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

std::vector<Point> ConvexHull(std::vector<Point> p)
{
    std::sort(p.begin(), p.end(),
              [](const Point &a, const Point &b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    if (p.size() < 3)
        return p;
    std::vector<Point> h(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); i++) {
        while (k >= 2 && Cross(h[k - 2], h[k - 1], p[i]) <= 0)
            k--;
        h[k++] = p[i];
    }
    for (size_t i = p.size() - 1, t = k + 1; i > 0; i--) {
        while (k >= t && Cross(h[k - 2], h[k - 1], p[i - 1]) <= 0)
            k--;
        h[k++] = p[i - 1];
    }
    h.resize(k - 1);
    return h;
}

RotatedRect MinAreaRect(const std::vector<Point> &hull)
{
    RotatedRect best;
    double bestArea = -1;
    size_t n = hull.size();
    for (size_t i = 0; i < n; i++) {
        const Point &a = hull[i], &b = hull[(i + 1) % n];
        double len = std::hypot(b.x - a.x, b.y - a.y);
        if (len <= 0)
            continue;
        double ux = (b.x - a.x) / len, uy = (b.y - a.y) / len;
        double minU = 1e300, maxU = -1e300, minV = 1e300, maxV = -1e300;
        for (const Point &q : hull) {
            double pu = q.x * ux + q.y * uy, pv = -q.x * uy + q.y * ux;
            minU = std::min(minU, pu);
            maxU = std::max(maxU, pu);
            minV = std::min(minV, pv);
            maxV = std::max(maxV, pv);
        }
        double area = (maxU - minU) * (maxV - minV);
        if (bestArea < 0 || area < bestArea) {
            bestArea = area;
            double mu = (minU + maxU) / 2, mv = (minV + maxV) / 2;
            best.cx = mu * ux - mv * uy;
            best.cy = mu * uy + mv * ux;
            best.width = maxU - minU;
            best.height = maxV - minV;
            best.angle = std::atan2(uy, ux);
        }
    }
    if (bestArea < 0 && n > 0) {
        best.cx = hull[0].x;
        best.cy = hull[0].y;
    }
    return NormaliseRect(best);
}

double PolygonArea(const std::vector<Point> &p)
{
    double a = 0;
    for (size_t i = 0; i < p.size(); i++) {
        const Point &s = p[i], &e = p[(i + 1) % p.size()];
        a += s.x * e.y - e.x * s.y;
    }
    return std::fabs(a) / 2;
}

// Clips a convex polygon by each edge of another (Sutherland-Hodgman).
double ConvexIntersectionArea(const std::vector<Point> &subject, const std::vector<Point> &clipIn)
{
    std::vector<Point> clip = clipIn;
    // Orient the clip polygon counter-clockwise in the maths sense.
    double signedArea = 0;
    for (size_t i = 0; i < clip.size(); i++)
        signedArea += clip[i].x * clip[(i + 1) % clip.size()].y - clip[(i + 1) % clip.size()].x * clip[i].y;
    if (signedArea < 0)
        std::reverse(clip.begin(), clip.end());
    std::vector<Point> out = subject;
    for (size_t i = 0; i < clip.size() && !out.empty(); i++) {
        Point a = clip[i], b = clip[(i + 1) % clip.size()];
        std::vector<Point> in;
        in.swap(out);
        for (size_t j = 0; j < in.size(); j++) {
            Point p = in[j], q = in[(j + 1) % in.size()];
            double dp = Cross(a, b, p), dq = Cross(a, b, q);
            if (dp >= 0)
                out.push_back(p);
            if ((dp >= 0) != (dq >= 0)) {
                double t = dp / (dp - dq);
                out.push_back({p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)});
            }
        }
    }
    return out.size() < 3 ? 0 : PolygonArea(out);
}

double RectIoU(const RotatedRect &a, const RotatedRect &b)
{
    Point ca[4], cb[4];
    RectCorners(a, ca);
    RectCorners(b, cb);
    std::vector<Point> pa(ca, ca + 4), pb(cb, cb + 4);
    double inter = ConvexIntersectionArea(pa, pb);
    double uni = PolygonArea(pa) + PolygonArea(pb) - inter;
    return uni > 0 ? inter / uni : 0;
}

double MaxCornerDistance(const RotatedRect &a, const RotatedRect &b)
{
    Point ca[4], cb[4];
    RectCorners(NormaliseRect(a), ca);
    RectCorners(NormaliseRect(b), cb);
    double worst = 0;
    for (int i = 0; i < 4; i++) {
        double nearest = 1e300;
        for (int j = 0; j < 4; j++)
            nearest = std::min(nearest, std::hypot(ca[i].x - cb[j].x, ca[i].y - cb[j].y));
        worst = std::max(worst, nearest);
    }
    return worst;
}

} // namespace pagefit
