// Calibration and cleaning: the calibration tool is started with a verb and
// waited for while the thread's messages keep flowing.
#include "app.h"

#include <cstdio>

#include "calibration_path.h"
#include "product_files.h"
#include "shared.h"
#include "ui.h"

namespace {

const DWORD TOOL_WAIT_SLICE_MS = 10;

struct ToolCommand {
    char program[PATH_CAPACITY];
    char commandLine[PATH_CAPACITY];
};

// The tool's full path and its command line: the path in quotation marks, a
// blank and the verb. 0 when either does not fit (a cut line would lose the verb).
int ComposeToolCommand(const char *verb, ToolCommand *command)
{
    const char *program = ModuleSibling(CALIBRATION_TOOL_FILE);
    if (!program)
        return 0;
    lstrcpynA(command->program, program, sizeof command->program);
    int length = snprintf(command->commandLine, sizeof command->commandLine, "\"%s\" %s", program, verb);
    return length > 0 && length < (int)sizeof command->commandLine;
}

int RunTool(const char *verb)
{
    ToolCommand command;
    if (!ComposeToolCommand(verb, &command))
        return 0;
    return RunToolAndWait(command.program, command.commandLine);
}

} // namespace

int IsCalibrationDataPresent(void)
{
    char path[PATH_CAPACITY];
    if (!ComposeCalibrationDataPath(SettingsKey, CALIBRATION_NAME_WRITE_BACK, path))
        return 0;
    // Looked up by attributes, not by a search: a file name holding wildcard
    // characters must not match some other file.
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int RunToolAndWait(const char *program, const char *commandLine)
{
    SetCursor(LoadCursorA(nullptr, (LPCSTR)IDC_WAIT));
    char writableLine[PATH_CAPACITY];
    lstrcpynA(writableLine, commandLine, sizeof writableLine);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The program is named on its own as well: taken from the command line's
    // first word alone, a folder with blanks could start some other program.
    int started =
        CreateProcessA(program, writableLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) != 0;
    if (started) {
        int quitCode = -1;
        while (WaitForSingleObject(process.hProcess, TOOL_WAIT_SLICE_MS) == WAIT_TIMEOUT) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                // The quit message belongs to the main loop: hand it back after the wait.
                if (message.message == WM_QUIT) {
                    quitCode = (int)message.wParam;
                    continue;
                }
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        if (quitCode >= 0)
            PostQuitMessage(quitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    SetCursor(LoadCursorA(nullptr, (LPCSTR)IDC_ARROW));
    return started;
}

int RunCalibration(void)
{
    RunTool(CALIBRATION_VERB);
    return 1;
}

int RunCleaning(void)
{
    RunTool(CLEANING_VERB);
    return 1;
}

int EnsureCalibrated(void)
{
    if (IsCalibrationDataPresent())
        return 1;
    // Composed before the notice: the notice's own message handling may
    // address another sibling through ModulePath meanwhile.
    ToolCommand command;
    int composed = ComposeToolCommand(FORCED_CALIBRATION_VERB, &command);
    ShowResourceMessage(nullptr, IDS_CALIBRATION_NOTICE, MB_ICONINFORMATION);
    if (composed)
        RunToolAndWait(command.program, command.commandLine);
    ShowResourceMessage(nullptr, IDS_CALIBRATION_DONE, MB_SETFOREGROUND);
    return 1;
}
