// The tool's decisions: what to do with the page for each choice of the user,
// and the log line that says what was done and measured.
#include "pagefit.h"

#include "product_files.h"
#include "render.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace pagefit {

namespace {

const double DEGREES_PER_RADIAN = 57.29577951308232;

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Measured(const PhotoSearch &s)
{
    const RotatedRect &r = s.box;
    std::string text =
        Format("photo %.1fx%.1f px centred at %.1f,%.1f, angle %+.3f deg clockwise, %d of 4 edges measured", r.width,
               r.height, r.cx, r.cy, r.angle * DEGREES_PER_RADIAN, s.sidesFitted);
    if (s.sidesFitted == 0)
        text += " (edges faint: box from the photo's outline)";
    if (s.sidesMovedToPictureEnd > 0)
        text += Format(", %d side%s without an edge moved out to the picture's end", s.sidesMovedToPictureEnd,
                       s.sidesMovedToPictureEnd > 1 ? "s" : "");
    if (s.faintBorder > 0)
        text += Format(" plus a border of nearly the backing's tone, %.1f px wide", s.faintBorder);
    if (s.photoSizedMarks > 1)
        text += Format("; %d photo-sized marks on the sheet, kept the largest", s.photoSizedMarks);
    return text;
}

std::string Backing(const BackingModel &m)
{
    return Format("backing luma %.0f, noise %.1f", m.luma, m.pixelNoise);
}

Fill FillOf(const BackingModel &m)
{
    Fill f;
    for (int c = 0; c < 3; c++)
        f.level[c] = m.channels == 3 ? m.level[c] : m.level[0];
    return f;
}

int Round(double v)
{
    return int(std::lround(v));
}

} // namespace

Result RunPagefit(const uint8_t *file, size_t size, const Options &options)
{
    Result result;
    if (!options.crop && !options.deskew) {
        result.log = "Pagefit: unchanged: auto-crop and auto-deskew are off";
        return result;
    }
    Bitmap b;
    std::string why;
    if (!ParseBitmap(file, size, &b, &why)) {
        result.outcome = Outcome::Invalid;
        result.log = "Pagefit: unchanged: not a bitmap in the scanner's layout: " + why;
        return result;
    }
    result.search = FindPhoto(b);
    const PhotoSearch &s = result.search;
    if (!s.photoFound) {
        result.outcome = Outcome::NoAction;
        result.log = Format("Pagefit: %s: no photo on the backing (largest mark %.2f sq in); ", AUTOCROP_NO_ACTION_WORD,
                            s.largestMarkSquareInches) +
                     Backing(s.backing) + "; scan again";
        return result;
    }
    const RotatedRect &box = s.box;
    bool turn = std::fabs(box.angle * DEGREES_PER_RADIAN) >= SMALLEST_TURN_DEGREES;
    std::string did;
    if (options.crop && (options.deskew && turn)) {
        int w = std::max(1, Round(box.width)), h = std::max(1, Round(box.height));
        result.written = box;
        result.output = RenderRotated(b, box, w, h, FillOf(s.backing));
        did = "cropped and deskewed";
    } else if (options.crop) {
        // The upright box around the photo, in whole pixels, inside the page.
        Point corners[4];
        RectCorners(box, corners);
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        for (const Point &p : corners) {
            x0 = std::min(x0, p.x);
            y0 = std::min(y0, p.y);
            x1 = std::max(x1, p.x);
            y1 = std::max(y1, p.y);
        }
        int left = std::max(0, Round(x0)), topRow = std::max(0, Round(y0));
        int right = std::min(b.width, Round(x1)), bottom = std::min(b.height, Round(y1));
        if (right <= left || bottom <= topRow) {
            result.log = "Pagefit: unchanged: the photo's box lies outside the page; " + Measured(s);
            return result;
        }
        result.written = {(left + right) / 2.0, (topRow + bottom) / 2.0, double(right - left), double(bottom - topRow),
                          0};
        result.output = CopyBox(b, left, topRow, right - left, bottom - topRow);
        did = options.deskew ? "cropped (skew below the smallest turn)" : "cropped to the photo's upright box";
    } else {
        if (!turn) {
            result.log = "Pagefit: unchanged: the page is straight; " + Measured(s) + "; " + Backing(s.backing);
            return result;
        }
        RotatedRect page{b.width / 2.0, b.height / 2.0, double(b.width), double(b.height), box.angle};
        result.written = page;
        result.output = RenderRotated(b, page, b.width, b.height, FillOf(s.backing));
        did = "deskewed the page";
    }
    result.outcome = Outcome::Rewritten;
    result.log = "Pagefit: " + did + ": " + Measured(s) + "; " + Backing(s.backing) +
                 Format("; wrote %dx%d at %d bits", Round(result.written.width), Round(result.written.height), b.bits);
    return result;
}

} // namespace pagefit
