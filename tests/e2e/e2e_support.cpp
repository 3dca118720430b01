// The end-to-end harness's helpers; see e2e_support.h.
#include "e2e_support.h"

#include <shlobj.h>

#include <cstdio>
#include <map>

#include "app.h"
#include "feedlink_protocol.h"
#include "fixture_registry.h"
#include "product_files.h"
#include "resource_ids.h"
#include "settings_table.h"
#include "test_support.h"
#include "ui.h"

namespace e2e {

namespace {

using testsupport::WaitUntil;
const char RECORDING_TOOL[] = "recording_tool.exe";
const char RECORD_FILE[] = "tool-record.txt";
const char HOLD_FILE[] = "tool-hold";

// Machine values changed by the running scenario, with what they held.
struct SavedValue {
    bool existed;
    DWORD type;
    std::string data;
};
std::map<std::string, SavedValue> ChangedMachineValues;
std::vector<std::string> ReplacedTools;

std::string UserModelPath()
{
    return std::string(MODEL_KEY_BASE) + ModelName();
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM context)
{
    std::string *text = reinterpret_cast<std::string *>(context);
    char className[32];
    if (!GetClassNameA(child, className, sizeof className) || lstrcmpiA(className, "Static") != 0)
        return TRUE;
    char buffer[2048] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(child, WM_GETTEXT, sizeof buffer, (LPARAM)buffer, SMTO_ABORTIFHUNG, 2000, &copied);
    if (buffer[0]) {
        if (!text->empty())
            *text += "\n";
        *text += buffer;
    }
    return TRUE;
}

void RestoreMachineValues()
{
    for (const auto &entry : ChangedMachineValues)
        if (entry.second.existed)
            testsupport::SetRawValue(HKEY_LOCAL_MACHINE, SettingsPath(), entry.first.c_str(), entry.second.type,
                                     entry.second.data.data(), DWORD(entry.second.data.size()));
        else
            testsupport::DeleteRawValue(HKEY_LOCAL_MACHINE, SettingsPath(), entry.first.c_str());
    ChangedMachineValues.clear();
}

void RememberMachineValue(const char *name)
{
    if (ChangedMachineValues.count(name))
        return;
    SavedValue saved;
    saved.existed = testsupport::GetRawValue(HKEY_LOCAL_MACHINE, SettingsPath(), name, &saved.type, &saved.data);
    ChangedMachineValues[name] = saved;
}

} // namespace

void PutBackProgramFiles()
{
    for (const std::string &file : ReplacedTools) {
        std::string original = ProgramFile(file.c_str()) + ".real";
        DeleteFileA(ProgramFile(file.c_str()).c_str());
        MoveFileA(original.c_str(), ProgramFile(file.c_str()).c_str());
    }
    ReplacedTools.clear();
    DeleteFileA(ProgramFile(RECORD_FILE).c_str());
    DeleteFileA(ProgramFile(HOLD_FILE).c_str());
}

std::string ProgramFolder()
{
    return "C:\\Program Files\\Velmora\\";
}

std::string ProgramFile(const char *name)
{
    return ProgramFolder() + name;
}

std::string ModelName()
{
    char model[MODEL_NAME_CAPACITY] = "";
    GetPrivateProfileStringA(MODULE_INI_SECTION, MODULE_INI_KEY, "", model, sizeof model,
                             ProgramFile(MODULE_INI_NAME).c_str());
    return model;
}

bool Process::Running() const
{
    return handle && WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
}

int Process::WaitExit(DWORD timeoutMs)
{
    if (!handle || WaitForSingleObject(handle, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(handle, &code);
    return (int)code;
}

void Process::Kill()
{
    if (Running()) {
        TerminateProcess(handle, 1);
        WaitForSingleObject(handle, 5000);
    }
}

Process::~Process()
{
    if (handle)
        CloseHandle(handle);
}

bool StartProgram(const char *file, const std::string &arguments, Process *process)
{
    std::string commandLine = "\"" + ProgramFile(file) + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(ProgramFile(file).c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        ProgramFolder().c_str(), &startup, &started))
        return false;
    CloseHandle(started.hThread);
    if (process->handle)
        CloseHandle(process->handle);
    process->handle = started.hProcess;
    process->id = started.dwProcessId;
    return true;
}

HWND WaitForAgentWindow(DWORD timeoutMs)
{
    HWND window = nullptr;
    WaitUntil(timeoutMs, [&] { return (window = FindWindowA(TRAY_WINDOW_CLASS, nullptr)) != nullptr; });
    return window;
}

bool WaitUntilAgentPolls(DWORD processId, DWORD timeoutMs, DWORD sinceMs)
{
    feeder::ClearTrace();
    Sleep(sinceMs);
    return WaitUntil(timeoutMs, [&] {
        for (const FeederTraceEntry &entry : feeder::ReadTrace())
            if (entry.Command == SC_ACQUIRE && entry.ProcessId == processId)
                return true;
        return false;
    });
}

bool PostTrayCallback(UINT mouseMessage)
{
    HWND window = FindWindowA(TRAY_WINDOW_CLASS, nullptr);
    return window && PostMessageA(window, RegisterWindowMessageA(TRAY_CALLBACK_MESSAGE_NAME), 0, mouseMessage);
}

HWND WaitForDialog(DWORD processId, const std::string &titlePart, DWORD timeoutMs)
{
    return testsupport::FindDialog(
        [&](HWND window) {
            DWORD owner = 0;
            char title[256] = "";
            GetWindowThreadProcessId(window, &owner);
            GetWindowTextA(window, title, sizeof title);
            return owner == processId && strstr(title, titlePart.c_str());
        },
        timeoutMs);
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs)
{
    return WaitUntil(timeoutMs, [&] { return !IsWindow(window); });
}

std::string DialogText(HWND dialog)
{
    std::string text;
    EnumChildWindows(dialog, CollectStaticText, (LPARAM)&text);
    return text;
}

void ClickButton(HWND dialog, int id)
{
    // Posted: the click may end the dialog, and the answer is not needed.
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

std::string ResourceString(UINT id)
{
    HMODULE library = LoadLibraryExA(ProgramFile(RESOURCE_LIBRARY_FILE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char text[RESOURCE_MESSAGE_CAPACITY] = "";
    if (library) {
        LoadStringA(library, id, text, sizeof text);
        FreeLibrary(library);
    }
    return text;
}

void SetMachineSetting(const char *name, DWORD value)
{
    RememberMachineValue(name);
    testsupport::SetRawValue(HKEY_LOCAL_MACHINE, SettingsPath(), name, REG_DWORD, &value, sizeof value);
}

void SetMachineSetting(const char *name, const std::string &text)
{
    RememberMachineValue(name);
    testsupport::SetRawValue(HKEY_LOCAL_MACHINE, SettingsPath(), name, REG_SZ, text.c_str(), (DWORD)text.size() + 1);
}

std::string SettingsPath(const char *subkey)
{
    std::string path = std::string(MODEL_KEY_BASE) + ModelName() + "\\0000\\" SETTINGS_SUBKEY;
    return subkey ? path + "\\" + subkey : path;
}

int UserSetting(const char *name, const char *subkey)
{
    DWORD type = 0;
    std::string data;
    if (!testsupport::GetRawValue(HKEY_CURRENT_USER, SettingsPath(subkey), name, &type, &data) || data.size() != 4)
        return -1;
    return *(const int *)data.data();
}

std::string DefaultSaveFolder()
{
    DWORD type;
    std::string name;
    testsupport::GetRawValue(HKEY_LOCAL_MACHINE, SettingsPath(), SettingName(SETTING_FolderName), &type, &name);
    return testsupport::ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\" + name.substr(0, name.find('\0'));
}

std::string CalibrationDataPath()
{
    return testsupport::ShellFolder(CSIDL_COMMON_DOCUMENTS) + "\\" + ModelName() + "\\" +
           Setting(SETTING_CalibrationFilename).textDefault;
}

void SetCalibrationDataPresent(bool present)
{
    std::string path = CalibrationDataPath();
    if (!present) {
        DeleteFileA(path.c_str());
        return;
    }
    CreateDirectoryA(path.substr(0, path.rfind('\\')).c_str(), nullptr);
    testsupport::WriteWholeFile(path, "calibration stand-in");
}

void ReplaceProgramFile(const char *file, const std::string &replacement)
{
    std::string target = ProgramFile(file);
    MoveFileA(target.c_str(), (target + ".real").c_str());
    if (!replacement.empty())
        CopyFileA(replacement.c_str(), target.c_str(), FALSE);
    ReplacedTools.push_back(file);
}

void UseRecordingTool(const char *file)
{
    ReplaceProgramFile(file, testsupport::ProgramDirectory() + RECORDING_TOOL);
}

std::vector<std::string> RecordedCommandLines()
{
    return fixtures::RecordLines(ProgramFile(RECORD_FILE));
}

void HoldRecordingTool(bool hold)
{
    if (hold)
        testsupport::WriteWholeFile(ProgramFile(HOLD_FILE), "");
    else
        DeleteFileA(ProgramFile(HOLD_FILE).c_str());
}

void AgentScenario::SetUp()
{
    ASSERT_FALSE(ModelName().empty()) << "the prefix is not prepared: run through ctest";
    // An agent left by an earlier scenario would answer instead of ours.
    if (FindWindowA(TRAY_WINDOW_CLASS, nullptr))
        RunQuitSwitch();
    ASSERT_TRUE(feeder::Reset());
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, UserModelPath());
    SetCalibrationDataPresent(true);
}

void AgentScenario::TearDown()
{
    HoldRecordingTool(false);
    if (FindWindowA(TRAY_WINDOW_CLASS, nullptr))
        RunQuitSwitch();
    // Whatever is still open (a message box at start-up) goes the hard way.
    if (agent.WaitExit(3000) < 0)
        agent.Kill();
    RestoreMachineValues();
    PutBackProgramFiles();
    feeder::Reset();
}

bool AgentScenario::StartAgent(const std::string &arguments)
{
    return StartProgram(AGENT_PROGRAM_FILE, arguments, &agent);
}

int AgentScenario::RunQuitSwitch(const std::string &arguments, DWORD timeoutMs)
{
    Process quitter;
    if (!StartProgram(AGENT_PROGRAM_FILE, arguments, &quitter))
        return -1;
    int code = quitter.WaitExit(timeoutMs);
    if (code < 0)
        quitter.Kill();
    return code;
}

} // namespace e2e
