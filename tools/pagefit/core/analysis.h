// Finding the photo on the scanner's backing: the backing model, the photo's
// outline on a coarse grid, and its border fitted at full resolution.
#pragma once

#include "bitmap.h"
#include "geometry.h"

namespace pagefit {

// What the margins of the scan say about the backing.
struct BackingModel {
    int channels = 1;      // 3 for colour scans (blue, green, red), else 1 (luma)
    double level[3] = {};  // typical backing value per channel
    double luma = 0;       // typical backing luma
    double pixelNoise = 0; // standard deviation of one pixel's luma
    double cellSpread = 0; // spread of the backing's local mean luma (texture, residual falloff)
};

struct PhotoSearch {
    bool photoFound = false;
    int photoSizedMarks = 0;        // marks on the sheet large enough to be a photo
    RotatedRect box;                // the chosen photo, in pixels of the page
    int sidesFitted = 0;            // sides whose edge was measured at full resolution (0..4)
    int sidesMovedToPictureEnd = 0; // sides without an edge moved out to where the picture meets the backing
    double faintBorder =
        0; // mean width in pixels of a border of nearly the backing's tone, added outside the measured sides
    double largestMarkSquareInches = 0;
    BackingModel backing;
};

// Smallest mark that counts as a photo: a little under the smallest print
// sold (wallet size is 2 x 2.5 inches) and far above dust, hairs and streaks.
const double MIN_PHOTO_SHORT_SIDE_INCHES = 0.5;
const double MIN_PHOTO_AREA_SQUARE_INCHES = 0.5;

PhotoSearch FindPhoto(const Bitmap &bitmap);

} // namespace pagefit
