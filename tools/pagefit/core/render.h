// Writing the output page: a rotated rectangle resampled upright, or an
// upright box copied exactly. Both keep the source's depth and palette.
#pragma once

#include "bitmap.h"
#include "geometry.h"

#include <vector>

namespace pagefit {

// The colour that fills whatever lies outside the scan, per channel
// (blue, green, red; grey scans use the first).
struct Fill {
    double level[3] = {255, 255, 255};
};

// A new bitmap of outWidth x outHeight whose pixel centres map onto the
// frame: the output's centre is the frame's centre and its rows run along
// the frame's angle. Bilinear for grey and colour; line art is interpolated
// in tone and put back to the nearer palette entry; a grey file with any
// other palette takes the nearest pixel.
std::vector<uint8_t> RenderRotated(const Bitmap &source, const RotatedRect &frame, int outWidth, int outHeight,
                                   const Fill &fill);

// An exact copy of the box [x, x+w) x [y, y+h), which lies inside the page.
std::vector<uint8_t> CopyBox(const Bitmap &source, int x, int y, int w, int h);

} // namespace pagefit
