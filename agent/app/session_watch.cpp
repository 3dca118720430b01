// Session-change notifications through Seatwatch.dll, a sibling library the
// agent can start without.
#include "app.h"

#include "product_files.h"
#include "shared.h"
#include "tray_state.h"

void StartSessionWatch(HWND window)
{
    if (!SessionSwitchSupported)
        return;
    const char *path = ModuleSibling(SESSION_LIBRARY_FILE);
    HMODULE library = path ? LoadLibraryA(path) : nullptr;
    if (!library)
        return;
    SeatwatchEntry entry = (SeatwatchEntry)GetProcAddress(library, SEATWATCH_ENTRY);
    if (!entry) {
        FreeLibrary(library);
        return;
    }
    TrayState.SessionLibrary = library;
    TrayState.SessionNotifyOps = entry();
    if (TrayState.SessionNotifyOps && TrayState.SessionNotifyOps->Register)
        TrayState.SessionNotifyOps->Register(window);
}

void StopSessionWatch(HWND window)
{
    if (!SessionSwitchSupported || !TrayState.SessionLibrary)
        return;
    if (TrayState.SessionNotifyOps && TrayState.SessionNotifyOps->Unregister)
        TrayState.SessionNotifyOps->Unregister(window);
    FreeLibrary(TrayState.SessionLibrary);
    TrayState.SessionLibrary = nullptr;
    TrayState.SessionNotifyOps = nullptr;
}
