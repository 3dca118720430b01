// Geometry of the photo's rectangle: the minimum-area rectangle and overlap.
#include "geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using pagefit::Point;
using pagefit::RotatedRect;

const double DEGREE = 0.017453292519943295;

TEST(Geometry, MinAreaRectRecoversATurnedRectangleFromItsCornersAndInsidePoints)
{
    for (double degrees : {-14.0, -3.0, 0.0, 0.25, 7.5, 14.9}) {
        RotatedRect truth{400, 300, 240, 160, degrees * DEGREE};
        Point corners[4];
        pagefit::RectCorners(truth, corners);
        std::vector<Point> points(corners, corners + 4);
        points.push_back({400, 300});
        points.push_back({420, 310});
        RotatedRect r = pagefit::MinAreaRect(pagefit::ConvexHull(points));
        EXPECT_NEAR(r.angle / DEGREE, degrees, 1e-6);
        EXPECT_NEAR(r.width, 240, 1e-6);
        EXPECT_NEAR(r.height, 160, 1e-6);
        EXPECT_NEAR(r.cx, 400, 1e-6);
        EXPECT_NEAR(r.cy, 300, 1e-6);
    }
}

TEST(Geometry, DescriptionsOfTheSameRectangleAgree)
{
    RotatedRect a{0, 0, 100, 50, 80 * DEGREE};
    RotatedRect n = pagefit::NormaliseRect(a);
    EXPECT_NEAR(n.angle / DEGREE, -10, 1e-9);
    EXPECT_NEAR(n.width, 50, 1e-9);
    EXPECT_NEAR(pagefit::RectIoU(a, n), 1, 1e-9);
    EXPECT_NEAR(pagefit::MaxCornerDistance(a, n), 0, 1e-9);
}

TEST(Geometry, OverlapOfKnownShapes)
{
    RotatedRect a{5, 5, 10, 10, 0}, b{10, 5, 10, 10, 0};
    EXPECT_NEAR(pagefit::RectIoU(a, b), 50.0 / 150.0, 1e-9);
    RotatedRect far{100, 100, 10, 10, 0};
    EXPECT_EQ(pagefit::RectIoU(a, far), 0);
    // A square and the same square turned 45 degrees about its centre share
    // the octagon of area 200 (sqrt 2 - 1) for a side of 10.
    RotatedRect turned{5, 5, 10, 10, 45 * DEGREE};
    double octagon = 200 * (std::sqrt(2.0) - 1);
    EXPECT_NEAR(pagefit::RectIoU(a, turned), octagon / (200 - octagon), 1e-9);
    EXPECT_NEAR(pagefit::MaxCornerDistance(a, b), 5, 1e-9);
}

} // namespace
