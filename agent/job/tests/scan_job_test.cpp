// The scan job end to end, in-process under Wine: the virtual scanner feeds
// a real photograph, the real Pagefit.exe crops and straightens it, the real
// image library saves it, and stand-ins for the viewer and ImageFolio record
// what they were asked to show. Pictures are checked by an independent
// reader (ImageMagick on the host) against the photograph itself. What the
// running agent does around a job (the button, continuous feeding ended with
// Done) is checked by the agent's end-to-end scenarios.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <atomic>
#include <functional>
#include <thread>

#include "feeder_control.h"
#include "fixture_registry.h"
#include "product_files.h"
#include "scan_job.h"
#include "scanner.h"
#include "settings.h"
#include "shared.h"
#include "test_support.h"
#include "ui.h"

namespace {

// 1024 x 681 pixels, fed as a print of 200 dpi: 1536 x 1021.5 at 300 dpi.
const char PHOTO[] = "Z:\\usr\\share\\palapeli\\collection\\castle-maintenon.jpg";
// The paper is 7 x 5.5 inches of the feeder, in 1/300 inch; 0xFFFF is the text of a message box.
const char PAPER_SIZE[] = "0,0,2100,1650";
const int PHOTO_WIDTH = 1024, PHOTO_HEIGHT = 681, PHOTO_DPI = 200, PAPER_WIDTH = 2100, MESSAGE_TEXT_ID = 0xFFFF;

std::string Text(UINT id)
{
    char text[1100] = "";
    LoadStringA(ResourceLibrary, id, text, sizeof text);
    return text;
}

// What ImageMagick says of a picture in its own `format`.
std::string Identify(const std::string &picture, const char *format)
{
    std::string out;
    testsupport::RunHostShell("identify -format '" + std::string(format) + "' '" + testsupport::UnixPath(picture) + "'",
                              &out);
    return out;
}

// Normalised cross-correlation of the picture with the photograph turned
// clockwise by `degrees` and brought to the picture's size (1 is identical).
double CorrelationWithPhoto(const std::string &picture, int degrees = 0, bool grey = false)
{
    std::string out, unixPicture = "'" + testsupport::UnixPath(picture) + "'";
    testsupport::RunHostShell("convert '" + testsupport::UnixPath(PHOTO) + "' -rotate " + std::to_string(degrees) +
                                  (grey ? " -colorspace Gray" : "") + " -resize \"$(identify -format '%wx%h!' " +
                                  unixPicture + ")\" png:- | compare -metric NCC " + unixPicture + " png:- null: 2>&1",
                              &out);
    return atof(out.c_str());
}

// Temporary bitmaps the job left behind, counted on the Linux side.
int BitmapsInTemp()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string out;
    testsupport::RunHostShell("ls '" + testsupport::UnixPath(temp) + "' | grep -ci '\\.bmp$'", &out);
    return atoi(out.c_str());
}

// The scan settings of one scenario, as the settings dialog would store them.
struct Choices {
    DWORD mode = 2, resolution = 300, format = OUTPUT_JPEG, rotate = ROTATE_NONE, continuous = 0, defaultViewer = 1;
};

class ScanJob : public testing::Test {
protected:
    void SetUp() override
    {
        bin_ = testsupport::ProgramDirectory();
        for (const std::string &needed : {bin_ + AUTOCROP_TOOL_FILE, bin_ + "Pixkit.dll", bin_ + "FixtureViewer.exe",
                                          bin_ + "FixtureImageFolio.exe", std::string(PHOTO)})
            if (!testsupport::FileExists(needed))
                GTEST_SKIP() << needed << " is missing (scripts/bootstrap installs the photograph)";
        ASSERT_TRUE(feeder::Reset());
        root_ = testsupport::MakeScratchFolder("scan job");
        // A program folder with a blank in its name, and programs where an
        // unquoted command line would wrongly lead: they must never run.
        programs_ = root_ + "\\Velmora Tools\\";
        imageFolio_ = root_ + "\\Image Folio\\If42le.exe";
        imageFolioRecord_ = root_ + "\\imagefolio.txt";
        viewerRecord_ = root_ + "\\viewer.txt";
        saveFolder_ = root_ + "\\Scans";
        for (const std::string &folder : {programs_, root_ + "\\Image Folio", saveFolder_})
            CreateDirectoryA(folder.c_str(), nullptr);
        const std::pair<const char *, std::string> copies[] = {{AUTOCROP_TOOL_FILE, programs_ + AUTOCROP_TOOL_FILE},
                                                               {"FixtureImageFolio.exe", imageFolio_},
                                                               {"FixtureImageFolio.exe", root_ + "\\Velmora.exe"},
                                                               {"FixtureImageFolio.exe", root_ + "\\Image.exe"}};
        for (const auto &copy : copies)
            ASSERT_TRUE(CopyFileA((bin_ + copy.first).c_str(), copy.second.c_str(), FALSE));
        SetEnvironmentVariableA("FIXTURE_IMAGEFOLIO_RECORD", imageFolioRecord_.c_str());
        ASSERT_TRUE(fixtures::RegisterViewer(bin_ + "FixtureViewer.exe", viewerRecord_));

        // This program folder's own scanner instance, which Pagefit.exe finds too.
        model_ = "JobTest" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(testsupport::WriteWholeFile(programs_ + MODULE_INI_NAME, "[SYSTEM]\r\nModule=" + model_ + "\r\n"));
        std::string instance = std::string(MODEL_KEY_BASE) + model_ + "\\Scanner 1";
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, instance, SettingName(SETTING_SystemDirectory), REG_SZ,
                                             programs_.c_str(), DWORD(programs_.size())));
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (instance + "\\" SETTINGS_SUBKEY).c_str(), 0, nullptr, 0,
                                  KEY_READ | KEY_WRITE, nullptr, &SettingsKey, nullptr),
                  ERROR_SUCCESS);
        WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), ("Velmora job test " + model_).c_str());
        char folder[PATH_CAPACITY];
        GetDefaultSaveFolder(folder);
        defaultFolder_ = folder;
        std::string library = bin_ + "Pixkit.dll";
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY, SettingName(SETTING_ImageLibrary),
                                             REG_SZ, library.c_str(), DWORD(library.size())));

        AppInstance = GetModuleHandleA(nullptr);
        ResourceLibrary = LoadLibraryA((bin_ + RESOURCE_LIBRARY_FILE).c_str());
        ASSERT_TRUE(ResourceLibrary);
        snprintf(AppTitle, sizeof AppTitle, "Velmora scan job test %lu", GetCurrentProcessId());
        lstrcpynA(PagefitPath, (programs_ + AUTOCROP_TOOL_FILE).c_str(), sizeof PagefitPath);
        SwitchUserEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ASSERT_EQ(ProbeScanner((bin_ + SCANNER_DRIVER_FILE).c_str()), PROBE_READY);
        bitmapsBefore_ = BitmapsInTemp();
    }

    void TearDown() override
    {
        if (root_.empty())
            return;
        UnloadScannerDriver();
        feeder::Reset();
        CloseHandle(SwitchUserEvent);
        FreeLibrary(ResourceLibrary);
        RegCloseKey(SettingsKey);
        SwitchUserEvent = nullptr, ResourceLibrary = nullptr, SettingsKey = nullptr;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, std::string(MODEL_KEY_BASE) + model_);
        testsupport::DeleteRegistryTree(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY);
        fixtures::UnregisterViewer();
        fixtures::UnregisterImageFolio();
        testsupport::RemoveTree(defaultFolder_);
        testsupport::RemoveTree(root_);
    }

    void Choose(const Choices &c)
    {
        std::string settings = std::string(MODEL_KEY_BASE) + model_ + "\\Scanner 1\\" SETTINGS_SUBKEY "\\";
        const std::pair<SettingId, DWORD> numbers[] = {
            {SETTING_ScanMode, c.mode}, {SETTING_Resolution, c.resolution},     {SETTING_Format, c.format},
            {SETTING_Rotate, c.rotate}, {SETTING_ContinuousScan, c.continuous}, {SETTING_AutoCrop, 1},
            {SETTING_AutoDeskew, 1}};
        for (const auto &n : numbers)
            testsupport::SetRawValue(HKEY_CURRENT_USER, settings + SCAN_SETTINGS_SUBKEY, SettingName(n.first),
                                     REG_DWORD, &n.second, sizeof n.second);
        testsupport::SetRawValue(HKEY_CURRENT_USER, settings + SCAN_SETTINGS_SUBKEY, SettingName(SETTING_SavePath),
                                 REG_SZ, saveFolder_.c_str(), DWORD(saveFolder_.size()));
        testsupport::SetRawValue(HKEY_CURRENT_USER, settings + PAPER_SIZE_SUBKEY, SettingName(SETTING_PaperSizeArea),
                                 REG_SZ, PAPER_SIZE, DWORD(strlen(PAPER_SIZE)));
        WriteDwordSetting(SettingsKey, SettingName(SETTING_DefaultProcessor), c.defaultViewer);
    }

    // A print lying crooked on a dark backing, as a hand feeds it.
    static void Feed(const char *picture = PHOTO)
    {
        feeder::Placement placement;
        placement.SkewDegrees = 3.5, placement.BackingRgb = 0x262626, placement.SheetDpi = PHOTO_DPI;
        ASSERT_TRUE(feeder::QueueSheet(picture, &placement));
    }

    // Runs the job on this thread while `user` acts from another one, every
    // 50 ms until the job ends, as a person at the screen would. Message
    // boxes are answered with OK and their texts kept in boxes_.
    int RunJob(const std::function<void()> &user = [] {})
    {
        boxes_.clear();
        std::atomic<bool> done(false);
        std::thread person([&] {
            for (char text[1200]; !done; Sleep(50)) {
                for (HWND box = nullptr; (box = FindWindowExA(nullptr, box, "#32770", AppTitle));)
                    if (box != WaitPromptWindow && box != ProgressDialogWindow &&
                        GetDlgItemTextA(box, MESSAGE_TEXT_ID, text, sizeof text)) {
                        boxes_.push_back(text);
                        PostMessageA(box, WM_COMMAND, IDOK, 0);
                        Sleep(200);
                    }
                user();
            }
        });
        int result = RunScanJob();
        done = true;
        person.join();
        return result;
    }

    // Waits up to 10 s for the viewer stand-ins, which start on their own time.
    static std::vector<std::string> Record(const std::string &record, size_t atLeast = 0)
    {
        std::vector<std::string> lines;
        for (int waited = 0; (lines = fixtures::RecordLines(record)).size() < atLeast && waited < 10000; waited += 100)
            Sleep(100);
        return lines;
    }

    std::string Picture(int number, const char *extension = ".jpg", const std::string &folder = "")
    {
        char name[32];
        snprintf(name, sizeof name, "\\Image%05d%s", number, extension);
        return (folder.empty() ? saveFolder_ : folder) + name;
    }

    std::string bin_, root_, programs_, imageFolio_, imageFolioRecord_, viewerRecord_, model_;
    std::string saveFolder_, defaultFolder_;
    int bitmapsBefore_ = 0;
    std::vector<std::string> boxes_; // the texts of the message boxes of the last job, in order
};

TEST_F(ScanJob, CrookedPrintBecomesTheNextNumberedPictureCroppedAndStraight)
{
    struct Case {
        Choices choices;
        const char *extension, *type;
        int degrees;
    } cases[] = {
        {{2, 300, OUTPUT_JPEG, ROTATE_NONE}, ".jpg", "TrueColor", 0},
        {{1, 100, OUTPUT_PNG, ROTATE_90}, ".png", "Grayscale", 90},
        {{0, 300, OUTPUT_TIFF, ROTATE_180}, ".tif", "Bilevel", 180},
        {{7, 300, OUTPUT_BMP, ROTATE_270}, ".bmp", "TrueColor", 270}, // an unknown mode scans in colour
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.extension);
        Choose(c.choices);
        // The first number is taken.
        ASSERT_TRUE(testsupport::WriteWholeFile(Picture(1, c.extension), "not a picture"));
        DeleteFileA(viewerRecord_.c_str());
        Feed();

        EXPECT_EQ(RunJob(), 1);

        std::string picture = Picture(2, c.extension);
        int width = 0, height = 0;
        char type[64] = ""; // TrueColor, Grayscale, Bilevel, ...
        sscanf(Identify(picture, "%w %h %[type]").c_str(), "%d %d %63s", &width, &height, type);
        double scale = double(c.choices.resolution) / PHOTO_DPI;
        bool turned = c.degrees % 180 != 0;
        EXPECT_NEAR(turned ? height : width, PHOTO_WIDTH * scale, 4);
        EXPECT_NEAR(turned ? width : height, PHOTO_HEIGHT * scale, 4);
        EXPECT_STREQ(type, c.type);
        if (c.choices.mode != 0) {
            EXPECT_GT(CorrelationWithPhoto(picture, c.degrees, c.choices.mode == 1), 0.95);
        }
        EXPECT_EQ(Record(viewerRecord_, 1), std::vector<std::string>{picture + "\t1"});
        EXPECT_EQ(BitmapsInTemp(), bitmapsBefore_) << "a temporary bitmap was left behind";
    }
    EXPECT_TRUE(fixtures::RecordLines(imageFolioRecord_).empty()) << "an unquoted program path ran another program";
}

// The tool finds no photo on a scrap far too small to be one and asks for
// the sheet again; without the tool, an earlier page's log asking the same
// is no reason to scan again.
TEST_F(ScanJob, SheetIsScannedAgainOnlyWhenTheToolAsks)
{
    std::string scrap = root_ + "\\scrap.bmp";
    ASSERT_EQ(testsupport::RunHostShell(
                  "convert -size 40x40 xc:white -type TrueColor 'BMP3:" + testsupport::UnixPath(scrap) + "'"),
              0);
    Choose(Choices());
    Feed(scrap.c_str());
    Feed();
    EXPECT_EQ(RunJob(), 1);
    EXPECT_EQ(boxes_, std::vector<std::string>{Text(IDS_RESCAN_NOTICE)});
    EXPECT_GT(CorrelationWithPhoto(Picture(1)), 0.95);

    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string log = std::string(temp) + AUTOCROP_LOG_FILE;
    ASSERT_TRUE(testsupport::WriteWholeFile(log, AUTOCROP_NO_ACTION_WORD));
    lstrcpynA(PagefitPath, (programs_ + "Missing.exe").c_str(), sizeof PagefitPath);
    Feed();
    EXPECT_EQ(RunJob(), 1);
    DeleteFileA(log.c_str());
    EXPECT_EQ(Identify(Picture(2), "%w"), std::to_string(PAPER_WIDTH)) << "not the page as scanned";
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(BitmapsInTemp(), bitmapsBefore_);
}

// A scan is never lost: where its folder goes while the page is scanned and
// the default folder cannot be made either, the scan itself is kept in the
// user's pictures and the user is told where. (The running agent's fault
// matrix covers the folder gone, the name taken and a full disk.)
TEST_F(ScanJob, PictureThatCannotBeSavedAnywhereIsKeptInThePictures)
{
    WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), "Scans<1>");
    Choose(Choices());
    Feed();
    // Slow enough that the page is still arriving when the folder goes.
    ASSERT_TRUE(feeder::SetLinesPerSecond(1000));
    bool removed = false;
    EXPECT_EQ(
        RunJob([&] { removed = removed || (ProgressDialogWindow && (testsupport::RemoveTree(saveFolder_), true)); }),
        1);
    ASSERT_TRUE(removed);
    EXPECT_EQ(BitmapsInTemp(), bitmapsBefore_);
    ASSERT_EQ(boxes_.size(), 1u);
    std::string intro = Text(IDS_SCAN_KEPT) + "\n\n", kept = boxes_[0].substr(intro.size());
    EXPECT_EQ(boxes_[0].substr(0, intro.size() + testsupport::ShellFolder(CSIDL_MYPICTURES).size()),
              intro + testsupport::ShellFolder(CSIDL_MYPICTURES));
    EXPECT_NEAR(atoi(Identify(kept, "%w").c_str()), PHOTO_WIDTH * 300 / PHOTO_DPI, 4) << "not the cropped scan";
    DeleteFileA(kept.c_str());
    EXPECT_TRUE(fixtures::RecordLines(viewerRecord_).empty()) << "a picture never saved was shown";
}

// Continuous feeding (ended with Done in the agent's own scenario): its
// prompt stays on top, the viewer is chosen again for every picture, and
// Switch User ends it. The third picture goes to
// ImageFolio, which never shows it and is given up after a while.
TEST_F(ScanJob, ContinuousFeedingScansEverySheetUntilTheUserIsSwitched)
{
    Choices continuous;
    continuous.continuous = 1;
    Choose(continuous);
    ASSERT_TRUE(fixtures::RegisterImageFolio(imageFolio_));
    SetEnvironmentVariableA("FIXTURE_IMAGEFOLIO_MODE", "never");
    Feed();
    Feed();
    bool fedThird = false, switched = false;
    LONG promptStyle = 0;
    EXPECT_EQ(RunJob([&] {
                  if (!WaitPromptWindow || !IsWindowVisible(WaitPromptWindow))
                      return;
                  if (!fedThird && fixtures::RecordLines(viewerRecord_).size() == 2) {
                      promptStyle = GetWindowLongA(WaitPromptWindow, GWL_EXSTYLE);
                      WriteDwordSetting(SettingsKey, SettingName(SETTING_DefaultProcessor), 0);
                      Feed();
                      fedThird = true;
                  } else if (fedThird && !switched && fixtures::RecordLines(imageFolioRecord_).size() == 2) {
                      SetEvent(SwitchUserEvent);
                      switched = true;
                  }
              }),
              1);
    EXPECT_TRUE(switched);
    EXPECT_TRUE(promptStyle & WS_EX_TOPMOST);
    EXPECT_EQ(WaitPromptWindow, nullptr);
    EXPECT_EQ(Record(viewerRecord_), (std::vector<std::string>{Picture(1) + "\t1", Picture(2) + "\t1"}));
    EXPECT_EQ(fixtures::RecordLines(imageFolioRecord_),
              (std::vector<std::string>{"command line " + imageFolio_ + " " + Picture(3), "picture exists 1"}));
}

} // namespace
