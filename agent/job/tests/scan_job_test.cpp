// The scan job end to end, in-process under Wine: the virtual scanner feeds
// a real photograph, the real Pagefit.exe crops and straightens it, the real
// image library saves it, and stand-ins for the viewer and ImageFolio record
// what they were asked to show. Pictures are checked by an independent
// reader (ImageMagick on the host) against the photograph itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "feeder_control.h"
#include "fixture_registry.h"
#include "image_library.h"
#include "imagefolio.h"
#include "product_files.h"
#include "scan_job.h"
#include "scanner.h"
#include "settings.h"
#include "shared.h"
#include "test_support.h"
#include "ui.h"

using testsupport::FileExists;
using testsupport::ProgramDirectory;

namespace {

// 1024 x 681 pixels, fed as a print of 200 dpi: 1536 x 1021.5 at 300 dpi.
const char PHOTO[] = "Z:\\usr\\share\\palapeli\\collection\\castle-maintenon.jpg";
const int PHOTO_WIDTH = 1024, PHOTO_HEIGHT = 681, PHOTO_DPI = 200;
// 7 x 5.5 inches of the feeder, in 1/300 inch.
const char PAPER_SIZE[] = "0,0,2100,1650";
const int PAPER_WIDTH = 2100, PAPER_HEIGHT = 1650;
const int MESSAGE_TEXT_ID = 0xFFFF; // the text of a message box

std::string Text(UINT id)
{
    char text[1100] = "";
    LoadStringA(ResourceLibrary, id, text, sizeof text);
    return text;
}

struct PictureFacts {
    int width = 0, height = 0;
    std::string type; // ImageMagick's: TrueColor, Grayscale, Bilevel, ...
};

PictureFacts Inspect(const std::string &picture)
{
    PictureFacts facts;
    std::string out;
    testsupport::RunHostShell("identify -format '%w %h %[type]' '" + testsupport::UnixPath(picture) + "'", &out);
    char type[64] = "";
    sscanf(out.c_str(), "%d %d %63s", &facts.width, &facts.height, type);
    facts.type = type;
    return facts;
}

// Normalised cross-correlation of the picture with the photograph turned
// clockwise by `degrees` and brought to the picture's size (1 is identical).
double CorrelationWithPhoto(const std::string &picture, int degrees, bool grey)
{
    PictureFacts facts = Inspect(picture);
    std::string out;
    testsupport::RunHostShell("convert '" + testsupport::UnixPath(PHOTO) + "' -rotate " + std::to_string(degrees) +
                                  (grey ? " -colorspace Gray" : "") + " -resize " + std::to_string(facts.width) + "x" +
                                  std::to_string(facts.height) + "! png:- | compare -metric NCC '" +
                                  testsupport::UnixPath(picture) + "' png:- null: 2>&1",
                              &out);
    return atof(out.c_str());
}

std::vector<std::string> BitmapsInTemp()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(temp) + "*.Bmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// The scan settings of one scenario, as the settings dialog would store them.
struct Choices {
    int mode = 2;
    int resolution = 300;
    int format = OUTPUT_JPEG;
    int rotate = ROTATE_NONE;
    int continuous = 0;
    int defaultProcessor = 1;
};

class ScanJob : public testing::Test {
protected:
    void SetUp() override
    {
        bin_ = ProgramDirectory();
        for (const char *needed : {AUTOCROP_TOOL_FILE, "Pixkit.dll", "FixtureViewer.exe", "FixtureImageFolio.exe"})
            if (!FileExists(bin_ + needed))
                GTEST_SKIP() << needed << " was not built";
        if (!FileExists(PHOTO))
            GTEST_SKIP() << "no photograph at " << PHOTO << " (scripts/bootstrap installs it)";
        ASSERT_TRUE(feeder::Reset());
        root_ = testsupport::MakeScratchFolder("scan job");
        ASSERT_FALSE(root_.empty());

        // A program folder with a blank in its name, and a program where an
        // unquoted command line would wrongly lead: it must never run.
        programs_ = root_ + "\\Velmora Tools\\";
        CreateDirectoryA(programs_.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA((bin_ + AUTOCROP_TOOL_FILE).c_str(), (programs_ + AUTOCROP_TOOL_FILE).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((bin_ + "FixtureImageFolio.exe").c_str(), (root_ + "\\Velmora.exe").c_str(), FALSE));
        imageFolio_ = root_ + "\\Image Folio\\If42le.exe";
        CreateDirectoryA((root_ + "\\Image Folio").c_str(), nullptr);
        ASSERT_TRUE(CopyFileA((bin_ + "FixtureImageFolio.exe").c_str(), imageFolio_.c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((bin_ + "FixtureImageFolio.exe").c_str(), (root_ + "\\Image.exe").c_str(), FALSE));
        imageFolioRecord_ = root_ + "\\imagefolio.txt";
        SetEnvironmentVariableA("FIXTURE_IMAGEFOLIO_RECORD", imageFolioRecord_.c_str());
        SetEnvironmentVariableA("FIXTURE_IMAGEFOLIO_MODE", nullptr);
        viewerRecord_ = root_ + "\\viewer.txt";
        ASSERT_TRUE(fixtures::RegisterViewer(bin_ + "FixtureViewer.exe", viewerRecord_));
        ASSERT_TRUE(fixtures::RegisterImageFolio(""));

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
        saveFolder_ = root_ + "\\Scans";
        CreateDirectoryA(saveFolder_.c_str(), nullptr);

        testsupport::GetRawValue(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY, "Image Library", &libraryType_, &libraryBefore_);
        UseImageLibrary(bin_ + "Pixkit.dll");

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
        SwitchUserEvent = nullptr;
        FreeLibrary(ResourceLibrary);
        ResourceLibrary = nullptr;
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, std::string(MODEL_KEY_BASE) + model_);
        if (libraryBefore_.empty())
            testsupport::DeleteRegistryTree(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY);
        else
            testsupport::SetRawValue(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY, "Image Library", libraryType_,
                                     libraryBefore_.data(), DWORD(libraryBefore_.size()));
        fixtures::UnregisterViewer();
        fixtures::UnregisterImageFolio();
        SetEnvironmentVariableA("FAKE_IMAGE_LIBRARY_SAVE", nullptr);
        testsupport::RemoveTree(defaultFolder_);
        testsupport::RemoveTree(root_);
    }

    void UseImageLibrary(const std::string &path)
    {
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY, "Image Library", REG_SZ,
                                             path.c_str(), DWORD(path.size())));
    }

    void Choose(const Choices &c)
    {
        HKEY scan, paper;
        ASSERT_EQ(
            RegCreateKeyExA(SettingsKey, SCAN_SETTINGS_SUBKEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scan, nullptr),
            ERROR_SUCCESS);
        const std::pair<SettingId, int> numbers[] = {
            {SETTING_ScanMode, c.mode}, {SETTING_Resolution, c.resolution},     {SETTING_Format, c.format},
            {SETTING_Rotate, c.rotate}, {SETTING_ContinuousScan, c.continuous}, {SETTING_AutoCrop, 1},
            {SETTING_AutoDeskew, 1},
        };
        for (const auto &n : numbers)
            WriteDwordSetting(scan, SettingName(n.first), DWORD(n.second));
        WriteStringSetting(scan, SettingName(SETTING_SavePath), saveFolder_.c_str());
        RegCloseKey(scan);
        ASSERT_EQ(
            RegCreateKeyExA(SettingsKey, PAPER_SIZE_SUBKEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &paper, nullptr),
            ERROR_SUCCESS);
        WriteStringSetting(paper, SettingName(SETTING_PaperSizeArea), PAPER_SIZE);
        RegCloseKey(paper);
        WriteDwordSetting(SettingsKey, SettingName(SETTING_DefaultProcessor), DWORD(c.defaultProcessor));
    }

    // A print lying crooked on a dark backing, as a hand feeds it.
    static void Feed(const char *picture = PHOTO)
    {
        feeder::Placement placement;
        placement.X300 = 150;
        placement.Y300 = 150;
        placement.SkewDegrees = 3.5;
        placement.BackingRgb = 0x262626;
        placement.SheetDpi = PHOTO_DPI;
        ASSERT_TRUE(feeder::QueueSheet(picture, &placement));
    }

    // Runs the job on this thread while `user` acts from another one, every
    // 50 ms until the job ends, as a person at the screen would. Message
    // boxes are answered with OK and their texts kept in boxes_.
    int RunJob(const std::function<void()> &user = nullptr)
    {
        promptSeen_ = false;
        std::atomic<bool> done(false);
        std::thread person([&] {
            while (!done) {
                AnswerMessageBoxes();
                if (WaitPromptWindow)
                    promptSeen_ = true;
                if (user)
                    user();
                Sleep(50);
            }
        });
        int result = RunScanJob();
        done = true;
        person.join();
        return result;
    }

    void AnswerMessageBoxes()
    {
        HWND box = nullptr;
        while ((box = FindWindowExA(nullptr, box, "#32770", AppTitle))) {
            char text[1200] = "";
            if (box == WaitPromptWindow || box == ProgressDialogWindow ||
                !GetDlgItemTextA(box, MESSAGE_TEXT_ID, text, sizeof text))
                continue;
            {
                std::lock_guard<std::mutex> lock(boxesLock_);
                boxes_.push_back(text);
            }
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            Sleep(200);
        }
    }

    std::vector<std::string> Boxes()
    {
        std::lock_guard<std::mutex> lock(boxesLock_);
        return boxes_;
    }

    // Waits up to 10 s for the viewer stand-ins, which start on their own time.
    static std::vector<std::string> Record(const std::string &record, size_t atLeast)
    {
        std::vector<std::string> lines;
        for (int waited = 0; (lines = fixtures::RecordLines(record)).size() < atLeast && waited < 10000; waited += 100)
            Sleep(100);
        return lines;
    }
    std::vector<std::string> Viewed(size_t atLeast = 0)
    {
        return Record(viewerRecord_, atLeast);
    }

    std::string Picture(int number, const char *extension = ".jpg", const std::string &folder = "")
    {
        char name[32];
        snprintf(name, sizeof name, "\\Image%05d%s", number, extension);
        return (folder.empty() ? saveFolder_ : folder) + name;
    }

    void ExpectTemporaryBitmapsGone()
    {
        EXPECT_EQ(BitmapsInTemp(), bitmapsBefore_) << "a temporary bitmap was left behind";
    }

    std::string bin_, root_, programs_, imageFolio_, imageFolioRecord_, viewerRecord_, model_;
    std::string saveFolder_, defaultFolder_, libraryBefore_;
    DWORD libraryType_ = REG_SZ;
    std::vector<std::string> bitmapsBefore_;
    std::mutex boxesLock_;
    std::vector<std::string> boxes_;
    std::atomic<bool> promptSeen_{false};
};

// ---- From the button to a picture -----------------------------------------

TEST_F(ScanJob, CrookedPrintBecomesTheNextNumberedPictureCroppedAndStraight)
{
    struct Case {
        Choices choices;
        const char *extension;
        const char *type;
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
        // The first number is taken, and must stay as it is.
        ASSERT_TRUE(testsupport::WriteWholeFile(Picture(1, c.extension), "not a picture"));
        DeleteFileA(viewerRecord_.c_str());
        Feed();

        EXPECT_EQ(RunJob(), 1);

        std::string picture = Picture(2, c.extension);
        PictureFacts facts = Inspect(picture);
        double scale = double(c.choices.resolution) / PHOTO_DPI;
        bool turned = c.degrees == 90 || c.degrees == 270;
        EXPECT_NEAR(turned ? facts.height : facts.width, PHOTO_WIDTH * scale, 4);
        EXPECT_NEAR(turned ? facts.width : facts.height, PHOTO_HEIGHT * scale, 4);
        EXPECT_EQ(facts.type, c.type);
        if (facts.type != "Bilevel") {
            EXPECT_GT(CorrelationWithPhoto(picture, c.degrees, facts.type == "Grayscale"), 0.95);
        }
        std::string untouched;
        EXPECT_TRUE(testsupport::ReadWholeFile(Picture(1, c.extension), &untouched) && untouched == "not a picture");
        EXPECT_EQ(Viewed(1), std::vector<std::string>{picture + "\t1"});
        EXPECT_FALSE(promptSeen_);
        ExpectTemporaryBitmapsGone();
    }
    EXPECT_TRUE(fixtures::RecordLines(imageFolioRecord_).empty()) << "an unquoted program path ran another program";
}

TEST_F(ScanJob, SheetWithoutAPhotoIsScannedAgainUnderAFreshName)
{
    // A scrap far too small to be a photo: the tool finds none on the sheet.
    std::string blank = root_ + "\\scrap.bmp";
    ASSERT_EQ(testsupport::RunHostShell(
                  "convert -size 40x40 xc:white -type TrueColor 'BMP3:" + testsupport::UnixPath(blank) + "'"),
              0);
    Choose(Choices());
    Feed(blank.c_str());
    Feed();

    EXPECT_EQ(RunJob(), 1);

    EXPECT_EQ(Boxes(), std::vector<std::string>{Text(IDS_RESCAN_NOTICE)});
    EXPECT_GT(CorrelationWithPhoto(Picture(1), 0, false), 0.95);
    EXPECT_FALSE(FileExists(Picture(2)));
    ExpectTemporaryBitmapsGone();
}

TEST_F(ScanJob, WithoutTheToolThePageIsSavedAsScannedWhateverAnOldLogSays)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string log = std::string(temp) + AUTOCROP_LOG_FILE;
    ASSERT_TRUE(testsupport::WriteWholeFile(log, AUTOCROP_NO_ACTION_WORD));
    lstrcpynA(PagefitPath, (programs_ + "Missing.exe").c_str(), sizeof PagefitPath);
    Choose(Choices());
    Feed();

    EXPECT_EQ(RunJob(), 1);
    DeleteFileA(log.c_str());

    PictureFacts facts = Inspect(Picture(1));
    EXPECT_EQ(facts.width, PAPER_WIDTH);
    EXPECT_EQ(facts.height, PAPER_HEIGHT);
    EXPECT_TRUE(Boxes().empty());
    ExpectTemporaryBitmapsGone();
}

// ---- Pages that fail --------------------------------------------------------

TEST_F(ScanJob, FailedFirstPageLeavesNothingAndShowsNoPrompt)
{
    struct Case {
        const char *what;
        std::function<void()> setUp;
        std::function<void()> user;
    } cases[] = {
        {"device taken by another program", [] { feeder::SetRefuseAcquire(true); }, nullptr},
        {"Esc while scanning", [] { feeder::SetLinesPerSecond(400); },
         [] {
             if (ProgressDialogWindow)
                 PostMessageA(ProgressDialogWindow, WM_KEYDOWN, VK_ESCAPE, 0);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Choices continuous;
        continuous.continuous = 1;
        Choose(continuous);
        feeder::ClearFaults();
        Feed();
        c.setUp();

        EXPECT_EQ(RunJob([&] {
                      if (c.user)
                          c.user();
                      // Were the page to succeed, the prompt must not hold the test.
                      if (WaitPromptWindow)
                          PostMessageA(GetDlgItem(WaitPromptWindow, IDOK), BM_CLICK, 0, 0);
                  }),
                  1);

        EXPECT_FALSE(FileExists(Picture(1)));
        EXPECT_FALSE(promptSeen_);
        EXPECT_TRUE(Viewed().empty());
        ExpectTemporaryBitmapsGone();
        feeder::Reset();
    }
}

// ---- A scan is never lost ---------------------------------------------------

TEST_F(ScanJob, PictureThatCannotBeSavedInItsFolderGoesToTheDefaultFolder)
{
    struct Case {
        const char *what;
        std::function<void()> whileScanning;
    } cases[] = {
        {"name taken meanwhile", [this] { testsupport::WriteWholeFile(Picture(1), "someone else's"); }},
        {"folder gone", [this] { testsupport::RemoveTree(saveFolder_); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CreateDirectoryA(saveFolder_.c_str(), nullptr);
        DeleteFileA(Picture(1).c_str());
        Choose(Choices());
        Feed();
        bool sabotaged = false;

        EXPECT_EQ(RunJob([&] {
                      if (ProgressDialogWindow && !sabotaged) {
                          c.whileScanning();
                          sabotaged = true;
                      }
                  }),
                  1);

        ASSERT_TRUE(sabotaged);
        std::string picture = Picture(1, ".jpg", defaultFolder_);
        EXPECT_GT(CorrelationWithPhoto(picture, 0, false), 0.95);
        EXPECT_EQ(Viewed(1), std::vector<std::string>{picture + "\t1"});
        std::string other;
        if (testsupport::ReadWholeFile(Picture(1), &other)) {
            EXPECT_EQ(other, "someone else's");
        }
        testsupport::RemoveTree(defaultFolder_);
        DeleteFileA(viewerRecord_.c_str());
        ExpectTemporaryBitmapsGone();
    }
}

TEST_F(ScanJob, FullDiskSendsThePictureToTheDefaultFolder)
{
    std::string mount = "/tmp/velmora-full-disk-" + std::to_string(GetCurrentProcessId());
    if (testsupport::RunHostShell("mkdir -p " + mount + " && mount -t tmpfs -o size=64k tmpfs " + mount) != 0)
        GTEST_SKIP() << "no small file system can be mounted here";
    saveFolder_ = "Z:" + mount;
    for (char &c : saveFolder_)
        if (c == '/')
            c = '\\';
    Choose(Choices());
    Feed();

    EXPECT_EQ(RunJob(), 1);
    testsupport::RunHostShell("umount " + mount + " && rmdir " + mount);

    EXPECT_EQ(Viewed(1), std::vector<std::string>{Picture(1, ".jpg", defaultFolder_) + "\t1"});
    ExpectTemporaryBitmapsGone();
}

TEST_F(ScanJob, ScanThatCannotBeSavedAnywhereIsKeptAndTheUserToldWhere)
{
    UseImageLibrary(bin_ + "FakeImageLibrary.dll");
    SetEnvironmentVariableA("FAKE_IMAGE_LIBRARY_SAVE", "1");
    Choose(Choices());
    Feed();

    EXPECT_EQ(RunJob(), 1);

    std::vector<std::string> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    std::string intro = Text(IDS_SCAN_KEPT) + "\n\n";
    ASSERT_EQ(boxes[0].compare(0, intro.size(), intro), 0) << boxes[0];
    std::string kept = boxes[0].substr(intro.size());
    char pictures[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, pictures, CSIDL_MYPICTURES, FALSE);
    EXPECT_EQ(kept.compare(0, strlen(pictures), pictures), 0) << kept;
    PictureFacts facts = Inspect(kept);
    EXPECT_NEAR(facts.width, PHOTO_WIDTH * 300 / PHOTO_DPI, 4) << "not the cropped scan";
    DeleteFileA(kept.c_str());
    EXPECT_TRUE(Viewed().empty()) << "a viewer was opened on a picture that was never saved";
    EXPECT_FALSE(FileExists(Picture(1)));
    ExpectTemporaryBitmapsGone();
}

// ---- Continuous feeding -----------------------------------------------------

TEST_F(ScanJob, ContinuousFeedingScansEverySheetUntilStopped)
{
    struct Case {
        const char *how;
        std::function<void(HWND prompt)> stop;
    } cases[] = {
        {"Done", [](HWND prompt) { PostMessageA(GetDlgItem(prompt, IDOK), BM_CLICK, 0, 0); }},
        {"Switch User", [](HWND) { SetEvent(SwitchUserEvent); }},
        {"unplugged", [](HWND) { feeder::SetPlugged(false); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.how);
        Choices continuous;
        continuous.continuous = 1;
        Choose(continuous);
        DeleteFileA(viewerRecord_.c_str());
        testsupport::RemoveTree(saveFolder_);
        CreateDirectoryA(saveFolder_.c_str(), nullptr);
        feeder::Reset();
        feeder::SetPlugged(true);
        Feed();
        Feed();
        bool escaped = false, stopped = false;
        RECT promptRect = {};
        LONG promptStyle = 0;

        EXPECT_EQ(RunJob([&] {
                      HWND prompt = WaitPromptWindow;
                      if (!prompt || !IsWindowVisible(prompt) || fixtures::RecordLines(viewerRecord_).size() < 2)
                          return;
                      if (!escaped) {
                          // Esc is no way to end a session of feeding: a third sheet still comes in.
                          GetWindowRect(prompt, &promptRect);
                          promptStyle = GetWindowLongA(prompt, GWL_EXSTYLE);
                          PostMessageA(prompt, WM_KEYDOWN, VK_ESCAPE, 0);
                          Sleep(300);
                          Feed();
                          escaped = true;
                      } else if (!stopped && fixtures::RecordLines(viewerRecord_).size() == 3) {
                          c.stop(prompt);
                          stopped = true;
                      }
                  }),
                  1);

        EXPECT_TRUE(stopped);
        std::vector<std::string> expected;
        for (int n = 1; n <= 3; ++n)
            expected.push_back(Picture(n) + "\t1");
        EXPECT_EQ(Viewed(3), expected);
        EXPECT_FALSE(FileExists(Picture(4)));
        EXPECT_EQ(WaitPromptWindow, nullptr);
        EXPECT_TRUE(promptStyle & WS_EX_TOPMOST);
        RECT desktop;
        GetWindowRect(GetDesktopWindow(), &desktop);
        EXPECT_NEAR((promptRect.left + promptRect.right) / 2, (desktop.left + desktop.right) / 2, 1);
        EXPECT_NEAR((promptRect.top + promptRect.bottom) / 2, (desktop.top + desktop.bottom) / 2, 1);
        ExpectTemporaryBitmapsGone();
    }
}

// ---- ImageFolio -------------------------------------------------------------

TEST_F(ScanJob, ImageFolioIsStartedOnThePictureAndToldToShowIt)
{
    struct Case {
        const char *mode;
        bool installed;
        bool commandSent;
    } cases[] = {
        {"", true, true},
        {"late", true, true},
        {"never", true, false}, // given up after a while: the job goes on
        {"", false, false},     // not installed: the default viewer shows the picture
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.mode) + (c.installed ? " installed" : " absent"));
        Choices imageFolio;
        imageFolio.defaultProcessor = 0;
        Choose(imageFolio);
        SetEnvironmentVariableA("FIXTURE_IMAGEFOLIO_MODE", c.mode);
        ASSERT_TRUE(fixtures::RegisterImageFolio(c.installed ? imageFolio_ : ""));
        DeleteFileA(imageFolioRecord_.c_str());
        DeleteFileA(viewerRecord_.c_str());
        DeleteFileA(Picture(1).c_str());
        Feed();

        EXPECT_EQ(RunJob(), 1);

        std::vector<std::string> record = Record(imageFolioRecord_, c.installed ? 2 : 0);
        if (c.installed) {
            std::vector<std::string> expected = {"command line " + imageFolio_ + " " + Picture(1), "picture exists 1"};
            if (c.commandSent)
                expected.push_back("command " + std::to_string(IMAGEFOLIO_SHOW_COMMAND) + " 1");
            EXPECT_EQ(record, expected);
            EXPECT_TRUE(Viewed().empty());
        } else {
            EXPECT_TRUE(record.empty());
            EXPECT_EQ(Viewed(1), std::vector<std::string>{Picture(1) + "\t1"});
        }
    }
}

TEST_F(ScanJob, ViewerChosenBetweenTwoContinuousPagesOpensTheSecond)
{
    Choices continuous;
    continuous.continuous = 1;
    Choose(continuous);
    ASSERT_TRUE(fixtures::RegisterImageFolio(imageFolio_));
    Feed();
    bool switched = false, stopped = false;

    EXPECT_EQ(RunJob([&] {
                  if (!WaitPromptWindow || !IsWindowVisible(WaitPromptWindow))
                      return;
                  if (!switched && fixtures::RecordLines(viewerRecord_).size() == 1) {
                      WriteDwordSetting(SettingsKey, SettingName(SETTING_DefaultProcessor), 0);
                      Feed();
                      switched = true;
                  } else if (switched && !stopped && fixtures::RecordLines(imageFolioRecord_).size() == 3) {
                      PostMessageA(GetDlgItem(WaitPromptWindow, IDOK), BM_CLICK, 0, 0);
                      stopped = true;
                  }
              }),
              1);

    EXPECT_EQ(Viewed(), std::vector<std::string>{Picture(1) + "\t1"});
    EXPECT_EQ(fixtures::RecordLines(imageFolioRecord_).at(0), "command line " + imageFolio_ + " " + Picture(2));
}

// ---- The settings record ------------------------------------------------------

TEST_F(ScanJob, SettingsRecordFromTheRegistry)
{
    HKEY scan, paper;
    ASSERT_EQ(
        RegCreateKeyExA(SettingsKey, SCAN_SETTINGS_SUBKEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scan, nullptr),
        ERROR_SUCCESS);
    ScanJobSettings settings;
    EXPECT_EQ(ReadScanJobSettings(&settings), 0) << "without a \"Paper Size\" key";
    ASSERT_EQ(RegCreateKeyExA(SettingsKey, PAPER_SIZE_SUBKEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &paper, nullptr),
              ERROR_SUCCESS);

    // Nothing stored: every default, written back; an empty "Size" too.
    ASSERT_EQ(ReadScanJobSettings(&settings), 1);
    EXPECT_EQ(settings.XResolution, 100);
    EXPECT_EQ(settings.DeviceXResolution, 300);
    EXPECT_EQ(settings.DeviceYResolution, 300);
    EXPECT_EQ(settings.Brightness, 0);
    EXPECT_EQ(settings.Contrast, 0);
    EXPECT_EQ(settings.Gamma, 100);
    EXPECT_EQ(settings.AcquireType, SCAN_TYPE_LINE_ART);
    EXPECT_EQ(settings.PaperArea[3], 0);
    DWORD type = 0;
    std::string data;
    std::string paperPath =
        std::string(MODEL_KEY_BASE) + model_ + "\\Scanner 1\\" SETTINGS_SUBKEY "\\" PAPER_SIZE_SUBKEY;
    EXPECT_TRUE(testsupport::GetRawValue(HKEY_CURRENT_USER, paperPath, "Size", &type, &data) && data.empty());
    EXPECT_EQ(type, DWORD(REG_SZ));

    WriteDwordSetting(scan, SettingName(SETTING_Resolution), 600);
    WriteDwordSetting(scan, SettingName(SETTING_Brightness), 100);
    WriteDwordSetting(scan, SettingName(SETTING_Contrast), 0);
    WriteDwordSetting(scan, SettingName(SETTING_AutoDeskew), 1);
    WriteDwordSetting(scan, SettingName(SETTING_Rotate), ROTATE_270);
    WriteStringSetting(paper, SettingName(SETTING_PaperSizeArea), "10, 20, 30, 40");
    ASSERT_EQ(ReadScanJobSettings(&settings), 1);
    EXPECT_EQ(settings.DeviceXResolution, 600);
    EXPECT_EQ(settings.YResolution, 600);
    EXPECT_EQ(settings.Brightness, 127);
    EXPECT_EQ(settings.Contrast, -127);
    EXPECT_EQ(settings.AcquireType, SCAN_TYPE_GREY) << "line art to be straightened is scanned in grey";
    EXPECT_EQ(settings.OutputType, SCAN_TYPE_LINE_ART);
    EXPECT_EQ(settings.Rotate, ROTATE_270);
    const uint16_t area[4] = {10, 20, 30, 40};
    EXPECT_EQ(memcmp(settings.PaperArea, area, sizeof area), 0);
    RegCloseKey(paper);
    RegCloseKey(scan);
}

} // namespace
