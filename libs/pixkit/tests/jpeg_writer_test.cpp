// The JPEG writer's files as an independent decoder (libjpeg) reads them:
// size, components, density and the picture's fidelity.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "jpeg_writer.h"

using namespace pixkit;

namespace {

class StringSink : public ByteSink {
public:
    bool Write(const uint8_t *bytes, size_t count) override
    {
        data.append(reinterpret_cast<const char *>(bytes), refuse ? 0 : count);
        return !refuse;
    }
    std::string data;
    bool refuse = false;
};

struct Decoded {
    std::vector<int> form;       // width, height, components, density unit, x and y density
    std::vector<uint8_t> pixels; // red green blue or grey, top row first
};

// A file the decoder cannot read ends the test program with its message.
Decoded Decode(const std::string &file)
{
    Decoded d;
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(file.data()), file.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    const size_t rowBytes = size_t(info.output_width) * info.output_components;
    d.form = {int(info.output_width), int(info.output_height), info.output_components,
              info.density_unit,      info.X_density,          info.Y_density};
    d.pixels.resize(rowBytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &d.pixels[info.output_scanline * rowBytes];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return d;
}

// Smooth content with some edges, like a photograph; or one flat colour
// 0xRRGGBB.
const uint32_t NOT_FLAT = 0xFFFFFFFF;
Raster Picture(PixelLayout layout, uint32_t width, uint32_t height, uint32_t flat = NOT_FLAT)
{
    Raster r;
    EXPECT_TRUE(AllocateRaster(&r, layout, width, height));
    const uint32_t channels = layout == LAYOUT_GREY ? 1 : 3;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            const int photo[3] = {int(128 + 100 * std::sin(6 * u + 3 * v)), int(255 * u),
                                  (x / 16 + y / 16) % 2 ? 200 : 60};
            for (uint32_t c = 0; c < channels; ++c)
                r.Row(y)[x * channels + c] = uint8_t(flat != NOT_FLAT ? flat >> (8 * c)
                                                     : channels == 1  ? (photo[0] + photo[2]) / 2
                                                                      : photo[c]);
        }
    }
    return r;
}

// Peak signal-to-noise ratio of the decoded file against the source, in dB.
double Psnr(const Raster &source, const Decoded &d)
{
    double squared = 0;
    const uint32_t n = d.form[2], samples = source.width * n;
    for (uint32_t y = 0; y < source.height; ++y) {
        for (uint32_t i = 0; i < samples; ++i) {
            // The decoder gives red green blue; the raster holds blue green red.
            const int error = source.Row(y)[n == 1 ? i : i - i % 3 + 2 - i % 3] - d.pixels[size_t(y) * samples + i];
            squared += double(error) * error;
        }
    }
    const double mse = squared / (double(samples) * source.height);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace

// The resolution is stored as dots per inch; unknown, it says only that
// the pixels are square.
TEST(JpegWriter, DecodesToTheSamePictureWithinStatedFidelityAndResolution)
{
    struct Case {
        PixelLayout layout;
        uint32_t width, height;
        int quality;
        double minimumPsnr;
        uint32_t flat;
        int xDpi, yDpi, unit, xDensity, yDensity;
    } const cases[] = {
        {LAYOUT_GREY, 37, 23, 90, 38.0, NOT_FLAT, 100, 100, 1, 100, 100}, // no multiple of a block
        {LAYOUT_GREY, 64, 64, 80, 34.0, NOT_FLAT, 300, 600, 1, 300, 600},
        {LAYOUT_BGR, 53, 41, 80, 26.0, NOT_FLAT, 70000, 72, 1, 65535, 72}, // chroma is halved both ways
        {LAYOUT_BGR, 1, 1, 95, 30.0, NOT_FLAT, 0, 300, 0, 1, 1},
        {LAYOUT_BGR, 200, 120, 100, 28.0, NOT_FLAT, 300, 300, 1, 300, 300},
        // Flat colours at full quality come back within a level: the
        // colour conversion itself loses nothing.
        {LAYOUT_BGR, 16, 16, 100, 47.0, 0x30C050, 300, 300, 1, 300, 300},
        {LAYOUT_BGR, 16, 16, 100, 47.0, 0xC8C8C8, 300, 300, 1, 300, 300},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " q" << c.quality);
        Raster source = Picture(c.layout, c.width, c.height, c.flat);
        StringSink sink;
        ASSERT_TRUE(WriteJpeg(source, c.quality, c.xDpi, c.yDpi, &sink));
        Decoded d = Decode(sink.data);
        const std::vector<int> form = {int(c.width), int(c.height), c.layout == LAYOUT_GREY ? 1 : 3,
                                       c.unit,       c.xDensity,    c.yDensity};
        ASSERT_EQ(form, d.form);
        EXPECT_GE(Psnr(source, d), c.minimumPsnr);
    }
    StringSink refusing, other;
    refusing.refuse = true;
    EXPECT_FALSE(WriteJpeg(Picture(LAYOUT_GREY, 8, 8), 80, 300, 300, &refusing));
    Raster tooWide;
    ASSERT_TRUE(AllocateRaster(&tooWide, LAYOUT_BILEVEL, 70000, 1));
    EXPECT_FALSE(WriteJpeg(tooWide, 80, 300, 300, &other)) << "too wide for the format";
}
