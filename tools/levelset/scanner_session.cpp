// The scanner for the length of one run, taken through the agent's own driver
// layer: the driver loaded and probed from the program's folder, the
// per-model driver-in-use mutex held, the device acquired.
#include "levelset.h"

#include <string>

#include "scanner.h"
#include "settings.h"
#include "shared.h"

namespace {

// The agent polls its button every 200 ms and takes the device for a moment
// each time; a few seconds of retries outlast any poll that is under way.
const int ACQUIRE_ATTEMPTS = 50;
const DWORD ACQUIRE_RETRY_MS = 100;

struct ScannerSession {
    HANDLE InUseMutex;
    bool Acquired;
};
ScannerSession Session;

} // namespace

bool ScannerCommand(uint16_t command, void *data)
{
    return SendScannerCommand(command, data) != 0;
}

bool TakeScanner(RunContext *run, int *exitCode, const char **failure)
{
    *exitCode = LEVELSET_NO_SCANNER;
    char model[MODEL_NAME_CAPACITY];
    ReadModuleModelName(model);
    // Held before the device is touched, so the agent's next tick already
    // finds the scanner in use and does not poll it under our feet.
    const std::string mutexName = std::string(DRIVER_IN_USE_MUTEX_PREFIX) + model;
    Session.InUseMutex = CreateMutexA(nullptr, FALSE, mutexName.c_str());

    for (int attempt = 0; attempt < ACQUIRE_ATTEMPTS && !CancelRequested(run); ++attempt) {
        // ModulePath's tail is overwritten by every sibling lookup: name the
        // driver again before each probe.
        const char *driverPath = ModuleSibling(SCANNER_DRIVER_FILE);
        const uint16_t probe = driverPath ? ProbeScanner(driverPath) : (uint16_t)PROBE_DRIVER_MISSING;
        if (probe == PROBE_READY && ScannerCommand(SC_ACQUIRE, nullptr)) {
            Session.Acquired = true;
            *exitCode = LEVELSET_DONE;
            return true;
        }
        if (probe != PROBE_READY && probe != PROBE_DEVICE_REFUSED) {
            *failure = probe == PROBE_NOT_CONNECTED ? "The scanner is not connected or not switched on."
                                                    : "The scanner driver cannot be loaded.";
            GiveBackScanner();
            return false;
        }
        Sleep(ACQUIRE_RETRY_MS);
    }
    if (CancelRequested(run))
        *exitCode = LEVELSET_CANCELLED;
    *failure = "The scanner is in use by another program.";
    GiveBackScanner();
    return false;
}

void GiveBackScanner(void)
{
    if (Session.Acquired) {
        // A reference left selected goes back to sheets with the release.
        ScannerCommand(SC_STOP, nullptr);
        ScannerCommand(SC_RELEASE, nullptr);
    }
    Session.Acquired = false;
    UnloadScannerDriver();
    if (Session.InUseMutex)
        CloseHandle(Session.InUseMutex);
    Session.InUseMutex = nullptr;
}
