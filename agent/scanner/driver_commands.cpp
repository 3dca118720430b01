// The driver's command interface: loading and probing Feedlink.dll, the one
// command block, and the sender every scanner command goes through.
#include "scanner.h"

ScannerDriverRecord ScannerDriver;
ScannerCommandBlock ScannerBlock;

int SendScannerCommand(unsigned code, void *data)
{
    // A driver unloaded meanwhile (the scanner was unplugged during a job)
    // must fail every later command instead of calling into freed code.
    if (!ScannerDriver.entry)
        return 0;
    ScannerBlock.Command = (uint16_t)code;
    if (ScannerBlock.Command == SC_START)
        ScannerBlock.TransferSize = SC_START_MAGIC;
    // SC_READ sets Data itself and passes null, so null keeps what is there.
    if (data)
        ScannerBlock.Data = data;
    ScannerDriver.entry(&ScannerBlock);
    return ScannerBlock.Status == 0;
}

// Nulls the record before freeing, so no command can reach a library that
// is going away.
static void ForgetScannerDriver(void)
{
    HMODULE module = ScannerDriver.module;
    ScannerDriver.module = nullptr;
    ScannerDriver.entry = nullptr;
    if (module)
        FreeLibrary(module);
}

void UnloadScannerDriver(void)
{
    if (!ScannerDriver.module)
        return;
    if (ScannerDriver.entry)
        SendScannerCommand(SC_CLOSE, nullptr);
    ForgetScannerDriver();
}

// GetFileAttributes rather than OpenFile: OpenFile's record holds 128
// characters, so an agent installed in a deep folder would report its own
// driver as missing.
static bool DriverFileExists(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Gives the device back (when it was taken), closes the driver and unloads it.
static uint16_t AbandonProbe(uint16_t result, bool deviceTaken)
{
    if (deviceTaken)
        SendScannerCommand(SC_RELEASE, nullptr);
    SendScannerCommand(SC_CLOSE, nullptr);
    ForgetScannerDriver();
    return result;
}

static uint8_t DriverInfo[SC_GET_INFO_BYTES];
static uint8_t DriverExtraInfo[SC_GET_EXTRA_INFO_BYTES];

uint16_t ProbeScanner(const char *driverPath)
{
    // Every arrival probes again, also while an earlier probe's driver is
    // still loaded. Overwriting that record would keep its open session and
    // its library reference forever, so that no later unload ever frees the
    // library: close and free it first, and the driver afterwards is loaded
    // exactly when this probe answers ready.
    UnloadScannerDriver();
    if (!DriverFileExists(driverPath))
        return PROBE_DRIVER_MISSING;
    HMODULE module = LoadLibraryA(driverPath);
    if (!module)
        return PROBE_DRIVER_BROKEN;
    FARPROC entry = GetProcAddress(module, SCANNER_DRIVER_ENTRY);
    if (!entry) {
        FreeLibrary(module);
        return PROBE_DRIVER_BROKEN;
    }
    ScannerDriver.module = module;
    ScannerDriver.entry = (FeedlinkEntry)entry;

    if (!SendScannerCommand(SC_OPEN, nullptr))
        return AbandonProbe(PROBE_NOT_CONNECTED, false);
    // A refused acquire is still answered with a release: the driver may
    // hold a half-taken device.
    if (!SendScannerCommand(SC_ACQUIRE, nullptr))
        return AbandonProbe(PROBE_DEVICE_REFUSED, true);
    if (!SendScannerCommand(SC_IS_PRESENT, nullptr))
        return AbandonProbe(PROBE_NOT_CONNECTED, true);
    if (!SendScannerCommand(SC_GET_INFO, DriverInfo))
        return AbandonProbe(PROBE_NOT_CONNECTED, true);
    SendScannerCommand(SC_GET_EXTRA_INFO, DriverExtraInfo);
    SendScannerCommand(SC_RELEASE, nullptr);
    return PROBE_READY;
}
