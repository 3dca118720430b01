// Plane geometry of a photo on the page: rotated rectangles, convex hulls,
// the minimum-area rectangle around a point set, and polygon overlap.
// Coordinates are pixels with y pointing down; pixel (i, j) covers
// [i, i+1) x [j, j+1). An angle is positive clockwise as seen on screen.
#pragma once

#include <vector>

namespace pagefit {

struct Point {
    double x = 0, y = 0;
};

struct RotatedRect {
    double cx = 0, cy = 0;        // centre
    double width = 0, height = 0; // along the rectangle's own axes
    double angle = 0;             // radians; the top edge runs along (cos, sin)
};

// Corners in order top-left, top-right, bottom-right, bottom-left.
void RectCorners(const RotatedRect &r, Point corners[4]);

// Puts an angle in (-45°, 45°] by swapping width and height as needed, so
// every rectangle has one description.
RotatedRect NormaliseRect(RotatedRect r);

std::vector<Point> ConvexHull(std::vector<Point> points);
RotatedRect MinAreaRect(const std::vector<Point> &hull);

double PolygonArea(const std::vector<Point> &polygon);
// Area shared by two convex polygons.
double ConvexIntersectionArea(const std::vector<Point> &a, const std::vector<Point> &b);
double RectIoU(const RotatedRect &a, const RotatedRect &b);
// Largest distance between a corner of `a` and the matching corner of `b`.
double MaxCornerDistance(const RotatedRect &a, const RotatedRect &b);

} // namespace pagefit
