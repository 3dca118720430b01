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
