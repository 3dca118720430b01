// The process flags every part consults before touching the scanner, and the
// device notifications that keep ScannerConnected current.
#include "app.h"

#include <dbt.h>

#include <cstdio>
#include <cstring>

#include "scanner.h"
#include "settings.h"
#include "shared.h"

namespace {

// The still-image device interface class.
const GUID IMAGE_INTERFACE_CLASS = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

HDEVNOTIFY DeviceNotification;

} // namespace

int IsScanEnabled(void)
{
    return ScanEnabled;
}

int IsScannerConnected(void)
{
    return ScannerConnected;
}

void SetScannerConnected(int connected)
{
    ScannerConnected = connected ? 1 : 0;
}

void SetScanEnabled(int enabled)
{
    if (!enabled) {
        ScanEnabled = 0;
        return;
    }
    if (ScannerConnected)
        WaitScannerIdle();
    ScanEnabled = 1;
}

void RegisterScannerNotifications(HWND window)
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = IMAGE_INTERFACE_CLASS;
    DeviceNotification = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void UnregisterScannerNotifications(void)
{
    if (IsWindows2000OrLater() && DeviceNotification) {
        UnregisterDeviceNotification(DeviceNotification);
        DeviceNotification = nullptr;
    }
}

int MatchesScannerVidPid(const char *deviceName)
{
    char vidPid[Setting(SETTING_VidPid).capacity];
    ReadTextSetting(SettingsKey, SETTING_VidPid, vidPid);
    // The broadcast's name may be longer than any path; compare a bounded copy.
    char name[1024];
    lstrcpynA(name, deviceName ? deviceName : "", sizeof name);
    CharUpperA(name);
    CharUpperA(vidPid);
    return strstr(name, vidPid) != nullptr;
}

int IsDriverAvailable(void)
{
    char model[MODEL_NAME_CAPACITY];
    ReadModuleModelName(model);
    char mutexName[sizeof DRIVER_IN_USE_MUTEX_PREFIX + MODEL_NAME_CAPACITY];
    snprintf(mutexName, sizeof mutexName, "%s%s", DRIVER_IN_USE_MUTEX_PREFIX, model);
    HANDLE inUse = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mutexName);
    if (!inUse)
        return 1;
    WaitScannerIdle();
    CloseHandle(inUse);
    return 0;
}
