// The settings dialog's working copy of the scan settings, and its loading
// from and saving to the "Setting" key.
#include "settings_dialog.h"

#include "naming.h"
#include "resource_ids.h"
#include "settings.h"

ScanDialogSettings DialogSettings;

namespace {

// The only format the dialog offers (JPEG).
const uint16_t DIALOG_FORMAT = 1;

// The numbers of "Setting" in the order they are written; the format is
// written but never read back.
struct NumberField {
    SettingId id;
    uint16_t ScanDialogSettings::*narrow; // zero-extended when stored
    int32_t ScanDialogSettings::*wide;
};
const NumberField NUMBER_FIELDS[] = {
    {SETTING_ScanMode, &ScanDialogSettings::ScanMode, nullptr},
    {SETTING_Resolution, &ScanDialogSettings::Resolution, nullptr},
    {SETTING_PaperSize, &ScanDialogSettings::PaperSize, nullptr},
    {SETTING_Rotate, &ScanDialogSettings::Rotation, nullptr},
    {SETTING_Brightness, &ScanDialogSettings::Brightness, nullptr},
    {SETTING_Contrast, &ScanDialogSettings::Contrast, nullptr},
    {SETTING_Gamma, &ScanDialogSettings::Gamma, nullptr},
    {SETTING_ContinuousScan, nullptr, &ScanDialogSettings::ContinuousScan},
    {SETTING_AutoCrop, nullptr, &ScanDialogSettings::AutoCrop},
    {SETTING_AutoDeskew, nullptr, &ScanDialogSettings::AutoDeskew},
    {SETTING_Format, &ScanDialogSettings::Format, nullptr},
};

HKEY OpenScanSettings(void)
{
    HKEY key;
    if (RegCreateKeyExA(SettingsKey, SCAN_SETTINGS_SUBKEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// Item data of a list's selected item. With no selection the field keeps
// its value: the list's error code would otherwise be stored as 65535.
void TakeSelection(HWND dialog, int list, uint16_t *field)
{
    LRESULT index = SendDlgItemMessageA(dialog, list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return;
    *field = LOWORD(SendDlgItemMessageA(dialog, list, CB_GETITEMDATA, (WPARAM)index, 0));
}

} // namespace

void LoadDialogSettings(void)
{
    HKEY key = OpenScanSettings();
    if (!key)
        return;
    for (const NumberField &field : NUMBER_FIELDS) {
        if (field.id == SETTING_Format)
            continue;
        int number = ReadNumberSetting(key, field.id);
        if (field.narrow)
            DialogSettings.*field.narrow = LOWORD(number);
        else
            DialogSettings.*field.wide = number;
    }
    DialogSettings.Format = DIALOG_FORMAT;

    char defaultFolder[PATH_CAPACITY];
    GetDefaultSaveFolder(defaultFolder);
    ReadStringSetting(key, SettingName(SETTING_SavePath), defaultFolder, DialogSettings.SavePath,
                      sizeof DialogSettings.SavePath);
    if (!IsFolderWritable(DialogSettings.SavePath)) {
        lstrcpynA(DialogSettings.SavePath, defaultFolder, sizeof DialogSettings.SavePath);
        WriteStringSetting(key, SettingName(SETTING_SavePath), defaultFolder);
    }
    CreateFolderPath(DialogSettings.SavePath);
    ReadTextSetting(key, SETTING_Prefix, DialogSettings.Prefix);
    RegCloseKey(key);
}

void SaveDialogSettings(HWND dialog)
{
    TakeSelection(dialog, IDC_SETTINGS_PAPER_SIZE, &DialogSettings.PaperSize);
    TakeSelection(dialog, IDC_SETTINGS_SCAN_MODE, &DialogSettings.ScanMode);
    TakeSelection(dialog, IDC_SETTINGS_RESOLUTION, &DialogSettings.Resolution);
    TakeSelection(dialog, IDC_SETTINGS_ROTATE, &DialogSettings.Rotation);
    DialogSettings.ContinuousScan = IsDlgButtonChecked(dialog, IDC_SETTINGS_CONTINUOUS);
    DialogSettings.AutoCrop = IsDlgButtonChecked(dialog, IDC_SETTINGS_AUTOCROP);
    DialogSettings.AutoDeskew = IsDlgButtonChecked(dialog, IDC_SETTINGS_AUTODESKEW);
    DialogSettings.Format = DIALOG_FORMAT;
    GetDlgItemTextA(dialog, IDC_SETTINGS_PREFIX, DialogSettings.Prefix, sizeof DialogSettings.Prefix);

    HKEY key = OpenScanSettings();
    if (!key)
        return;
    for (const NumberField &field : NUMBER_FIELDS) {
        DWORD number = field.narrow ? DWORD(DialogSettings.*field.narrow) : DWORD(DialogSettings.*field.wide);
        WriteDwordSetting(key, SettingName(field.id), number);
    }
    WriteStringSetting(key, SettingName(SETTING_SavePath), DialogSettings.SavePath);
    WriteStringSetting(key, SettingName(SETTING_Prefix), DialogSettings.Prefix);
    RegCloseKey(key);
}
