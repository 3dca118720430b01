// Plug and Play's part for the virtual scanner: the device-interface arrival
// and removal broadcasts a real still-image device would cause.
#include "feeder_control.h"

#include <windows.h>
#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace feeder {

namespace {

// The still-image device interface class.
const GUID IMAGE_INTERFACE_CLASS = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

struct BroadcastRun {
    WPARAM Event;
    LPARAM Header;
    UINT TimeoutMs;
    int Answered;
};

BOOL CALLBACK SendToWindow(HWND window, LPARAM context)
{
    BroadcastRun *run = reinterpret_cast<BroadcastRun *>(context);
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(window, WM_DEVICECHANGE, run->Event, run->Header, SMTO_ABORTIFHUNG, run->TimeoutMs,
                            &result))
        ++run->Answered;
    return TRUE;
}

} // namespace

int BroadcastDeviceChange(bool arrival, unsigned timeoutMs)
{
    // An interface name of the form the system gives USB still-image devices.
    char name[160];
    snprintf(name, sizeof name, "\\\\?\\USB#%s#VF0001#{6bdd1fc6-810f-11d0-bec7-08002be2092f}", VidPid().c_str());
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + strlen(name) + 1;
    std::vector<uint8_t> buffer(size, 0);
    DEV_BROADCAST_DEVICEINTERFACE_A *header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A *>(buffer.data());
    header->dbcc_size = (DWORD)size;
    header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header->dbcc_classguid = IMAGE_INTERFACE_CLASS;
    memcpy(header->dbcc_name, name, strlen(name) + 1);
    BroadcastRun run = {WPARAM(arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE), (LPARAM)header, timeoutMs, 0};
    EnumWindows(SendToWindow, (LPARAM)&run);
    return run.Answered;
}

} // namespace feeder
