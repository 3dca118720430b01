// A small anti-aliased raster painter for the product's icons and pictures:
// shapes are tested on a grid of sub-samples per pixel and blended with
// "over", so edges come out smooth at the few sizes we ship. Portable.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace art {

struct Colour {
    double r, g, b, a; // straight (not premultiplied), 0..1
};

Colour Rgb(int r, int g, int b, double alpha = 1.0);
Colour Mix(Colour from, Colour to, double t);

struct Point {
    double x, y;
};

// A region of the plane: a bounding box and an inside test. Coordinates are
// in pixels, (0, 0) being the top-left corner of the top-left pixel.
struct Shape {
    double left, top, right, bottom;
    std::function<bool(double, double)> inside;
};

Shape RoundRect(double left, double top, double right, double bottom, double radius);
Shape Ellipse(double cx, double cy, double rx, double ry);
Shape Polygon(std::vector<Point> points); // non-zero winding
// Every point within halfWidth of the polyline (round joins and caps).
Shape Stroke(std::vector<Point> points, double halfWidth);
// A ring between two radii, leaving out the angles within gapHalfAngle
// (radians) of straight up; a gap of 0 gives a whole ring.
Shape Ring(double cx, double cy, double innerRadius, double outerRadius, double gapHalfAngle = 0);
Shape Cubic(Point p0, Point p1, Point p2, Point p3, double halfWidth);
Shape Union(Shape a, Shape b);
Shape Subtract(Shape a, Shape cut);
Shape Intersect(Shape a, Shape clip);

// Colour at a point, for fills.
using Paint = std::function<Colour(double, double)>;
Paint Solid(Colour colour);
// Linear gradient from `from` at p0 to `to` at p1, clamped beyond them.
Paint Linear(Point p0, Colour from, Point p1, Colour to);

class Canvas {
public:
    Canvas(int width, int height);

    int Width() const
    {
        return width_;
    }
    int Height() const
    {
        return height_;
    }

    void Fill(const Shape &shape, const Paint &paint);
    void Fill(const Shape &shape, Colour colour)
    {
        Fill(shape, Solid(colour));
    }
    // A soft shadow of the shape, moved by (dx, dy) and blurred over `blur` pixels.
    void Shadow(const Shape &shape, double dx, double dy, double blur, double opacity);

    // Straight RGBA of one pixel.
    Colour At(int x, int y) const;
    // 8-bit straight RGBA, rows top first.
    std::vector<uint8_t> Rgba8() const;
    // 8-bit RGB flattened onto `background`, rows top first.
    std::vector<uint8_t> Rgb8Over(Colour background) const;

    // Sub-samples per pixel along each axis (coverage has n*n + 1 levels).
    static const int SUBSAMPLES = 5;

private:
    void Blend(int x, int y, Colour colour, double coverage);
    double Coverage(const Shape &shape, int x, int y) const;

    int width_, height_;
    std::vector<Colour> pixels_; // premultiplied
};

} // namespace art
