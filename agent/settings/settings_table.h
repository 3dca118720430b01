// The single list of every registry value the agent reads or writes: name,
// type, default, reader capacity and where it lives. Code names a value by
// its SettingId; no value name is written anywhere else.
#pragma once

#include <windows.h>

enum SettingKind { SETTING_NUMBER, SETTING_TEXT };

// Where a value lives.
enum SettingPlace {
    PLACE_SETTINGS,     // directly under the per-user "Velmora" key
    PLACE_SCAN,         // under its "Setting" subkey (the scan settings)
    PLACE_PAPER,        // under its "Paper Size" subkey
    PLACE_INSTANCE,     // the scanner instance key
    PLACE_COMMON_FILES, // the scanner maker's shared key (image library)
};

//  X(id, "Value Name", kind, place, number default, text default, text capacity)
// A null text default counts as empty. Capacity is the reader's buffer size
// in bytes: stored text must be shorter. The scan settings' default save
// path is computed at run time, so its table default is empty.
#define VELMORA_SETTING_VALUES(X)                                                                                      \
    X(CalibrationFilename, "Calibration Filename", SETTING_TEXT, PLACE_SETTINGS, 0, "shading.bin", 20)                 \
    X(FolderName, "Folder Name", SETTING_TEXT, PLACE_SETTINGS, 0, "", 260)                                             \
    X(PrefixLimit, "Prefix Limit", SETTING_NUMBER, PLACE_SETTINGS, 20, nullptr, 0)                                     \
    X(JpegCompressionRatio, "JPEG Compression Ratio", SETTING_NUMBER, PLACE_SETTINGS, 80, nullptr, 0)                  \
    X(ProductModel, "Product Model", SETTING_TEXT, PLACE_SETTINGS, 0, "", 60)                                          \
    X(EnableWarning, "Enable Warning", SETTING_NUMBER, PLACE_SETTINGS, 0, nullptr, 0)                                  \
    X(FirstStartup, "First Startup", SETTING_NUMBER, PLACE_SETTINGS, 0, nullptr, 0)                                    \
    X(VidPid, "VID_PID", SETTING_TEXT, PLACE_SETTINGS, 0, "", 20)                                                      \
    X(DefaultProcessor, "Default Processor", SETTING_NUMBER, PLACE_SETTINGS, 0, nullptr, 0)                            \
    X(NeedImageFolio, "Need ImageFolio", SETTING_NUMBER, PLACE_SETTINGS, 0, nullptr, 0)                                \
    X(Support600Dpi, "Support 600 dpi", SETTING_NUMBER, PLACE_SETTINGS, 0, nullptr, 0)                                 \
    X(InsideGamma, "Inside Gamma", SETTING_NUMBER, PLACE_SETTINGS, 100, nullptr, 0)                                    \
    X(ScanMode, "Current ScanMode", SETTING_NUMBER, PLACE_SCAN, 0, nullptr, 0)                                         \
    X(Resolution, "Current Resolution", SETTING_NUMBER, PLACE_SCAN, 100, nullptr, 0)                                   \
    X(PaperSize, "Current PaperSize", SETTING_NUMBER, PLACE_SCAN, 0, nullptr, 0)                                       \
    X(Rotate, "Current Rotate", SETTING_NUMBER, PLACE_SCAN, 0, nullptr, 0)                                             \
    X(Brightness, "Current Brightness", SETTING_NUMBER, PLACE_SCAN, 50, nullptr, 0)                                    \
    X(Contrast, "Current Contrast", SETTING_NUMBER, PLACE_SCAN, 50, nullptr, 0)                                        \
    X(Gamma, "Current Gamma", SETTING_NUMBER, PLACE_SCAN, 100, nullptr, 0)                                             \
    X(ContinuousScan, "Current Continuous Scan", SETTING_NUMBER, PLACE_SCAN, 0, nullptr, 0)                            \
    X(AutoCrop, "Current AutoCrop", SETTING_NUMBER, PLACE_SCAN, 0, nullptr, 0)                                         \
    X(AutoDeskew, "Current AutoDeskew", SETTING_NUMBER, PLACE_SCAN, 0, nullptr, 0)                                     \
    X(Format, "Current Format", SETTING_NUMBER, PLACE_SCAN, 0, nullptr, 0)                                             \
    X(Prefix, "Current Prefix", SETTING_TEXT, PLACE_SCAN, 0, "Image", 260)                                             \
    X(SavePath, "Current SavePath", SETTING_TEXT, PLACE_SCAN, 0, "", 260)                                              \
    X(PaperSizeArea, "Size", SETTING_TEXT, PLACE_PAPER, 0, "", 60)                                                     \
    X(SystemDirectory, "System Directory", SETTING_TEXT, PLACE_INSTANCE, 0, "", 260)                                   \
    X(TimeStamp, "TimeStamp", SETTING_TEXT, PLACE_INSTANCE, 0, "", 260)                                                \
    X(ImageLibrary, "Image Library", SETTING_TEXT, PLACE_COMMON_FILES, 0, "", 260)

enum SettingId {
#define VELMORA_SETTING_ID(id, name, kind, place, number, text, capacity) SETTING_##id,
    VELMORA_SETTING_VALUES(VELMORA_SETTING_ID)
#undef VELMORA_SETTING_ID
        SETTING_COUNT
};

struct SettingValue {
    const char *name;
    SettingKind kind;
    SettingPlace place;
    int numberDefault;
    const char *textDefault;
    DWORD capacity;
};

// Constant, so callers can size their buffers from it at compile time.
inline constexpr SettingValue SettingTable[SETTING_COUNT] = {
#define VELMORA_SETTING_ROW(id, name, kind, place, number, text, capacity) {name, kind, place, number, text, capacity},
    VELMORA_SETTING_VALUES(VELMORA_SETTING_ROW)
#undef VELMORA_SETTING_ROW
};

constexpr const SettingValue &Setting(SettingId id)
{
    return SettingTable[id];
}
constexpr const char *SettingName(SettingId id)
{
    return SettingTable[id].name;
}

// Key names and paths fixed by the scanner's installer.
#define MODEL_KEY_BASE "Software\\Sheetfed Scanner\\"
#define SETTINGS_SUBKEY "Velmora"
#define SCAN_SETTINGS_SUBKEY "Setting"
#define PAPER_SIZE_SUBKEY "Paper Size"
#define COMMON_FILES_KEY "Software\\Tessaro Corp\\Common Files"
#define IMAGEFOLIO_APP_PATH_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\If42le.exe"
#define MODULE_INI_NAME "Module.ini"
#define MODULE_INI_SECTION "SYSTEM"
#define MODULE_INI_KEY "Module"
const DWORD MODEL_NAME_CAPACITY = 20; // the model name keeps at most 19 characters
