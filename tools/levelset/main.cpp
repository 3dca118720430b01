// Levelset.exe: calibrates the scanner's sensor or cleans its roller, as the
// verb after its name asks ("Calibration", "Force Calibration", "Clean"),
// behind a small window with the step it is at, its progress and Cancel.
#include <windows.h>
#include <commctrl.h>

#include <cctype>
#include <string>

#include "levelset.h"
#include "product_files.h"
#include "shared.h"

int RunWithWindow(HINSTANCE instance, LevelsetVerb verb);

namespace {

const char TITLE[] = "Levelset";
const char USAGE[] = "Levelset calibrates the scanner and cleans its roller.\n\n"
                     "Start it with one of these words after its name:\n"
                     "    Calibration\t\tcalibrate the scanner\n"
                     "    Force Calibration\tcalibrate; without success leave no calibration data\n"
                     "    Clean\t\t\trun the cleaning sheet through";

struct VerbName {
    const char *Words;
    LevelsetVerb Verb;
};
const VerbName VERBS[] = {
    {CALIBRATION_VERB, VERB_CALIBRATION},
    {FORCED_CALIBRATION_VERB, VERB_FORCE_CALIBRATION},
    {CLEANING_VERB, VERB_CLEAN},
};

// Past the program's name: a quoted name ends at its closing quotation
// mark, a bare one at the first blank.
const char *AfterProgramName(const char *line)
{
    if (*line == '"') {
        ++line;
        while (*line && *line != '"')
            ++line;
        return *line ? line + 1 : line;
    }
    while (*line && *line != ' ' && *line != '\t')
        ++line;
    return line;
}

// The words of `text` with one blank between each two.
std::string Words(const char *text)
{
    std::string words;
    for (const char *p = text; *p;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (!*p)
            break;
        if (!words.empty())
            words += ' ';
        while (*p && *p != ' ' && *p != '\t')
            words += *p++;
    }
    return words;
}

// The window of the Levelset already at work comes forward instead.
void ShowRunningInstance(void)
{
    HWND running = FindWindowA(LEVELSET_WINDOW_CLASS, nullptr);
    if (!running)
        return;
    if (IsIconic(running))
        ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
}

} // namespace

LevelsetVerb VerbOfCommandLine(const char *commandLine)
{
    const std::string words = Words(AfterProgramName(commandLine ? commandLine : ""));
    for (const VerbName &verb : VERBS)
        if (lstrcmpiA(words.c_str(), verb.Words) == 0)
            return verb.Verb;
    return VERB_UNKNOWN;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // The driver is loaded by its full path; nothing else may come from
    // the current folder.
    SetDllDirectoryA("");
    if (!InitModulePath())
        return LEVELSET_FAILED;
    const LevelsetVerb verb = VerbOfCommandLine(GetCommandLineA());
    if (verb == VERB_UNKNOWN) {
        MessageBoxA(nullptr, USAGE, TITLE, MB_OK | MB_ICONINFORMATION);
        return LEVELSET_USAGE;
    }
    HANDLE running = CreateMutexA(nullptr, FALSE, LEVELSET_INSTANCE_MUTEX);
    if (!running || GetLastError() == ERROR_ALREADY_EXISTS) {
        ShowRunningInstance();
        if (running)
            CloseHandle(running);
        return LEVELSET_ALREADY_RUNNING;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    const int result = RunWithWindow(instance, verb);
    CloseHandle(running);
    return result;
}
