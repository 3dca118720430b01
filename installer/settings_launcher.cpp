// VelmoraSettings.exe, behind the Start-menu entry for the settings: asks the
// running agent to open its settings dialog exactly as a double-click on its
// tray icon does, so the agent's own rules apply (no dialog while a scan or a
// calibration runs, none without a scanner). When no agent runs, it starts
// the one beside it first and waits for its tray window.
#include <windows.h>
#include <shellapi.h>

#include <string.h>

#include "app.h"
#include "product_files.h"

namespace {

// Start-up may run a forced calibration before the tray window exists.
const DWORD AGENT_WINDOW_WAIT_MS = 60000;
const DWORD AGENT_WINDOW_POLL_MS = 100;

int StartAgentBesideUs(void)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return 0;
    char *tail = strrchr(path, '\\');
    tail = tail ? tail + 1 : path;
    size_t room = sizeof path - (tail - path);
    if (lstrlenA(AGENT_PROGRAM_FILE) >= (int)room)
        return 0;
    lstrcpynA(tail, AGENT_PROGRAM_FILE, (int)room);
    return (INT_PTR)ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL) > 32;
}

HWND WaitForAgentWindow(void)
{
    for (DWORD waited = 0; waited < AGENT_WINDOW_WAIT_MS; waited += AGENT_WINDOW_POLL_MS) {
        HWND window = FindWindowA(TRAY_WINDOW_CLASS, nullptr);
        if (window)
            return window;
        Sleep(AGENT_WINDOW_POLL_MS);
    }
    return nullptr;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    HWND agent = FindWindowA(TRAY_WINDOW_CLASS, nullptr);
    if (!agent) {
        if (!StartAgentBesideUs())
            return 1;
        agent = WaitForAgentWindow();
        if (!agent)
            return 1;
    }
    // The agent brings itself (or its dialog) to the front; a program the
    // user did not click in may only do so when the clicked one allows it.
    DWORD agentProcess = 0;
    GetWindowThreadProcessId(agent, &agentProcess);
    AllowSetForegroundWindow(agentProcess);
    UINT trayMessage = RegisterWindowMessageA(TRAY_CALLBACK_MESSAGE_NAME);
    return PostMessageA(agent, trayMessage, 0, WM_LBUTTONDBLCLK) ? 0 : 1;
}
