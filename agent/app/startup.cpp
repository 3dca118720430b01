// Start-up: the quit switch, the single-instance guard, the process-wide
// state, the first look for the scanner, the tray window and the message loop.
#include "app.h"

#include <commctrl.h>

#include "product_files.h"
#include "scan_job.h"
#include "scanner.h"
#include "settings.h"
#include "shared.h"
#include "ui.h"

namespace {

// Shown when the resource library itself may be what is missing, so its
// text cannot come from there.
const char COMPONENTS_MISSING_TEXT[] =
    "Program was unable to find some components of the software. Please re-install your scanner's software.";
const char COMPONENTS_MISSING_CAPTION[] = "Velmora";
const DWORD QUIT_WAIT_STEP_MS = 50;

// The quit switch: ask a running agent to exit and return once its window
// is gone. The agent may put the exit off until a running scan or
// calibration has ended, so the wait lasts as long as the window does.
void AskRunningAgentToExit(void)
{
    HWND running = FindWindowA(TRAY_WINDOW_CLASS, nullptr);
    if (!running)
        return;
    SendMessageA(running, WM_COMMAND, IDM_EXIT, EXIT_WITHOUT_QUESTION);
    while (IsWindow(running))
        Sleep(QUIT_WAIT_STEP_MS);
}

int RegisterTrayClass(void)
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = TrayWindowProc;
    windowClass.hInstance = AppInstance;
    windowClass.hIcon = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_PROGRAM));
    windowClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszClassName = TRAY_WINDOW_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

int IsWindowsXpOrLater(void)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return 0;
    return version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1);
}

// Loads the resource library and the title. 0 when a component is missing.
int LoadComponents(void)
{
    if (!InitModulePath() || !OpenSettingsKey())
        return 0;
    const char *libraryPath = ModuleSibling(RESOURCE_LIBRARY_FILE);
    ResourceLibrary = libraryPath ? LoadLibraryA(libraryPath) : nullptr;
    if (!ResourceLibrary)
        return 0;
    LoadStringA(ResourceLibrary, IDS_APP_TITLE, AppTitle, sizeof AppTitle);
    return 1;
}

void UnloadComponents(void)
{
    UnloadScannerDriver();
    if (ResourceLibrary) {
        FreeLibrary(ResourceLibrary);
        ResourceLibrary = nullptr;
    }
}

void RunScannerWarning(void)
{
    if (!ReadNumberSetting(SettingsKey, SETTING_EnableWarning))
        return;
    LPCDLGTEMPLATEA dialogTemplate = LoadDialogTemplate(IDD_WARNING);
    if (dialogTemplate)
        DialogBoxIndirectParamA(AppInstance, dialogTemplate, nullptr, ScannerWarningDialog, 0);
}

// Acts on the first probe. 1 to go on with the tray window, 0 to end.
int ReactToProbe(uint16_t result)
{
    switch (result) {
    case PROBE_READY:
        SetScannerConnected(1);
        EnsureCalibrated();
        return 1;
    case PROBE_DEVICE_REFUSED:
    case PROBE_DRIVER_MISSING:
    case PROBE_DRIVER_BROKEN:
        ShowResourceMessage(nullptr, result == PROBE_DEVICE_REFUSED ? IDS_DEVICE_BUSY : IDS_DRIVER_MISSING,
                            MB_ICONERROR);
        UnloadComponents();
        return 0;
    case PROBE_NOT_CONNECTED:
        SetScannerConnected(0);
        RunScannerWarning();
        return 1;
    }
    return 1;
}

// Steps after the instance is ours. 1 when the message loop ran.
int StartAgent(void)
{
    if (!RegisterTrayClass())
        return 0;
    if (!LoadComponents()) {
        MessageBoxA(nullptr, COMPONENTS_MISSING_TEXT, COMPONENTS_MISSING_CAPTION, MB_ICONERROR);
        return 0;
    }
    SessionSwitchSupported = IsWindowsXpOrLater();
    if (!IsImageFolioInstalled() && ReadNumberSetting(SettingsKey, SETTING_NeedImageFolio)) {
        ShowResourceMessage(nullptr, IDS_IMAGEFOLIO_MISSING, MB_ICONERROR);
        return 0;
    }
    InitCommonControls();
    const char *pagefit = ModuleSibling(AUTOCROP_TOOL_FILE);
    lstrcpynA(PagefitPath, pagefit ? pagefit : "", sizeof PagefitPath);
    const char *driverPath = ModuleSibling(SCANNER_DRIVER_FILE);
    if (!ReactToProbe(driverPath ? ProbeScanner(driverPath) : (uint16_t)PROBE_DRIVER_MISSING))
        return 0;

    HWND window = CreateWindowExA(0, TRAY_WINDOW_CLASS, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, nullptr, nullptr, AppInstance, nullptr);
    if (!window)
        return 0;
    TrayWindow = window;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 1;
}

} // namespace

int RunAgent(HINSTANCE instance, const char *commandLine)
{
    AppInstance = instance;
    // Siblings are loaded by full path; nothing may come from the folder the
    // agent happened to be started in.
    SetDllDirectoryA("");
    if (commandLine && (commandLine[0] == 'Q' || commandLine[0] == 'q')) {
        AskRunningAgentToExit();
        return 0;
    }
    HANDLE existing = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, INSTANCE_MUTEX_NAME);
    if (existing) {
        CloseHandle(existing);
        return 0;
    }
    HANDLE instanceMutex = CreateMutexA(nullptr, TRUE, INSTANCE_MUTEX_NAME);
    // Another agent that started in the same instant created it first.
    if (!instanceMutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (instanceMutex)
            CloseHandle(instanceMutex);
        return 0;
    }
    if (!FindWindowA(TRAY_WINDOW_CLASS, nullptr))
        StartAgent();
    ReleaseMutex(instanceMutex);
    CloseHandle(instanceMutex);
    return 0;
}
