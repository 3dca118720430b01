// Feedlink.dll as the agent drives it: statuses, preconditions, paper,
// pages in transfer blocks, faults and the trace.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device_test_support.h"
#include "test_support.h"

using namespace feedtest;

namespace {

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(driver.Loaded()) << "Feedlink.dll with FeedlinkCall beside the test";
        feeder::ClearTrace();
    }

    // SC_OPEN and SC_ACQUIRE, as every scan begins.
    void OpenAndAcquire()
    {
        ASSERT_EQ(driver.Send(SC_OPEN), 0);
        ASSERT_EQ(driver.Send(SC_ACQUIRE), 0);
    }

    std::string QueueTestSheet(uint32_t width, uint32_t height, const feeder::Placement &placement)
    {
        const std::string path = device.folder + "\\picture.bmp";
        EXPECT_TRUE(WriteTestBitmap(path, width, height));
        std::string queued;
        EXPECT_TRUE(feeder::QueueSheet(path, &placement, &queued));
        return queued;
    }

    ScratchDevice device;
    Driver driver;
};

feeder::Placement AtOrigin()
{
    feeder::Placement placement;
    placement.X300 = 0;
    placement.Y300 = 0;
    placement.SheetDpi = 300;
    placement.BackingRgb = 0x000000;
    return placement;
}

std::vector<uint8_t> IdentityTables(int count)
{
    std::vector<uint8_t> tables(256 * count);
    for (size_t i = 0; i < tables.size(); ++i)
        tables[i] = uint8_t(i);
    return tables;
}

} // namespace

TEST_F(DeviceTest, ProbeSequenceSucceedsAndIsTraced)
{
    uint8_t info[SC_GET_INFO_BYTES] = {};
    uint8_t extra[SC_GET_EXTRA_INFO_BYTES] = {};
    EXPECT_EQ(driver.Send(SC_OPEN), 0);
    EXPECT_EQ(driver.Send(SC_ACQUIRE), 0);
    EXPECT_EQ(driver.Send(SC_IS_PRESENT), 0);
    EXPECT_EQ(driver.Send(SC_GET_INFO, info), 0);
    EXPECT_EQ(driver.Send(SC_GET_EXTRA_INFO, extra), 0);
    EXPECT_EQ(driver.Send(SC_RELEASE), 0);
    EXPECT_EQ(0, memcmp(info, "VFDR", 4));
    const std::vector<uint16_t> expected = {SC_OPEN, SC_ACQUIRE, SC_IS_PRESENT, SC_GET_INFO, SC_GET_EXTRA_INFO,
                                            SC_RELEASE};
    EXPECT_EQ(TracedCommands(), expected);
    const std::vector<FeederTraceEntry> trace = feeder::ReadTrace();
    ASSERT_EQ(trace.size(), 6u);
    EXPECT_EQ(trace[3].DataAddress, (uint32_t)(uintptr_t)info);
    EXPECT_EQ(trace[0].ProcessId, GetCurrentProcessId());
    EXPECT_EQ(trace[5].Sequence, trace[0].Sequence + 5);
}

TEST_F(DeviceTest, UnpluggedDeviceFailsEverythingButCleanup)
{
    feeder::PressButton(SC_BUTTON_SCAN, 5);
    ASSERT_TRUE(feeder::SetPlugged(false));
    struct Case {
        uint16_t command;
        bool succeeds;
    } cases[] = {{SC_OPEN, false},     {SC_IS_PRESENT, false}, {SC_ACQUIRE, false},
                 {SC_GET_BUTTON, false}, {SC_RELEASE, true},   {SC_CLOSE, true}};
    for (const Case &c : cases) {
        const int16_t status = driver.Send(c.command);
        if (c.succeeds)
            EXPECT_EQ(status, 0) << feeder::CommandName(c.command);
        else
            EXPECT_LT(status, 0) << feeder::CommandName(c.command) << ": a failure never reads as a held button";
    }
    ASSERT_TRUE(feeder::SetPlugged(true));
    EXPECT_EQ(driver.Send(SC_OPEN), 0);
    EXPECT_EQ(driver.Send(SC_IS_PRESENT), 0);
}

TEST_F(DeviceTest, CommandsNeedOpenAndAcquire)
{
    TableFormat format = {};
    EXPECT_EQ(driver.Send(SC_IS_PRESENT), FEED_STATUS_NOT_OPEN);
    EXPECT_EQ(driver.Send(SC_ACQUIRE), FEED_STATUS_NOT_OPEN);
    ASSERT_EQ(driver.Send(SC_OPEN), 0);
    const uint16_t needAcquire[] = {SC_PAPER_PRESENT, SC_TAKE_PAPER, SC_START, SC_READ, SC_STOP, SC_END_PAGE};
    for (uint16_t command : needAcquire)
        EXPECT_EQ(driver.Send(command), FEED_STATUS_NOT_ACQUIRED) << feeder::CommandName(command);
    EXPECT_EQ(driver.Send(SC_GET_TABLE_FORMAT, &format), FEED_STATUS_NOT_ACQUIRED);
    EXPECT_EQ(driver.Send(SC_GET_BUTTON), 0) << "the button is polled outside a bracket";
    ASSERT_EQ(driver.Send(SC_ACQUIRE), 0);
    EXPECT_EQ(driver.Send(SC_GET_TABLE_FORMAT, &format), 0);
    EXPECT_EQ(format.Channels, 3);
    EXPECT_EQ(format.Entries, 256);
    EXPECT_EQ(format.GreyTable, 4);
    EXPECT_EQ(driver.Send(SC_RELEASE), 0);
    EXPECT_EQ(driver.Send(SC_STOP), FEED_STATUS_NOT_ACQUIRED) << "release gives the device back";
    EXPECT_EQ(driver.Send(99), FEED_STATUS_UNKNOWN_COMMAND);
}

TEST_F(DeviceTest, ButtonStaysDownForItsPolls)
{
    ASSERT_EQ(driver.Send(SC_OPEN), 0);
    struct Case {
        int16_t code;
        uint32_t polls;
    } cases[] = {{SC_BUTTON_SCAN, 3}, {7, 1}, {SC_BUTTON_SCAN, 0}};
    for (const Case &c : cases) {
        ASSERT_TRUE(feeder::PressButton(c.code, c.polls));
        for (uint32_t poll = 0; poll < c.polls; ++poll)
            EXPECT_EQ(driver.Send(SC_GET_BUTTON), c.code) << "poll " << poll << " of code " << c.code;
        EXPECT_EQ(driver.Send(SC_GET_BUTTON), 0) << "released after " << c.polls << " polls";
    }
}

TEST_F(DeviceTest, InjectedFaultsFailTheirCall)
{
    uint8_t info[SC_GET_INFO_BYTES];
    ASSERT_EQ(driver.Send(SC_OPEN), 0);
    ASSERT_TRUE(feeder::InjectFault(SC_GET_INFO, 2, -77));
    ASSERT_TRUE(feeder::InjectFault(SC_IS_PRESENT, 1, 9));
    EXPECT_EQ(driver.Send(SC_GET_INFO, info), 0);
    EXPECT_EQ(driver.Send(SC_IS_PRESENT), 9);
    EXPECT_EQ(driver.Send(SC_GET_INFO, info), -77);
    EXPECT_EQ(driver.Send(SC_GET_INFO, info), 0) << "a fault fires once";
    EXPECT_EQ(driver.Send(SC_IS_PRESENT), 0);

    ASSERT_TRUE(feeder::SetRefuseAcquire(true));
    EXPECT_EQ(driver.Send(SC_ACQUIRE), FEED_STATUS_BUSY);
    EXPECT_EQ(driver.Send(SC_ACQUIRE), FEED_STATUS_BUSY);
    ASSERT_TRUE(feeder::ClearFaults());
    EXPECT_EQ(driver.Send(SC_ACQUIRE), 0);
}

TEST_F(DeviceTest, PaperIsPresentWhileASheetWaitsOrSitsInTheTransport)
{
    OpenAndAcquire();
    EXPECT_EQ(driver.Send(SC_PAPER_PRESENT), FEED_STATUS_NO_PAPER);
    EXPECT_EQ(driver.Send(SC_TAKE_PAPER), FEED_STATUS_NO_PAPER);
    QueueTestSheet(8, 8, AtOrigin());
    ASSERT_EQ(feeder::WaitingSheets().size(), 1u);
    EXPECT_EQ(driver.Send(SC_PAPER_PRESENT), 0);
    EXPECT_EQ(feeder::WaitingSheets().size(), 1u) << "looking does not take the sheet";
    EXPECT_EQ(driver.Send(SC_TAKE_PAPER), 0);
    EXPECT_TRUE(feeder::WaitingSheets().empty());
    EXPECT_EQ(driver.Send(SC_PAPER_PRESENT), 0) << "the sheet is in the transport";
    EXPECT_EQ(driver.Send(SC_END_PAGE), 0);
    EXPECT_EQ(driver.Send(SC_PAPER_PRESENT), FEED_STATUS_NO_PAPER) << "the page left the device";
}

TEST_F(DeviceTest, SheetsAreTakenInNameOrderAndUndecodableOnesSkipped)
{
    ASSERT_TRUE(WriteTestBitmap(device.feeder + "\\b-second.bmp", 4, 4));
    ASSERT_TRUE(WriteTestBitmap(device.feeder + "\\C-third.bmp", 4, 4));
    ASSERT_TRUE(testsupport::WriteWholeFile(device.feeder + "\\a-first.png", "not a picture at all"));
    OpenAndAcquire();
    EXPECT_EQ(driver.Send(SC_PAPER_PRESENT), 0);
    EXPECT_TRUE(testsupport::FileExists(device.feeder + "\\Rejected\\a-first.png"));
    EXPECT_EQ(driver.Send(SC_TAKE_PAPER), 0);
    FeederState *state = new FeederState;
    ASSERT_TRUE(feeder::Snapshot(state));
    EXPECT_STREQ(state->CurrentSheet, (device.feeder + "\\Scanned\\b-second.bmp").c_str());
    delete state;

    bool skipped = false, fed = false;
    for (const FeederTraceEntry &entry : feeder::ReadTrace()) {
        if (entry.Command == FEED_EVENT_SHEET_SKIPPED) {
            EXPECT_STREQ(entry.Detail, "a-first.png");
            EXPECT_FALSE(fed) << "skipped before the good sheet was fed";
            skipped = true;
        }
        if (entry.Command == FEED_EVENT_SHEET_FED) {
            EXPECT_STREQ(entry.Detail, "b-second.bmp");
            fed = true;
        }
    }
    EXPECT_TRUE(skipped);
    EXPECT_TRUE(fed);
    std::vector<std::string> waiting = feeder::WaitingSheets();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0], device.feeder + "\\C-third.bmp");
}

TEST_F(DeviceTest, GeometryAnswersTheLineSizeAndRefusesAbsurdAreas)
{
    OpenAndAcquire();
    struct Case {
        uint16_t width300, height300, dpi, type;
        int16_t status;
        uint32_t lineBytes, lines;
    } cases[] = {
        {2550, 3300, 600, 3, 0, 15300, 6600},
        {2550, 3300, 300, 0, 0, 320, 3300},
        {2480, 3508, 200, 2, 0, 1656, 2338},
        {0, 3300, 300, 2, FEED_STATUS_BAD_REQUEST, 0, 0},
        {2550, 3300, 300, 1, FEED_STATUS_BAD_REQUEST, 0, 0},
        {2550, 3300, 5000, 3, FEED_STATUS_BAD_REQUEST, 0, 0},
        {60000, 60000, 300, 3, FEED_STATUS_BAD_REQUEST, 0, 0},
    };
    for (const Case &c : cases) {
        ScanGeometry geometry = {};
        geometry.Image = MakeParameters(c.width300, c.height300, c.dpi, c.type, nullptr);
        geometry.Image.Tables = nullptr;
        geometry.Image.TableUse = 0;
        geometry.Image.Constant32 = 0;
        geometry.LineBytes = 12345;
        EXPECT_EQ(driver.Send(SC_GET_GEOMETRY, &geometry), c.status) << c.width300 << " x " << c.height300;
        EXPECT_EQ(geometry.LineBytes, c.lineBytes) << c.width300 << " x " << c.height300;
        EXPECT_EQ(geometry.Lines, c.lines) << c.width300 << " x " << c.height300;
        if (c.status == 0) {
            EXPECT_EQ(geometry.Image.PaperArea[2], c.width300);
            EXPECT_EQ(geometry.Image.ImageType, c.type);
            EXPECT_EQ(geometry.Image.ParameterBytes, SC_PARAMETER_BYTES);
        }
    }
    const FeederTraceEntry last = feeder::ReadTrace().back();
    EXPECT_EQ(last.Command, SC_GET_GEOMETRY);
    EXPECT_EQ(last.PaperArea[2], 60000);
    EXPECT_EQ(last.XResolution, 300);
    EXPECT_EQ(last.ImageType, 3);
}

TEST_F(DeviceTest, RefusedParametersLeaveNothingToScan)
{
    QueueTestSheet(8, 8, AtOrigin());
    OpenAndAcquire();
    ScanParameters parameters = MakeParameters(100, 100, 300, 2, nullptr);
    parameters.ParameterBytes = 20;
    EXPECT_EQ(driver.Send(SC_SET_PARAMS, &parameters), FEED_STATUS_BAD_REQUEST);
    EXPECT_NE(driver.Send(SC_START), 0);
    EXPECT_EQ(driver.Send(SC_PREPARE_READ), FEED_STATUS_NOT_SCANNING);
    std::vector<uint8_t> buffer(4096);
    EXPECT_EQ(driver.Read(buffer.data(), (uint32_t)buffer.size()), FEED_STATUS_NOT_SCANNING);
    EXPECT_EQ(driver.block.TransferCount, 0u);
    ScanParameters unknownType = MakeParameters(100, 100, 300, 5, nullptr);
    EXPECT_EQ(driver.Send(SC_SET_PARAMS, &unknownType), FEED_STATUS_BAD_REQUEST);
}

// One page per type through the whole command sequence; the received lines
// must equal the device's own rendering of the sheet byte for byte.
TEST_F(DeviceTest, AcquiredPagesEqualTheRenderingOfTheSheet)
{
    struct Case {
        uint16_t type;
        uint16_t dpi;
        uint32_t transfer; // 0: the device's own
        int16_t brightness, contrast;
        double skew;
    } cases[] = {
        {0, 300, 0, 0, 0, 0.0},     {2, 300, 1000, 10, -20, 0.0}, {3, 300, 0, 0, 0, 0.0},
        {3, 150, 7000, -30, 40, 2.5}, {2, 600, 0, 0, 0, -1.0},    {0, 200, 40, 25, 0, 3.0},
    };
    std::vector<uint8_t> tables = IdentityTables(3);
    for (uint8_t &entry : tables)
        entry = uint8_t(255 - entry); // inverted: shows whether the tables were read
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " at " << c.dpi << " dpi");
        feeder::Placement placement = AtOrigin();
        placement.X300 = 30;
        placement.Y300 = 20;
        placement.SkewDegrees = c.skew;
        placement.BackingRgb = 0x405060;
        QueueTestSheet(90, 70, placement);
        feeder::SetTransferSize(c.transfer);
        OpenAndAcquire();
        ASSERT_EQ(driver.Send(SC_PAPER_PRESENT), 0);
        ScanGeometry geometry = {};
        geometry.Image = MakeParameters(150, 110, c.dpi, c.type, nullptr);
        ASSERT_EQ(driver.Send(SC_GET_GEOMETRY, &geometry), 0);
        void *tablePointer = c.type == 0 ? nullptr : c.type == 2 ? tables.data() + 256 : tables.data();
        ScanParameters parameters = MakeParameters(150, 110, c.dpi, c.type, tablePointer);
        parameters.Brightness = (uint16_t)c.brightness;
        parameters.Contrast = (uint16_t)c.contrast;
        ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
        std::vector<uint8_t> rows;
        std::vector<ReadRecord> reads;
        ReadPage(driver, geometry.LineBytes, geometry.Lines, &rows, &reads);
        driver.Send(SC_RELEASE);

        feeder::RenderedPage page;
        ASSERT_TRUE(feeder::RenderCurrentPage(&page));
        EXPECT_EQ(page.LineBytes, geometry.LineBytes);
        EXPECT_EQ(page.Lines, geometry.Lines);
        ASSERT_EQ(rows.size(), (size_t)geometry.LineBytes * geometry.Lines);
        EXPECT_TRUE(rows == page.Rows) << "acquired lines differ from the rendering";
    }
}

// Independent of the renderer: a colour scan with identity tables at the
// sheet's own resolution is the picture itself, in blue-green-red order.
TEST_F(DeviceTest, ColourScanAtTheSheetResolutionIsThePicture)
{
    QueueTestSheet(40, 30, AtOrigin());
    OpenAndAcquire();
    std::vector<uint8_t> tables = IdentityTables(3);
    ScanParameters parameters = MakeParameters(40, 30, 300, 3, tables.data());
    ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
    std::vector<uint8_t> rows;
    std::vector<ReadRecord> reads;
    ReadPage(driver, 120, 30, &rows, &reads);
    ASSERT_EQ(rows.size(), 120u * 30);
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 40; ++x) {
            uint8_t rgb[3];
            TestPixel(x, y, rgb);
            const uint8_t *got = &rows[y * 120 + 3 * x];
            ASSERT_TRUE(got[0] == rgb[2] && got[1] == rgb[1] && got[2] == rgb[0]) << x << "," << y;
        }
}

TEST_F(DeviceTest, PagesArriveInWholeBlocksWithStatusFourOnlyForAShortEnd)
{
    struct Case {
        const char *what;
        uint16_t height300;     // at 300 dpi grey, 100 lines wide 100 bytes
        uint32_t endAfter;      // 0: no early end
        uint32_t failAfter;     // 0: no read failure
        std::vector<ReadRecord> reads;
    } cases[] = {
        {"short last block", 10, 0, 0, {{0, 3}, {0, 3}, {0, 3}, {4, 1}}},
        {"whole number of blocks", 9, 0, 0, {{0, 3}, {0, 3}, {0, 3}}},
        {"page ends early", 10, 5, 0, {{0, 3}, {4, 2}}},
        {"read fails mid-page", 10, 0, 4, {{0, 3}, {0, 3}, {-21, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        feeder::ClearFaults();
        if (c.endAfter)
            feeder::SetEndPageAfter(c.endAfter);
        if (c.failAfter)
            feeder::SetFailReadAfter(c.failAfter, -21);
        feeder::SetTransferSize(300);
        QueueTestSheet(100, 10, AtOrigin());
        OpenAndAcquire();
        ScanParameters parameters = MakeParameters(100, c.height300, 300, 2, nullptr);
        ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
        std::vector<uint8_t> rows;
        std::vector<ReadRecord> reads;
        ReadPage(driver, 100, c.height300, &rows, &reads);
        driver.Send(SC_RELEASE);
        ASSERT_EQ(reads.size(), c.reads.size());
        for (size_t i = 0; i < reads.size(); ++i) {
            EXPECT_EQ(reads[i].Status, c.reads[i].Status) << "read " << i;
            EXPECT_EQ(reads[i].Lines, c.reads[i].Lines) << "read " << i;
        }
    }
}

TEST_F(DeviceTest, ReadSmallerThanALineIsRefusedNotAnsweredEmpty)
{
    QueueTestSheet(8, 8, AtOrigin());
    feeder::SetTransferSize(50);
    OpenAndAcquire();
    ScanParameters parameters = MakeParameters(100, 10, 300, 2, nullptr);
    ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
    ASSERT_EQ(driver.Send(SC_START), 0);
    ASSERT_EQ(driver.Send(SC_PREPARE_READ), 0);
    EXPECT_EQ(driver.block.TransferCount, 50u) << "the configured size, as it is";
    std::vector<uint8_t> buffer(100);
    EXPECT_EQ(driver.Read(buffer.data(), 50), FEED_STATUS_BAD_REQUEST);
    EXPECT_EQ(driver.block.TransferCount, 0u);
}

TEST_F(DeviceTest, TraceCarriesTheDataBlocksKeyFields)
{
    QueueTestSheet(8, 8, AtOrigin());
    OpenAndAcquire();
    std::vector<uint8_t> tables = IdentityTables(3);
    tables[256 + 7] = 99;
    TableDownload download = {tables.data() + 256, (uint16_t)-5, 17};
    ASSERT_EQ(driver.Send(SC_SET_TABLE, &download), 0);
    ScanParameters parameters = MakeParameters(100, 10, 300, 2, tables.data() + 256);
    parameters.Brightness = (uint16_t)-5;
    parameters.Contrast = 17;
    ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
    std::vector<uint8_t> rows;
    std::vector<ReadRecord> reads;
    ReadPage(driver, 100, 10, &rows, &reads);

    const uint32_t secondTable = feeder::TableChecksum(tables.data() + 256, 256);
    ASSERT_NE(secondTable, feeder::TableChecksum(tables.data(), 256));
    bool sawTable = false, sawParameters = false, sawRead = false;
    for (const FeederTraceEntry &entry : feeder::ReadTrace()) {
        if (entry.Command == SC_SET_TABLE) {
            sawTable = true;
            EXPECT_EQ(entry.TableAddress, (uint32_t)(uintptr_t)(tables.data() + 256));
            EXPECT_EQ(entry.TableChecksum, secondTable);
            EXPECT_EQ(entry.Brightness, -5);
            EXPECT_EQ(entry.Contrast, 17);
        } else if (entry.Command == SC_SET_PARAMS) {
            sawParameters = true;
            EXPECT_EQ(entry.TableAddress, (uint32_t)(uintptr_t)(tables.data() + 256));
            EXPECT_EQ(entry.TableChecksum, secondTable) << "a grey scan reads one table";
            EXPECT_EQ(entry.ParameterBytes, SC_PARAMETER_BYTES);
            EXPECT_EQ(entry.PaperArea[2], 100);
            EXPECT_EQ(entry.PaperArea[3], 10);
            EXPECT_EQ(entry.ImageType, 2);
            EXPECT_EQ(entry.TableUse, 0);
            EXPECT_EQ(entry.Constant32, 2);
            EXPECT_EQ(entry.Brightness, -5);
        } else if (entry.Command == SC_READ && !sawRead) {
            sawRead = true;
            EXPECT_EQ(entry.TransferCount, 10u);
            EXPECT_EQ(entry.TransferSize % 100, 0u);
            EXPECT_EQ(entry.FirstLine, 0u);
            EXPECT_EQ(entry.LineBytes, 100u);
        }
    }
    EXPECT_TRUE(sawTable && sawParameters && sawRead);
}

TEST_F(DeviceTest, SyntheticPageNeedsNoSheet)
{
    ASSERT_TRUE(feeder::SetSyntheticPage(true));
    OpenAndAcquire();
    EXPECT_EQ(driver.Send(SC_PAPER_PRESENT), 0);
    ScanParameters parameters = MakeParameters(600, 300, 300, 3, nullptr);
    ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
    std::vector<uint8_t> rows;
    std::vector<ReadRecord> reads;
    ReadPage(driver, 1800, 300, &rows, &reads);
    feeder::RenderedPage page;
    ASSERT_TRUE(feeder::RenderCurrentPage(&page));
    EXPECT_TRUE(rows == page.Rows);
    EXPECT_EQ(driver.Send(SC_PAPER_PRESENT), 0) << "the synthetic feeder never runs dry";
}

TEST(InUseMutex, HeldMutexIsVisibleUnderTheAgentsName)
{
    const std::string name = "9443FFBE-F26B-432e-9F9F-A603F3F9849F_PS-770";
    EXPECT_EQ(feeder::InUseMutexName("PS-770"), name);
    ASSERT_TRUE(feeder::HoldInUseMutex("PS-770"));
    HANDLE opened = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    EXPECT_NE(opened, nullptr);
    if (opened)
        CloseHandle(opened);
    ASSERT_TRUE(feeder::ReleaseInUseMutex());
    EXPECT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()), nullptr);
}

// Sheets in the formats users have: lossless ones decode to the very pixels
// of the bitmap they were made from (by ImageMagick on the host, so the
// encoder is not the decoder under test); JPEG decodes close to them.
TEST(SheetFormats, EveryCommonFormatDecodes)
{
    ScratchDevice device;
    const std::string bitmap = device.folder + "\\source.bmp";
    ASSERT_TRUE(WriteTestBitmap(bitmap, 48, 32));
    FeederScanSetup setup = {};
    setup.PaperArea[2] = 48;
    setup.PaperArea[3] = 32;
    setup.XResolution = setup.YResolution = 300;
    setup.ImageType = 3;
    feeder::Placement placement = AtOrigin();
    feeder::RenderedPage reference;
    ASSERT_TRUE(feeder::RenderSheetFile(bitmap, placement, setup, &reference));
    struct Case {
        const char *extension;
        int tolerance; // largest mean difference per byte
    } cases[] = {{"png", 0}, {"tif", 0}, {"jpg", 12}};
    for (const Case &c : cases) {
        const std::string converted = device.folder + "\\source." + c.extension;
        const std::string script = "convert '" + testsupport::UnixPath(bitmap) + "' -quality 95 '" +
                                   testsupport::UnixPath(converted) + "'";
        ASSERT_EQ(testsupport::RunHostShell(script), 0) << script;
        feeder::RenderedPage page;
        ASSERT_TRUE(feeder::RenderSheetFile(converted, placement, setup, &page)) << c.extension;
        ASSERT_EQ(page.Rows.size(), reference.Rows.size()) << c.extension;
        uint64_t difference = 0;
        for (size_t i = 0; i < page.Rows.size(); ++i)
            difference += (uint64_t)abs(page.Rows[i] - reference.Rows[i]);
        EXPECT_LE(difference / page.Rows.size(), (uint64_t)c.tolerance) << c.extension;
        if (c.tolerance == 0) {
            EXPECT_TRUE(page.Rows == reference.Rows) << c.extension;
        }
    }
}

// The agent unloads the driver at every unplug and loads it again at the
// next arrival: each load must find the same device.
TEST(DriverReload, EachLoadSeesTheSameDevice)
{
    ScratchDevice device;
    for (int load = 0; load < 4; ++load) {
        ASSERT_TRUE(feeder::PressButton(SC_BUTTON_SCAN, 1));
        Driver driver;
        ASSERT_TRUE(driver.Loaded());
        ASSERT_EQ(driver.Send(SC_OPEN), 0) << "load " << load;
        EXPECT_EQ(driver.Send(SC_GET_BUTTON), SC_BUTTON_SCAN) << "load " << load;
    }
}
