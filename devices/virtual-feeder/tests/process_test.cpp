// The plug and unplug broadcasts reach a top-level window of another process
// as the still-image device interface the agent listens for.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <string>
#include <vector>

#include "device_test_support.h"
#include "test_support.h"

using namespace feedtest;

namespace {

struct Received {
    WPARAM event;
    DWORD deviceType;
    GUID classGuid;
    std::string name;
};
std::vector<Received> Messages;

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE && lParam) {
        const DEV_BROADCAST_HDR *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(lParam);
        Received received = {wParam, header->dbch_devicetype, GUID(), std::string()};
        if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            const DEV_BROADCAST_DEVICEINTERFACE_A *device =
                reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(lParam);
            received.classGuid = device->dbcc_classguid;
            received.name = device->dbcc_name;
        }
        Messages.push_back(received);
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Runs feedctl with `arguments` while this thread keeps dispatching its
// messages, as the agent's message loop would.
int RunFeedctlPumping(const std::string &arguments)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = "\"" + testsupport::ProgramDirectory() + "feedctl.exe\" " + arguments;
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < 60000) {
        const DWORD wait = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (wait == WAIT_OBJECT_0)
            break;
    }
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}

} // namespace

TEST(DeviceBroadcast, UnplugAndPlugArriveAsStillImageInterfaceEvents)
{
    ScratchDevice device;
    ASSERT_TRUE(feeder::SetVidPid("VID_1A2B&PID_3C4D"));
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ListenerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VirtualFeederBroadcastListener";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "listener", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    Messages.clear();

    ASSERT_EQ(RunFeedctlPumping("unplug"), 0);
    ASSERT_EQ(RunFeedctlPumping("plug"), 0);
    DestroyWindow(window);
    feeder::SetVidPid(FEEDER_DEFAULT_VID_PID);

    const GUID imageClass = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
    const WPARAM expected[] = {DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEARRIVAL};
    ASSERT_EQ(Messages.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(Messages[i].event, expected[i]);
        EXPECT_EQ(Messages[i].deviceType, (DWORD)DBT_DEVTYP_DEVICEINTERFACE);
        EXPECT_TRUE(IsEqualGUID(Messages[i].classGuid, imageClass));
        EXPECT_NE(Messages[i].name.find("VID_1A2B&PID_3C4D"), std::string::npos) << Messages[i].name;
    }
    FeederState *state = new FeederState;
    ASSERT_TRUE(feeder::Snapshot(state));
    EXPECT_EQ(state->Plugged, 1u);
    delete state;
}
