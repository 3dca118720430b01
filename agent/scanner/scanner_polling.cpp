// Short command sequences that ask the scanner whether it is there, whether
// its button was pressed and whether a sheet waits in the feeder.
#include "scanner.h"

// The button is sampled this often while it is held down.
static const DWORD BUTTON_RELEASE_STEP_MS = 50;
// Pause after the device could not be taken, so a caller polling for the
// next sheet does not spin against another program holding it.
static const DWORD DEVICE_BUSY_PAUSE_MS = 250;

int IsScannerPresent(void)
{
    if (!SendScannerCommand(SC_ACQUIRE, nullptr))
        return 0;
    int present = SendScannerCommand(SC_IS_PRESENT, nullptr);
    SendScannerCommand(SC_RELEASE, nullptr);
    return present;
}

// Status stays above 0 while the button is down.
static void WaitButtonReleased(void)
{
    do {
        Sleep(BUTTON_RELEASE_STEP_MS);
        SendScannerCommand(SC_GET_BUTTON, nullptr);
    } while (ScannerBlock.Status > 0);
}

void WaitScannerIdle(void)
{
    if (!ScannerDriver.entry)
        return;
    WaitButtonReleased();
}

int16_t PollScanButton(HWND window, UINT_PTR timerId)
{
    if (timerId != BUTTON_POLL_TIMER_ID)
        return 0;
    if (!IsScannerPresent())
        return 0;
    SendScannerCommand(SC_GET_BUTTON, nullptr);
    int16_t first = ScannerBlock.Status;
    if (first <= 0)
        return first;
    // One press must start one scan: the poll ends only once it is let go.
    WaitButtonReleased();
    return first;
}

int TakePaperEvent(void)
{
    if (!SendScannerCommand(SC_ACQUIRE, nullptr)) {
        Sleep(DEVICE_BUSY_PAUSE_MS);
        return 0;
    }
    int taken = 0;
    if (SendScannerCommand(SC_PAPER_PRESENT, nullptr)) {
        SendScannerCommand(SC_TAKE_PAPER, nullptr);
        taken = 1;
    }
    SendScannerCommand(SC_RELEASE, nullptr);
    return taken;
}
