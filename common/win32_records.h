// Sizes of the system records whose size the product depends on: the agent
// passes the oldest tray record and the tooltip record with its lParam (the oldest systems it
// runs on know no other), and its bitmap files have the classic 14 + 40 byte
// headers. Checked here so a wrong target or packing fails the build.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

// First-version sizes of the tray icon and tooltip records.
const UINT TRAY_RECORD_BYTES = 88;
const UINT TOOLTIP_RECORD_BYTES = 44;

// The system's own size macros are not constant expressions; offsets are.
static_assert(offsetof(NOTIFYICONDATAA, szTip) + 64 == TRAY_RECORD_BYTES, "tray record is 88 bytes");
static_assert(offsetof(TTTOOLINFOA, lParam) + sizeof(LPARAM) == TOOLTIP_RECORD_BYTES, "tooltip record is 44 bytes");
static_assert(sizeof(BITMAPFILEHEADER) == 14, "bitmap file header is 14 bytes");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "bitmap information header is 40 bytes");
static_assert(sizeof(RGBQUAD) == 4, "palette entries are 4 bytes");
