// The image library adapter under Wine with the real library: where it looks
// for the library, and scanner pages through it read back by ImageMagick.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "image_library.h"
#include "product_files.h"
#include "scan_bitmap.h"
#include "scan_types.h"
#include "settings.h"
#include "test_support.h"

namespace {

class ImageLibraryAdapter : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = testsupport::MakeScratchFolder("image-library");
    }
    void TearDown() override
    {
        UnloadImageLibrary();
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            testsupport::DeleteRegistryTree(root, COMMON_FILES_KEY);
        testsupport::RemoveTree(folder_);
    }
    // `path` as the library of `root`'s key; "-": no key at all.
    static void Register(HKEY root, const std::string &path)
    {
        testsupport::DeleteRegistryTree(root, COMMON_FILES_KEY);
        if (path != "-")
            testsupport::SetRawValue(root, COMMON_FILES_KEY, SettingName(SETTING_ImageLibrary), REG_SZ, path.c_str(),
                                     DWORD(path.size()));
    }

    std::string folder_, bin_ = testsupport::ProgramDirectory(), pixkit_ = bin_ + IMAGE_LIBRARY_FILE;
};

// A 100 dpi picture was scanned at 300: it is reduced to a third of its
// turned size and says 100 dpi; a page too narrow to reduce keeps its pixels
// and says the 300 dpi they were scanned at.
TEST_F(ImageLibraryAdapter, PagesAreTurnedReducedAndSavedOnce)
{
    // Only the machine key is looked at (an administrator's), and only a
    // library with the entry point is loaded.
    for (const std::string &other : {std::string("-"), folder_ + "\\missing.dll", bin_ + "image_library_test.exe"}) {
        Register(HKEY_LOCAL_MACHINE, other);
        Register(HKEY_CURRENT_USER, pixkit_);
        EXPECT_EQ(0, LoadImageLibrary()) << other;
        EXPECT_EQ(0, ConvertAndSave(OUTPUT_BMP, ROTATE_NONE, "C:\\scan.bmp", "C:\\picture.bmp", 300));
    }
    Register(HKEY_LOCAL_MACHINE, pixkit_);
    ASSERT_EQ(1, LoadImageLibrary());
    struct Case {
        uint16_t format, rotate, resolution;
        uint32_t width, height;
        const char *name, *expected; // ImageMagick's width, height, resolution and colour space
    } cases[] = {
        {OUTPUT_JPEG, ROTATE_90, 100, 301, 600, "Image00001.jpg", "200 100 100 100 Gray"},
        // 2550 thirds is 850 only with the third rounded to single precision.
        {OUTPUT_PNG, ROTATE_180, 100, 2550, 3300, "Image00002.png", "850 1100 100 100 Gray"},
        {OUTPUT_TIFF, ROTATE_270, 100, 2, 600, "Image00003.tif", "600 2 300 300 Gray"},
        {OUTPUT_BMP, ROTATE_NONE, 600, 301, 600, "Image00004.bmp", "301 600 300 300 sRGB"}, // a palette is sRGB to it
    };
    for (const Case &c : cases) {
        std::string source = folder_ + "\\scan.bmp", picture = folder_ + "\\" + c.name, out;
        auto pixel = [](uint32_t x, uint32_t y) { return (x ^ y) & 0xFF; };
        ASSERT_TRUE(testsupport::WriteWholeFile(source, scanbitmap::ScanBitmap(8, c.width, c.height, 300, pixel)));
        EXPECT_EQ(1, ConvertAndSave(c.format, c.rotate, source.c_str(), picture.c_str(), c.resolution)) << c.name;
        testsupport::RunHostShell("identify -units PixelsPerInch -format '%w %h %[fx:round(resolution.x)] "
                                  "%[fx:round(resolution.y)] %[colorspace]' '" +
                                      testsupport::UnixPath(picture) + "'",
                                  &out);
        EXPECT_EQ(out, c.expected) << c.name;
    }
    // The same name again: the earlier picture stays and the page reports failure.
    std::string first = folder_ + "\\Image00001.jpg", before, after;
    ASSERT_TRUE(testsupport::ReadWholeFile(first, &before));
    EXPECT_EQ(0, ConvertAndSave(OUTPUT_JPEG, ROTATE_NONE, (folder_ + "\\scan.bmp").c_str(), first.c_str(), 300));
    EXPECT_TRUE(testsupport::ReadWholeFile(first, &after) && before == after);
    UnloadImageLibrary();
    EXPECT_EQ(nullptr, GetModuleHandleA(pixkit_.c_str()));
}

} // namespace
