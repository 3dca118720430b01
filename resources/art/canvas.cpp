// Anti-aliased shapes, gradients and soft shadows on a float canvas.
#include "canvas.h"

#include <algorithm>
#include <cmath>

namespace art {

Colour Rgb(int r, int g, int b, double alpha)
{
    return {r / 255.0, g / 255.0, b / 255.0, alpha};
}

Colour Mix(Colour from, Colour to, double t)
{
    return {from.r + (to.r - from.r) * t, from.g + (to.g - from.g) * t, from.b + (to.b - from.b) * t,
            from.a + (to.a - from.a) * t};
}

Shape RoundRect(double left, double top, double right, double bottom, double radius)
{
    return {left, top, right, bottom, [=](double x, double y) {
                if (x < left || x >= right || y < top || y >= bottom)
                    return false;
                double cx = std::clamp(x, left + radius, right - radius);
                double cy = std::clamp(y, top + radius, bottom - radius);
                double dx = x - cx, dy = y - cy;
                return dx * dx + dy * dy <= radius * radius;
            }};
}

Shape Ellipse(double cx, double cy, double rx, double ry)
{
    return {cx - rx, cy - ry, cx + rx, cy + ry, [=](double x, double y) {
                double dx = (x - cx) / rx, dy = (y - cy) / ry;
                return dx * dx + dy * dy <= 1.0;
            }};
}

Shape Polygon(std::vector<Point> points)
{
    double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
    for (const Point &p : points) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    return {left, top, right, bottom, [points](double x, double y) {
                int winding = 0;
                size_t n = points.size();
                for (size_t i = 0; i < n; i++) {
                    Point a = points[i], b = points[(i + 1) % n];
                    double side = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
                    if (a.y <= y) {
                        if (b.y > y && side > 0)
                            winding++;
                    } else if (b.y <= y && side < 0) {
                        winding--;
                    }
                }
                return winding != 0;
            }};
}

static double SegmentDistanceSquared(Point p, Point a, Point b)
{
    double vx = b.x - a.x, vy = b.y - a.y;
    double length = vx * vx + vy * vy;
    double t = length > 0 ? ((p.x - a.x) * vx + (p.y - a.y) * vy) / length : 0;
    t = std::clamp(t, 0.0, 1.0);
    double dx = p.x - (a.x + t * vx), dy = p.y - (a.y + t * vy);
    return dx * dx + dy * dy;
}

Shape Stroke(std::vector<Point> points, double halfWidth)
{
    double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
    for (const Point &p : points) {
        left = std::min(left, p.x - halfWidth);
        right = std::max(right, p.x + halfWidth);
        top = std::min(top, p.y - halfWidth);
        bottom = std::max(bottom, p.y + halfWidth);
    }
    double limit = halfWidth * halfWidth;
    return {left, top, right, bottom, [points, limit](double x, double y) {
                if (points.size() == 1)
                    return SegmentDistanceSquared({x, y}, points[0], points[0]) <= limit;
                for (size_t i = 0; i + 1 < points.size(); i++)
                    if (SegmentDistanceSquared({x, y}, points[i], points[i + 1]) <= limit)
                        return true;
                return false;
            }};
}

Shape Ring(double cx, double cy, double innerRadius, double outerRadius, double gapHalfAngle)
{
    return {cx - outerRadius, cy - outerRadius, cx + outerRadius, cy + outerRadius, [=](double x, double y) {
                double dx = x - cx, dy = y - cy;
                double distance = std::sqrt(dx * dx + dy * dy);
                if (distance < innerRadius || distance > outerRadius)
                    return false;
                // Angle measured from straight up (screen y grows downwards).
                double angle = std::atan2(dx, -dy);
                return std::fabs(angle) >= gapHalfAngle;
            }};
}

Shape Cubic(Point p0, Point p1, Point p2, Point p3, double halfWidth)
{
    std::vector<Point> points;
    const int steps = 48;
    for (int i = 0; i <= steps; i++) {
        double t = double(i) / steps, u = 1 - t;
        points.push_back({u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
                          u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y});
    }
    return Stroke(points, halfWidth);
}

Shape Union(Shape a, Shape b)
{
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom),
            [a, b](double x, double y) { return a.inside(x, y) || b.inside(x, y); }};
}

Shape Subtract(Shape a, Shape cut)
{
    return {a.left, a.top, a.right, a.bottom,
            [a, cut](double x, double y) { return a.inside(x, y) && !cut.inside(x, y); }};
}

Shape Intersect(Shape a, Shape clip)
{
    return {std::max(a.left, clip.left), std::max(a.top, clip.top), std::min(a.right, clip.right),
            std::min(a.bottom, clip.bottom),
            [a, clip](double x, double y) { return a.inside(x, y) && clip.inside(x, y); }};
}

Paint Solid(Colour colour)
{
    return [colour](double, double) { return colour; };
}

Paint Linear(Point p0, Colour from, Point p1, Colour to)
{
    double vx = p1.x - p0.x, vy = p1.y - p0.y;
    double length = vx * vx + vy * vy;
    return [=](double x, double y) {
        double t = length > 0 ? ((x - p0.x) * vx + (y - p0.y) * vy) / length : 0;
        return Mix(from, to, std::clamp(t, 0.0, 1.0));
    };
}

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), pixels_(size_t(width) * height, Colour{0, 0, 0, 0})
{}

double Canvas::Coverage(const Shape &shape, int x, int y) const
{
    int inside = 0;
    for (int j = 0; j < SUBSAMPLES; j++)
        for (int i = 0; i < SUBSAMPLES; i++)
            if (shape.inside(x + (i + 0.5) / SUBSAMPLES, y + (j + 0.5) / SUBSAMPLES))
                inside++;
    return double(inside) / (SUBSAMPLES * SUBSAMPLES);
}

void Canvas::Blend(int x, int y, Colour colour, double coverage)
{
    double alpha = colour.a * coverage;
    if (alpha <= 0)
        return;
    Colour &p = pixels_[size_t(y) * width_ + x];
    p.r = colour.r * alpha + p.r * (1 - alpha);
    p.g = colour.g * alpha + p.g * (1 - alpha);
    p.b = colour.b * alpha + p.b * (1 - alpha);
    p.a = alpha + p.a * (1 - alpha);
}

void Canvas::Fill(const Shape &shape, const Paint &paint)
{
    int x0 = std::max(0, int(std::floor(shape.left))), x1 = std::min(width_, int(std::ceil(shape.right)) + 1);
    int y0 = std::max(0, int(std::floor(shape.top))), y1 = std::min(height_, int(std::ceil(shape.bottom)) + 1);
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            double coverage = Coverage(shape, x, y);
            if (coverage > 0)
                Blend(x, y, paint(x + 0.5, y + 0.5), coverage);
        }
}

// Three box blurs approximate a Gaussian closely enough for a shadow.
static void BoxBlur(std::vector<double> &mask, int width, int height, int radius)
{
    if (radius < 1)
        return;
    std::vector<double> line;
    for (int pass = 0; pass < 3; pass++) {
        for (int y = 0; y < height; y++) {
            line.assign(mask.begin() + size_t(y) * width, mask.begin() + size_t(y + 1) * width);
            for (int x = 0; x < width; x++) {
                double sum = 0;
                for (int k = -radius; k <= radius; k++)
                    sum += line[std::clamp(x + k, 0, width - 1)];
                mask[size_t(y) * width + x] = sum / (2 * radius + 1);
            }
        }
        for (int x = 0; x < width; x++) {
            line.resize(height);
            for (int y = 0; y < height; y++)
                line[y] = mask[size_t(y) * width + x];
            for (int y = 0; y < height; y++) {
                double sum = 0;
                for (int k = -radius; k <= radius; k++)
                    sum += line[std::clamp(y + k, 0, height - 1)];
                mask[size_t(y) * width + x] = sum / (2 * radius + 1);
            }
        }
    }
}

void Canvas::Shadow(const Shape &shape, double dx, double dy, double blur, double opacity)
{
    std::vector<double> mask(size_t(width_) * height_, 0.0);
    Shape moved = {shape.left + dx, shape.top + dy, shape.right + dx, shape.bottom + dy,
                   [shape, dx, dy](double x, double y) { return shape.inside(x - dx, y - dy); }};
    int x0 = std::max(0, int(std::floor(moved.left))), x1 = std::min(width_, int(std::ceil(moved.right)) + 1);
    int y0 = std::max(0, int(std::floor(moved.top))), y1 = std::min(height_, int(std::ceil(moved.bottom)) + 1);
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            mask[size_t(y) * width_ + x] = Coverage(moved, x, y);
    BoxBlur(mask, width_, height_, int(blur / 3 + 0.5));
    Colour black = {0, 0, 0, opacity};
    for (int y = 0; y < height_; y++)
        for (int x = 0; x < width_; x++)
            Blend(x, y, black, mask[size_t(y) * width_ + x]);
}

Colour Canvas::At(int x, int y) const
{
    Colour p = pixels_[size_t(y) * width_ + x];
    if (p.a <= 0)
        return {0, 0, 0, 0};
    return {p.r / p.a, p.g / p.a, p.b / p.a, p.a};
}

static uint8_t Byte(double value)
{
    return uint8_t(std::lround(std::clamp(value, 0.0, 1.0) * 255));
}

std::vector<uint8_t> Canvas::Rgba8() const
{
    std::vector<uint8_t> bytes;
    bytes.reserve(pixels_.size() * 4);
    for (int y = 0; y < height_; y++)
        for (int x = 0; x < width_; x++) {
            Colour c = At(x, y);
            bytes.insert(bytes.end(), {Byte(c.r), Byte(c.g), Byte(c.b), Byte(c.a)});
        }
    return bytes;
}

std::vector<uint8_t> Canvas::Rgb8Over(Colour background) const
{
    std::vector<uint8_t> bytes;
    bytes.reserve(pixels_.size() * 3);
    for (const Colour &p : pixels_) {
        bytes.push_back(Byte(p.r + background.r * (1 - p.a)));
        bytes.push_back(Byte(p.g + background.g * (1 - p.a)));
        bytes.push_back(Byte(p.b + background.b * (1 - p.a)));
    }
    return bytes;
}

} // namespace art
