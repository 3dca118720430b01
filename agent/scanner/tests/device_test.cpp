// The scanner layer against the virtual scanner as the agent loads it: the
// commands the device saw for a probe, the polls and the insert-paper
// dialog, pages of each type as ImageMagick decodes them against the
// device's own rendering, short pages and failures, and the lookup tables
// the device received. Transfers that break the driver contract come from a
// scripted driver instead. What each probe outcome shows the user, and
// whole scans, are end-to-end scenarios.
#include <gtest/gtest.h>

#include <functional>

#include "bitmap_layout.h"
#include "feeder_control.h"
#include "scan_bitmap.h"
#include "scanner_internal.h"
#include "scripted_driver.h"
#include "settings.h"
#include "shared.h"
#include "test_support.h"

using namespace bitmap_layout;

namespace {

// The trace as "SC_ACQUIRE SC_RELEASE ..." (feed events left out).
std::string TracedCommands()
{
    std::string names;
    for (const FeederTraceEntry &entry : feeder::ReadTrace())
        if (entry.Command < FEED_EVENT_SHEET_SKIPPED)
            names += (names.empty() ? "" : " ") + feeder::CommandName(entry.Command);
    return names;
}

std::vector<FeederTraceEntry> TracedEntries(uint16_t command)
{
    std::vector<FeederTraceEntry> entries;
    for (const FeederTraceEntry &entry : feeder::ReadTrace())
        if (entry.Command == command)
            entries.push_back(entry);
    return entries;
}

const std::string PAPER_CHECK = "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE";
const std::string SET_UP = PAPER_CHECK + " SC_ACQUIRE SC_GET_GEOMETRY SC_GET_TABLE_FORMAT SC_SET_TABLE SC_SET_TABLE "
                                         "SC_SET_TABLE SC_SET_PARAMS SC_START SC_PREPARE_READ";
const std::string FINISH = " SC_STOP SC_END_PAGE SC_RELEASE";

// A job for the area at the origin.
ScanJobSettings Job(uint16_t type, uint16_t width300, uint16_t height300, uint16_t dpi = 100)
{
    ScanJobSettings settings = {};
    settings.PaperArea[2] = width300;
    settings.PaperArea[3] = height300;
    settings.DeviceXResolution = settings.DeviceYResolution = settings.XResolution = settings.YResolution = dpi;
    settings.AcquireType = settings.OutputType = type;
    settings.Gamma = 100;
    return settings;
}

// A bitmap file's header field, and its rows turned back top line first.
uint32_t Field(const std::string &file, uint32_t offset)
{
    return offset + 4 <= file.size() ? ReadLe32((const uint8_t *)file.data() + offset) : 0xFFFFFFFFu;
}

std::vector<uint8_t> RowsTopFirst(const std::string &file, uint32_t lineBytes)
{
    std::vector<uint8_t> rows;
    for (size_t k = (file.size() - Field(file, OFFSET_PIXELS)) / lineBytes; k-- > 0;) {
        auto row = file.begin() + Field(file, OFFSET_PIXELS) + k * lineBytes;
        rows.insert(rows.end(), row, row + lineBytes);
    }
    return rows;
}

void CALLBACK PressEscOnTheDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    PostMessageA(FindWindowA("#32770", AppTitle), WM_KEYDOWN, VK_ESCAPE, 0);
}

// A fresh virtual scanner with its driver probed and loaded and its trace
// cleared; a private registry key as SettingsKey; AppTitle unique to this
// process; a scratch folder holding a sheet whose every pixel differs from
// its neighbours. The program holds no templates: no dialog appears unless a
// test loads the resource library.
class ScannerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(feeder::Reset()) << "the virtual scanner's state cannot be mapped";
        folder_ = testsupport::MakeScratchFolder("scanner");
        sheet_ = folder_ + "\\sheet.bmp";
        page_ = folder_ + "\\page.bmp";
        ASSERT_TRUE(testsupport::WriteWholeFile(
            sheet_, scanbitmap::ScanBitmap(24, 120, 90, 0, [](uint32_t x, uint32_t y) {
                return ((x * 5 + y) & 0xFF) | ((y * 3 + 40) & 0xFF) << 8 | ((x * 2 + y * 7) & 0xFF) << 16;
            })));
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_CURRENT_USER, KEY_PATH, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &SettingsKey, nullptr),
            ERROR_SUCCESS);
        AppInstance = ResourceLibrary = GetModuleHandleA(nullptr);
        snprintf(AppTitle, sizeof AppTitle, "Velmora scanner test %lu", GetCurrentProcessId());
        ASSERT_EQ(ProbeScanner(driver_.c_str()), PROBE_READY);
        ASSERT_TRUE(feeder::ClearTrace());
    }
    void TearDown() override
    {
        UnloadScannerDriver();
        feeder::Reset();
        if (ResourceLibrary != AppInstance)
            FreeLibrary(ResourceLibrary);
        RegCloseKey(SettingsKey);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, KEY_PATH);
        testsupport::RemoveTree(folder_);
    }
    // The dialog templates, and a sheet the first `missed` paper checks do not see.
    void LoadResources(uint32_t missed)
    {
        ResourceLibrary = LoadLibraryA((testsupport::ProgramDirectory() + RESOURCE_LIBRARY_FILE).c_str());
        EXPECT_NE(ResourceLibrary, nullptr) << "VelmoraRes.dll beside the test program";
        feeder::SetSyntheticPage(true);
        for (uint32_t check = 1; check <= missed; check++)
            feeder::InjectFault(SC_PAPER_PRESENT, check, FEED_STATUS_NO_PAPER);
    }

    const char *KEY_PATH = "Software\\Velmora scanner tests";
    const std::string driver_ = testsupport::ProgramDirectory() + SCANNER_DRIVER_FILE;
    std::string folder_, sheet_, page_;
};

// Each call's commands, with a driver loaded by an earlier probe: a probe
// (a repeated arrival) closes that session first, every failure closes and
// unloads the driver, giving the device back when it was taken. Only a ready
// driver stays in the process, and its unload leaves no library reference.
TEST_F(ScannerTest, CommandSequencesOfTheProbeAndThePolls)
{
    // Not a driver, in a folder too deep for a 128-character file record: found, then refused.
    std::string deep = folder_;
    for (char level = 'a'; level < 'd'; level++)
        CreateDirectoryA((deep += "\\" + std::string(50, level)).c_str(), nullptr);
    CopyFileA((testsupport::ProgramDirectory() + RESOURCE_LIBRARY_FILE).c_str(),
              (deep += "\\" SCANNER_DRIVER_FILE).c_str(), 0);
    auto probe = [](const std::string &path) { return [path] { return (int)ProbeScanner(path.c_str()); }; };
    auto poll = [] { return (int)PollScanButton(nullptr, BUTTON_POLL_TIMER_ID); };
    auto press = [](int16_t code, uint32_t polls) { return [=] { feeder::PressButton(code, polls); }; };
    const std::string button = "SC_ACQUIRE SC_IS_PRESENT SC_RELEASE SC_GET_BUTTON";
    const struct {
        const char *name;
        std::function<void()> arrange;
        std::function<int()> call;
        int result;
        bool loaded;
        std::string commands;
    } cases[] = {
        {"probe, no entry, deep folder", nullptr, probe(deep), PROBE_DRIVER_BROKEN, false, "SC_CLOSE"},
        {"probe, acquire refused", [] { feeder::SetRefuseAcquire(true); }, probe(driver_), PROBE_DEVICE_REFUSED, false,
         "SC_CLOSE SC_OPEN SC_ACQUIRE SC_RELEASE SC_CLOSE"},
        {"probe, ready again", nullptr, probe(driver_), PROBE_READY, true,
         "SC_CLOSE SC_OPEN SC_ACQUIRE SC_IS_PRESENT SC_GET_INFO SC_GET_EXTRA_INFO SC_RELEASE"},
        {"probe, file gone", nullptr, probe(folder_ + "\\" SCANNER_DRIVER_FILE), PROBE_DRIVER_MISSING, false,
         "SC_CLOSE"},
        {"button up", nullptr, poll, 0, true, button},
        // One press starts one scan: the poll ends once the button is let go.
        {"held button", press(2, 4), poll, 2, true,
         button + " SC_GET_BUTTON SC_GET_BUTTON SC_GET_BUTTON SC_GET_BUTTON"},
        {"sheet taken", [this] { feeder::QueueSheet(sheet_); }, TakePaperEvent, 1, true,
         "SC_ACQUIRE SC_PAPER_PRESENT SC_TAKE_PAPER SC_RELEASE"},
        // Without the template the scan goes ahead; the device reports the missing sheet.
        {"no sheet, no template", nullptr, WaitForPaper, 1, true, PAPER_CHECK},
        // With it the insert-paper dialog checks every 200 ms until a sheet is there, and takes it.
        {"insert-paper dialog", [this] { LoadResources(2); }, WaitForPaper, 1, true,
         "SC_ACQUIRE SC_PAPER_PRESENT SC_PAPER_PRESENT SC_PAPER_PRESENT SC_TAKE_PAPER SC_RELEASE"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        UnloadScannerDriver();
        ASSERT_TRUE(feeder::Reset());
        ASSERT_EQ(ProbeScanner(driver_.c_str()), PROBE_READY);
        if (c.arrange)
            c.arrange();
        feeder::ClearTrace();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(TracedCommands(), c.commands);
        EXPECT_EQ(GetModuleHandleA(SCANNER_DRIVER_FILE) != nullptr, c.loaded);
        UnloadScannerDriver();
        EXPECT_EQ(GetModuleHandleA(SCANNER_DRIVER_FILE), nullptr) << "a library reference outlived the unload";
        EXPECT_EQ(SendScannerCommand(SC_ACQUIRE, nullptr), 0);
        EXPECT_EQ(TracedCommands(), c.loaded ? c.commands + " SC_CLOSE" : c.commands);
    }
}

// 2 by 1.5 inches at 100 dpi, 200 pixels by 150 lines, in blocks of 40
// lines; the last 30 come with the end-of-page status.
TEST_F(ScannerTest, EachTypeMatchesTheDeviceAndImageMagick)
{
    const struct {
        uint16_t type;
        uint32_t lineBytes;
    } cases[] = {{SCAN_TYPE_COLOUR, 600}, {SCAN_TYPE_GREY, 200}, {SCAN_TYPE_LINE_ART, 28}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type);
        ASSERT_TRUE(feeder::QueueSheet(sheet_) && feeder::SetTransferSize(c.lineBytes * 40) && feeder::ClearTrace());
        ScanJobSettings settings = Job(c.type, 600, 450);
        settings.Brightness = 25, settings.Contrast = -30, settings.Gamma = 160;
        ASSERT_EQ(AcquireToBitmap(settings, page_.c_str()), 1);
        EXPECT_EQ(TracedCommands(), SET_UP + " SC_READ SC_READ SC_READ SC_READ" + FINISH);
        feeder::RenderedPage rendered;
        ASSERT_TRUE(feeder::RenderCurrentPage(&rendered));
        const std::vector<uint8_t> &rows = rendered.Rows;
        ASSERT_EQ(rows.size(), 150 * c.lineBytes);

        // The rows as a picture reader shows them: 8-bit RGB, line art bit 1 white.
        std::string shown, decoded, output, raw = folder_ + "\\page.rgb";
        for (uint32_t i = 0; i < 150 * 200; i++) {
            const uint8_t *row = &rows[i / 200 * c.lineBytes];
            uint32_t x = i % 200;
            for (int channel = 2; channel >= 0; channel--)
                shown += (char)(c.type == SCAN_TYPE_COLOUR ? row[3 * x + channel]
                                : c.type == SCAN_TYPE_GREY ? row[x]
                                                           : (row[x / 8] >> (7 - x % 8) & 1) * 255);
        }
        std::string script =
            "convert '" + testsupport::UnixPath(page_) + "' -depth 8 'rgb:" + testsupport::UnixPath(raw) + "'";
        ASSERT_EQ(testsupport::RunHostShell(script, &output), 0) << output;
        ASSERT_TRUE(testsupport::ReadWholeFile(raw, &decoded));
        EXPECT_TRUE(decoded == shown) << "ImageMagick decodes other pixels than the device delivered";
    }
}

TEST_F(ScannerTest, ShortPagesAndFailures)
{
    const struct {
        const char *name;
        uint16_t width300;
        uint32_t blockBytes;
        void (*fault)();
        std::string commands;
        uint32_t width, lines; // of the file; none is left when 0
    } cases[] = {
        {"early end", 600, 200 * 40, [] { feeder::SetEndPageAfter(55); }, SET_UP + " SC_READ SC_READ" + FINISH, 200,
         55},
        {"read error mid-page", 600, 200 * 40, [] { feeder::SetFailReadAfter(80, FEED_STATUS_BAD_SHEET); },
         SET_UP + " SC_READ SC_READ SC_READ" + FINISH, 200, 80},
        // 10 inches asked for on an 8.5-inch glass: the header follows the device's answer.
        {"area clipped by the device", 3000, 852 * 40, nullptr, SET_UP + " SC_READ SC_READ SC_READ SC_READ" + FINISH,
         850, 150},
        {"block smaller than a line", 600, 199, nullptr, SET_UP + FINISH, 0, 0},
        // No line length comes back, so the page cannot match its header: refused before the tables.
        {"geometry refused", 600, 200 * 40, [] { feeder::InjectFault(SC_GET_GEOMETRY, 1, FEED_STATUS_BAD_REQUEST); },
         PAPER_CHECK + " SC_ACQUIRE SC_GET_GEOMETRY SC_RELEASE", 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(page_.c_str());
        ASSERT_TRUE(feeder::Reset() && feeder::QueueSheet(sheet_) && feeder::SetTransferSize(c.blockBytes));
        if (c.fault)
            c.fault();
        feeder::ClearTrace();
        EXPECT_EQ(AcquireToBitmap(Job(SCAN_TYPE_GREY, c.width300, 450), page_.c_str()), c.lines ? 1 : 0);
        EXPECT_EQ(TracedCommands(), c.commands);
        std::string file;
        ASSERT_EQ(testsupport::ReadWholeFile(page_, &file), c.lines != 0) << "a failed page leaves no file";
        if (!c.lines)
            continue;
        uint32_t lineBytes = uint32_t(RowBytes(c.width, 8));
        EXPECT_EQ(Field(file, OFFSET_WIDTH), c.width) << "the width stays as announced";
        EXPECT_EQ(Field(file, OFFSET_HEIGHT), c.lines);
        feeder::RenderedPage rendered;
        ASSERT_TRUE(feeder::RenderCurrentPage(&rendered));
        rendered.Rows.resize((size_t)lineBytes * c.lines);
        EXPECT_TRUE(RowsTopFirst(file, lineBytes) == rendered.Rows) << "the lines received, in order";
    }
    // Esc on the progress dialog of a slow device, from a timer the page's message loop runs: the page
    // stops before its 15 blocks of 10 lines and leaves no file.
    ASSERT_TRUE(feeder::Reset());
    LoadResources(0);
    ASSERT_TRUE(feeder::SetLinesPerSecond(150) && feeder::SetTransferSize(2000) && feeder::ClearTrace());
    SetTimer(nullptr, 0, 300, PressEscOnTheDialog);
    EXPECT_EQ(AcquireToBitmap(Job(SCAN_TYPE_GREY, 600, 450), page_.c_str()), 0);
    EXPECT_FALSE(testsupport::FileExists(page_)) << "a cancelled page leaves no file";
    EXPECT_LT(TracedEntries(SC_READ).size(), 15u);
}

// Tables are sent, each once, with the tone words; then "Inside
// Gamma" and the user's gamma shape them in two passes, a value of 0
// skipping its pass. Automatic cropping or deskewing leaves the page
// untouched for the tool; cropping also runs the second pass at 1.0. The
// parameters point at the table for the type (grey: the one the format
// names, when it names one of the three).
TEST_F(ScannerTest, TablesForTheTypeShapedByTwoGammaPasses)
{
    const struct {
        const char *name;
        uint16_t type, channels, greyTable;
        DWORD insideGamma;
        uint16_t gamma;
        uint32_t autoCrop, autoDeskew;
        uint8_t at2, at16; // entries 2 and 16 of each table the device read
        int pointsAt;      // which table sent, -1: null
        uint16_t tableUse;
    } cases[] = {
        {"inside first, gamma second", SCAN_TYPE_COLOUR, 3, 4, 50, 200, 0, 0, 0, 16, 0, 1},
        {"inside 0 skips its pass", SCAN_TYPE_COLOUR, 3, 4, 0, 50, 0, 0, 0, 1, 0, 1},
        {"gamma 0 skips its pass", SCAN_TYPE_COLOUR, 3, 4, 50, 0, 0, 0, 0, 1, 0, 1},
        {"auto-crop keeps the inside pass", SCAN_TYPE_COLOUR, 3, 4, 50, 200, 1, 0, 0, 1, 0, 1},
        {"auto-deskew alone keeps the gamma", SCAN_TYPE_COLOUR, 3, 4, 100, 50, 0, 1, 0, 1, 0, 1},
        {"grey table 4", SCAN_TYPE_GREY, 3, 4, 100, 100, 0, 0, 2, 16, 1, 0},
        {"grey table 5", SCAN_TYPE_GREY, 3, 5, 100, 100, 0, 0, 2, 16, 2, 0},
        {"grey table 6", SCAN_TYPE_GREY, 3, 6, 100, 100, 0, 0, 2, 16, -1, 0},
        {"one grey table", SCAN_TYPE_GREY, 1, 9, 100, 100, 0, 0, 2, 16, 0, 0},
        {"line art", SCAN_TYPE_LINE_ART, 3, 4, 100, 100, 0, 0, 2, 16, -1, 2},
    };
    static FeederState state;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        WriteDwordSetting(SettingsKey, SettingName(SETTING_InsideGamma), c.insideGamma);
        ScanJobSettings settings = Job(c.type, 60, 60);
        settings.Gamma = c.gamma, settings.AutoCrop = c.autoCrop, settings.AutoDeskew = c.autoDeskew;
        settings.Brightness = 20, settings.Contrast = -15;
        ASSERT_TRUE(feeder::Reset() && feeder::SetSyntheticPage(true) &&
                    feeder::SetTableShape({255, c.channels, 1, 256, c.greyTable, 0}) && feeder::ClearTrace());
        ASSERT_EQ(AcquireToBitmap(settings, page_.c_str()), 1);
        ASSERT_TRUE(feeder::Snapshot(&state));
        std::vector<FeederTraceEntry> sent = TracedEntries(SC_SET_TABLE), parameters = TracedEntries(SC_SET_PARAMS);
        ASSERT_EQ(sent.size(), c.channels == 3 ? 3u : 1u) << "tables are sent for every type";
        ASSERT_EQ(parameters.size(), 1u);
        EXPECT_EQ(parameters[0].TableAddress, c.pointsAt < 0 ? 0u : sent[c.pointsAt].TableAddress);
        EXPECT_EQ(parameters[0].TableUse, c.tableUse);
        bool untouched = c.autoCrop || c.autoDeskew;
        std::pair<int16_t, int16_t> words(untouched ? 0 : 20, untouched ? 0 : -15);
        sent.push_back(parameters[0]);
        for (const FeederTraceEntry &entry : sent)
            EXPECT_EQ(std::make_pair(entry.Brightness, entry.Contrast), words) << feeder::CommandName(entry.Command);
        // The shaped tables, as the device read them when the scan started.
        ASSERT_EQ(state.Setup.TableCount, c.pointsAt < 0 ? 0u : c.type == SCAN_TYPE_GREY ? 1u : c.channels);
        for (uint32_t table = 0; table < state.Setup.TableCount; table++)
            EXPECT_EQ(std::make_pair(state.Setup.Tables[table * 256 + 2], state.Setup.Tables[table * 256 + 16]),
                      std::make_pair(c.at2, c.at16))
                << "table " << table;
    }
}

// Grey pages at 100 dpi (at 600 for the large one) from the scripted driver
// answering reads of 4-line blocks: the file holds exactly the lines
// counted, never more than announced, in order and bottom-up, and the loop
// ends. A page whose lines are not the rows its header states is
// refused before any read.
TEST_F(ScannerTest, TransferAgainstAContractBreakingDriver)
{
    ASSERT_EQ(ProbeScanner((testsupport::ProgramDirectory() + "ScriptedDriver.dll").c_str()), PROBE_READY);
    auto setUp = (ScriptedDriverSetUpEntry)GetProcAddress(ScannerDriver.module, "ScriptedDriverSetUp");
    ASSERT_NE(setUp, nullptr);
    const struct {
        const char *name;
        uint16_t width300, dpi;
        uint32_t lineBytes, lines;
        std::vector<ScriptedRead> reads;
        uint32_t kept; // lines in the file; no file when 0
    } cases[] = {
        {"a success with no line ends the page", 24, 100, 8, 10, {{0, 4}, {0, 0}, {0, 4}}, 4},
        {"more lines claimed than the block holds", 24, 100, 8, 10, {{0, 4}, {0, 9}, {4, 2}}, 10},
        {"a short block", 24, 100, 8, 7, {{0, 2}, {0, 4}, {4, 1}}, 7},
        {"end of page claiming more than the block", 24, 100, 8, 10, {{4, 9}}, 4},
        {"more lines than the page has left", 24, 100, 8, 6, {{0, 4}, {0, 4}, {0, 4}}, 6},
        // Rows of 128 KiB fill the staging buffer every 8 lines, so the page
        // is written in several places; the script then fails it early and
        // what arrived moves down to follow the header.
        {"long rows, ending early", 65535, 600, 131072, 50, std::vector<ScriptedRead>(12, {0, 4}), 48},
        // 2 and 12 grey pixels need rows of 4 and 12 bytes; the driver sends 8.
        {"lines longer than the rows", 6, 100, 8, 4, {{4, 4}}, 0},
        {"lines shorter than the rows", 36, 100, 8, 4, {{4, 4}}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(page_.c_str());
        setUp(c.reads.data(), (int)c.reads.size(), c.lineBytes, c.lines, 4 * c.lineBytes);
        EXPECT_EQ(AcquireToBitmap(Job(SCAN_TYPE_GREY, c.width300, 30, c.dpi), page_.c_str()), c.kept ? 1 : 0);
        std::string file;
        ASSERT_EQ(testsupport::ReadWholeFile(page_, &file), c.kept != 0) << "a refused page leaves no file";
        if (!c.kept)
            continue;
        ASSERT_EQ(file.size(), 1078u + c.lineBytes * c.kept);
        EXPECT_EQ(Field(file, OFFSET_HEIGHT), c.kept);
        std::vector<uint8_t> rows = RowsTopFirst(file, c.lineBytes);
        for (size_t i = 0; i < rows.size(); i++)
            ASSERT_EQ(rows[i], ScriptedLineByte(uint32_t(i / c.lineBytes), uint32_t(i % c.lineBytes))) << "byte " << i;
    }
}

} // namespace
