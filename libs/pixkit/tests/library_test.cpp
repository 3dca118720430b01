// Pixkit.dll as the agent uses it: loaded from the program folder, driven
// through its operations table, and every file it writes read back by
// ImageMagick on the Linux side.
#include <windows.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bitmap_layout.h"
#include "pixkit.h"
#include "product_files.h"
#include "scan_bitmap.h"
#include "test_support.h"

using testsupport::WriteWholeFile;

namespace {

struct Library {
    HMODULE module = nullptr;
    PixkitShutdownFn shutdown = nullptr;
    PixkitLoadImageFn load = nullptr;
    PixkitFreeImageFn free = nullptr;
    PixkitSaveImageFn save = nullptr;
} Pixkit;

// Line art in squares, a grey ramp, or photograph-like colour: smooth
// shading with a few edges.
scanbitmap::PixelRule RuleFor(uint32_t bits)
{
    if (bits == 1)
        return [](uint32_t x, uint32_t y) { return ((x / 16) + (y / 16)) % 2; };
    if (bits == 8)
        return [](uint32_t x, uint32_t y) { return (x * 3 + y * 2) & 0xFF; };
    return [](uint32_t x, uint32_t y) {
        uint32_t r = (x * 5 + y * 2) & 0xFF, g = uint32_t(128 + 90 * std::sin(x * 0.05 + y * 0.03)) & 0xFF;
        return (((x / 20 + y / 20) % 2) ? 200 : 70) | (g << 8) | (r << 16);
    };
}

std::string Quoted(const std::string &windowsPath)
{
    return "'" + testsupport::UnixPath(windowsPath) + "'";
}

// The first number a host command prints (-1 when none; 1000 for infinity).
double HostNumber(const std::string &script)
{
    std::string output;
    testsupport::RunHostShell(script + " 2>&1", &output);
    char *end = nullptr;
    const double value = strtod(output.c_str(), &end);
    return output.find("inf") != std::string::npos ? 1000 : end == output.c_str() ? -1 : value;
}

// Width, height, resolution in dots per inch, colour space and depth as ImageMagick reads them.
std::string Describe(const std::string &path)
{
    std::string out;
    testsupport::RunHostShell("convert " + Quoted(path) +
                                  " -units PixelsPerInch -format '%w %h %[fx:round(resolution.x)]"
                                  " %[fx:round(resolution.y)] %[colorspace] %z' info:",
                              &out);
    return out;
}

// The bit depth (and colour type) the file itself stores.
std::string StoredFormat(const std::string &path)
{
    std::string bytes;
    if (!testsupport::ReadWholeFile(path, &bytes) || bytes.size() < 32)
        return "unreadable";
    const uint8_t *b = reinterpret_cast<const uint8_t *>(bytes.data());
    if (b[0] == 'B' && b[1] == 'M')
        return std::to_string(bitmap_layout::ReadLe16(b + bitmap_layout::OFFSET_BIT_COUNT));
    if (b[1] == 'P' && b[2] == 'N' && b[3] == 'G')
        return std::to_string(b[24]) + "/" + std::to_string(b[25]); // IHDR bit depth, colour type
    return "other";
}

class PixkitLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Pixkit.module = LoadLibraryA((testsupport::ProgramDirectory() + IMAGE_LIBRARY_FILE).c_str());
        ASSERT_NE(nullptr, Pixkit.module);
        PixkitOpsFn entry = reinterpret_cast<PixkitOpsFn>(GetProcAddress(Pixkit.module, PIXKIT_ENTRY_NAME));
        ASSERT_NE(nullptr, entry);
        void *const *ops = entry();
        Pixkit.shutdown = reinterpret_cast<PixkitShutdownFn>(ops[PIXKIT_SLOT_SHUTDOWN]);
        Pixkit.load = reinterpret_cast<PixkitLoadImageFn>(ops[PIXKIT_SLOT_LOAD_IMAGE]);
        Pixkit.free = reinterpret_cast<PixkitFreeImageFn>(ops[PIXKIT_SLOT_FREE_IMAGE]);
        Pixkit.save = reinterpret_cast<PixkitSaveImageFn>(ops[PIXKIT_SLOT_SAVE_IMAGE]);
        const uint16_t record[4] = {2, 3, 0, 0};
        ASSERT_EQ(PIXKIT_OK, reinterpret_cast<PixkitInitFn>(ops[PIXKIT_SLOT_INIT])(record));
    }
    static void TearDownTestSuite()
    {
        if (Pixkit.shutdown)
            Pixkit.shutdown();
        FreeLibrary(Pixkit.module);
        Pixkit = Library();
    }
    void TearDown() override
    {
        testsupport::RemoveTree(folder);
    }

    std::string Path(const std::string &name) const
    {
        return folder + "\\" + name;
    }
    // Everything in the scratch folder, folders included.
    int Entries() const
    {
        return int(HostNumber("ls -A " + Quoted(folder) + " | wc -l"));
    }

    // Writes a scan bitmap and loads it through the library.
    PixkitImage LoadScan(const std::string &name, uint32_t bits, uint32_t width, uint32_t height)
    {
        EXPECT_TRUE(WriteWholeFile(Path(name), scanbitmap::ScanBitmap(bits, width, height, 300, RuleFor(bits))));
        PixkitImage image = nullptr;
        uint32_t unused = 0;
        EXPECT_EQ(PIXKIT_OK, Pixkit.load(&image, Path(name).c_str(), &unused, 0, 7, 0, 0, 0)) << name;
        return image;
    }
    int Save(const std::string &path, uint32_t kind, PixkitImage image)
    {
        const uint32_t options[2] = {0, 80};
        return Pixkit.save(path.c_str(), kind, options, image, 0, 0);
    }

    std::string folder = testsupport::MakeScratchFolder("pixkit");
};

} // namespace

// Every depth the scanner writes through every format. Lossless formats must
// give back every pixel; JPEG must stay within the stated PSNR and near cjpeg.
TEST_F(PixkitLibrary, RoundTripsEachDepthThroughEachFormat)
{
    struct Depth {
        uint32_t bits;
        const char *bmp, *png, *colourspace; // what the files store
        double minimumPsnr;                  // JPEG at quality 80, in dB
    } const depths[] = {
        {1, "1", "1/0", "Gray", 25.0},
        {8, "8", "8/0", "Gray", 35.0},
        {24, "24", "8/2", "sRGB", 25.0}, // sharp colour edges lose most to halved chroma
    };
    for (const Depth &depth : depths) {
        const std::string bits = std::to_string(depth.bits), source = Path("scan" + bits + ".bmp");
        const std::string described = "203 151 300 300 " + std::string(depth.colourspace);
        PixkitImage image = LoadScan("scan" + bits + ".bmp", depth.bits, 203, 151);
        ASSERT_NE(nullptr, image);
        const struct {
            const char *extension;
            uint32_t kind;
            std::string stored, described;
        } formats[] = {
            {".bmp", PIXKIT_SAVE_BY_EXTENSION, depth.bmp, "203 151 300 300 "},
            {".png", PIXKIT_SAVE_BY_EXTENSION, depth.png, described},
            {".tif", PIXKIT_SAVE_TIFF, "other", described + (depth.bits == 1 ? " 1" : " 8")},
            {".jpg", PIXKIT_SAVE_JPEG, "other", described},
        };
        for (const auto &format : formats) {
            const std::string name = Path("out" + bits + format.extension);
            SCOPED_TRACE(name);
            ASSERT_EQ(PIXKIT_OK, Save(name, format.kind, image));
            EXPECT_EQ(0u, Describe(name).find(format.described)) << Describe(name);
            EXPECT_EQ(format.stored, StoredFormat(name));
            if (format.kind != PIXKIT_SAVE_JPEG) {
                EXPECT_EQ(0.0, HostNumber("compare -metric AE " + Quoted(source) + " " + Quoted(name) + " null:"));
                continue;
            }
            // cjpeg at the same quality on the same pixels is the yardstick.
            const std::string reference = Path("cjpeg" + bits + ".jpg");
            testsupport::RunHostShell("convert " + Quoted(source) + (depth.bits == 24 ? " ppm:- " : " pgm:- ") +
                                      "| cjpeg -quality 80 >" + Quoted(reference));
            const double psnr = HostNumber("compare -metric PSNR " + Quoted(source) + " " + Quoted(name) + " null:");
            EXPECT_GE(psnr, depth.minimumPsnr);
            EXPECT_GE(psnr,
                      HostNumber("compare -metric PSNR " + Quoted(source) + " " + Quoted(reference) + " null:") - 0.5);
        }
        Pixkit.free(image);
    }
}

// A save fails without leaving a file behind, and an existing name is found
// before any work: even a save that would fail reports it as taken, and the
// earlier picture stays as it was.
TEST_F(PixkitLibrary, FailedOrRefusedSavesLeaveNothingBehind)
{
    PixkitImage wide = LoadScan("wide.bmp", 1, 70000, 1); // wider than JPEG allows
    ASSERT_NE(nullptr, wide);
    EXPECT_EQ(PIXKIT_ERROR_WRITE, Save(Path("wide.jpg"), PIXKIT_SAVE_JPEG, wide)) << "fails after the temporary file";
    EXPECT_EQ(PIXKIT_ERROR_FORMAT, Save(Path("wide.gif"), 0, wide));
    // A missing folder, a file where the folder should be, a missing drive.
    for (const std::string &unwritable :
         {Path("missing folder\\Image00001.jpg"), Path("wide.bmp\\Image00001.png"), std::string("Q:\\no\\Image1.tif")})
        EXPECT_EQ(PIXKIT_ERROR_WRITE, Save(unwritable, 0, wide)) << unwritable;
    for (const char *name : {"Image00001.jpg", "Image00001.png", "Image00001.tif", "Image00001.bmp"}) {
        ASSERT_TRUE(WriteWholeFile(Path(name), "an earlier photograph"));
        const uint32_t kind = strstr(name, ".jpg") ? PIXKIT_SAVE_JPEG : strstr(name, ".tif") ? PIXKIT_SAVE_TIFF : 0;
        EXPECT_EQ(PIXKIT_ERROR_EXISTS, Save(Path(name), kind, wide)) << name;
        std::string content;
        EXPECT_TRUE(testsupport::ReadWholeFile(Path(name), &content) && content == "an earlier photograph") << name;
    }
    Pixkit.free(wide);
    EXPECT_EQ(5, Entries()) << "no temporary file or folder may stay behind";
}
