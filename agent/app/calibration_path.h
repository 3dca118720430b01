// Where the calibration data file lives. Shared by the agent, which looks for
// the file before a scan, and the calibration tool, which writes it.
#pragma once

#include <windows.h>

// Whether reading "Calibration Filename" may store its default back. The
// agent keeps its settings complete; the tool must never change a setting.
enum CalibrationNameRead { CALIBRATION_NAME_WRITE_BACK, CALIBRATION_NAME_READ_ONLY };

// The model's folder of calibration data: the shared documents folder (the
// user's documents only when the shared one cannot be had) followed by
// Module.ini's model name, into `folder` of PATH_CAPACITY bytes. Needs
// ModulePath. 1 when composed; 0 when no documents folder is available, the
// model name is empty or the path does not fit. The folder is not created.
int ComposeCalibrationFolder(char *folder);

// The calibration data file: the folder above followed by the setting
// "Calibration Filename" (its default when unusable or too long), read from
// `settingsKey`, into `path` of PATH_CAPACITY bytes. 1 when composed, 0 as above.
int ComposeCalibrationDataPath(HKEY settingsKey, CalibrationNameRead mode, char *path);
