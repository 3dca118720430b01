// The fault matrix: every scanner, disk and registry fault a scan job can
// meet, injected into one running agent while it scans. After each row the
// agent answers, the next press scans, no temporary bitmap is left, no file
// that existed changed, every page it opened is a valid picture, and a page
// that could not go where the user asked went where the rescue rule sends it
// (the default folder, else a kept bitmap the user is told about).
#include "e2e_support.h"

#include <shlobj.h>
#include <wtsapi32.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "app.h"
#include "path_text.h"
#include "scan_types.h"
#include "feedlink_protocol.h"
#include "fixture_registry.h"
#include "product_files.h"
#include "resource_ids.h"
#include "settings_table.h"
#include "test_support.h"

namespace {

using namespace e2e;
using Files = std::map<std::string, uint32_t>; // path and a hash of its bytes

const char PHOTO[] = "Z:\\usr\\share\\palapeli\\collection\\castle-maintenon.jpg";
const std::string MATRIX = "C:\\fault-matrix", SCANS = MATRIX + "\\Scans";
// Where "C:\Program Files\..." would lead without quotation marks.
const char UNQUOTED_DECOY[] = "C:\\Program.exe";
// Quick pages: two inches square of grey at 300 dpi (600-byte lines) in
// blocks of 250 lines, so a page has a first, a middle and a shorter last block.
const char PAPER_AREA[] = "0,0,600,600";
const uint32_t BLOCK_BYTES = 250 * 600, SLOW_LINES_PER_SECOND = 1000;

enum JobKind { ONE_PAGE, CONTINUOUS };
enum Destination : unsigned { ASKED = 1, DEFAULT_FOLDER = 2, KEPT = 4 };
const int SHEETS = -1, MORE = 1000;
struct Expect { // how many pictures the row ends with, and where they may be
    int least, most;
    unsigned where;
};
const Expect SAVED = {SHEETS, SHEETS, ASKED}, NOTHING = {0, 0, ASKED}, DEVICE_FAULT = {0, SHEETS, ASKED},
             RESCUED = {SHEETS, SHEETS, DEFAULT_FOLDER}, SETTING_FAULT = {0, SHEETS, ASKED | DEFAULT_FOLDER},
             SAVED_OR_RESCUED = {SHEETS, SHEETS, ASKED | DEFAULT_FOLDER}, KEPT_ONLY = {SHEETS, SHEETS, KEPT};

struct RowRun {
    std::string asked = SCANS; // the folder the user asked for
    std::string skip;          // why the row cannot run on this machine
    std::vector<std::string> messages, problems;
    Files placed; // files the row put in a save folder, as another program would
    int pictures = 0;
    std::vector<std::string> saved; // the new pictures, in the asked or the default folder
};
typedef std::function<void(RowRun &)> Step;
struct Row {
    std::string name;
    JobKind kind;
    int sheets;
    Expect expect;
    Step arm = nullptr, during = nullptr, after = nullptr; // before the press; after it; once judged
    uint16_t command = 0; // with nth: that call of the driver command fails with status
    uint32_t nth = 0;
    int16_t status = 0;
    UINT notice = 0; // a message the job must show once
};

Process Agent;
std::string ViewerRecord = MATRIX + "\\opened.txt", FolioRecord = MATRIX + "\\imagefolio.txt",
            FolioProgram = MATRIX + "\\Image Folio\\If42le.exe";
struct StoredValue {
    std::string key, name;
    DWORD type;
    std::string data;
};
std::vector<StoredValue> Baseline;
std::vector<std::string> NotHeld;
int RowsRun = 0, RowsHeld = 0, RowsSkipped = 0;

using testsupport::DwordBytes;
using testsupport::ShellFolder;
using testsupport::WaitUntil;

void SetValue(const std::string &key, const char *name, DWORD type, const std::string &data)
{
    testsupport::SetRawValue(HKEY_CURRENT_USER, key, name, type, data.data(), DWORD(data.size()));
}
void DeleteValue(const std::string &key, const std::string &name)
{
    testsupport::DeleteRawValue(HKEY_CURRENT_USER, key, name.c_str());
}

// Every value of the user's settings key and its two subkeys.
std::vector<StoredValue> ReadValues()
{
    std::vector<StoredValue> values;
    for (const std::string &path :
         {SettingsPath(), SettingsPath(SCAN_SETTINGS_SUBKEY), SettingsPath(PAPER_SIZE_SUBKEY)}) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        static char name[16384], data[1 << 16];
        DWORD type, size = sizeof name, bytes = sizeof data;
        for (DWORD i = 0; !RegEnumValueA(key, i, name, &size, 0, &type, (BYTE *)data, &bytes);
             ++i, size = sizeof name, bytes = sizeof data)
            values.push_back({path, name, type, std::string(data, bytes)});
        RegCloseKey(key);
    }
    return values;
}

void RestoreValues()
{
    for (const StoredValue &value : ReadValues())
        DeleteValue(value.key, value.name);
    for (const StoredValue &value : Baseline)
        SetValue(value.key, value.name.c_str(), value.type, value.data);
}

uint32_t HashOf(const std::string &path)
{
    std::string bytes;
    return testsupport::ReadWholeFile(path, &bytes) ? feeder::TableChecksum(bytes.data(), uint32_t(bytes.size())) : 0;
}

Files FilesIn(const std::vector<std::string> &folders)
{
    Files files;
    for (const std::string &folder : folders) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                files[folder + "\\" + found.cFileName] = HashOf(folder + "\\" + found.cFileName);
        }
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
    }
    return files;
}
Files SaveFolders(const RowRun &run)
{
    return FilesIn({run.asked, DefaultSaveFolder(), ShellFolder(CSIDL_MYPICTURES), ShellFolder(CSIDL_PERSONAL)});
}
std::string TempFolder()
{
    char temp[MAX_PATH] = "";
    return std::string(temp, GetTempPathA(sizeof temp, temp) - 1);
}
Files TempFiles()
{
    return FilesIn({TempFolder()});
}

bool EnsureAgent()
{
    if (Agent.Running() && FindWindowA(TRAY_WINDOW_CLASS, nullptr))
        return true;
    Agent.Kill();
    return StartProgram(AGENT_PROGRAM_FILE, "", &Agent) && WaitForAgentWindow() && WaitUntilAgentPolls(Agent.id);
}

// The agent's entries of the trace; `overflowed` tells whether the oldest
// entries since it was cleared have left the trace's ring.
std::vector<FeederTraceEntry> AgentTrace(bool *overflowed = nullptr)
{
    std::vector<FeederTraceEntry> trace = feeder::ReadTrace();
    if (overflowed)
        *overflowed = !trace.empty() && trace.front().Sequence > 1;
    trace.erase(std::remove_if(trace.begin(), trace.end(),
                               [](const FeederTraceEntry &entry) { return entry.ProcessId != Agent.id; }),
                trace.end());
    return trace;
}
int Count(const std::vector<FeederTraceEntry> &trace, uint16_t command, size_t from = 0)
{
    return int(std::count_if(trace.begin() + std::min(from, trace.size()), trace.end(),
                             [&](const FeederTraceEntry &entry) { return entry.Command == command; }));
}
// Index of the poll that saw the press, or the trace's size.
size_t PressIndex(const std::vector<FeederTraceEntry> &trace)
{
    size_t i = 0;
    while (i < trace.size() && !(trace[i].Command == SC_GET_BUTTON && trace[i].Status == SC_BUTTON_SCAN))
        ++i;
    return i;
}
// Over once the agent asked for the button twice more: the release wait
// before the job and the idle wait after it. On a job so long that the
// press has left the trace, twice after the job's last page command.
bool JobOver()
{
    bool overflowed = false;
    std::vector<FeederTraceEntry> trace = AgentTrace(&overflowed);
    size_t from = PressIndex(trace) + 1;
    if (from > trace.size() && overflowed)
        for (from = trace.size();
             from > 0 && trace[from - 1].Command != SC_PAPER_PRESENT && trace[from - 1].Command != SC_END_PAGE;)
            --from;
    return from <= trace.size() && Count(trace, SC_GET_BUTTON, from) >= 2;
}

// Presses just after a poll, arming the row's fault at that moment, so the
// calls a fault counts are the same in every run.
void Press(const Row &row)
{
    feeder::ClearTrace();
    WaitUntil(2000, [] { return Count(AgentTrace(), SC_GET_BUTTON) > 0; });
    feeder::ClearTrace();
    if (row.nth)
        feeder::InjectFault(row.command, row.nth, row.status);
    feeder::PressButton();
}

enum DialogKind { PROGRESS, PROMPT, PAPER, SETTINGS, MESSAGE };
DialogKind KindOf(HWND dialog)
{
    const int controls[] = {IDC_PROGRESS_BAR, IDC_WAIT_PROMPT_TEXT, IDC_INSERT_PAPER_TEXT, IDC_SETTINGS_SCAN_MODE};
    int kind = 0;
    while (kind < MESSAGE && !GetDlgItem(dialog, controls[kind]))
        ++kind;
    return DialogKind(kind);
}
HWND WaitForKind(DialogKind kind, DWORD timeoutMs = 20000)
{
    HWND found = nullptr;
    WaitUntil(timeoutMs, [&] { return (found = WaitForDialog(Agent.id, "", 0)) && KindOf(found) == kind; });
    return found && KindOf(found) == kind ? found : nullptr;
}

// Answers what the job shows as a user would: messages and the settings
// dialog with OK, the continuous prompt with Done once the feeder is empty,
// the insert-paper dialog with Cancel when no sheet comes. Returns when the
// job is over or, given `quietMs` (the scanner is gone), once no dialog
// showed for that long: then the prompt must close by itself.
void Settle(RowRun &run, DWORD quietMs = 0)
{
    DWORD start = GetTickCount(), quietSince = start, shownSince = 0;
    HWND shown = nullptr;
    while (GetTickCount() - start < (quietMs ? 15000u : 120000u)) {
        HWND dialog = WaitForDialog(Agent.id, "", 0);
        DWORD now = GetTickCount();
        if (dialog != shown)
            shown = dialog, shownSince = now;
        DialogKind kind = dialog ? KindOf(dialog) : PROGRESS;
        bool idle = feeder::WaitingSheets().empty();
        bool waited = now - shownSince > (kind == PAPER ? 1000u : idle ? 300u : 5000u);
        if (dialog)
            quietSince = now;
        else if (quietMs ? now - quietSince >= quietMs : JobOver())
            return;
        if (kind == MESSAGE)
            run.messages.push_back(DialogText(dialog));
        if (kind == MESSAGE || kind == SETTINGS || (kind == PROMPT && waited && !quietMs) ||
            (kind == PAPER && idle && waited)) {
            ClickButton(dialog, kind == PAPER ? IDCANCEL : IDOK);
            WaitForWindowGone(dialog, 5000);
        }
        Sleep(50);
    }
    run.problems.push_back(quietMs ? "a dialog stayed up without the scanner" : "the job did not end in two minutes");
}

void Judge(const Row &row, RowRun &run, const Files &before, const Files &temp)
{
    std::vector<std::string> &problems = run.problems;
    HWND window = FindWindowA(TRAY_WINDOW_CLASS, nullptr);
    DWORD_PTR answer;
    if (!Agent.Running() || !window || !SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer))
        problems.push_back("the agent does not answer");
    for (const auto &file : TempFiles())
        if (!temp.count(file.first) && file.first.find(AUTOCROP_LOG_FILE) == std::string::npos)
            problems.push_back("left in the temporary folder: " + file.first);
    Files after = SaveFolders(run), placed = run.placed;
    for (const auto &file : placed)
        if (HashOf(file.first) != file.second)
            problems.push_back("overwritten: " + file.first);
    for (const auto &file : before)
        if (!after.count(file.first) || after[file.first] != file.second)
            problems.push_back("an existing file changed or went: " + file.first);

    std::map<unsigned, std::vector<std::string>> added;
    for (const auto &file : after)
        if (!before.count(file.first) && !placed.count(file.first)) {
            std::string folder = FolderOf(file.first);
            folder.pop_back();
            added[folder == run.asked                       ? unsigned(ASKED)
                  : folder == DefaultSaveFolder()           ? unsigned(DEFAULT_FOLDER)
                  : folder == ShellFolder(CSIDL_MYPICTURES) ? unsigned(KEPT)
                                                            : 0u]
                .push_back(file.first);
        }
    std::string identify = "identify -regard-warnings";
    for (const auto &place : added) {
        if (!place.second.empty() && !(row.expect.where & place.first))
            problems.push_back("a page landed where it should not: " + place.second[0]);
        run.pictures += int(place.second.size());
        for (const std::string &file : place.second)
            identify += " '" + testsupport::UnixPath(file) + "'";
    }
    if (run.pictures && testsupport::RunHostShell(identify + " >/dev/null 2>&1") != 0)
        problems.push_back("not a valid picture among the new files");
    int least = row.expect.least == SHEETS ? row.sheets : row.expect.least;
    int most = row.expect.most == SHEETS ? row.sheets : row.expect.most;
    if (run.pictures < least || run.pictures > most)
        problems.push_back("pictures: " + std::to_string(run.pictures) + ", expected " + std::to_string(least) +
                           (most > least ? " or more" : ""));

    // Every saved picture was opened, existing, by the viewer or ImageFolio,
    // and no other program ran in their stead.
    run.saved = added[ASKED];
    run.saved.insert(run.saved.end(), added[DEFAULT_FOLDER].begin(), added[DEFAULT_FOLDER].end());
    std::vector<std::string> opened, folio;
    WaitUntil(5000, [&] {
        opened = fixtures::RecordLines(ViewerRecord), folio = fixtures::RecordLines(FolioRecord);
        for (const std::string &line : folio)
            if (line.find("picture exists ") == 0)
                opened.push_back("ImageFolio\t" + line.substr(line.size() - 1));
        return opened.size() >= run.saved.size();
    });
    for (const std::string &line : folio)
        if (line.find("command line ") == 0 && line.find(FolioProgram) == std::string::npos)
            problems.push_back("an unquoted path ran another program: " + line);
    if (opened.size() != run.saved.size())
        problems.push_back("pictures opened: " + std::to_string(opened.size()) + ", saved " +
                           std::to_string(run.saved.size()));
    for (const std::string &line : opened)
        if (line.substr(line.size() - 2) != "\t1")
            problems.push_back("opened a picture that does not exist: " + line);
    // Each kept bitmap is named to the user, the row's notice is shown once,
    // and nothing else is said.
    size_t told = 0, noticed = 0;
    for (const std::string &message : run.messages) {
        if (row.notice && message.find(ResourceString(row.notice)) == 0) {
            ++noticed;
            continue;
        }
        bool namesKept = false;
        for (const std::string &kept : added[KEPT])
            namesKept |= message.find(ResourceString(IDS_SCAN_KEPT)) == 0 && message.find(kept) != std::string::npos;
        told += namesKept;
        if (!namesKept)
            problems.push_back("unexpected message: " + message);
    }
    if (told != added[KEPT].size())
        problems.push_back("bitmaps kept: " + std::to_string(added[KEPT].size()) + ", told " + std::to_string(told));
    if (noticed != (row.notice ? 1u : 0u))
        problems.push_back("the notice was shown " + std::to_string(noticed) + " times");
}

bool RunRow(const Row &row, RowRun &run)
{
    if (!EnsureAgent()) {
        run.problems.push_back("the agent did not start");
        return false;
    }
    feeder::Reset();
    feeder::SetTransferSize(BLOCK_BYTES);
    RestoreValues();
    SetValue(SettingsPath(SCAN_SETTINGS_SUBKEY), SettingName(SETTING_ContinuousScan), REG_DWORD,
             DwordBytes(row.kind == CONTINUOUS));
    CreateDirectoryA(SCANS.c_str(), nullptr);
    DeleteFileA(ViewerRecord.c_str());
    DeleteFileA(FolioRecord.c_str());
    for (int sheet = 0; sheet < row.sheets; ++sheet)
        feeder::QueueSheet(PHOTO);
    if (row.arm)
        row.arm(run);
    if (run.skip.empty()) {
        Files before = SaveFolders(run), temp = TempFiles();
        Press(row);
        if (row.during)
            row.during(run);
        Settle(run);
        Judge(row, run, before, temp);
    }
    if (row.after)
        row.after(run);
    HoldRecordingTool(false);
    PutBackProgramFiles();
    if (!run.skip.empty())
        return false;
    // After a row that saved nothing, a press must scan again.
    if (run.problems.empty() && run.pictures == 0) {
        RowRun next;
        if (!RunRow({"the next press", ONE_PAGE, 1, SAVED}, next))
            run.problems.push_back("the next press did not scan: " + next.problems[0]);
    }
    return run.problems.empty();
}

// Runs the row and counts it; a row this machine cannot run is skipped with its reason.
void RunAndRecord(const Row &row)
{
    RowRun run;
    bool held = RunRow(row, run);
    if (!run.skip.empty()) {
        ++RowsSkipped;
        printf("skipped: %s: %s\n", row.name.c_str(), run.skip.c_str());
        return;
    }
    std::string why;
    for (const std::string &problem : run.problems)
        why += "\n    " + problem;
    ++RowsRun;
    RowsHeld += held;
    if (!held)
        NotHeld.push_back(row.name + why);
    EXPECT_TRUE(held) << row.name << why;
}

// ---- What the rows do -----------------------------------------------------

// The auto-crop tool's stand-in, held running: the page is named, not saved.
void HoldAutoCrop(RowRun &)
{
    UseRecordingTool(AUTOCROP_TOOL_FILE);
    HoldRecordingTool(true);
}
Step WhileAutoCropRuns(const Step &act)
{
    return [=](RowRun &run) {
        if (!WaitUntil(30000, [] { return !RecordedCommandLines().empty(); }))
            run.problems.push_back("the auto-crop tool never started");
        act(run);
        HoldRecordingTool(false);
    };
}
void Slow(RowRun &)
{
    feeder::SetLinesPerSecond(SLOW_LINES_PER_SECOND);
}
void Unplug(RowRun &)
{
    feeder::Unplug();
}
void UnplugAndComeBack(RowRun &run)
{
    feeder::Unplug();
    Settle(run, 1500);
    feeder::Plug();
}
Step AfterReads(int reads, const Step &act)
{
    return [=](RowRun &run) {
        if (!WaitUntil(30000, [&] { return Count(AgentTrace(), SC_READ) >= reads; }))
            run.problems.push_back("the scan never read block " + std::to_string(reads));
        act(run);
    };
}
// Once the dialog shows: the button clicked, or with none the scanner
// unplugged and plugged in again.
Step OnDialog(DialogKind kind, int button)
{
    return [=](RowRun &run) {
        HWND dialog = WaitForKind(kind);
        if (!dialog)
            run.problems.push_back("the dialog to answer never showed");
        else if (button)
            ClickButton(dialog, button);
        else
            UnplugAndComeBack(run);
    };
}
void UseFolder(RowRun &run, const std::string &folder)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    run.asked = folder;
    SetValue(SettingsPath(SCAN_SETTINGS_SUBKEY), SettingName(SETTING_SavePath), REG_SZ, folder);
}
std::string Shell(const std::string &command, const std::string &path)
{
    return command + " '" + testsupport::UnixPath(path) + "'";
}
// Mounting needs privileges a machine may not give: the row is then skipped.
Step Mounted(const std::string &folder, const std::string &how)
{
    return [=](RowRun &run) {
        UseFolder(run, folder);
        std::string mount = Shell("mount " + how + (how == "--bind" ? Shell("", folder) : ""), folder);
        if (testsupport::RunHostShell(mount + " 2>/dev/null") != 0)
            run.skip = "not allowed to mount here (" + mount + ")";
        else
            HoldAutoCrop(run);
    };
}
void Unmount(const std::string &folder)
{
    testsupport::RunHostShell(Shell("umount", folder) + " 2>/dev/null");
}

std::string NumberedPicture(int number, const std::string &folder = SCANS)
{
    char name[32];
    snprintf(name, sizeof name, "\\Image%05d.jpg", number);
    return folder + name;
}
// The name the page was given: the first free one.
std::string NextName(const std::string &folder)
{
    int number = 1;
    while (testsupport::FileExists(NumberedPicture(number, folder)))
        ++number;
    return NumberedPicture(number, folder);
}

// A folder deep enough that its first picture's path is `bytes` long.
std::string DeepFolder(size_t bytes)
{
    std::string folder = MATRIX + "\\deep";
    CreateDirectoryA(folder.c_str(), nullptr);
    for (size_t target = bytes - strlen("\\Image00001.jpg"); folder.size() < target;) {
        folder += "\\" + std::string(std::min<size_t>(100, target - folder.size() - 1), char('a' + bytes % 26));
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    return folder;
}

std::vector<Row> FolderAndDeviceRows()
{
    std::vector<Row> rows;
    const std::string gone = MATRIX + "\\Gone", full = MATRIX + "\\Full";
    for (JobKind kind : {ONE_PAGE, CONTINUOUS}) {
        const std::string job = kind == ONE_PAGE ? "one page: " : "three sheets: ";
        const int sheets = kind == ONE_PAGE ? 1 : 3;
        const Expect firstPage = {1, 1, ASKED};
        const Step refuse = [kind](RowRun &) {
            WaitUntil(30000, [kind] { return Count(AgentTrace(), kind == ONE_PAGE ? SC_GET_BUTTON : SC_END_PAGE); });
            feeder::SetRefuseAcquire(true);
        };
        std::vector<Row> table = {
            {"unplugged while waiting for paper", kind, 0, NOTHING, nullptr, OnDialog(PAPER, 0)},
            {"unplugged during the block loop", kind, sheets, firstPage, Slow, AfterReads(1, UnplugAndComeBack)},
            {"unplugged while the auto-crop tool runs", kind, sheets, firstPage, HoldAutoCrop,
             [](RowRun &run) { WhileAutoCropRuns(Unplug)(run), UnplugAndComeBack(run); }},
            {"unplugged while saving", kind, sheets, firstPage, HoldAutoCrop,
             [](RowRun &run) { WhileAutoCropRuns([](RowRun &) {})(run), UnplugAndComeBack(run); }},
            {"cancelled in the insert-paper dialog", kind, 0, NOTHING, nullptr, OnDialog(PAPER, IDCANCEL)},
            {"the device refuses to be taken", kind, sheets, kind == ONE_PAGE ? NOTHING : firstPage, nullptr, refuse,
             [](RowRun &) { feeder::SetRefuseAcquire(false); }},
            {"save folder deleted at saving", kind, sheets, RESCUED,
             [gone](RowRun &run) { UseFolder(run, gone), HoldAutoCrop(run); },
             WhileAutoCropRuns([gone](RowRun &) { testsupport::RemoveTree(gone); })},
            {"save folder read-only at saving", kind, sheets, RESCUED, Mounted(SCANS, "--bind"),
             WhileAutoCropRuns([](RowRun &) { testsupport::RunHostShell(Shell("mount -o remount,bind,ro", SCANS)); }),
             [](RowRun &) { Unmount(SCANS); }},
            {"picture name taken between naming and saving", kind, sheets, SAVED_OR_RESCUED, HoldAutoCrop,
             WhileAutoCropRuns([](RowRun &run) {
                 std::string name = NextName(SCANS);
                 testsupport::WriteWholeFile(name, "another program's file");
                 run.placed[name] = HashOf(name);
             })},
        };
        for (Row &row : table)
            rows.push_back((row.name = job + row.name, row));
    }
    rows.push_back(
        {"three sheets: unplugged while the prompt waits", CONTINUOUS, 1, SAVED, nullptr, OnDialog(PROMPT, 0)});
    rows.push_back({"one page: file system full at saving", ONE_PAGE, 1, RESCUED,
                    Mounted(full, "-t tmpfs -o size=256k tmpfs"), WhileAutoCropRuns([full](RowRun &run) {
                        testsupport::RunHostShell("dd if=/dev/zero bs=4k of='" + testsupport::UnixPath(full) +
                                                  "/filler' 2>/dev/null");
                        run.placed = FilesIn({full});
                    }),
                    [full](RowRun &) { Unmount(full); }});
    rows.push_back({"one page: save folder and default folder read-only at saving", ONE_PAGE, 1, KEPT_ONLY,
                    [](RowRun &run) {
                        Mounted(SCANS, "--bind")(run);
                        testsupport::RunHostShell(
                            Shell("mount --bind" + Shell("", DefaultSaveFolder()), DefaultSaveFolder()));
                    },
                    WhileAutoCropRuns([](RowRun &) {
                        for (const std::string &folder : {SCANS, DefaultSaveFolder()})
                            testsupport::RunHostShell(Shell("mount -o remount,bind,ro", folder));
                    }),
                    [](RowRun &) { Unmount(SCANS), Unmount(DefaultSaveFolder()); }});
    for (size_t bytes : {259, 260, 261})
        rows.push_back({"one page: picture path of " + std::to_string(bytes) + " bytes", ONE_PAGE, 1,
                        bytes < size_t(PATH_CAPACITY) ? SAVED : RESCUED,
                        [bytes](RowRun &run) { UseFolder(run, DeepFolder(bytes)); }, nullptr,
                        [](RowRun &) { testsupport::RemoveTree(MATRIX + "\\deep"); }});
    return rows;
}

// The trace of a clean run gives the commands and how often each is sent:
// the one-page job from its press to its idle wait; for continuous feeding
// the wait for the second sheet and its page, which stand for every later
// page (the first is the one-page job's). Each call fails once, with the
// device's failure statuses in turn. A failure whose result the job does not
// rely on costs no page, and a sheet left in the transport may be scanned twice.
std::vector<Row> CommandRows(const Row &clean, const std::vector<FeederTraceEntry> &trace)
{
    const int16_t statuses[] = {FEED_STATUS_UNPLUGGED, FEED_STATUS_BUSY,        FEED_STATUS_NOT_ACQUIRED,
                                FEED_STATUS_NO_PAPER,  FEED_STATUS_BAD_REQUEST, FEED_STATUS_NOT_SCANNING,
                                FEED_STATUS_BAD_SHEET};
    const std::set<uint16_t> harmless = {SC_SET_TABLE,  SC_STOP,          SC_RELEASE,
                                         SC_GET_BUTTON, SC_PAPER_PRESENT, SC_TAKE_PAPER};
    size_t first = 0, last = trace.size(), press = PressIndex(trace);
    for (size_t i = 0, ends = 0; i < trace.size() && last == trace.size(); ++i) {
        ends += trace[i].Command == SC_END_PAGE;
        if (clean.kind == ONE_PAGE && i > press &&
            Count(trace, SC_GET_BUTTON, press + 1) - Count(trace, SC_GET_BUTTON, i + 1) == 2)
            last = i + 1;
        if (clean.kind == CONTINUOUS && trace[i].Command == SC_RELEASE && ends && !first)
            first = i + 1;
        if (clean.kind == CONTINUOUS && trace[i].Command == SC_RELEASE && ends == 2)
            last = i + 1;
    }
    std::vector<Row> rows;
    std::map<uint16_t, uint32_t> calls;
    const std::string job = clean.kind == ONE_PAGE ? "one page: " : "three sheets: ";
    for (size_t i = 0; i < last; ++i) {
        Row row = {job, clean.kind, clean.sheets, harmless.count(trace[i].Command) ? SAVED : DEVICE_FAULT};
        if (trace[i].Command == SC_END_PAGE)
            row.expect = {SHEETS, MORE, ASKED};
        row.command = trace[i].Command, row.nth = ++calls[row.command];
        row.status = statuses[rows.size() % (sizeof statuses / sizeof statuses[0])];
        row.name += feeder::CommandName(row.command) + " call " + std::to_string(row.nth) + " fails with " +
                    std::to_string(row.status);
        if (i >= first)
            rows.push_back(row);
    }
    // Cancelled at the first, a middle and the last block of the first page,
    // or of the second with continuous feeding, whose loss must not end it.
    int blocks = Count(trace, SC_READ, first) - (clean.kind == ONE_PAGE ? 0 : Count(trace, SC_READ, last));
    int before = Count(trace, SC_READ) - Count(trace, SC_READ, first);
    for (int block : {1, (blocks + 1) / 2, blocks})
        rows.push_back(
            {job + "cancelled at block " + std::to_string(block) + " of " + std::to_string(blocks), clean.kind,
             clean.sheets, clean.kind == ONE_PAGE ? NOTHING : Expect{2, 2, ASKED}, Slow,
             AfterReads(before + block, [](RowRun &) { ClickButton(WaitForKind(PROGRESS, 2000), IDCANCEL); })});
    return rows;
}

// ---- The job's own choices --------------------------------------------------

// 1024 x 681 pixels, fed as a print of 200 dpi lying crooked on a dark
// backing, as a hand feeds it.
const int PHOTO_WIDTH = 1024, PHOTO_HEIGHT = 681, PHOTO_DPI = 200;
void FeedCrooked(const std::string &picture = PHOTO)
{
    feeder::Placement placement;
    placement.SkewDegrees = 3.5, placement.BackingRgb = 0x262626, placement.SheetDpi = PHOTO_DPI;
    feeder::QueueSheet(picture.c_str(), &placement);
}
void SetNumbers(const std::string &key, std::initializer_list<std::pair<SettingId, DWORD>> numbers)
{
    for (const auto &number : numbers)
        SetValue(key, SettingName(number.first), REG_DWORD, DwordBytes(number.second));
}
// The user's choices for a photograph (scan mode 0 line art, 1 grey, 2
// colour), cropped and straightened on a 7 x 5.5 inch paper, and the
// crooked print fed.
Step Photo(DWORD mode, DWORD dpi, DWORD format, DWORD rotate)
{
    return [=](RowRun &) {
        SetNumbers(SettingsPath(SCAN_SETTINGS_SUBKEY), {{SETTING_ScanMode, mode},
                                                        {SETTING_Resolution, dpi},
                                                        {SETTING_Format, format},
                                                        {SETTING_Rotate, rotate},
                                                        {SETTING_AutoCrop, 1},
                                                        {SETTING_AutoDeskew, 1}});
        SetValue(SettingsPath(PAPER_SIZE_SUBKEY), SettingName(SETTING_PaperSizeArea), REG_SZ, "0,0,2100,1650");
        FeedCrooked();
    };
}
Step Then(const Step &first, const Step &second)
{
    return [=](RowRun &run) { first(run), second(run); };
}

// What ImageMagick says of the row's first picture in its own `format`.
std::string Identify(const RowRun &run, const char *format)
{
    std::string out;
    if (!run.saved.empty())
        testsupport::RunHostShell(Shell("identify -format '" + std::string(format) + "'", run.saved[0]), &out);
    return out;
}
// The first picture: the photograph at `dpi` turned clockwise by
// `degrees`, of ImageMagick's `type`, and (but for line art) like it.
Step PictureIs(DWORD dpi, int degrees, const char *type)
{
    return [=](RowRun &run) {
        int width = 0, height = 0;
        char seen[64] = "";
        sscanf(Identify(run, "%w %h %[type]").c_str(), "%d %d %63s", &width, &height, seen);
        bool turned = degrees % 180 != 0;
        if (std::abs((turned ? height : width) - int(PHOTO_WIDTH * dpi / PHOTO_DPI)) > 4 ||
            std::abs((turned ? width : height) - int(PHOTO_HEIGHT * dpi / PHOTO_DPI)) > 4 || strcmp(seen, type))
            run.problems.push_back("picture " + Identify(run, "%w x %h %[type]") + ", not the cropped photograph");
        if (strcmp(type, "Bilevel") == 0 || run.saved.empty())
            return;
        std::string out, picture = Shell("", run.saved[0]);
        testsupport::RunHostShell(Shell("convert", PHOTO) + " -rotate " + std::to_string(degrees) +
                                      (strcmp(type, "Grayscale") ? "" : " -colorspace Gray") +
                                      " -resize \"$(identify -format '%wx%h!'" + picture +
                                      ")\" png:- | compare -metric NCC" + picture + " png:- null: 2>&1",
                                  &out);
        if (atof(out.c_str()) < 0.95)
            run.problems.push_back("the picture is not the photograph straightened: likeness " + out);
    };
}

std::vector<Row> ChoiceRows()
{
    const Expect ONE = {1, 1, ASKED};
    std::string scrap = MATRIX + "\\scrap.bmp", log = TempFolder() + "\\" AUTOCROP_LOG_FILE;
    std::vector<Row> rows = {
        {"colour JPEG", ONE_PAGE, 0, ONE, Photo(2, 300, OUTPUT_JPEG, ROTATE_NONE), nullptr,
         PictureIs(300, 0, "TrueColor")},
        {"grey PNG at 100 dpi turned right", ONE_PAGE, 0, ONE, Photo(1, 100, OUTPUT_PNG, ROTATE_90), nullptr,
         PictureIs(100, 90, "Grayscale")},
        {"line art TIFF upside down", ONE_PAGE, 0, ONE, Photo(0, 300, OUTPUT_TIFF, ROTATE_180), nullptr,
         PictureIs(300, 180, "Bilevel")},
        {"an unknown mode in colour, BMP turned left", ONE_PAGE, 0, ONE, Photo(7, 300, OUTPUT_BMP, ROTATE_270), nullptr,
         PictureIs(300, 270, "TrueColor")},
        // Without the tool, an earlier page's log asking the same is no reason to scan again.
        {"no auto-crop tool", ONE_PAGE, 0, ONE,
         Then(Photo(2, 300, OUTPUT_JPEG, ROTATE_NONE),
              [log](RowRun &) {
                  ReplaceProgramFile(AUTOCROP_TOOL_FILE, "");
                  testsupport::WriteWholeFile(log, AUTOCROP_NO_ACTION_WORD);
              }),
         nullptr,
         [log](RowRun &run) {
             DeleteFileA(log.c_str());
             if (Identify(run, "%w") != "2100")
                 run.problems.push_back("not the page as scanned: " + Identify(run, "%w"));
         }},
        // Nowhere to save: the folder goes and the default folder cannot be made.
        {"folder gone and no default folder", ONE_PAGE, 1, KEPT_ONLY,
         [](RowRun &run) {
             SetValue(SettingsPath(), SettingName(SETTING_FolderName), REG_SZ, "Scans<1>");
             UseFolder(run, MATRIX + "\\Gone"), HoldAutoCrop(run);
         },
         WhileAutoCropRuns([](RowRun &) { testsupport::RemoveTree(MATRIX + "\\Gone"); })},
        // Continuous feeding: its prompt on top, the viewer chosen again for
        // every picture (ImageFolio, which never shows it, is given up after
        // a while), and a switch of user ends it.
        {"continuous, then ImageFolio, ended by a switch of user",
         CONTINUOUS,
         1,
         {2, 2, ASKED},
         [](RowRun &) { fixtures::RegisterImageFolio(FolioProgram); },
         [](RowRun &run) {
             HWND prompt = WaitForKind(PROMPT);
             if (!prompt || !(GetWindowLongA(prompt, GWL_EXSTYLE) & WS_EX_TOPMOST))
                 run.problems.push_back("no prompt on top of the other windows");
             SetNumbers(SettingsPath(), {{SETTING_DefaultProcessor, 0}});
             feeder::QueueSheet(PHOTO);
             WaitUntil(60000, [] { return fixtures::RecordLines(FolioRecord).size() >= 2; });
             if (!(prompt = WaitForKind(PROMPT, 60000)))
                 run.problems.push_back("no prompt after ImageFolio was given up");
             PostMessageA(FindWindowA(TRAY_WINDOW_CLASS, nullptr), WM_WTSSESSION_CHANGE, WTS_CONSOLE_DISCONNECT, 0);
             if (!WaitForWindowGone(prompt, 10000))
                 run.problems.push_back("a switch of user did not end continuous feeding");
             // Back in the session, the button is polled again.
             PostMessageA(FindWindowA(TRAY_WINDOW_CLASS, nullptr), WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, 0);
         },
         [](RowRun &) { fixtures::UnregisterImageFolio(); }},
    };
    // The tool finds no photograph on a scrap far too small and asks for the sheet again.
    Row rescan = {"a scrap is scanned again",
                  ONE_PAGE,
                  0,
                  ONE,
                  Then([scrap](RowRun &) { FeedCrooked(scrap); }, Photo(2, 300, OUTPUT_JPEG, ROTATE_NONE)),
                  nullptr,
                  PictureIs(300, 0, "TrueColor")};
    rescan.notice = IDS_RESCAN_NOTICE;
    rows.push_back(rescan);
    return rows;
}

void Prepare()
{
    static bool prepared = false;
    if (prepared)
        return;
    ASSERT_FALSE(ModelName().empty()) << "the prefix is not prepared: run through ctest";
    if (FindWindowA(TRAY_WINDOW_CLASS, nullptr))
        StartProgram(AGENT_PROGRAM_FILE, "q", &Agent) && Agent.WaitExit(30000);
    ASSERT_TRUE(feeder::Reset());
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, std::string(MODEL_KEY_BASE) + ModelName());
    SetCalibrationDataPresent(true);
    CreateDirectoryA(MATRIX.c_str(), nullptr);
    ASSERT_TRUE(fixtures::RegisterViewer(testsupport::ProgramDirectory() + "FixtureViewer.exe", ViewerRecord));
    // ImageFolio in a folder with a blank, and programs where an unquoted
    // path would wrongly lead: each records its command line.
    CreateDirectoryA((MATRIX + "\\Image Folio").c_str(), nullptr);
    for (const std::string &copy : {FolioProgram, MATRIX + "\\Image.exe", std::string(UNQUOTED_DECOY)})
        ASSERT_TRUE(CopyFileA((testsupport::ProgramDirectory() + "FixtureImageFolio.exe").c_str(), copy.c_str(), 0));
    SetEnvironmentVariableA("FIXTURE_IMAGEFOLIO_RECORD", FolioRecord.c_str());
    SetEnvironmentVariableA("FIXTURE_IMAGEFOLIO_MODE", "never");
    ASSERT_EQ(testsupport::RunHostShell(Shell("convert -size 40x40 xc:white -type TrueColor", MATRIX + "\\scrap.bmp")),
              0);
    // Pictures that were there before: none of them may change.
    for (const std::string &folder : {SCANS, DefaultSaveFolder(), ShellFolder(CSIDL_MYPICTURES)}) {
        CreateDirectoryA(folder.c_str(), nullptr);
        CopyFileA(PHOTO, (folder + "\\Image00001.jpg").c_str(), TRUE);
    }
    ASSERT_TRUE(EnsureAgent());
    const std::string scan = SettingsPath(SCAN_SETTINGS_SUBKEY);
    SetNumbers(scan, {{SETTING_ScanMode, 1},
                      {SETTING_Resolution, 100},
                      {SETTING_AutoCrop, 0},
                      {SETTING_AutoDeskew, 0},
                      {SETTING_Format, OUTPUT_JPEG},
                      {SETTING_Rotate, ROTATE_NONE}});
    SetValue(scan, SettingName(SETTING_SavePath), REG_SZ, SCANS);
    SetNumbers(SettingsPath(), {{SETTING_DefaultProcessor, 1}});
    SetValue(SettingsPath(PAPER_SIZE_SUBKEY), SettingName(SETTING_PaperSizeArea), REG_SZ, PAPER_AREA);
    // A first job writes back every setting it reads; that is the baseline.
    Baseline = ReadValues();
    RowRun run;
    ASSERT_TRUE(RunRow({"warm-up", ONE_PAGE, 1, SAVED}, run)) << run.problems[0];
    Baseline = ReadValues();
    prepared = true;
}

class MatrixSummary : public ::testing::Environment {
    void TearDown() override
    {
        if (!RowsRun && !RowsSkipped)
            return;
        printf("fault matrix: %d scenarios, %d held\n", RowsRun + RowsSkipped, RowsHeld);
        if (RowsSkipped)
            printf("fault matrix: %d skipped, with their reasons above\n", RowsSkipped);
        for (const std::string &row : NotHeld)
            printf("did not hold: %s\n", row.c_str());
        Process quitter;
        if (StartProgram(AGENT_PROGRAM_FILE, "q", &quitter))
            quitter.WaitExit(30000);
        Agent.Kill();
        fixtures::UnregisterViewer();
        for (const std::string &folder : {SCANS, MATRIX + "\\Full", DefaultSaveFolder()})
            Unmount(folder);
        testsupport::RemoveTree(MATRIX);
        DeleteFileA(UNQUOTED_DECOY);
        feeder::Reset();
    }
};
::testing::Environment *const Summary = ::testing::AddGlobalTestEnvironment(new MatrixSummary);

TEST(FaultMatrix, EveryDriverCommandFailingAtEachCall)
{
    ASSERT_NO_FATAL_FAILURE(Prepare());
    for (JobKind kind : {ONE_PAGE, CONTINUOUS}) {
        Row clean = {kind == ONE_PAGE ? "one page: no fault" : "three sheets: no fault", kind, kind == ONE_PAGE ? 1 : 3,
                     SAVED};
        RunAndRecord(clean);
        std::vector<FeederTraceEntry> trace = AgentTrace();
        for (const Row &row : CommandRows(clean, trace))
            RunAndRecord(row);
    }
}

// Every value of the user's settings missing; those the job then wrote back
// (it reads them) also stored with the wrong type and too long.
TEST(FaultMatrix, EverySettingTheJobReadsBroken)
{
    ASSERT_NO_FATAL_FAILURE(Prepare());
    for (const StoredValue &value : std::vector<StoredValue>(Baseline)) {
        // Read by the calibration check before the job; a broken one starts
        // a calibration run, which the calibration scenarios cover.
        if (value.name == SettingName(SETTING_CalibrationFilename))
            continue;
        bool read = false;
        auto broken = [&](const char *how, DWORD type, const std::string &data) {
            Row row = {"setting \"" + value.name + "\" " + how, ONE_PAGE, 1, SETTING_FAULT};
            row.arm = [&, type, data](RowRun &) {
                DeleteValue(value.key, value.name);
                if (type != REG_NONE)
                    SetValue(value.key, value.name.c_str(), type, data);
            };
            row.after = [&](RowRun &) {
                DWORD stored;
                std::string bytes;
                read = testsupport::GetRawValue(HKEY_CURRENT_USER, value.key, value.name.c_str(), &stored, &bytes);
            };
            RunAndRecord(row);
        };
        broken("missing", REG_NONE, "");
        if (!read)
            continue;
        if (value.type == REG_DWORD) {
            broken("stored as text", REG_SZ, std::to_string(*(const int *)value.data.data()) + '\0');
            broken("too long", REG_BINARY, value.data + DwordBytes(0));
            continue;
        }
        DWORD capacity = PATH_CAPACITY;
        for (const SettingValue &setting : SettingTable)
            capacity = value.name == setting.name ? setting.capacity : capacity;
        broken("stored as a number", REG_DWORD, DwordBytes(1));
        broken("too long", REG_SZ, std::string(capacity, 'x'));
    }
}

// The agent's windows (its USER objects: a leaked prompt or progress dialog
// shows here) and the anonymous memory of its process as the host sees it.
BOOL CALLBACK CountAgentWindow(HWND window, LPARAM count)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    *(size_t *)count += owner == Agent.id;
    if (owner == Agent.id && GetAncestor(window, GA_PARENT) == GetDesktopWindow())
        EnumChildWindows(window, CountAgentWindow, count);
    return TRUE;
}
std::vector<size_t> SampleAgent()
{
    size_t windows = 0;
    EnumWindows(CountAgentWindow, (LPARAM)&windows);
    // The agent's Unix process is the one that maps this prefix's Velmora.exe.
    std::string kib, script = "t=$(readlink -f '" + testsupport::UnixPath(ProgramFile(AGENT_PROGRAM_FILE)) +
                              "'); for p in $(pgrep -f 'Velmora[.]exe'); do grep -qF \"$t\" /proc/$p/maps "
                              "2>/dev/null && awk '/RssAnon/ {print $2}' /proc/$p/status; done";
    for (int attempt = 0; attempt < 5 && !atol(kib.c_str()); ++attempt)
        testsupport::RunHostShell(script, &kib);
    return {windows, size_t(atol(kib.c_str()))};
}

int SoakSetting(const char *name, int fallback)
{
    char value[16] = "";
    return GetEnvironmentVariableA(name, value, sizeof value) && atoi(value) > 0 ? atoi(value) : fallback;
}
std::string Sampled(const std::vector<size_t> &sample)
{
    return std::to_string(sample[0]) + " windows, " + std::to_string(sample[1]) + " KiB anonymous memory";
}

// Sheets fed continuously at full speed (VELMORA_SOAK_PAGES, 30 in the
// test run): every picture there and numbered without a gap, and the
// agent's windows and memory, sampled every ten pages (fifty from a hundred
// on), not growing with the pages. Then the idle agent's button polls
// (VELMORA_SOAK_POLLS, 50 in the test run) with the scanner unplugged and
// plugged in again every ten, which opens and closes the settings dialog:
// nothing may grow either. Wine reports no handle, GDI or USER counts for
// another process.
TEST(FaultMatrix, Soak)
{
    ASSERT_NO_FATAL_FAILURE(Prepare());
    const int pages = SoakSetting("VELMORA_SOAK_PAGES", 30), polls = SoakSetting("VELMORA_SOAK_POLLS", 50);
    const int every = pages >= 100 ? 50 : 10;
    int first = 0;
    std::vector<std::vector<size_t>> samples;
    Row soak = {std::to_string(pages) + " sheets fed continuously", CONTINUOUS, pages, SAVED};
    soak.arm = [&](RowRun &) { first = atoi(NextName(SCANS).c_str() + SCANS.size() + strlen("\\Image")); };
    // Counted by the pictures saved: a long job's trace outgrows its ring.
    auto saved = [&] {
        int count = 0;
        while (testsupport::FileExists(NumberedPicture(first + count)))
            ++count;
        return count;
    };
    soak.during = [&](RowRun &) {
        for (int done = every; done <= pages; done += every) {
            WaitUntil(600000, [&] { return saved() >= done; });
            samples.push_back(SampleAgent());
            printf("soak: after %d pages: %s\n", done, Sampled(samples.back()).c_str());
        }
    };
    soak.after = [&](RowRun &run) {
        if (saved() != pages)
            run.problems.push_back("a gap in the numbers at " + NumberedPicture(first + saved()));
    };
    RunAndRecord(soak);
    ASSERT_GE(samples.size(), 2u);
    EXPECT_TRUE(samples.front()[1] && samples.back()[1]) << "the agent's memory could not be read";
    // A window or a page's worth of memory (a 2-inch page is 360 KB) kept per
    // page would pass these limits between the first and the last sample.
    EXPECT_LE(samples.back()[0], samples.front()[0] + 10) << "the agent keeps windows";
    EXPECT_LE(samples.back()[1], samples.front()[1] + 4096) << "the agent's memory grows with the pages";

    std::vector<size_t> before = SampleAgent();
    for (int polled = 0; polled < polls; polled += 10) {
        polled / 10 % 2 ? feeder::Plug() : feeder::Unplug();
        Sleep(10 * 200);
    }
    feeder::Plug();
    if (HWND settings = WaitForDialog(Agent.id, "", 3000))
        ClickButton(settings, IDOK), WaitForWindowGone(settings, 5000);
    std::vector<size_t> after = SampleAgent();
    printf("soak: %d idle polls: before %s, after %s\n", polls, Sampled(before).c_str(), Sampled(after).c_str());
    // The settings dialog, opened and closed at every other change, is the
    // likeliest to leave windows behind.
    EXPECT_LE(after[0], before[0] + 2) << "the agent keeps windows while idle";
    EXPECT_LE(after[1], before[1] + 1024) << "the agent's memory grows while idle";
    RowRun next;
    EXPECT_TRUE(RunRow({"a press after the idle polls", ONE_PAGE, 1, SAVED}, next))
        << (next.problems.empty() ? "" : next.problems[0]);
}

TEST(FaultMatrix, TheUsersChoices)
{
    ASSERT_NO_FATAL_FAILURE(Prepare());
    for (Row row : ChoiceRows())
        RunAndRecord((row.name = "choice: " + row.name, row));
}

TEST(FaultMatrix, FoldersAndDevice)
{
    ASSERT_NO_FATAL_FAILURE(Prepare());
    for (const Row &row : FolderAndDeviceRows())
        RunAndRecord(row);
}

} // namespace
