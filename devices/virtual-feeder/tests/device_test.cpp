// Feedlink.dll loaded as the agent loads it, and feedctl.exe scripting it
// from another process: what the agent's own tests never ask of the device
// (commands out of order, refused data, who holds it, the feeder folder).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device_test_support.h"
#include "page_render.h"
#include "scan_bitmap.h"
#include "shared_block.h"
#include "test_support.h"

using namespace feedtest;

namespace {

class Device : public ::testing::Test {
protected:
    void OpenAndAcquire()
    {
        ASSERT_EQ(driver.Send(SC_OPEN), 0);
        ASSERT_EQ(driver.Send(SC_ACQUIRE), 0);
    }
    // A 16 x 16 grey sheet.
    static bool WriteSheet(const std::string &path)
    {
        return testsupport::WriteWholeFile(
            path, scanbitmap::ScanBitmap(8, 16, 16, 300, [](uint32_t x, uint32_t y) { return x ^ y; }));
    }
    static int Feedctl(const std::string &arguments)
    {
        return testsupport::RunAndWait("\"" + testsupport::ProgramDirectory() + "feedctl.exe\" " + arguments);
    }

    ScratchDevice device;
    Driver driver;
};

TEST_F(Device, CommandsNeedOpenThenAcquireAndRefusedParametersLeaveNothingToScan)
{
    ASSERT_TRUE(WriteSheet(device.feeder + "\\sheet.bmp"));
    EXPECT_EQ(driver.Send(SC_IS_PRESENT), FEED_STATUS_NOT_OPEN);
    ASSERT_EQ(driver.Send(SC_OPEN), 0);
    EXPECT_EQ(driver.Send(SC_GET_BUTTON), 0) << "the button is polled outside a bracket";
    for (uint16_t command : {SC_PAPER_PRESENT, SC_SET_PARAMS, SC_START, SC_READ, SC_END_PAGE})
        EXPECT_EQ(driver.Send(command), FEED_STATUS_NOT_ACQUIRED) << feeder::CommandName(command);
    ASSERT_EQ(driver.Send(SC_ACQUIRE), 0);
    ScanParameters parameters = MakeParameters(100, 100, 300, feeder::IMAGE_GREY, nullptr);
    parameters.ParameterBytes = 20;
    EXPECT_EQ(driver.Send(SC_SET_PARAMS, &parameters), FEED_STATUS_BAD_REQUEST);
    EXPECT_NE(driver.Send(SC_START), 0);
    ASSERT_EQ(driver.Send(SC_RELEASE), 0);
    EXPECT_EQ(driver.Send(SC_STOP), FEED_STATUS_NOT_ACQUIRED) << "release gives the device back";
    EXPECT_EQ(driver.Send(99), FEED_STATUS_UNKNOWN_COMMAND);
}

TEST_F(Device, SheetsAreTakenInNameOrderAndUndecodableOnesSetAside)
{
    ASSERT_TRUE(WriteSheet(device.feeder + "\\b-second.bmp") && WriteSheet(device.feeder + "\\C-third.bmp"));
    ASSERT_TRUE(testsupport::WriteWholeFile(device.feeder + "\\a-first.png", "not a picture at all"));
    OpenAndAcquire();
    EXPECT_EQ(driver.Send(SC_TAKE_PAPER), 0);
    EXPECT_TRUE(testsupport::FileExists(device.feeder + "\\" FEEDER_REJECTED_FOLDER "\\a-first.png"));
    EXPECT_TRUE(testsupport::FileExists(device.feeder + "\\" FEEDER_SCANNED_FOLDER "\\b-second.bmp"));
    EXPECT_EQ(feeder::WaitingSheets(), std::vector<std::string>{device.feeder + "\\C-third.bmp"});
}

TEST_F(Device, FeedctlLoadsASheetWithItsPlacement)
{
    const std::string picture = device.folder + "\\photo.bmp";
    ASSERT_TRUE(WriteSheet(picture));
    ASSERT_EQ(Feedctl("load --x 12 --y 34 --skew -1.5 --backing 0A0B0C --dpi 200 \"" + picture + "\""), 0);
    OpenAndAcquire();
    ASSERT_EQ(driver.Send(SC_TAKE_PAPER), 0);
    std::unique_ptr<FeederState> state(new FeederState);
    ASSERT_TRUE(feeder::Snapshot(state.get()));
    const FeederPlacement &p = state->CurrentPlacement;
    EXPECT_TRUE(p.X300 == 12 && p.Y300 == 34 && p.SkewMilliDegrees == -1500 && p.BackingRgb == 0x0A0B0C &&
                p.SheetDpi == 200);
    // Status 4 is no failure, calls count from 1.
    for (std::string refused : {std::string("fail-read 10 4"), std::string("fault 1 0 -1"), std::string("no-such"),
                                "load --skew abc \"" + picture + "\""})
        EXPECT_NE(Feedctl(refused), 0) << refused;
}

TEST_F(Device, AcquireIsRefusedOnlyWhileItsHolderLives)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder = {};
    std::string line = "\"" + testsupport::ProgramDirectory() + "feedctl.exe\" hold PS-910"; // runs until ended
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                               &holder));
    ASSERT_EQ(driver.Send(SC_OPEN), 0);
    // Taken by the running holder, then by the same process once it ended.
    for (const int16_t expected : {FEED_STATUS_BUSY, FEED_STATUS_OK}) {
        {
            feeder::StateLock lock;
            ASSERT_NE(lock.state, nullptr);
            lock.state->AcquiredBy = holder.dwProcessId;
        }
        EXPECT_EQ(driver.Send(SC_ACQUIRE), expected);
        TerminateProcess(holder.hProcess, 0);
        WaitForSingleObject(holder.hProcess, 10000);
    }
    CloseHandle(holder.hThread);
    CloseHandle(holder.hProcess);
}

// Corrections for another sensor or blanking a column are refused. A
// reference scan needs no paper; and a calibration tool that dies between
// selecting a reference and giving the device back must not leave the agent
// scanning the white strip.
TEST_F(Device, CalibrationRefusesUnusableDataAndReferencesEndWithTheRelease)
{
    OpenAndAcquire();
    std::vector<ShadingCorrection> entries(FEEDER_SENSOR_ELEMENTS * FEEDER_SENSOR_CHANNELS,
                                           ShadingCorrection{0, SHADING_GAIN_ONE});
    CorrectionDownload download = {uint16_t(FEEDER_SENSOR_ELEMENTS - 1), FEEDER_SENSOR_CHANNELS, entries.data()};
    EXPECT_EQ(driver.Send(SC_SET_CORRECTION, &download), FEED_STATUS_BAD_REQUEST) << "another sensor's width";
    download.Elements = uint16_t(FEEDER_SENSOR_ELEMENTS);
    entries.back().Gain = 0;
    EXPECT_EQ(driver.Send(SC_SET_CORRECTION, &download), FEED_STATUS_BAD_REQUEST) << "a zero gain in the last entry";
    ReferenceRequest unknown = {3, 0}, white = {REFERENCE_WHITE, 0};
    EXPECT_EQ(driver.Send(SC_SET_REFERENCE, &unknown), FEED_STATUS_BAD_REQUEST);
    ScanParameters parameters = MakeParameters(600, 60, 300, feeder::IMAGE_COLOUR, nullptr);
    ASSERT_EQ(driver.Send(SC_SET_REFERENCE, &white), 0);
    ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
    std::vector<uint8_t> rows;
    std::vector<ReadRecord> reads;
    ReadPage(driver, 1800, 60, &rows, &reads); // 60 lines of 600 pixels, 3 bytes each
    ASSERT_EQ(rows.size(), 1800u * 60) << "the strip lies inside the transport";
    EXPECT_EQ(rows[0], 255) << "an ideal sensor reads the strip as full white";
    ASSERT_EQ(driver.Send(SC_RELEASE), 0);
    OpenAndAcquire();
    ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
    EXPECT_EQ(driver.Send(SC_START), FEED_STATUS_NO_PAPER) << "back to sheets, and none waits";
}

} // namespace
