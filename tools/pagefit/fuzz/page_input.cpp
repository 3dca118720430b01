#include "page_input.h"

#include "bitmap.h"
#include "synth.h"

#include <algorithm>

namespace pagefit_fuzz {

namespace {

int DepthBits(uint8_t selector)
{
    static const int bits[] = {1, 8, 24, 24};
    return bits[selector & 3];
}

int Channels(int bits)
{
    return bits == 24 ? 3 : 1;
}

// One page sample from the picture: nearest, or bilinear between the four
// picture pixels around the page pixel's centre.
uint8_t Sample(const uint8_t *picture, int pw, int ph, int channels, int channel, int scale, bool smooth, int x, int y)
{
    auto at = [&](int px, int py) {
        px = std::clamp(px, 0, pw - 1);
        py = std::clamp(py, 0, ph - 1);
        return double(picture[(size_t(py) * pw + px) * channels + channel]);
    };
    if (!smooth)
        return uint8_t(at(x / scale, y / scale));
    double fx = (x + 0.5) / scale - 0.5, fy = (y + 0.5) / scale - 0.5;
    int x0 = int(fx < 0 ? fx - 1 : fx), y0 = int(fy < 0 ? fy - 1 : fy);
    double ax = fx - x0, ay = fy - y0;
    double top = at(x0, y0) * (1 - ax) + at(x0 + 1, y0) * ax;
    double bottom = at(x0, y0 + 1) * (1 - ax) + at(x0 + 1, y0 + 1) * ax;
    return uint8_t(top * (1 - ay) + bottom * ay + 0.5);
}

} // namespace

std::vector<uint8_t> PageFromInput(const uint8_t *data, size_t size, pagefit::Options *options)
{
    if (size <= PAGE_INPUT_HEADER)
        return {};
    const int bits = DepthBits(data[0]);
    const int work = (data[0] >> 2) & 3;
    options->crop = work != 2;
    options->deskew = work != 1;
    const bool smooth = data[0] & 16;
    const int pw = PICTURE_MIN_SIDE + data[1] % PICTURE_SIDES;
    const int ph = PICTURE_MIN_SIDE + data[2] % PICTURE_SIDES;
    const int scale = 1 + data[3] % SCALES;
    const int channels = Channels(bits);

    const uint8_t *pixels = data + PAGE_INPUT_HEADER;
    const size_t given = size - PAGE_INPUT_HEADER;
    std::vector<uint8_t> picture(size_t(pw) * ph * channels);
    for (size_t i = 0; i < picture.size(); i++)
        picture[i] = pixels[i % given];

    const int width = pw * scale, height = ph * scale;
    std::vector<uint8_t> topDown(size_t(width) * height * channels);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            for (int c = 0; c < channels; c++) {
                uint8_t v = Sample(picture.data(), pw, ph, channels, c, scale, smooth, x, y);
                // Line art holds black or white only.
                topDown[(size_t(y) * width + x) * channels + c] = bits == 1 ? (v < 128 ? 0 : 255) : v;
            }
    std::vector<uint8_t> page = synth::ProductBitmap(width, height, bits, DPI_BASE + data[4], topDown);
    if (data[5] < 16)
        page[data[6] % 54] = data[7];
    return page;
}

std::vector<uint8_t> InputFromScan(const std::vector<uint8_t> &scan, int scale, const pagefit::Options &options)
{
    pagefit::Bitmap b;
    if (!pagefit::ParseBitmap(scan.data(), scan.size(), &b, nullptr))
        return {};
    scale = std::clamp(scale, 1, SCALES);
    const int pw = std::clamp(b.width / scale, PICTURE_MIN_SIDE, PICTURE_MIN_SIDE + PICTURE_SIDES - 1);
    const int ph = std::clamp(b.height / scale, PICTURE_MIN_SIDE, PICTURE_MIN_SIDE + PICTURE_SIDES - 1);
    const int channels = Channels(b.bits);
    const int work = options.crop && options.deskew ? 0 : options.crop ? 1 : 2;
    const uint8_t depth = b.bits == 1 ? 0 : b.bits == 8 ? 1 : 2;
    const double dpi = b.Dpi() / (double(b.width) / (pw * scale));
    std::vector<uint8_t> input = {uint8_t(depth | work << 2 | 16),
                                  uint8_t(pw - PICTURE_MIN_SIDE),
                                  uint8_t(ph - PICTURE_MIN_SIDE),
                                  uint8_t(scale - 1),
                                  uint8_t(std::clamp(dpi - DPI_BASE, 0.0, 255.0)),
                                  255,
                                  0,
                                  0};
    // Each picture pixel is the mean of the scan's pixels it covers.
    for (int py = 0; py < ph; py++)
        for (int px = 0; px < pw; px++)
            for (int c = 0; c < channels; c++) {
                int x0 = px * b.width / pw, x1 = std::max(x0 + 1, (px + 1) * b.width / pw);
                int y0 = py * b.height / ph, y1 = std::max(y0 + 1, (py + 1) * b.height / ph);
                unsigned sum = 0, n = 0;
                for (int y = y0; y < y1; y++)
                    for (int x = x0; x < x1; x++, n++) {
                        const uint8_t *row = b.Row(y);
                        if (b.bits == 1)
                            sum += b.paletteLuma[row[x / 8] >> (7 - x % 8) & 1];
                        else if (b.bits == 8)
                            sum += b.paletteLuma[row[x]];
                        else
                            sum += row[x * 3 + c];
                    }
                input.push_back(uint8_t(sum / n));
            }
    return input;
}

} // namespace pagefit_fuzz
