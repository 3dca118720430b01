// Steps of the scanner layer that only this folder and its tests call.
#pragma once

#include "scanner.h"
#include "tone_tables.h"

// The insert-paper dialog's procedure (template 114) and its timer check.
INT_PTR CALLBACK InsertPaperDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int CheckPaperTick(UINT_PTR timerId);

// The device's lookup tables for one page: one movable block, the tables one
// after another. Empty (all null) when the device gave no format or memory ran out.
struct DeviceTablesRecord {
    HGLOBAL handle;
    uint8_t *start;
    uint8_t *greyTable; // the only table, or the one GreyTable names; null otherwise
    unsigned count;     // 1 or 3
    TableShape shape;
};

// The acquisition's process-wide blocks: the driver keeps pointers into the
// tables and reads the parameters until the scan stops.
struct AcquisitionRecord {
    TableFormat Format;
    ScanParameters Parameters;
    DeviceTablesRecord DeviceTables;
};
extern AcquisitionRecord Acquisition;

void QueryScanGeometry(ScanJobSettings *settings, ScanBitmap *bitmap);
int PrepareDevice(const ScanJobSettings *settings, ScanBitmap *bitmap);
void LoadTableFormat(void);
void SendIdentityTables(void);
void ApplyGamma(double gamma);
void ReleaseDeviceTables(void);
