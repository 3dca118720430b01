// The names of the product's own files, and the words its programs exchange
// through files, shared by the agent, its tools, the installer's tests and the
// virtual scanner. Portable: no Windows header.
#pragma once

#define AGENT_PROGRAM_FILE "Velmora.exe"
#define RESOURCE_LIBRARY_FILE "VelmoraRes.dll"
#define CALIBRATION_TOOL_FILE "Levelset.exe"
#define AUTOCROP_TOOL_FILE "Pagefit.exe"
#define SESSION_LIBRARY_FILE "Seatwatch.dll"
// The image library the setup registers for the agent.
#define IMAGE_LIBRARY_FILE "Pixkit.dll"
// The scanner's driver, the virtual scanner in tests and demos.
#define SCANNER_DRIVER_FILE "Feedlink.dll"

// The auto-crop tool writes one line here, beside the bitmap it was given;
// a line holding the word below asks the agent to scan the sheet again.
#define AUTOCROP_LOG_FILE "Pagefit.log"
#define AUTOCROP_NO_ACTION_WORD "noaction"

// What the agent asks the calibration tool for: the verb after its name.
#define CALIBRATION_VERB "Calibration"
#define FORCED_CALIBRATION_VERB "Force Calibration"
#define CLEANING_VERB "Clean"

// The longest path any of the product's programs handles, terminator
// included: every path buffer, the shared device state's folder and sheet
// names, and the registry's folder values are this size.
const int PATH_CAPACITY = 260;
