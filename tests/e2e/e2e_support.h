// The end-to-end harness: the real Velmora.exe started as a process in a
// prefix prepared like a user's computer (tests/e2e/prepare), the virtual
// scanner driven through its control library, and helpers that look at the
// agent's windows and dialogs from outside.
//
// Writing a scenario: derive a fixture from AgentScenario (its SetUp gives a
// clean device that is plugged in, the user's settings copied afresh from
// the machine defaults, calibration data in place and no agent running; its
// TearDown ends the agent and puts back every machine setting changed through
// SetMachineSetting), then in the test: set the machine settings and the
// device as the scenario needs, StartAgent(), wait for the agent's window or
// a dialog, act as the user or the hardware would (PostTrayCallback,
// ClickButton, feeder::Plug/Unplug/PressButton, SendToAgent), and assert on
// windows, texts, settings, files and the device's trace. Scenario sources
// go into tests/e2e/CMakeLists.txt's list; each runs in this prefix with the
// display the test command provides.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "feeder_control.h"

#include <gtest/gtest.h>

namespace e2e {

// Where prepare installed the product, with the final backslash.
std::string ProgramFolder();
std::string ProgramFile(const char *name);
// The model Module.ini names.
std::string ModelName();

// A running Velmora.exe (or any program of the product folder).
struct Process {
    HANDLE handle = nullptr;
    DWORD id = 0;
    bool Running() const;
    // The exit code, or -1 when it did not end within `timeoutMs`.
    int WaitExit(DWORD timeoutMs);
    void Kill();
    ~Process();
};

// Starts `ProgramFolder()Velmora.exe arguments` from the program folder.
bool StartProgram(const char *file, const std::string &arguments, Process *process);

// The tray window of a running agent, waited for; null after `timeoutMs`.
HWND WaitForAgentWindow(DWORD timeoutMs = 15000);
// Waits until the agent polls the button (its start-up has ended: a press
// before that counts as a button still held from earlier). Clears the trace
// first; with `sinceMs`, sleeps that long and tells whether it polled meanwhile.
bool WaitUntilAgentPolls(DWORD processId, DWORD timeoutMs = 15000, DWORD sinceMs = 0);
// Posts the registered tray callback with a mouse message to the agent.
bool PostTrayCallback(UINT mouseMessage);

// A top-level dialog (class "#32770") of process `processId` whose title
// contains `titlePart` (any title when empty), waited for; null after `timeoutMs`.
HWND WaitForDialog(DWORD processId, const std::string &titlePart = "", DWORD timeoutMs = 15000);
bool WaitForWindowGone(HWND window, DWORD timeoutMs = 15000);
// The texts of a dialog's static controls, joined by newlines (a message
// box's message is among them).
std::string DialogText(HWND dialog);
// Clicks a dialog's button by id (IDOK, IDYES, ...).
void ClickButton(HWND dialog, int id);

// A resource string of the installed VelmoraRes.dll.
std::string ResourceString(UINT id);

// The machine defaults of the model's instance (HKLM), which the agent
// copies for the user at start-up.
void SetMachineSetting(const char *name, DWORD value);
void SetMachineSetting(const char *name, const std::string &text);
// The settings key of the model's instance (in HKLM the machine defaults,
// in HKCU the user's copy), or one of its subkeys.
std::string SettingsPath(const char *subkey = nullptr);
// A number of the user's copy the agent reads and writes; -1 when missing.
int UserSetting(const char *name, const char *subkey = nullptr);

// The folder on the desktop pictures go to when the user chose none, as the
// setup named it.
std::string DefaultSaveFolder();

// The calibration data file the agent looks for.
std::string CalibrationDataPath();
void SetCalibrationDataPresent(bool present);

// Replaces a file of the program folder by a copy of `replacement` (by
// nothing when empty) for this scenario; TearDown puts the original back.
void ReplaceProgramFile(const char *file, const std::string &replacement);
// Puts the recording stand-in in place of a companion tool (e.g.
// "Levelset.exe") for this scenario; TearDown puts the real one back.
void UseRecordingTool(const char *file);
// Command lines the stand-in received so far.
std::vector<std::string> RecordedCommandLines();
// While held, the stand-in stays running.
void HoldRecordingTool(bool hold);
// Puts back every program file replaced so far (TearDown does it too).
void PutBackProgramFiles();

class AgentScenario : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    bool StartAgent(const std::string &arguments = "");
    // Runs "Velmora.exe q" and returns its exit code (-1 when it hung).
    int RunQuitSwitch(const std::string &arguments = "q", DWORD timeoutMs = 30000);
    Process agent;
};

} // namespace e2e
