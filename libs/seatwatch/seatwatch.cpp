// Seatwatch.dll: the agent's access to session-change notifications, kept in
// a library of its own so the agent still starts on systems without them.
#include <windows.h>
#include <wtsapi32.h>

#include "seatwatch_ops.h"

namespace {

BOOL WINAPI RegisterSessionWindow(HWND window)
{
    // Only the agent's own session: another user's logon is no reason to let
    // go of the scanner.
    return WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION);
}

BOOL WINAPI UnregisterSessionWindow(HWND window)
{
    return WTSUnRegisterSessionNotification(window);
}

const SeatwatchOperations Operations = {RegisterSessionWindow, UnregisterSessionWindow};

} // namespace

extern "C" __declspec(dllexport) const SeatwatchOperations *WINAPI SeatwatchOps(void)
{
    return &Operations;
}
