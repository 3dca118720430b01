// The scan job's settings record, read from the registry once per job.
#include "scan_job.h"

#include <cstring>

#include "settings.h"
#include "shared.h"

int ReadScanJobSettings(ScanJobSettings *settings)
{
    HKEY scan;
    if (RegOpenKeyExA(SettingsKey, SCAN_SETTINGS_SUBKEY, 0, KEY_READ | KEY_WRITE, &scan) != ERROR_SUCCESS)
        return 0;
    memset(settings, 0, sizeof *settings);
    settings->DeviceOption = 0;

    uint16_t resolution = uint16_t(ReadNumberSetting(scan, SETTING_Resolution));
    settings->DeviceXResolution = settings->DeviceYResolution = resolution;
    settings->XResolution = settings->YResolution = resolution;
    settings->Brightness = int16_t(PercentToTone(ReadNumberSetting(scan, SETTING_Brightness)));
    settings->Contrast = int16_t(PercentToTone(ReadNumberSetting(scan, SETTING_Contrast)));
    settings->Gamma = uint16_t(ReadNumberSetting(scan, SETTING_Gamma));
    settings->ContinuousScan = uint32_t(ReadNumberSetting(scan, SETTING_ContinuousScan));
    settings->AutoCrop = uint32_t(ReadNumberSetting(scan, SETTING_AutoCrop));
    settings->AutoDeskew = uint32_t(ReadNumberSetting(scan, SETTING_AutoDeskew));
    settings->Rotate = uint16_t(ReadNumberSetting(scan, SETTING_Rotate));
    // 100 dpi pictures are scanned at 300 and reduced by the image library.
    if (settings->XResolution == 100)
        settings->DeviceXResolution = settings->DeviceYResolution = 300;
    ScanModeTypes(uint32_t(ReadNumberSetting(scan, SETTING_ScanMode)),
                  settings->AutoCrop != 0 || settings->AutoDeskew != 0, &settings->AcquireType, &settings->OutputType);

    HKEY paper;
    if (RegOpenKeyExA(SettingsKey, PAPER_SIZE_SUBKEY, 0, KEY_READ | KEY_WRITE, &paper) != ERROR_SUCCESS) {
        RegCloseKey(scan);
        return 0;
    }
    char size[Setting(SETTING_PaperSizeArea).capacity];
    ReadTextSetting(paper, SETTING_PaperSizeArea, size);
    ParsePaperArea(size, settings->PaperArea);
    RegCloseKey(paper);
    RegCloseKey(scan);
    return 1;
}
