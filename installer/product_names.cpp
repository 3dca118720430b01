// Never compiled: the build runs only the preprocessor over this file, and
// make_names.cmake turns each "@nsh NAME value @end" group into an NSIS
// !define. So the setup script writes exactly the value names, key paths and
// file names the agent and the virtual scanner read, from their own headers.
#include "app.h"
#include "feeder_state.h"
#include "product_files.h"
#include "resource_ids.h"
#include "scanner.h"
#include "settings_table.h"

#define NSH_DEFINE(name) @nsh #name name @end
#define NSH_SETTING(id, name, kind, place, number, text, capacity) @nsh VALUE_##id name @end

VELMORA_SETTING_VALUES(NSH_SETTING)

NSH_DEFINE(MODEL_KEY_BASE)
NSH_DEFINE(SETTINGS_SUBKEY)
NSH_DEFINE(SCAN_SETTINGS_SUBKEY)
NSH_DEFINE(PAPER_SIZE_SUBKEY)
NSH_DEFINE(COMMON_FILES_KEY)
NSH_DEFINE(MODULE_INI_NAME)
NSH_DEFINE(MODULE_INI_SECTION)
NSH_DEFINE(MODULE_INI_KEY)

NSH_DEFINE(AGENT_PROGRAM_FILE)
NSH_DEFINE(RESOURCE_LIBRARY_FILE)
NSH_DEFINE(CALIBRATION_TOOL_FILE)
NSH_DEFINE(AUTOCROP_TOOL_FILE)
NSH_DEFINE(SESSION_LIBRARY_FILE)
NSH_DEFINE(SCANNER_DRIVER_FILE)

NSH_DEFINE(FEEDER_DEFAULT_VID_PID)

// What the setup needs to stop a running agent.
@nsh AGENT_WINDOW_CLASS TRAY_WINDOW_CLASS @end @nsh AGENT_INSTANCE_MUTEX INSTANCE_MUTEX_NAME @end
    @nsh AGENT_EXIT_COMMAND IDM_EXIT @end
