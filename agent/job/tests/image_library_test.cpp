// The image library adapter under Wine: where it looks for the library, what
// it loads and unloads, and the exact calls it makes for a page, read from
// the stand-in library's call log; then one page through the real library.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image_library.h"
#include "scan_bitmap.h"
#include "settings.h"
#include "shared.h"
#include "test_support.h"

using testsupport::DeleteRegistryTree;
using testsupport::GetRawValue;
using testsupport::SetRawValue;

namespace {

const char *const SETTINGS_TEST_KEY = "Software\\Velmora Tests\\Image Library";
const char *const LIBRARY_VALUE = "Image Library";

void SetLibraryPath(HKEY root, const std::string &path)
{
    ASSERT_TRUE(SetRawValue(root, COMMON_FILES_KEY, LIBRARY_VALUE, REG_SZ, path.c_str(), DWORD(path.size())));
}

std::string FakePath() { return testsupport::ProgramDirectory() + "FakeImageLibrary.dll"; }
std::string PixkitPath() { return testsupport::ProgramDirectory() + "Pixkit.dll"; }

const char *const FAKE_SETTINGS[] = {"FAKE_IMAGE_LIBRARY_INIT", "FAKE_IMAGE_LIBRARY_NO_TABLE",
                                     "FAKE_IMAGE_LIBRARY_NO_SHUTDOWN", "FAKE_IMAGE_LIBRARY_SIZE",
                                     "FAKE_IMAGE_LIBRARY_LOAD", "FAKE_IMAGE_LIBRARY_SAVE",
                                     "FAKE_IMAGE_LIBRARY_NO_TURN", "FAKE_IMAGE_LIBRARY_NO_RESIZE",
                                     "FAKE_IMAGE_LIBRARY_EMPTY_SLOTS"};

class ImageLibraryAdapter : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY);
        DeleteRegistryTree(HKEY_CURRENT_USER, COMMON_FILES_KEY);
        folder_ = testsupport::MakeScratchFolder("image-library");
        ASSERT_FALSE(folder_.empty());
        log_ = folder_ + "\\calls.log";
        SetEnvironmentVariableA("FAKE_IMAGE_LIBRARY_LOG", log_.c_str());
        for (const char *name : FAKE_SETTINGS)
            SetEnvironmentVariableA(name, nullptr);
        DeleteRegistryTree(HKEY_CURRENT_USER, SETTINGS_TEST_KEY);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_TEST_KEY, 0, nullptr, 0,
                                                 KEY_READ | KEY_WRITE, nullptr, &SettingsKey, nullptr));
    }
    void TearDown() override
    {
        UnloadImageLibrary();
        ImageLibrary = ImageLibraryState();
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY);
        DeleteRegistryTree(HKEY_CURRENT_USER, COMMON_FILES_KEY);
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
        DeleteRegistryTree(HKEY_CURRENT_USER, SETTINGS_TEST_KEY);
        testsupport::RemoveTree(folder_);
    }

    std::vector<std::string> Calls() const
    {
        std::string text;
        std::vector<std::string> lines;
        if (!testsupport::ReadWholeFile(log_, &text))
            return lines;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    void ClearCalls() const { DeleteFileA(log_.c_str()); }

    static bool Loaded(const std::string &path) { return GetModuleHandleA(path.c_str()) != nullptr; }

    // Loads the stand-in from the machine key and forgets the calls so far.
    void LoadFake()
    {
        SetLibraryPath(HKEY_LOCAL_MACHINE, FakePath());
        ASSERT_EQ(1, LoadImageLibrary());
        ClearCalls();
    }

    std::string folder_;
    std::string log_;
};

typedef std::vector<std::string> Lines;

} // namespace

TEST_F(ImageLibraryAdapter, MachineKeyLibraryIsLoadedInitialisedAndUnloaded)
{
    SetLibraryPath(HKEY_LOCAL_MACHINE, FakePath());
    SetLibraryPath(HKEY_CURRENT_USER, folder_ + "\\elsewhere.dll"); // never consulted
    ASSERT_EQ(1, LoadImageLibrary());
    EXPECT_TRUE(Loaded(FakePath()));
    EXPECT_EQ(GetModuleHandleA(FakePath().c_str()), ImageLibrary.Module);
    EXPECT_EQ((Lines{"entry", "init 2 3 0 0"}), Calls());
    UnloadImageLibrary();
    EXPECT_FALSE(Loaded(FakePath()));
    EXPECT_EQ(nullptr, ImageLibrary.Module);
    EXPECT_EQ((Lines{"entry", "init 2 3 0 0", "shutdown"}), Calls());
}

TEST_F(ImageLibraryAdapter, NoLibraryIsLoadedWhenTheRegistryDoesNotLeadToOne)
{
    struct Case {
        const char *what;
        bool machineKey;
        std::string machinePath; // empty: no value
        bool userKey;
        const char *fakeSetting;
    } const cases[] = {
        {"administrator without the machine key", false, "", true, nullptr},
        {"machine key without the value", true, "", true, nullptr},
        {"library file missing", true, folder_ + "\\missing.dll", false, nullptr},
        {"entry point answers no table", true, FakePath(), false, "FAKE_IMAGE_LIBRARY_NO_TABLE=1"},
        {"no entry point", true, PixkitPath().substr(0, PixkitPath().rfind('\\')) + "\\image_library_test.exe",
         false, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY);
        DeleteRegistryTree(HKEY_CURRENT_USER, COMMON_FILES_KEY);
        for (const char *name : FAKE_SETTINGS)
            SetEnvironmentVariableA(name, nullptr);
        if (c.fakeSetting) {
            std::string setting = c.fakeSetting;
            size_t equals = setting.find('=');
            SetEnvironmentVariableA(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str());
        }
        if (c.machineKey) {
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY, 0, nullptr, 0,
                                                     KEY_ALL_ACCESS, nullptr, &key, nullptr));
            RegCloseKey(key);
            if (!c.machinePath.empty())
                SetLibraryPath(HKEY_LOCAL_MACHINE, c.machinePath);
        }
        if (c.userKey)
            SetLibraryPath(HKEY_CURRENT_USER, FakePath());
        EXPECT_EQ(0, LoadImageLibrary());
        EXPECT_EQ(nullptr, ImageLibrary.Module);
        EXPECT_FALSE(Loaded(FakePath()));
        // The key is open for reading only: the missing value is not written back.
        DWORD type;
        std::string data;
        if (c.machineKey && c.machinePath.empty()) {
            EXPECT_FALSE(GetRawValue(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY, LIBRARY_VALUE, &type, &data));
        }
        ClearCalls();
    }
}

TEST_F(ImageLibraryAdapter, FailedInitUnloadsWithoutShutdown)
{
    SetEnvironmentVariableA("FAKE_IMAGE_LIBRARY_INIT", "1");
    SetLibraryPath(HKEY_LOCAL_MACHINE, FakePath());
    EXPECT_EQ(0, LoadImageLibrary());
    EXPECT_FALSE(Loaded(FakePath()));
    EXPECT_EQ((Lines{"entry", "init 2 3 0 0"}), Calls());
}

TEST_F(ImageLibraryAdapter, RotationCodesGiveTheirAngles)
{
    struct Case {
        uint16_t rotate;
        const char *rotateCall; // null: no rotation is asked for
    } const cases[] = {
        {0, nullptr},
        {1, "rotate #1 by 90 bytes=000 zeros=000"},
        {2, "rotate #1 by 270 bytes=000 zeros=000"},
        {3, "rotate #1 by 180 bytes=000 zeros=000"},
        {4, "rotate #1 by 0 bytes=000 zeros=000"},
        {9, "rotate #1 by 0 bytes=000 zeros=000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rotate);
        LoadFake();
        EXPECT_EQ(1, ConvertAndSave(OUTPUT_PNG, c.rotate, "C:\\scan.bmp", "C:\\pictures\\Image00001.png", 300));
        Lines calls = Calls();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ("load C:\\scan.bmp scratch=0 flags=7 zeros=0000", calls[0]);
        if (c.rotateCall) {
            ASSERT_EQ(5u, calls.size());
            EXPECT_EQ(c.rotateCall, calls[2]);
            EXPECT_EQ("free #2", calls[4]) << "the turned picture is the one released";
        } else {
            ASSERT_EQ(4u, calls.size());
            EXPECT_EQ("free #1", calls[3]);
        }
        UnloadImageLibrary();
    }
}

// A 100 dpi page was scanned at 300: the resolution words say 100 before
// the reduction, and the sizes are those after the turn.
TEST_F(ImageLibraryAdapter, HundredDpiReducesToAThirdOfTheTurnedSize)
{
    struct Case {
        const char *size;
        uint16_t rotate;
        uint16_t resolution;
        const char *resizeCall; // null: no reduction
        const char *saveCall;
    } const cases[] = {
        {"301x600", 0, 100, "resize #1 to 100x200 dpi=100,100 zeros=000",
         "save #2 C:\\p\\a.tif kind=2 options=0,0 size=100x200 dpi=100,100 zeros=00"},
        {"301x600", 1, 100, "resize #2 to 200x100 dpi=100,100 zeros=000",
         "save #3 C:\\p\\a.tif kind=2 options=0,0 size=200x100 dpi=100,100 zeros=00"},
        {"2550x3300", 3, 100, "resize #2 to 850x1100 dpi=100,100 zeros=000",
         "save #3 C:\\p\\a.tif kind=2 options=0,0 size=850x1100 dpi=100,100 zeros=00"},
        {"301x600", 0, 300, nullptr, "save #1 C:\\p\\a.tif kind=2 options=0,0 size=301x600 dpi=300,300 zeros=00"},
        {"301x600", 0, 600, nullptr, "save #1 C:\\p\\a.tif kind=2 options=0,0 size=301x600 dpi=300,300 zeros=00"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.size) + " rotate " + std::to_string(c.rotate));
        SetEnvironmentVariableA("FAKE_IMAGE_LIBRARY_SIZE", c.size);
        LoadFake();
        EXPECT_EQ(1, ConvertAndSave(OUTPUT_TIFF, c.rotate, "C:\\scan.bmp", "C:\\p\\a.tif", c.resolution));
        Lines calls = Calls();
        bool found = !c.resizeCall;
        for (const std::string &line : calls)
            found = found || line == c.resizeCall;
        EXPECT_TRUE(found) << "no " << (c.resizeCall ? c.resizeCall : "");
        if (!c.resizeCall) {
            for (const std::string &line : calls)
                EXPECT_EQ(std::string::npos, line.find("resize"));
        }
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(c.saveCall, calls[calls.size() - 2]);
        UnloadImageLibrary();
    }
}

TEST_F(ImageLibraryAdapter, SaveKindsAndOptionsFollowTheFormat)
{
    DWORD stored = 55;
    struct Case {
        uint16_t format;
        bool storeQuality;
        const char *save;
    } const cases[] = {
        {OUTPUT_JPEG, false, "save #1 D:\\x kind=1 options=0,80 size=301x600 dpi=300,300 zeros=00"},
        {OUTPUT_JPEG, true, "save #1 D:\\x kind=1 options=0,55 size=301x600 dpi=300,300 zeros=00"},
        {OUTPUT_TIFF, true, "save #1 D:\\x kind=2 options=0,0 size=301x600 dpi=300,300 zeros=00"},
        {OUTPUT_BMP, true, "save #1 D:\\x kind=0 options=0,0 size=301x600 dpi=300,300 zeros=00"},
        {OUTPUT_PNG, true, "save #1 D:\\x kind=0 options=0,0 size=301x600 dpi=300,300 zeros=00"},
    };
    const char *ratio = SettingName(SETTING_JpegCompressionRatio);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.save);
        RegDeleteValueA(SettingsKey, ratio);
        if (c.storeQuality)
            RegSetValueExA(SettingsKey, ratio, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&stored), 4);
        LoadFake();
        EXPECT_EQ(1, ConvertAndSave(c.format, 0, "C:\\scan.bmp", "D:\\x", 300));
        Lines calls = Calls();
        ASSERT_EQ(4u, calls.size());
        EXPECT_EQ(c.save, calls[2]);
        UnloadImageLibrary();
    }
    // A JPEG save without a stored setting left the default behind.
    RegDeleteValueA(SettingsKey, ratio);
    LoadFake();
    ConvertAndSave(OUTPUT_JPEG, 0, "C:\\scan.bmp", "D:\\x", 300);
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(GetRawValue(HKEY_CURRENT_USER, SETTINGS_TEST_KEY, ratio, &type, &data));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(std::string("\x50\0\0\0", 4), data);
}

TEST_F(ImageLibraryAdapter, FailuresEndThePageAndReleaseWhatWasTaken)
{
    struct Case {
        const char *what;
        const char *setting;
        int answer;
        Lines calls;
    } const cases[] = {
        {"source cannot be loaded", "FAKE_IMAGE_LIBRARY_LOAD=5", 0,
         {"load C:\\scan.bmp scratch=0 flags=7 zeros=0000"}},
        {"library reports a failed save", "FAKE_IMAGE_LIBRARY_SAVE=6", 0,
         {"load C:\\scan.bmp scratch=0 flags=7 zeros=0000", "image #1 301x600",
          "rotate #1 by 90 bytes=000 zeros=000", "resize #2 to 200x100 dpi=100,100 zeros=000",
          "save #3 C:\\out.png kind=0 options=0,0 size=200x100 dpi=100,100 zeros=00", "free #3"}},
        {"a turn that fails keeps the unturned picture", "FAKE_IMAGE_LIBRARY_NO_TURN=1", 1,
         {"load C:\\scan.bmp scratch=0 flags=7 zeros=0000", "image #1 301x600",
          "rotate #1 by 90 bytes=000 zeros=000", "resize #1 to 100x200 dpi=100,100 zeros=000",
          "save #2 C:\\out.png kind=0 options=0,0 size=100x200 dpi=100,100 zeros=00", "free #2"}},
        // Full-size pixels keep the resolution they were scanned at.
        {"a reduction that fails keeps the turned picture at 300 dpi", "FAKE_IMAGE_LIBRARY_NO_RESIZE=1", 1,
         {"load C:\\scan.bmp scratch=0 flags=7 zeros=0000", "image #1 301x600",
          "rotate #1 by 90 bytes=000 zeros=000", "resize #2 to 200x100 dpi=100,100 zeros=000",
          "save #2 C:\\out.png kind=0 options=0,0 size=600x301 dpi=300,300 zeros=00", "free #2"}},
        // Empty slots are never called.
        {"no LoadImage", "FAKE_IMAGE_LIBRARY_EMPTY_SLOTS=6", 0, {}},
        {"no FreeImage", "FAKE_IMAGE_LIBRARY_EMPTY_SLOTS=7", 0, {}},
        {"no SaveImage", "FAKE_IMAGE_LIBRARY_EMPTY_SLOTS=8", 0, {}},
        {"no turn nor reduction", "FAKE_IMAGE_LIBRARY_EMPTY_SLOTS=11,13", 1,
         {"load C:\\scan.bmp scratch=0 flags=7 zeros=0000", "image #1 301x600",
          "save #1 C:\\out.png kind=0 options=0,0 size=301x600 dpi=300,300 zeros=00", "free #1"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const char *name : FAKE_SETTINGS)
            SetEnvironmentVariableA(name, nullptr);
        std::string setting = c.setting;
        size_t equals = setting.find('=');
        SetEnvironmentVariableA(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str());
        LoadFake();
        EXPECT_EQ(c.answer, ConvertAndSave(OUTPUT_PNG, 1, "C:\\scan.bmp", "C:\\out.png", 100));
        EXPECT_EQ(c.calls, Calls());
        UnloadImageLibrary();
    }
    // Without a loaded library nothing can be saved.
    EXPECT_EQ(0, ConvertAndSave(OUTPUT_PNG, 0, "C:\\scan.bmp", "C:\\out.png", 300));
}

// The scanner's bitmap through the real library: a 301 × 600 grey page
// scanned at 300 dpi for a 100 dpi picture, turned a quarter.
TEST_F(ImageLibraryAdapter, RealLibrarySavesTheReducedTurnedPage)
{
    std::string bitmap =
        scanbitmap::ScanBitmap(8, 301, 600, 300, [](uint32_t x, uint32_t y) { return (x ^ y) & 0xFF; });
    std::string source = folder_ + "\\scan.bmp";
    ASSERT_TRUE(testsupport::WriteWholeFile(source, bitmap));

    SetLibraryPath(HKEY_LOCAL_MACHINE, PixkitPath());
    ASSERT_EQ(1, LoadImageLibrary());
    struct Case {
        uint16_t format, rotate;
        const char *name;
        int width, height;
        const char *colourspace; // ImageMagick calls a palette BMP sRGB whatever its colours
    } const cases[] = {
        {OUTPUT_JPEG, ROTATE_90, "Image00001.jpg", 200, 100, "Gray"},
        {OUTPUT_BMP, ROTATE_NONE, "Image00002.bmp", 100, 200, "sRGB"},
        {OUTPUT_PNG, ROTATE_180, "Image00003.png", 100, 200, "Gray"},
        {OUTPUT_TIFF, ROTATE_270, "Image00004.tif", 200, 100, "Gray"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string picture = folder_ + "\\" + c.name;
        EXPECT_EQ(1, ConvertAndSave(c.format, c.rotate, source.c_str(), picture.c_str(), 100));
        std::string out;
        testsupport::RunHostShell("identify -format '%w %h %x %y %U %[colorspace]' '" +
                                      testsupport::UnixPath(picture) + "'",
                                  &out);
        int width = 0, height = 0;
        double x = 0, y = 0;
        char units[40] = "", space[40] = "";
        ASSERT_EQ(6, sscanf(out.c_str(), "%d %d %lf %lf %39s %39s", &width, &height, &x, &y, units, space)) << out;
        double perInch = strcmp(units, "PixelsPerCentimeter") == 0 ? 2.54 : 1.0;
        EXPECT_EQ(c.width, width);
        EXPECT_EQ(c.height, height);
        EXPECT_EQ(100, int(x * perInch + 0.5));
        EXPECT_EQ(100, int(y * perInch + 0.5));
        EXPECT_STREQ(c.colourspace, space);
    }
    // The same name again: the earlier picture stays and the page reports failure.
    std::string first = folder_ + "\\Image00001.jpg", before, after;
    ASSERT_TRUE(testsupport::ReadWholeFile(first, &before));
    EXPECT_EQ(0, ConvertAndSave(OUTPUT_JPEG, ROTATE_NONE, source.c_str(), first.c_str(), 300));
    ASSERT_TRUE(testsupport::ReadWholeFile(first, &after));
    EXPECT_TRUE(before == after);
    UnloadImageLibrary();
    EXPECT_FALSE(Loaded(PixkitPath()));
}
