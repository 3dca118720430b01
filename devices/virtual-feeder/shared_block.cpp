// Mapping and locking the virtual scanner's shared block.
#include "shared_block.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "page_render.h"

namespace feeder {

namespace {

const DWORD LOCK_TIMEOUT_MS = 10000;
// How often a waiter looks whether the holder still lives, and how many
// times it tries before it gives up its time slice.
const DWORD DEAD_HOLDER_CHECK_MS = 100;
const unsigned SPINS_BEFORE_SLEEPING = 200;

FeederState *MappedState = nullptr;
HANDLE LockMutex = nullptr;

bool CreateFolder(const std::string &folder)
{
    return CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool LayoutMatches(const FeederState *state)
{
    return state->Magic == FEEDER_STATE_MAGIC && state->Version == FEEDER_STATE_VERSION &&
           state->Size == sizeof(FeederState);
}

// Maps the block once per process. A block another process already maps with
// another layout is refused; a stale file nobody maps is started afresh.
FeederState *MapState()
{
    if (MappedState)
        return MappedState;
    const std::string folder = DataFolder();
    if (folder.empty())
        return nullptr;
    const std::string path = folder + "\\" + FEEDER_STATE_FILE;
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, sizeof(FeederState), FEEDER_STATE_NAME);
    const bool sharedAlready = mapping && GetLastError() == ERROR_ALREADY_EXISTS;
    CloseHandle(file);
    if (!mapping)
        return nullptr;
    void *view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(FeederState));
    // The view keeps the mapping alive; the handle is not needed any more.
    CloseHandle(mapping);
    if (!view)
        return nullptr;
    FeederState *state = static_cast<FeederState *>(view);
    if (!LayoutMatches(state)) {
        if (sharedAlready && state->Magic == FEEDER_STATE_MAGIC) {
            UnmapViewOfFile(view);
            return nullptr;
        }
        InitialiseState(state, false);
    }
    MappedState = state;
    return MappedState;
}

// True when the thread `id` names has ended (or never was).
bool ThreadGone(DWORD id)
{
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (!thread)
        return GetLastError() != ERROR_ACCESS_DENIED;
    const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

} // namespace

// Every driver call and control call holds the block, thousands of times a
// page, so the lock is a word in the block itself: taking it when it is free
// costs one interlocked instruction, where a named mutex costs two round
// trips to the Wine server. A holder that died mid-call is noticed by its
// thread having ended, and the block, still the best state there is, is
// taken over; a holder stuck for longer than any call takes makes this call
// fail rather than hang the agent. The named mutex only keeps two processes
// from setting up the block at the same time.
StateLock::StateLock() : state(nullptr), held_(false)
{
    if (!MappedState) {
        if (!LockMutex)
            LockMutex = CreateMutexA(nullptr, FALSE, FEEDER_LOCK_NAME);
        if (!LockMutex)
            return;
        const DWORD wait = WaitForSingleObject(LockMutex, LOCK_TIMEOUT_MS);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
            return;
        MapState();
        ReleaseMutex(LockMutex);
        if (!MappedState)
            return;
    }
    volatile LONG *holder = reinterpret_cast<volatile LONG *>(&MappedState->LockHolder);
    const LONG me = (LONG)GetCurrentThreadId();
    const DWORD started = GetTickCount();
    DWORD lastLook = started;
    for (unsigned attempt = 0;; ++attempt) {
        const LONG seen = InterlockedCompareExchange(holder, me, 0);
        if (seen == 0)
            break;
        const DWORD now = GetTickCount();
        if (now - lastLook >= DEAD_HOLDER_CHECK_MS) {
            lastLook = now;
            if (ThreadGone((DWORD)seen) && InterlockedCompareExchange(holder, me, seen) == seen)
                break;
        }
        if (now - started >= LOCK_TIMEOUT_MS)
            return;
        if (attempt < SPINS_BEFORE_SLEEPING)
            YieldProcessor();
        else
            Sleep(attempt < SPINS_BEFORE_SLEEPING * 2 ? 0 : 1);
    }
    held_ = true;
    state = MappedState;
}

StateLock::~StateLock()
{
    if (held_)
        InterlockedExchange(reinterpret_cast<volatile LONG *>(&MappedState->LockHolder), 0);
}

void ReleaseSharedState()
{
    if (MappedState)
        UnmapViewOfFile(MappedState);
    MappedState = nullptr;
    if (LockMutex)
        CloseHandle(LockMutex);
    LockMutex = nullptr;
}

void InitialiseState(FeederState *state, bool keepConfiguration)
{
    char folder[PATH_CAPACITY] = "";
    char vidPid[FEEDER_VID_PID_CAPACITY] = FEEDER_DEFAULT_VID_PID;
    if (keepConfiguration) {
        memcpy(folder, state->FeederFolder, sizeof folder);
        memcpy(vidPid, state->VidPid, sizeof vidPid);
    }
    const uint32_t resets = LayoutMatches(state) ? state->Resets : 0;
    // A reset runs while its caller holds the block.
    const int32_t holder = LayoutMatches(state) ? state->LockHolder : 0;
    memset(state, 0, sizeof *state);
    state->LockHolder = holder;
    state->Magic = FEEDER_STATE_MAGIC;
    state->Version = FEEDER_STATE_VERSION;
    state->Size = sizeof(FeederState);
    state->Resets = resets;
    state->Plugged = 1;
    memcpy(state->VidPid, vidPid, sizeof vidPid);
    state->VidPid[FEEDER_VID_PID_CAPACITY - 1] = '\0';
    memcpy(state->FeederFolder, folder, sizeof folder);
    state->FeederFolder[PATH_CAPACITY - 1] = '\0';
    state->TableShape = FeederTableShape{255, 3, 1, 256, 4, 0};
    state->MaxWidth300 = DEFAULT_MAX_WIDTH300;
    state->MaxHeight300 = DEFAULT_MAX_HEIGHT300;
    state->NextSheetNumber = 1;
    state->DefaultPlacement = FeederPlacement{150, 150, 0, 0x202020, 0};
    state->Sensor.Model = FEEDER_SENSOR_IDEAL;
    state->Sensor.Seed = FEEDER_DEFAULT_SENSOR_SEED;
}

std::string DataFolder()
{
    char common[PATH_CAPACITY];
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, common)))
        return std::string();
    std::string folder = std::string(common) + "\\Velmora";
    if (!CreateFolder(folder))
        return std::string();
    folder = std::string(common) + "\\" + FEEDER_DATA_FOLDER;
    if (!CreateFolder(folder))
        return std::string();
    return folder;
}

std::string ActiveFeederFolder(const FeederState &state)
{
    std::string folder(state.FeederFolder, strnlen(state.FeederFolder, PATH_CAPACITY));
    if (folder.empty()) {
        const std::string data = DataFolder();
        if (data.empty())
            return std::string();
        folder = data + "\\" + FEEDER_SHEETS_FOLDER;
    }
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    CreateFolder(folder);
    return folder;
}

uint32_t TraceMicroseconds()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const uint64_t ticks = (uint64_t)count.QuadPart, perSecond = (uint64_t)frequency.QuadPart;
    return (uint32_t)(ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond);
}

void AppendTrace(FeederState *state, FeederTraceEntry entry)
{
    entry.Sequence = ++state->TraceCount;
    entry.Microseconds = TraceMicroseconds();
    state->Trace[(entry.Sequence - 1) % FEEDER_TRACE_CAPACITY] = entry;
}

void CopyTrace(const FeederState &state, std::vector<FeederTraceEntry> *entries)
{
    entries->clear();
    const uint32_t total = state.TraceCount;
    const uint32_t kept = total < FEEDER_TRACE_CAPACITY ? total : FEEDER_TRACE_CAPACITY;
    for (uint32_t sequence = total - kept + 1; sequence <= total; ++sequence)
        entries->push_back(state.Trace[(sequence - 1) % FEEDER_TRACE_CAPACITY]);
}

void CopyText(char *field, size_t capacity, const char *text)
{
    if (capacity == 0)
        return;
    lstrcpynA(field, text ? text : "", (int)capacity);
}

bool ProcessAlive(uint32_t processId)
{
    if (processId == 0)
        return false;
    if (processId == GetCurrentProcessId())
        return true;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

} // namespace feeder
