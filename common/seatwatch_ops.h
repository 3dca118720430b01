// The session-notification library's operations table, shared by
// Seatwatch.dll and the agent that loads it by name.
#pragma once

#include <windows.h>

#define SEATWATCH_ENTRY "SeatwatchOps"

typedef BOOL(WINAPI *SeatwatchWindowOp)(HWND window);

// Slot 0 makes session-change messages (WM_WTSSESSION_CHANGE) reach the
// window; slot 1, called with the same window, stops them.
struct SeatwatchOperations {
    SeatwatchWindowOp Register;
    SeatwatchWindowOp Unregister;
};

typedef const SeatwatchOperations *(WINAPI *SeatwatchEntry)(void);
