// Levelset.exe as the agent starts it, from a program folder of its own with
// Module.ini, against the virtual scanner: what a calibration and a cleaning
// change on the pages, the data file it leaves, and how it refuses.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <vector>

#include "calibration_data.h"
#include "device_test_support.h"
#include "levelset.h"
#include "page_render.h"
#include "product_files.h"
#include "scan_bitmap.h"
#include "settings_table.h"
#include "test_support.h"

namespace {

using testsupport::FileExists;

std::unique_ptr<FeederState> Device()
{
    std::unique_ptr<FeederState> state(new FeederState()); // too large for the stack
    EXPECT_TRUE(feeder::Snapshot(state.get()));
    return state;
}

// Scans a uniform grey sheet across the whole glass, one inch tall, at 150
// dpi in colour, and returns its stripes: the largest standard deviation of
// one channel's column means.
double ColumnSpreadOfAGreySheet(const std::string &folder)
{
    const std::string picture = folder + "\\grey.bmp";
    EXPECT_TRUE(testsupport::WriteWholeFile(
        picture, scanbitmap::ScanBitmap(24, 2600, 400, 300, [](uint32_t, uint32_t) { return 0xA0A0A0u; })));
    feeder::Placement atTheOrigin{0, 0};
    EXPECT_TRUE(feeder::QueueSheet(picture, &atTheOrigin));
    feedtest::Driver driver;
    driver.Send(SC_OPEN);
    driver.Send(SC_ACQUIRE);
    ScanParameters parameters = feedtest::MakeParameters(feeder::DEFAULT_MAX_WIDTH300, 300, 150, 3, nullptr);
    EXPECT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
    const FeederScanSetup setup = Device()->Setup;
    std::vector<uint8_t> rows;
    std::vector<feedtest::ReadRecord> reads;
    feedtest::ReadPage(driver, setup.LineBytes, setup.Lines, &rows, &reads);
    driver.Send(SC_RELEASE);
    double worst = 0, n = setup.PixelsPerLine;
    for (int channel = 0; channel < 3 && rows.size() == size_t(setup.LineBytes) * setup.Lines; ++channel) {
        double sum = 0, squares = 0;
        for (size_t x = 0; x < setup.PixelsPerLine; ++x) {
            double mean = 0;
            for (size_t line = 0; line < setup.Lines; ++line)
                mean += rows[line * setup.LineBytes + 3 * x + channel] / double(setup.Lines);
            sum += mean, squares += mean * mean;
        }
        worst = std::max(worst, std::sqrt(squares / n - (sum / n) * (sum / n)));
    }
    return worst;
}

HWND WaitForWindow(const char *className, const char *title, DWORD timeoutMs)
{
    HWND window = nullptr;
    testsupport::WaitUntil(timeoutMs, [&] { return (window = FindWindowA(className, title)) != nullptr; });
    return window;
}

class LevelsetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        model = "LsTest" + std::to_string(GetCurrentProcessId());
        programFolder = device.folder + "\\Velmora Tools\\";
        ASSERT_TRUE(CreateDirectoryA(programFolder.c_str(), nullptr));
        for (const char *file : {CALIBRATION_TOOL_FILE, SCANNER_DRIVER_FILE})
            ASSERT_TRUE(
                CopyFileA((testsupport::ProgramDirectory() + file).c_str(), (programFolder + file).c_str(), FALSE));
        ASSERT_TRUE(testsupport::WriteWholeFile(programFolder + MODULE_INI_NAME,
                                                "[" MODULE_INI_SECTION "]\r\n" MODULE_INI_KEY "=" + model + "\r\n"));
        modelFolder = testsupport::ShellFolder(CSIDL_COMMON_DOCUMENTS) + "\\" + model;
        dataFile = modelFolder + "\\" + Setting(SETTING_CalibrationFilename).textDefault;
        ASSERT_TRUE(feeder::SetSensor(FEEDER_SENSOR_SHADED));
    }

    void TearDown() override
    {
        testsupport::RemoveTree(modelFolder);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, std::string(MODEL_KEY_BASE) + model);
    }

    // Starts the tool as the agent does; the future holds its exit code.
    std::future<int> Start(const std::string &verb)
    {
        const std::string line = "\"" + programFolder + CALIBRATION_TOOL_FILE + "\" " + verb;
        return std::async(std::launch::async, testsupport::RunAndWait, line, 60000);
    }

    // Runs to the end; a failure's window, whose Cancel became Close, is
    // closed as a user would.
    int Run(const std::string &verb)
    {
        std::future<int> run = Start(verb);
        HWND window = WaitForWindow(LEVELSET_WINDOW_CLASS, nullptr, 5000);
        char text[64] = "";
        while (window && run.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready &&
               strcmp(text, "Close") != 0)
            GetWindowTextA(GetDlgItem(window, IDCANCEL), text, sizeof text);
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        return run.get();
    }

    feedtest::ScratchDevice device;
    std::string model, programFolder, modelFolder, dataFile;
};

TEST_F(LevelsetTest, CalibrationFlattensTheColumnsAndLeavesAnIntactDataFile)
{
    const double before = ColumnSpreadOfAGreySheet(device.folder);
    ASSERT_EQ(Run(FORCED_CALIBRATION_VERB), LEVELSET_DONE);
    const double after = ColumnSpreadOfAGreySheet(device.folder);
    printf("column spread of a uniform grey sheet: %.3f levels before, %.3f after calibration\n", before, after);
    EXPECT_GT(before, 1.0) << "an uncalibrated sensor shows stripes";
    // What remains is the converter's noise, averaged over 150 lines here and
    // over the reference's lines in the correction: a small fraction of a level.
    EXPECT_LT(after, 0.15);

    std::string bytes;
    CalibrationData data;
    EXPECT_TRUE(testsupport::ReadWholeFile(dataFile, &bytes) && DecodeCalibrationData(bytes, &data));
    EXPECT_EQ(data.Model, model);
}

// The name is the user's setting; one that would leave the model's folder is refused.
TEST_F(LevelsetTest, AFileNameThatLeavesTheModelsFolderIsRefused)
{
    const std::string escaped = modelFolder + "\\..\\escaped.bin";
    DeleteFileA(escaped.c_str()); // left by an earlier run that let it out
    const std::string instance = std::string(MODEL_KEY_BASE) + model + "\\Scanner 1", name = "..\\escaped.bin";
    ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, instance, SettingName(SETTING_SystemDirectory), REG_SZ,
                                         programFolder.c_str(), DWORD(programFolder.size() + 1)));
    ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, instance + "\\" SETTINGS_SUBKEY,
                                         SettingName(SETTING_CalibrationFilename), REG_SZ, name.c_str(),
                                         DWORD(name.size() + 1)));
    EXPECT_EQ(Run(FORCED_CALIBRATION_VERB), LEVELSET_FAILED);
    EXPECT_FALSE(FileExists(escaped));
    EXPECT_FALSE(FileExists(dataFile));
}

TEST_F(LevelsetTest, CleaningLeavesTheRollerClean)
{
    ASSERT_TRUE(feeder::SetRollerDirtAfter(1));
    ColumnSpreadOfAGreySheet(device.folder);
    ASSERT_EQ(Device()->Sensor.PagesSinceCleaning, 1u);
    ASSERT_EQ(Run(CLEANING_VERB), LEVELSET_DONE);
    EXPECT_EQ(Device()->Sensor.PagesSinceCleaning, 0u) << "the next page shows no streak";
    EXPECT_FALSE(FileExists(dataFile)) << "cleaning writes no calibration data";
}

// A run that fails midway leaves the agent a data file it can trust: an
// intact one stays unless the run was forced.
TEST_F(LevelsetTest, FailedCalibrationKeepsOnlyAnIntactFileOfAnUnforcedRun)
{
    const std::string intact = EncodeCalibrationData({600, 4, 3, "", std::vector<ShadingCorrection>(12, {64, 16384})});
    std::string damaged = intact;
    damaged[40] ^= 0x01;
    for (int n = 0; n < 3; ++n) { // an intact file, a damaged one, an intact one in a forced run
        const bool forced = n == 2, kept = n == 0;
        SCOPED_TRACE(n);
        CreateDirectoryA(modelFolder.c_str(), nullptr);
        ASSERT_TRUE(testsupport::WriteWholeFile(dataFile, n == 1 ? damaged : intact));
        ASSERT_TRUE(feeder::InjectFault(SC_READ, 3, FEED_STATUS_NOT_SCANNING));
        std::string now;
        EXPECT_EQ(Run(forced ? FORCED_CALIBRATION_VERB : CALIBRATION_VERB), LEVELSET_FAILED);
        EXPECT_EQ(testsupport::ReadWholeFile(dataFile, &now) ? now : "", kept ? intact : "");
        EXPECT_FALSE(Device()->Sensor.CorrectionValid) << "the device keeps what it had";
        feeder::ClearFaults();
    }
}

// While one run works, it holds the model's driver-in-use mutex and is the
// only Levelset; cancelled, it leaves no data file and lets everything go.
TEST_F(LevelsetTest, CancelledRunLeavesNothingAndASecondOneIsRefused)
{
    ASSERT_TRUE(feeder::SetLinesPerSecond(20)); // the reference reads take seconds
    std::future<int> first = Start(FORCED_CALIBRATION_VERB);
    HWND window = WaitForWindow(LEVELSET_WINDOW_CLASS, nullptr, 60000);
    ASSERT_NE(window, nullptr);
    const std::string mutexName = std::string(DRIVER_IN_USE_MUTEX_PREFIX) + model;
    HANDLE inUse = nullptr;
    testsupport::WaitUntil(2000,
                           [&] { return (inUse = OpenMutexA(SYNCHRONIZE, FALSE, mutexName.c_str())) != nullptr; });
    EXPECT_NE(inUse, nullptr) << "the agent's tick must find the scanner in use";
    CloseHandle(inUse);
    EXPECT_EQ(Start(CLEANING_VERB).get(), LEVELSET_ALREADY_RUNNING);
    // A verb it does not know is answered with the usage, before anything else.
    std::future<int> unknown = Start(CALIBRATION_VERB " now");
    PostMessageA(WaitForWindow("#32770", "Levelset", 10000), WM_COMMAND, IDOK, 0);
    EXPECT_EQ(unknown.get(), LEVELSET_USAGE);

    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(first.get(), LEVELSET_CANCELLED);
    EXPECT_FALSE(FileExists(dataFile));
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, mutexName.c_str()), nullptr) << "the mutex goes with the run";
    const std::unique_ptr<FeederState> state = Device();
    EXPECT_FALSE(state->Sensor.CorrectionValid);
    EXPECT_EQ(state->AcquiredBy, 0u) << "the device is given back";
}

} // namespace
