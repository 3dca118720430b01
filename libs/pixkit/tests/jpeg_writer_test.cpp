// The JPEG writer's files as an independent decoder (libjpeg) reads them:
// size, components, density, the quantisation tables actually stored, and
// the picture's fidelity.
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
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
        if (refuse)
            return false;
        data.append(reinterpret_cast<const char *>(bytes), count);
        return true;
    }
    std::string data;
    bool refuse = false;
};

struct Decoded {
    bool ok = false;
    uint32_t width = 0, height = 0;
    int components = 0;
    int densityUnit = 0, xDensity = 0, yDensity = 0;
    uint16_t lumaTable[64] = {};
    std::vector<uint8_t> pixels; // RGB or grey, top row first
};

struct ErrorTrap {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void OnError(j_common_ptr info)
{
    longjmp(reinterpret_cast<ErrorTrap *>(info->err)->jump, 1);
}

Decoded Decode(const std::string &file)
{
    Decoded d;
    jpeg_decompress_struct info;
    ErrorTrap trap;
    info.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = OnError;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&info);
        d.ok = false;
        return d;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(file.data()), file.size());
    jpeg_read_header(&info, TRUE);
    d.densityUnit = info.density_unit;
    d.xDensity = info.X_density;
    d.yDensity = info.Y_density;
    if (info.quant_tbl_ptrs[0])
        for (int i = 0; i < 64; ++i)
            d.lumaTable[i] = info.quant_tbl_ptrs[0]->quantval[i];
    jpeg_start_decompress(&info);
    d.width = info.output_width;
    d.height = info.output_height;
    d.components = info.output_components;
    d.pixels.resize(size_t(d.width) * d.height * d.components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &d.pixels[size_t(info.output_scanline) * d.width * d.components];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    d.ok = true;
    return d;
}

// Smooth content with some edges, like a photograph.
Raster PhotoLike(PixelLayout layout, uint32_t width, uint32_t height)
{
    Raster r;
    EXPECT_TRUE(AllocateRaster(&r, layout, width, height));
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            double u = double(x) / width, v = double(y) / height;
            int a = int(128 + 100 * std::sin(6 * u + 3 * v)), b = int(255 * u), c = (x / 16 + y / 16) % 2 ? 200 : 60;
            if (layout == LAYOUT_GREY) {
                r.Row(y)[x] = uint8_t((a + c) / 2);
            } else {
                uint8_t *p = r.Row(y) + x * 3;
                p[0] = uint8_t(a);
                p[1] = uint8_t(b);
                p[2] = uint8_t(c);
            }
        }
    }
    return r;
}

// Peak signal-to-noise ratio of the decoded file against the source, in dB.
double Psnr(const Raster &source, const Decoded &d)
{
    double squared = 0;
    size_t count = 0;
    for (uint32_t y = 0; y < source.height; ++y) {
        for (uint32_t x = 0; x < source.width; ++x) {
            for (int c = 0; c < d.components; ++c) {
                // The decoder gives red green blue; the raster holds blue green red.
                int original = d.components == 1 ? source.Row(y)[x] : source.Row(y)[x * 3 + (2 - c)];
                int decoded = d.pixels[(size_t(y) * d.width + x) * d.components + c];
                squared += double(original - decoded) * (original - decoded);
                ++count;
            }
        }
    }
    double mse = squared / count;
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The same pixels through libjpeg's own encoder at the same quality (with its
// default halved chroma), as the yardstick for fidelity.
std::string ReferenceJpeg(const Raster &source, int quality)
{
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    const bool colour = source.layout == LAYOUT_BGR;
    info.image_width = source.width;
    info.image_height = source.height;
    info.input_components = colour ? 3 : 1;
    info.in_color_space = colour ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.dct_method = JDCT_FLOAT;
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(size_t(source.width) * info.input_components);
    for (uint32_t y = 0; y < source.height; ++y) {
        for (uint32_t x = 0; x < source.width; ++x) {
            if (colour)
                for (int c = 0; c < 3; ++c)
                    row[x * 3 + c] = source.Row(y)[x * 3 + 2 - c];
            else
                row[x] = source.Row(y)[x];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string file(reinterpret_cast<char *>(buffer), size);
    free(buffer);
    return file;
}

} // namespace

TEST(JpegWriter, DecodesToTheSamePictureWithinStatedFidelity)
{
    struct Case {
        PixelLayout layout;
        uint32_t width, height;
        int quality;
        double minimumPsnr;
        int components;
    } const cases[] = {
        {LAYOUT_GREY, 37, 23, 90, 38.0, 1},  // sizes that are no multiple of a block
        {LAYOUT_GREY, 64, 64, 80, 34.0, 1},
        {LAYOUT_BGR, 53, 41, 80, 26.0, 3},   // chroma is halved both ways
        {LAYOUT_BGR, 1, 1, 95, 30.0, 3},
        {LAYOUT_BGR, 200, 120, 100, 28.0, 3},
    };
    for (const Case &c : cases) {
        Raster source = PhotoLike(c.layout, c.width, c.height);
        StringSink sink;
        ASSERT_TRUE(WriteJpeg(source, c.quality, 300, 300, &sink));
        Decoded d = Decode(sink.data);
        ASSERT_TRUE(d.ok) << c.width << "x" << c.height;
        EXPECT_EQ(c.width, d.width);
        EXPECT_EQ(c.height, d.height);
        EXPECT_EQ(c.components, d.components);
        double psnr = Psnr(source, d);
        EXPECT_GE(psnr, c.minimumPsnr) << c.width << "x" << c.height << " q" << c.quality;
        // No worse than the reference encoder by more than a quarter dB.
        Decoded reference = Decode(ReferenceJpeg(source, c.quality));
        ASSERT_TRUE(reference.ok);
        EXPECT_GE(psnr, Psnr(source, reference) - 0.25) << c.width << "x" << c.height << " q" << c.quality;
    }
}

TEST(JpegWriter, StoresTheResolutionAsDotsPerInch)
{
    Raster source = PhotoLike(LAYOUT_BGR, 16, 16);
    struct Case {
        uint32_t xDpi, yDpi;
        int unit, xDensity, yDensity;
    } const cases[] = {
        {100, 100, 1, 100, 100}, {300, 600, 1, 300, 600}, {70000, 72, 1, 65535, 72}, {0, 300, 0, 1, 1},
    };
    for (const Case &c : cases) {
        StringSink sink;
        ASSERT_TRUE(WriteJpeg(source, 80, c.xDpi, c.yDpi, &sink));
        Decoded d = Decode(sink.data);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(c.unit, d.densityUnit) << c.xDpi;
        EXPECT_EQ(c.xDensity, d.xDensity) << c.xDpi;
        EXPECT_EQ(c.yDensity, d.yDensity) << c.xDpi;
    }
}

TEST(JpegWriter, LineArtIsWrittenAsGrey)
{
    Raster source;
    ASSERT_TRUE(AllocateRaster(&source, LAYOUT_BILEVEL, 16, 16));
    for (uint32_t y = 0; y < 8; ++y)
        source.Row(y)[0] = source.Row(y)[1] = 0xFF; // white top half
    StringSink sink;
    ASSERT_TRUE(WriteJpeg(source, 90, 300, 300, &sink));
    Decoded d = Decode(sink.data);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(1, d.components);
    EXPECT_GT(d.pixels[2 * 16 + 5], 230);
    EXPECT_LT(d.pixels[13 * 16 + 5], 25);
}

TEST(JpegWriter, RefusedBytesFailTheWrite)
{
    Raster source = PhotoLike(LAYOUT_GREY, 8, 8);
    StringSink sink;
    sink.refuse = true;
    EXPECT_FALSE(WriteJpeg(source, 80, 300, 300, &sink));
    Raster tooWide;
    ASSERT_TRUE(AllocateRaster(&tooWide, LAYOUT_BILEVEL, 70000, 1));
    StringSink other;
    EXPECT_FALSE(WriteJpeg(tooWide, 80, 300, 300, &other));
}
