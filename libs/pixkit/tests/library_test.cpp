// Pixkit.dll as the agent uses it: loaded from the program folder, driven
// through its operations table, and every file it writes read back by
// ImageMagick on the Linux side.
#include <windows.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "bitmap_layout.h"
#include "pixkit.h"
#include "scan_bitmap.h"
#include "test_support.h"

using namespace bitmap_layout;
using scanbitmap::PixelRule;
using scanbitmap::ScanBitmap;
using testsupport::RunHostShell;
using testsupport::UnixPath;

namespace {

struct Library {
    HMODULE module = nullptr;
    PixkitInitFn init = nullptr;
    PixkitShutdownFn shutdown = nullptr;
    PixkitLoadImageFn load = nullptr;
    PixkitFreeImageFn free = nullptr;
    PixkitSaveImageFn save = nullptr;
    PixkitResizeImageFn resize = nullptr;
    PixkitRotateImageFn rotate = nullptr;
};
Library Pixkit;


// Photograph-like content: smooth shading with a few edges.
uint32_t Shade(uint32_t x, uint32_t y)
{
    uint32_t r = (x * 5 + y * 2) & 0xFF, g = uint32_t(128 + 90 * std::sin(x * 0.05 + y * 0.03)) & 0xFF;
    uint32_t b = ((x / 20 + y / 20) % 2) ? 200 : 70;
    return b | (g << 8) | (r << 16);
}
PixelRule RuleFor(uint32_t bits)
{
    if (bits == 1)
        return [](uint32_t x, uint32_t y) { return uint32_t(((x / 16) + (y / 16)) % 2); };
    if (bits == 8)
        return [](uint32_t x, uint32_t y) { return uint32_t((x * 3 + y * 2) & 0xFF); };
    return Shade;
}

std::string Host(const std::string &script)
{
    std::string output;
    RunHostShell(script, &output);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}

std::string Quoted(const std::string &windowsPath) { return "'" + UnixPath(windowsPath) + "'"; }

// Pixels that differ between two files, as ImageMagick counts them.
long DifferentPixels(const std::string &a, const std::string &b, const char *fuzz = "0")
{
    std::string out = Host("compare -fuzz " + std::string(fuzz) + " -metric AE " + Quoted(a) + " " + Quoted(b) +
                           " null: 2>&1");
    char *end = nullptr;
    double value = strtod(out.c_str(), &end);
    return end == out.c_str() ? -1 : long(value);
}

double Psnr(const std::string &a, const std::string &b)
{
    std::string out = Host("compare -metric PSNR " + Quoted(a) + " " + Quoted(b) + " null: 2>&1");
    if (out.find("inf") != std::string::npos)
        return 1000;
    return atof(out.c_str());
}

// Width, height and resolution in dots per inch as ImageMagick reads them.
struct Described {
    int width = 0, height = 0;
    long xDpi = 0, yDpi = 0;
    std::string colourspace;
    int depth = 0;
};
Described Describe(const std::string &path)
{
    Described d;
    std::string out = Host("identify -format '%w %h %x %y %U %[colorspace] %z' " + Quoted(path));
    char units[64] = "", space[64] = "";
    double x = 0, y = 0;
    if (sscanf(out.c_str(), "%d %d %lf %lf %63s %63s %d", &d.width, &d.height, &x, &y, units, space, &d.depth) != 7)
        return d;
    double scale = strcmp(units, "PixelsPerCentimeter") == 0 ? 2.54 : 1.0;
    d.xDpi = lround(x * scale);
    d.yDpi = lround(y * scale);
    d.colourspace = space;
    return d;
}

// The bit depth and colour type stored in the file itself.
std::string StoredFormat(const std::string &path)
{
    std::string bytes;
    if (!testsupport::ReadWholeFile(path, &bytes) || bytes.size() < 32)
        return "unreadable";
    const uint8_t *b = reinterpret_cast<const uint8_t *>(bytes.data());
    char text[64];
    if (b[0] == 'B' && b[1] == 'M')
        snprintf(text, sizeof text, "bmp %u", ReadLe16(b + OFFSET_BIT_COUNT));
    else if (b[1] == 'P' && b[2] == 'N' && b[3] == 'G')
        snprintf(text, sizeof text, "png %u/%u", b[24], b[25]); // IHDR bit depth, colour type
    else
        snprintf(text, sizeof text, "other");
    return text;
}

class PixkitLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string path = testsupport::ProgramDirectory() + "Pixkit.dll";
        Pixkit.module = LoadLibraryA(path.c_str());
        ASSERT_NE(nullptr, Pixkit.module) << path;
        PixkitOpsFn entry = reinterpret_cast<PixkitOpsFn>(GetProcAddress(Pixkit.module, "PixkitOps"));
        ASSERT_NE(nullptr, entry);
        void *const *ops = entry();
        ASSERT_NE(nullptr, ops);
        Pixkit.init = reinterpret_cast<PixkitInitFn>(ops[PIXKIT_SLOT_INIT]);
        Pixkit.shutdown = reinterpret_cast<PixkitShutdownFn>(ops[PIXKIT_SLOT_SHUTDOWN]);
        Pixkit.load = reinterpret_cast<PixkitLoadImageFn>(ops[PIXKIT_SLOT_LOAD_IMAGE]);
        Pixkit.free = reinterpret_cast<PixkitFreeImageFn>(ops[PIXKIT_SLOT_FREE_IMAGE]);
        Pixkit.save = reinterpret_cast<PixkitSaveImageFn>(ops[PIXKIT_SLOT_SAVE_IMAGE]);
        Pixkit.resize = reinterpret_cast<PixkitResizeImageFn>(ops[PIXKIT_SLOT_RESIZE_IMAGE]);
        Pixkit.rotate = reinterpret_cast<PixkitRotateImageFn>(ops[PIXKIT_SLOT_ROTATE_IMAGE]);
        for (int slot : {2, 3, 4, 5, 9, 10, 12})
            EXPECT_EQ(nullptr, ops[slot]) << "slot " << slot;
        const uint16_t record[4] = {2, 3, 0, 0};
        ASSERT_EQ(PIXKIT_OK, Pixkit.init(record));
    }
    static void TearDownTestSuite()
    {
        if (Pixkit.shutdown)
            Pixkit.shutdown();
        if (Pixkit.module)
            FreeLibrary(Pixkit.module);
        Pixkit = Library();
    }
    void SetUp() override
    {
        folder_ = testsupport::MakeScratchFolder("pixkit");
        ASSERT_FALSE(folder_.empty());
    }
    void TearDown() override { testsupport::RemoveTree(folder_); }

    std::string Path(const std::string &name) const { return folder_ + "\\" + name; }

    // Writes a scan bitmap and loads it through the library.
    PixkitImage LoadScan(const std::string &name, uint32_t bits, uint32_t width, uint32_t height, uint32_t dpi,
                         const PixelRule &rule)
    {
        EXPECT_TRUE(testsupport::WriteWholeFile(Path(name), ScanBitmap(bits, width, height, dpi, rule)));
        PixkitImage image = nullptr;
        uint32_t unused = 0;
        EXPECT_EQ(PIXKIT_OK, Pixkit.load(&image, Path(name).c_str(), &unused, 0, 7, 0, 0, 0)) << name;
        return image;
    }

    int Save(const std::string &name, uint32_t kind, uint32_t quality, PixkitImage image)
    {
        const uint32_t options[2] = {0, quality};
        return Pixkit.save(Path(name).c_str(), kind, options, image, 0, 0);
    }

    int FilesInFolder() const
    {
        int count = 0;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return 0;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++count;
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return count;
    }

    std::string folder_;
};

uint32_t Word(PixkitImage image, int offset)
{
    return *reinterpret_cast<const uint32_t *>(reinterpret_cast<const uint8_t *>(*image) + offset);
}

} // namespace

// Every depth the scanner writes through every format. Lossless formats must
// give back every pixel; JPEG must stay within the stated PSNR.
TEST_F(PixkitLibrary, RoundTripsEachDepthThroughEachFormat)
{
    struct Format {
        const char *extension;
        uint32_t kind;
        bool lossless;
    } const formats[] = {
        {".bmp", PIXKIT_SAVE_BY_EXTENSION, true},
        {".png", PIXKIT_SAVE_BY_EXTENSION, true},
        {".tif", PIXKIT_SAVE_TIFF, true},
        {".jpg", PIXKIT_SAVE_JPEG, false},
    };
    struct Depth {
        uint32_t bits;
        const char *bmpFormat, *pngFormat; // what the file itself stores
        int tiffDepth;
        const char *colourspace;
        double minimumPsnr; // JPEG at quality 80, in dB
    } const depths[] = {
        {1, "bmp 1", "png 1/0", 1, "Gray", 25.0},
        {8, "bmp 8", "png 8/0", 8, "Gray", 35.0},
        {24, "bmp 24", "png 8/2", 8, "sRGB", 25.0}, // sharp colour edges lose most to halved chroma
    };
    for (const Depth &depth : depths) {
        std::string source = "scan" + std::to_string(depth.bits) + ".bmp";
        PixkitImage image = LoadScan(source, depth.bits, 203, 151, 300, RuleFor(depth.bits));
        ASSERT_NE(nullptr, image);
        EXPECT_EQ(depth.bits, Word(image, 8));
        for (const Format &format : formats) {
            std::string name = "out" + std::to_string(depth.bits) + format.extension;
            SCOPED_TRACE(name);
            ASSERT_EQ(PIXKIT_OK, Save(name, format.kind, 80, image));
            Described d = Describe(Path(name));
            EXPECT_EQ(203, d.width);
            EXPECT_EQ(151, d.height);
            EXPECT_EQ(300, d.xDpi);
            EXPECT_EQ(300, d.yDpi);
            if (format.lossless) {
                EXPECT_EQ(0, DifferentPixels(Path(source), Path(name)));
            } else {
                // cjpeg at the same quality on the same pixels is the yardstick.
                std::string reference = "cjpeg" + std::to_string(depth.bits) + ".jpg";
                Host("convert " + Quoted(Path(source)) + (depth.bits == 24 ? " ppm:- " : " pgm:- ") +
                     "| cjpeg -quality 80 >" + Quoted(Path(reference)));
                double psnr = Psnr(Path(source), Path(name));
                EXPECT_GE(psnr, depth.minimumPsnr);
                EXPECT_GE(psnr, Psnr(Path(source), Path(reference)) - 0.5);
            }
            std::string ext = format.extension;
            if (ext == ".bmp") {
                EXPECT_EQ(depth.bmpFormat, StoredFormat(Path(name)));
            } else if (ext == ".png") {
                EXPECT_EQ(depth.pngFormat, StoredFormat(Path(name)));
            } else if (ext == ".tif") {
                EXPECT_EQ(depth.tiffDepth, d.depth);
            }
            if (ext != ".bmp") {
                EXPECT_EQ(depth.colourspace, d.colourspace);
            }
        }
        Pixkit.free(image);
    }
}

TEST_F(PixkitLibrary, ExistingPictureIsNeverOverwritten)
{
    PixkitImage image = LoadScan("page.bmp", 8, 30, 30, 300, RuleFor(8));
    ASSERT_NE(nullptr, image);
    for (const char *name : {"Image00001.jpg", "Image00001.png", "Image00001.tif", "Image00001.bmp"}) {
        ASSERT_TRUE(testsupport::WriteWholeFile(Path(name), "an earlier photograph"));
        uint32_t kind = strstr(name, ".jpg") ? PIXKIT_SAVE_JPEG : strstr(name, ".tif") ? PIXKIT_SAVE_TIFF : 0;
        EXPECT_EQ(PIXKIT_ERROR_EXISTS, Save(name, kind, 80, image)) << name;
        std::string content;
        ASSERT_TRUE(testsupport::ReadWholeFile(Path(name), &content));
        EXPECT_EQ("an earlier photograph", content) << name;
    }
    Pixkit.free(image);
    EXPECT_EQ(5, FilesInFolder()) << "no temporary file may stay behind";
}

TEST_F(PixkitLibrary, FailedSavesLeaveNothingBehind)
{
    // One pixel row wider than JPEG allows: the encoder gives up after the
    // temporary file was made.
    PixkitImage wide = LoadScan("wide.bmp", 1, 70000, 1, 300, RuleFor(1));
    ASSERT_NE(nullptr, wide);
    EXPECT_NE(PIXKIT_OK, Save("wide.jpg", PIXKIT_SAVE_JPEG, 80, wide));
    EXPECT_NE(PIXKIT_OK, Save("wide.gif", 0, 0, wide)) << "no format for the extension";
    Pixkit.free(wide);
    EXPECT_EQ(1, FilesInFolder());

    PixkitImage image = LoadScan("page.bmp", 8, 30, 30, 300, RuleFor(8));
    ASSERT_NE(nullptr, image);
    struct Case {
        std::string destination;
    } const unwritable[] = {
        {Path("missing folder\\Image00001.jpg")},
        {Path("page.bmp\\Image00001.png")}, // a file where the folder should be
        {"Q:\\no such drive\\Image00001.tif"},
    };
    for (const Case &c : unwritable) {
        const uint32_t options[2] = {0, 80};
        EXPECT_EQ(PIXKIT_ERROR_WRITE, Pixkit.save(c.destination.c_str(), 0, options, image, 0, 0)) << c.destination;
    }
    Pixkit.free(image);
    EXPECT_EQ(2, FilesInFolder());
    EXPECT_FALSE(testsupport::FileExists(Path("missing folder")));
}

TEST_F(PixkitLibrary, BadInputIsReportedNotCrashed)
{
    PixkitImage image = reinterpret_cast<PixkitImage>(1);
    uint32_t unused = 0;
    EXPECT_EQ(PIXKIT_ERROR_READ, Pixkit.load(&image, Path("absent.bmp").c_str(), &unused, 0, 7, 0, 0, 0));
    EXPECT_EQ(nullptr, image);
    ASSERT_TRUE(testsupport::WriteWholeFile(Path("junk.bmp"), "BM this is not a picture at all"));
    EXPECT_EQ(PIXKIT_ERROR_READ, Pixkit.load(&image, Path("junk.bmp").c_str(), &unused, 0, 7, 0, 0, 0));
    EXPECT_EQ(PIXKIT_ERROR_ARGUMENT, Pixkit.load(&image, "", &unused, 0, 7, 0, 0, 0));
    const uint32_t options[2] = {0, 80};
    EXPECT_EQ(PIXKIT_ERROR_ARGUMENT, Pixkit.save(Path("x.png").c_str(), 0, options, nullptr, 0, 0));
    PixkitRotateOptions rotateOptions = {};
    EXPECT_EQ(nullptr, Pixkit.rotate(nullptr, 90, rotateOptions, 0, 0, 0));
    EXPECT_EQ(nullptr, Pixkit.resize(nullptr, 10, 10, 0, 0, 0));
    Pixkit.free(nullptr);

    PixkitImage page = LoadScan("page.bmp", 8, 30, 30, 300, RuleFor(8));
    ASSERT_NE(nullptr, page);
    EXPECT_EQ(nullptr, Pixkit.resize(page, 0, 10, 0, 0, 0));
    EXPECT_EQ(nullptr, Pixkit.resize(page, 10, -1, 0, 0, 0));
    EXPECT_EQ(30u, Word(page, 4));
    Pixkit.free(page);
    EXPECT_FALSE(testsupport::FileExists(Path("x.png")));
}
