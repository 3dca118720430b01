// The device's lookup tables for one page: their format as the device gives
// it, the identity download, and the two gamma passes that shape them.
#include "scanner_internal.h"

AcquisitionRecord Acquisition;

static uint8_t *TableAt(unsigned index)
{
    DeviceTablesRecord &tables = Acquisition.DeviceTables;
    return tables.start + index * TableBytes(tables.shape);
}

void LoadTableFormat(void)
{
    DeviceTablesRecord &tables = Acquisition.DeviceTables;
    tables = DeviceTablesRecord();
    if (!SendScannerCommand(SC_GET_TABLE_FORMAT, &Acquisition.Format))
        return;
    const TableFormat &format = Acquisition.Format;
    TableShape shape = {format.MaxValue, format.EntryBytes, format.Entries};
    unsigned count = format.Channels == 3 ? 3 : 1;
    size_t bytes = TableBytes(shape) * count;
    if (bytes == 0)
        return;
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!handle)
        return;
    uint8_t *start = (uint8_t *)GlobalLock(handle);
    if (!start) {
        GlobalFree(handle);
        return;
    }
    tables.handle = handle;
    tables.start = start;
    tables.count = count;
    tables.shape = shape;
    if (count == 1)
        tables.greyTable = start;
    else if (format.GreyTable >= 3 && format.GreyTable <= 5)
        tables.greyTable = TableAt(format.GreyTable - 3u);
}

void SendIdentityTables(void)
{
    DeviceTablesRecord &tables = Acquisition.DeviceTables;
    for (unsigned i = 0; tables.start && i < tables.count; i++)
        FillIdentityTable(TableAt(i), tables.shape);
    for (unsigned i = 0; tables.start && i < tables.count; i++) {
        TableDownload download = {TableAt(i), Acquisition.Parameters.Brightness, Acquisition.Parameters.Contrast};
        SendScannerCommand(SC_SET_TABLE, &download);
    }
}

void ApplyGamma(double gamma)
{
    DeviceTablesRecord &tables = Acquisition.DeviceTables;
    if (gamma == 0.0 || !tables.start)
        return;
    size_t bytes = TableBytes(tables.shape);
    HGLOBAL curveHandle = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!curveHandle)
        return;
    uint8_t *curve = (uint8_t *)GlobalLock(curveHandle);
    if (curve) {
        BuildGammaCurve(curve, tables.shape, gamma);
        for (unsigned i = 0; i < tables.count; i++)
            ApplyCurveToTable(TableAt(i), curve, tables.shape);
        GlobalUnlock(curveHandle);
    }
    GlobalFree(curveHandle);
}

void ReleaseDeviceTables(void)
{
    DeviceTablesRecord &tables = Acquisition.DeviceTables;
    if (tables.handle) {
        GlobalUnlock(tables.handle);
        GlobalFree(tables.handle);
    }
    tables = DeviceTablesRecord();
}
