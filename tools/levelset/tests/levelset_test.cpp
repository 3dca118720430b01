// Levelset.exe as the agent starts it, from a program folder of its own with
// Module.ini, against the virtual scanner: what a calibration and a cleaning
// change on the pages, the data file it leaves, and how it refuses.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "calibration_data.h"
#include "data_file.h"
#include "device_test_support.h"
#include "levelset.h"
#include "page_render.h"
#include "product_files.h"
#include "scan_bitmap.h"
#include "settings_table.h"
#include "test_support.h"

namespace {

using testsupport::FileExists;

const DWORD WAIT_MS = 60000;

// Mean of every column of a colour page, per channel (blue, green, red).
std::vector<double> ColumnMeans(const std::vector<uint8_t> &rows, uint32_t lineBytes, uint32_t pixels)
{
    std::vector<double> means((size_t)pixels * 3, 0.0);
    const size_t lines = rows.size() / lineBytes;
    for (size_t line = 0; line < lines; ++line)
        for (uint32_t i = 0; i < pixels * 3; ++i)
            means[i] += rows[line * lineBytes + i];
    for (double &mean : means)
        mean /= (double)lines;
    return means;
}

// Column non-uniformity: the largest standard deviation of the column
// means of one channel.
double ColumnSpread(const std::vector<double> &means)
{
    double worst = 0;
    const size_t columns = means.size() / 3;
    for (int channel = 0; channel < 3; ++channel) {
        double sum = 0, squares = 0;
        for (size_t x = 0; x < columns; ++x)
            sum += means[3 * x + channel];
        const double average = sum / columns;
        for (size_t x = 0; x < columns; ++x)
            squares += (means[3 * x + channel] - average) * (means[3 * x + channel] - average);
        worst = std::max(worst, std::sqrt(squares / columns));
    }
    return worst;
}

// How far the darkest column falls below the page's typical column.
double DeepestDip(const std::vector<double> &means)
{
    std::vector<double> grey;
    for (size_t x = 0; x + 2 < means.size(); x += 3)
        grey.push_back((means[x] + means[x + 1] + means[x + 2]) / 3);
    std::vector<double> sorted = grey;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    return sorted[sorted.size() / 2] - *std::min_element(grey.begin(), grey.end());
}

struct FoundWindow {
    DWORD ProcessId;
    const char *ClassName;
    HWND Window;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context)
{
    FoundWindow *found = reinterpret_cast<FoundWindow *>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (owner == found->ProcessId && lstrcmpiA(name, found->ClassName) == 0 && IsWindowVisible(window)) {
        found->Window = window;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window of `className` that the process shows, waited for.
HWND WaitForWindow(DWORD processId, const char *className, DWORD timeoutMs = WAIT_MS)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        FoundWindow found = {processId, className, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&found));
        if (found.Window)
            return found.Window;
        Sleep(50);
    }
    return nullptr;
}

std::string WindowText(HWND window)
{
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

class LevelsetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[32];
        snprintf(name, sizeof name, "LsTest%lu", GetCurrentProcessId());
        model = name;
        programFolder = device.folder + "\\Velmora Tools\\";
        ASSERT_TRUE(CreateDirectoryA(programFolder.c_str(), nullptr));
        const std::string built = testsupport::ProgramDirectory();
        for (const char *file : {CALIBRATION_TOOL_FILE, "Feedlink.dll"})
            ASSERT_TRUE(CopyFileA((built + file).c_str(), (programFolder + file).c_str(), FALSE)) << file;
        ASSERT_TRUE(testsupport::WriteWholeFile(programFolder + "Module.ini", "[SYSTEM]\r\nModule=" + model + "\r\n"));
        char documents[MAX_PATH];
        ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, documents), S_OK);
        modelFolder = std::string(documents) + "\\" + model;
        dataFile = modelFolder + "\\shading.bin";
        ASSERT_TRUE(feeder::SetSensor(FEEDER_SENSOR_SHADED));
    }

    void TearDown() override
    {
        testsupport::RemoveTree(modelFolder);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, std::string(MODEL_KEY_BASE) + model);
    }

    bool Start(const std::string &verb, PROCESS_INFORMATION *process)
    {
        std::string line = "\"" + programFolder + CALIBRATION_TOOL_FILE + "\" " + verb;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        const std::string application = programFolder + CALIBRATION_TOOL_FILE;
        return CreateProcessA(application.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              process) != 0;
    }

    static int Finish(PROCESS_INFORMATION *process)
    {
        DWORD code = 999;
        if (WaitForSingleObject(process->hProcess, WAIT_MS) == WAIT_OBJECT_0)
            GetExitCodeProcess(process->hProcess, &code);
        else
            TerminateProcess(process->hProcess, 999);
        CloseHandle(process->hThread);
        CloseHandle(process->hProcess);
        return (int)code;
    }

    // Runs to the end; a failure's window is read and closed as a user would.
    int Run(const std::string &verb, std::string *failure = nullptr)
    {
        PROCESS_INFORMATION process = {};
        if (!Start(verb, &process))
            return -1;
        HWND window = WaitForWindow(process.dwProcessId, LEVELSET_WINDOW_CLASS, 5000);
        while (window && IsWindow(window) && WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
            HWND button = GetDlgItem(window, IDCANCEL);
            if (button && WindowText(button) == "Close") {
                if (failure)
                    *failure = WindowText(GetWindow(window, GW_CHILD));
                PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
                break;
            }
        }
        return Finish(&process);
    }

    // Scans a uniform grey sheet across the whole glass, one inch tall, at
    // 150 dpi in colour, and returns each column's mean per channel.
    std::vector<double> ScanGreySheet()
    {
        const std::string picture = device.folder + "\\grey.bmp";
        const uint32_t grey = 0xA0A0A0;
        EXPECT_TRUE(testsupport::WriteWholeFile(
            picture, scanbitmap::ScanBitmap(24, 2600, 400, 300, [grey](uint32_t, uint32_t) { return grey; })));
        feeder::Placement placement;
        placement.X300 = 0;
        placement.Y300 = 0;
        placement.SheetDpi = 300;
        EXPECT_TRUE(feeder::QueueSheet(picture, &placement));
        feedtest::Driver driver;
        EXPECT_EQ(driver.Send(SC_OPEN), 0);
        EXPECT_EQ(driver.Send(SC_ACQUIRE), 0);
        ScanParameters parameters = feedtest::MakeParameters(feeder::DEFAULT_MAX_WIDTH300, 300, 150, 3, nullptr);
        EXPECT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
        FeederState *state = new FeederState;
        feeder::Snapshot(state);
        const uint32_t lineBytes = state->Setup.LineBytes, lines = state->Setup.Lines,
                       pixels = state->Setup.PixelsPerLine;
        delete state;
        std::vector<uint8_t> rows;
        std::vector<feedtest::ReadRecord> reads;
        feedtest::ReadPage(driver, lineBytes, lines, &rows, &reads);
        driver.Send(SC_RELEASE);
        EXPECT_EQ(rows.size(), (size_t)lineBytes * lines);
        return ColumnMeans(rows, lineBytes, pixels);
    }

    bool CorrectionLoaded()
    {
        FeederState *state = new FeederState;
        const bool loaded = feeder::Snapshot(state) && state->Sensor.CorrectionValid;
        delete state;
        return loaded;
    }

    feedtest::ScratchDevice device;
    std::string model, programFolder, modelFolder, dataFile;
};

TEST_F(LevelsetTest, CalibrationFlattensTheColumnsAndLeavesAnIntactDataFile)
{
    const double before = ColumnSpread(ScanGreySheet());
    ASSERT_EQ(Run("Force Calibration"), LEVELSET_DONE);
    const double after = ColumnSpread(ScanGreySheet());
    printf("column spread of a uniform grey sheet: %.3f levels before, %.3f after calibration\n", before, after);
    EXPECT_GT(before, 1.0) << "an uncalibrated sensor shows stripes";
    // What remains is the converter's noise, averaged over 150 lines here and
    // over the reference's lines in the correction: a small fraction of a level.
    EXPECT_LT(after, 0.15);

    std::string bytes;
    CalibrationData data;
    ASSERT_TRUE(testsupport::ReadWholeFile(dataFile, &bytes)) << dataFile;
    ASSERT_TRUE(DecodeCalibrationData(bytes, &data));
    EXPECT_EQ(data.Model, model);
    EXPECT_EQ(data.Entries.size(), (size_t)data.Elements * data.Channels);
    // No temporary file is left beside it.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((modelFolder + "\\*").c_str(), &found);
    int files = 0;
    do
        files += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_EQ(files, 1);

    // A second calibration replaces the file with an identical one: the
    // device, measured through its correction's own source, is the same.
    ASSERT_EQ(Run("calibration"), LEVELSET_DONE) << "the verb's case does not matter";
    std::string again;
    ASSERT_TRUE(testsupport::ReadWholeFile(dataFile, &again));
    EXPECT_EQ(again, bytes);
}

// The file's name is the user's setting, read and never written; a name
// that would leave the model's folder is refused.
TEST_F(LevelsetTest, TheSettingNamesTheFileWithinTheModelsFolder)
{
    const std::string modelKey = std::string(MODEL_KEY_BASE) + model;
    const std::string instance = modelKey + "\\Scanner 1";
    const std::string settings = instance + "\\" + SETTINGS_SUBKEY;
    ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, instance, SettingName(SETTING_SystemDirectory), REG_SZ,
                                         programFolder.c_str(), DWORD(programFolder.size() + 1)));
    struct Case {
        const char *name;
        int exitCode;
        const char *written; // beside the model's folder's path, or null
    } cases[] = {
        {"flat.dat", LEVELSET_DONE, "\\flat.dat"},
        {"..\\escaped.bin", LEVELSET_FAILED, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, settings, SettingName(SETTING_CalibrationFilename),
                                             REG_SZ, name.c_str(), DWORD(name.size() + 1)));
        EXPECT_EQ(Run("Force Calibration"), c.exitCode);
        if (c.written) {
            EXPECT_TRUE(FileExists(modelFolder + c.written));
        }
        EXPECT_FALSE(FileExists(modelFolder + "\\..\\escaped.bin"));
        EXPECT_FALSE(FileExists(dataFile)) << "the default name is not used";
        DWORD type = 0;
        std::string stored;
        ASSERT_TRUE(testsupport::GetRawValue(HKEY_CURRENT_USER, settings, SettingName(SETTING_CalibrationFilename),
                                             &type, &stored));
        EXPECT_EQ(stored, name + std::string(1, '\0'));
        HKEY key = nullptr;
        DWORD values = 0;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, settings.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr);
        RegCloseKey(key);
        EXPECT_EQ(values, 1u) << "no setting is written back";
    }
}

TEST_F(LevelsetTest, CleaningClearsTheDirtyRollersStreak)
{
    ASSERT_TRUE(feeder::SetRollerDirtAfter(1));
    const double cleanPage = DeepestDip(ScanGreySheet());
    const double dirtyPage = DeepestDip(ScanGreySheet());
    std::string failure;
    ASSERT_EQ(Run("Clean", &failure), LEVELSET_DONE) << failure;
    const double cleaned = DeepestDip(ScanGreySheet());
    printf("darkest column below the typical one: %.1f, %.1f with a dirty roller, %.1f after cleaning\n", cleanPage,
           dirtyPage, cleaned);
    EXPECT_LT(cleanPage, 10.0);
    EXPECT_GT(dirtyPage, 40.0);
    EXPECT_LT(cleaned, 10.0);
    EXPECT_FALSE(FileExists(dataFile)) << "cleaning writes no calibration data";
}

// A run that fails midway leaves the agent a data file it can trust.
TEST_F(LevelsetTest, FailedCalibrationKeepsOnlyAnIntactFileOfAnUnforcedRun)
{
    CalibrationData sample;
    sample.Dpi = 600;
    sample.Elements = 4;
    sample.Channels = 3;
    sample.Entries.assign(12, ShadingCorrection{64, 16384});
    const std::string intact = EncodeCalibrationData(sample);
    std::string damaged = intact;
    damaged[40] ^= 0x01;
    struct Case {
        const char *verb;
        const std::string *before; // null: no file
        bool kept;
    } cases[] = {
        {"Calibration", &intact, true},
        {"Calibration", &damaged, false},
        {"Force Calibration", &intact, false},
        {"Force Calibration", nullptr, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.verb) + (c.before == &intact ? ", intact" : c.before ? ", damaged" : ", none"));
        CreateDirectoryA(modelFolder.c_str(), nullptr);
        DeleteFileA(dataFile.c_str());
        if (c.before) {
            ASSERT_TRUE(testsupport::WriteWholeFile(dataFile, *c.before));
        }
        ASSERT_TRUE(feeder::InjectFault(SC_READ, 3, FEED_STATUS_NOT_SCANNING));
        std::string failure;
        EXPECT_EQ(Run(c.verb, &failure), LEVELSET_FAILED);
        EXPECT_FALSE(failure.empty()) << "the window says why";
        std::string now;
        EXPECT_EQ(testsupport::ReadWholeFile(dataFile, &now), c.kept) << failure;
        if (c.kept) {
            EXPECT_EQ(now, *c.before);
        }
        EXPECT_FALSE(CorrectionLoaded()) << "the device keeps what it had";
        feeder::ClearFaults();
    }
}

// While one run works, it holds the model's driver-in-use mutex and is the
// only Levelset; cancelled, it leaves no data file and lets everything go.
TEST_F(LevelsetTest, CancelledRunLeavesNothingAndASecondOneIsRefused)
{
    // Slow enough that the reference reads take seconds.
    ASSERT_TRUE(feeder::SetLinesPerSecond(20));
    PROCESS_INFORMATION first = {};
    ASSERT_TRUE(Start("Force Calibration", &first));
    HWND window = WaitForWindow(first.dwProcessId, LEVELSET_WINDOW_CLASS);
    ASSERT_NE(window, nullptr);
    const std::string mutexName = std::string(DRIVER_IN_USE_MUTEX_PREFIX) + model;
    HANDLE inUse = nullptr;
    for (int i = 0; i < 100 && !inUse; ++i, Sleep(20))
        inUse = OpenMutexA(SYNCHRONIZE, FALSE, mutexName.c_str());
    EXPECT_NE(inUse, nullptr) << "the agent's tick must find the scanner in use";
    if (inUse)
        CloseHandle(inUse);

    PROCESS_INFORMATION second = {};
    ASSERT_TRUE(Start("Clean", &second));
    EXPECT_EQ(Finish(&second), LEVELSET_ALREADY_RUNNING);

    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(Finish(&first), LEVELSET_CANCELLED);
    EXPECT_FALSE(FileExists(dataFile));
    EXPECT_FALSE(CorrectionLoaded());
    inUse = OpenMutexA(SYNCHRONIZE, FALSE, mutexName.c_str());
    EXPECT_EQ(inUse, nullptr) << "the mutex goes with the run";
    if (inUse)
        CloseHandle(inUse);
    FeederState *state = new FeederState;
    ASSERT_TRUE(feeder::Snapshot(state));
    EXPECT_EQ(state->AcquiredBy, 0u) << "the device is given back";
    delete state;
}

TEST_F(LevelsetTest, WithoutAKnownVerbItShowsUsageAndTouchesNothing)
{
    feeder::ClearTrace();
    for (const char *verb : {"", "Scrub", "Force", "Calibration now"}) {
        SCOPED_TRACE(std::string("verb \"") + verb + "\"");
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(Start(verb, &process));
        HWND box = WaitForWindow(process.dwProcessId, "#32770");
        EXPECT_NE(box, nullptr) << "a usage message";
        if (box) {
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        EXPECT_EQ(Finish(&process), LEVELSET_USAGE);
    }
    EXPECT_TRUE(feeder::ReadTrace().empty()) << "the device is never touched";
}

} // namespace
