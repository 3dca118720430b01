// The scanner's button after the first start's calibration, and a quit
// switch during a long scan that waits for the picture to be saved. Scans
// through every fault, one page or continuous, are the fault matrix's.
#include "e2e_support.h"

#include <shlobj.h>

#include <algorithm>

#include "app.h"
#include "feedlink_protocol.h"
#include "product_files.h"
#include "resource_ids.h"
#include "test_support.h"

namespace {

using namespace e2e;

const char PHOTO[] = "Z:\\usr\\share\\palapeli\\collection\\castle-maintenon.jpg";

// Pictures in the default save folder.
int DesktopPictures()
{
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((DefaultSaveFolder() + "\\*.jpg").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        ++count;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return count;
}

bool WaitForPictures(int count, DWORD timeoutMs)
{
    return testsupport::WaitUntil(timeoutMs, [&] { return DesktopPictures() >= count; });
}

bool DeviceSawCommand(uint16_t command)
{
    std::vector<FeederTraceEntry> trace = feeder::ReadTrace();
    return std::any_of(trace.begin(), trace.end(),
                       [&](const FeederTraceEntry &entry) { return entry.Command == command; });
}

class Scan : public AgentScenario {};

// With the real calibration tool: calibrated at start-up, then the button
// goes straight to the scan.
TEST_F(Scan, FirstStartCalibratesThenTheButtonScans)
{
    SetCalibrationDataPresent(false);
    int before = DesktopPictures();
    ASSERT_TRUE(StartAgent());
    HWND notice = WaitForDialog(agent.id);
    ASSERT_NE(notice, nullptr);
    EXPECT_NE(DialogText(notice).find(ResourceString(IDS_CALIBRATION_NOTICE)), std::string::npos);
    ClickButton(notice, IDOK);
    ASSERT_TRUE(WaitForWindowGone(notice));
    HWND done = WaitForDialog(agent.id, "", 120000);
    ASSERT_NE(done, nullptr);
    EXPECT_NE(DialogText(done).find(ResourceString(IDS_CALIBRATION_DONE)), std::string::npos);
    EXPECT_TRUE(GetFileAttributesA(CalibrationDataPath().c_str()) != INVALID_FILE_ATTRIBUTES);
    ClickButton(done, IDOK);

    ASSERT_NE(WaitForAgentWindow(), nullptr);
    ASSERT_TRUE(feeder::QueueSheet(PHOTO));
    ASSERT_TRUE(WaitUntilAgentPolls(agent.id));
    ASSERT_TRUE(feeder::PressButton());
    EXPECT_TRUE(WaitForPictures(before + 1, 120000));
    EXPECT_EQ(WaitForDialog(agent.id, "", 500), nullptr) << "no second calibration notice";
}

TEST_F(Scan, QuitSwitchDuringALongScanWaitsForThePicture)
{
    int before = DesktopPictures();
    ASSERT_TRUE(feeder::QueueSheet(PHOTO));
    ASSERT_TRUE(feeder::SetLinesPerSecond(400));
    ASSERT_TRUE(StartAgent());
    HWND window = WaitForAgentWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntilAgentPolls(agent.id));
    ASSERT_TRUE(feeder::PressButton());
    ASSERT_TRUE(testsupport::WaitUntil(10000, [&] { return DeviceSawCommand(SC_READ); })) << "the scan did not start";

    Process quitter;
    ASSERT_TRUE(StartProgram(AGENT_PROGRAM_FILE, "q", &quitter));
    Sleep(1000);
    EXPECT_TRUE(IsWindow(window)) << "the agent left in the middle of a scan";
    EXPECT_EQ(quitter.WaitExit(180000), 0);
    EXPECT_EQ(agent.WaitExit(10000), 0);
    EXPECT_EQ(DesktopPictures(), before + 1);
}

} // namespace
