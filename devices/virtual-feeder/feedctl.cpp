// feedctl.exe: the virtual scanner's control API on the command line, for
// demos and for tests that need a second process.
#include <windows.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "feeder_control.h"
#include "feedlink_protocol.h"
#include "shared_block.h"

namespace {

const char USAGE[] =
    "usage: feedctl COMMAND [ARGUMENTS]\n"
    "  status                          device state and waiting sheets\n"
    "  reset                           clean device, empty feeder\n"
    "  folder [PATH | -]               show or set the feeder folder (- = default)\n"
    "  load [OPTIONS] FILE...          queue pictures as sheets; options:\n"
    "       --x N --y N                sheet corner, 1/300 inch\n"
    "       --skew DEGREES --backing RRGGBB --dpi N\n"
    "  synthetic on|off                generated test card instead of sheets\n"
    "  press [CODE [POLLS]]            button down for POLLS polls (default 2 1)\n"
    "  plug | unplug                   connect or disconnect, with the device broadcast\n"
    "  vidpid [VALUE]                  show or set the VID/PID the broadcasts carry\n"
    "  fault COMMAND NTH STATUS        the NTH next call of COMMAND (SC_READ, or its code) fails with STATUS\n"
    "  refuse-acquire on|off\n"
    "  end-page LINES                  pages end after LINES lines\n"
    "  fail-read LINES STATUS          reads fail with STATUS after LINES lines\n"
    "  clear-faults\n"
    "  transfer BYTES                  preferred transfer size (0 = the device's own)\n"
    "  speed LINES_PER_SECOND          mechanical speed (0 = instant)\n"
    "  sensor ideal|shaded [SEED]      how the sensor reads (shaded: per-column gain and offset)\n"
    "  roller-dirt PAGES               the roller streaks pages after PAGES sheets (0 = never)\n"
    "  hold MODEL [SECONDS]            hold the model's in-use mutex until released\n"
    "  release                         make a holding feedctl let go\n"
    "  trace [clear]                   print (or clear) the command trace\n";

bool ParseNumber(const char *text, long minimum, long maximum, long *value)
{
    if (!text || !*text)
        return false;
    char *end = nullptr;
    errno = 0;
    const long parsed = strtol(text, &end, 0);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum)
        return false;
    *value = parsed;
    return true;
}

bool ParseSwitch(const char *text, bool *on)
{
    if (text && strcmp(text, "on") == 0)
        return *on = true, true;
    if (text && strcmp(text, "off") == 0)
        return *on = false, true;
    return false;
}

int Fail(const char *message)
{
    fprintf(stderr, "feedctl: %s\n", message);
    return 1;
}

int Done(bool ok, const char *what)
{
    return ok ? 0 : Fail(what);
}

int CommandStatus(int, char **)
{
    FeederState *state = new FeederState;
    if (!feeder::Snapshot(state)) {
        delete state;
        return Fail("the device state cannot be opened");
    }
    printf("plugged %s, button code %d for %u polls, acquired by %u\n", state->Plugged ? "yes" : "no",
           state->ButtonCode, (unsigned)state->ButtonPolls, (unsigned)state->AcquiredBy);
    printf("transfer %u bytes, speed %u lines/s, synthetic %s, refuse acquire %s\n", (unsigned)state->TransferBytes,
           (unsigned)state->LinesPerSecond, state->Synthetic ? "on" : "off", state->RefuseAcquire ? "on" : "off");
    if (state->EndPageEarly)
        printf("pages end after %u lines\n", (unsigned)state->EndPageAfterLines);
    if (state->FailReadEarly)
        printf("reads fail with %d after %u lines\n", state->FailReadStatus, (unsigned)state->FailReadAfterLines);
    for (const FeederFault &fault : state->Faults)
        if (fault.NthCall && !fault.Fired)
            printf("fault: call %u of %s fails with %d\n", (unsigned)fault.NthCall,
                   feeder::CommandName(fault.Command).c_str(), fault.Status);
    printf("vid/pid %s\n", state->VidPid);
    if (state->CurrentSheetValid)
        printf("current sheet %s%s\n", state->CurrentSheetSynthetic ? "(synthetic)" : state->CurrentSheet,
               state->SheetInTransport ? " (in the transport)" : "");
    const FeederSensorState &sensor = state->Sensor;
    printf("sensor %s, seed %08X, correction %s\n", sensor.Model == FEEDER_SENSOR_SHADED ? "shaded" : "ideal",
           (unsigned)sensor.Seed, sensor.CorrectionValid ? "loaded" : "none");
    if (sensor.DirtAfterPages)
        printf("roller %s: %u pages since cleaning, dirty after %u\n",
               sensor.PagesSinceCleaning >= sensor.DirtAfterPages ? "dirty" : "clean",
               (unsigned)sensor.PagesSinceCleaning, (unsigned)sensor.DirtAfterPages);
    if (state->MutexHolderPid)
        printf("in-use mutex for \"%s\" held by process %u\n", state->MutexModel, (unsigned)state->MutexHolderPid);
    delete state;
    printf("feeder %s\n", feeder::FeederFolder().c_str());
    for (const std::string &sheet : feeder::WaitingSheets())
        printf("  waiting: %s\n", sheet.c_str());
    return 0;
}

int CommandReset(int, char **)
{
    return Done(feeder::Reset(), "reset failed");
}

int CommandFolder(int count, char **arguments)
{
    if (count >= 1) {
        const std::string folder = strcmp(arguments[0], "-") == 0 ? std::string() : arguments[0];
        if (!feeder::SetFeederFolder(folder))
            return Fail("the folder cannot be used");
    }
    printf("%s\n", feeder::FeederFolder().c_str());
    return 0;
}

int CommandLoad(int count, char **arguments)
{
    feeder::Placement placement;
    bool placed = false;
    int loaded = 0;
    for (int i = 0; i < count; ++i) {
        const char *argument = arguments[i];
        const char *value = i + 1 < count ? arguments[i + 1] : nullptr;
        long number = 0;
        if (strcmp(argument, "--x") == 0 || strcmp(argument, "--y") == 0) {
            if (!ParseNumber(value, -100000, 100000, &number))
                return Fail("--x and --y take a number of 1/300 inch");
            (argument[2] == 'x' ? placement.X300 : placement.Y300) = (int32_t)number;
        } else if (strcmp(argument, "--skew") == 0) {
            char *end = nullptr;
            placement.SkewDegrees = value ? strtod(value, &end) : NAN;
            if (!value || *end != '\0' || !std::isfinite(placement.SkewDegrees))
                return Fail("--skew takes degrees");
        } else if (strcmp(argument, "--backing") == 0) {
            char *end = nullptr;
            const unsigned long rgb = value ? strtoul(value, &end, 16) : 0;
            if (!value || strlen(value) != 6 || *end != '\0')
                return Fail("--backing takes RRGGBB");
            placement.BackingRgb = (uint32_t)rgb;
        } else if (strcmp(argument, "--dpi") == 0) {
            if (!ParseNumber(value, 0, 9600, &number))
                return Fail("--dpi takes a resolution");
            placement.SheetDpi = (uint32_t)number;
        } else {
            std::string queued;
            if (!feeder::QueueSheet(argument, placed ? &placement : nullptr, &queued)) {
                fprintf(stderr, "feedctl: %s cannot be queued\n", argument);
                return 1;
            }
            printf("%s\n", queued.c_str());
            ++loaded;
            continue;
        }
        placed = true;
        ++i;
    }
    return loaded ? 0 : Fail("no picture given");
}

int CommandSynthetic(int count, char **arguments)
{
    bool on = false;
    if (count < 1 || !ParseSwitch(arguments[0], &on))
        return Fail("synthetic takes on or off");
    return Done(feeder::SetSyntheticPage(on), "the device state cannot be changed");
}

int CommandPress(int count, char **arguments)
{
    long code = SC_BUTTON_SCAN, polls = 1;
    if ((count >= 1 && !ParseNumber(arguments[0], -32768, 32767, &code)) ||
        (count >= 2 && !ParseNumber(arguments[1], 0, 1000000, &polls)))
        return Fail("press takes a button code and a number of polls");
    if (!feeder::PressButton((int16_t)code, (uint32_t)polls))
        return Fail("the device state cannot be changed");
    // On the trace's clock, for timing what the press set off.
    printf("pressed at %u us\n", (unsigned)feeder::TraceMicroseconds());
    return 0;
}

int CommandPlug(int, char **)
{
    if (!feeder::SetPlugged(true))
        return Fail("the device state cannot be changed");
    printf("arrival sent to %d windows\n", feeder::BroadcastDeviceChange(true));
    return 0;
}

int CommandUnplug(int, char **)
{
    if (!feeder::SetPlugged(false))
        return Fail("the device state cannot be changed");
    printf("removal sent to %d windows\n", feeder::BroadcastDeviceChange(false));
    return 0;
}

int CommandVidPid(int count, char **arguments)
{
    if (count >= 1 && !feeder::SetVidPid(arguments[0]))
        return Fail("the VID/PID is too long");
    printf("%s\n", feeder::VidPid().c_str());
    return 0;
}

// A command by its name (SC_READ) or its code.
bool ParseCommand(const char *text, long *command)
{
    static const struct {
        const char *name;
        uint16_t code;
    } commands[] = {
#define FEEDLINK_COMMAND_ENTRY(name, code) {#name, name},
        FEEDLINK_COMMANDS(FEEDLINK_COMMAND_ENTRY)
#undef FEEDLINK_COMMAND_ENTRY
    };
    for (const auto &entry : commands)
        if (text && strcmp(text, entry.name) == 0) {
            *command = entry.code;
            return true;
        }
    return ParseNumber(text, 0, 65535, command);
}

int CommandFault(int count, char **arguments)
{
    long command = 0, nth = 0, status = 0;
    if (count < 3 || !ParseCommand(arguments[0], &command) || !ParseNumber(arguments[1], 1, 1000000, &nth) ||
        !ParseNumber(arguments[2], -32768, 32767, &status))
        return Fail("fault takes a command code, a call number from 1 and a status");
    return Done(feeder::InjectFault((uint16_t)command, (uint32_t)nth, (int16_t)status), "no free fault slot");
}

int CommandRefuseAcquire(int count, char **arguments)
{
    bool on = false;
    if (count < 1 || !ParseSwitch(arguments[0], &on))
        return Fail("refuse-acquire takes on or off");
    return Done(feeder::SetRefuseAcquire(on), "the device state cannot be changed");
}

int CommandEndPage(int count, char **arguments)
{
    long lines = 0;
    if (count < 1 || !ParseNumber(arguments[0], 0, 1000000, &lines))
        return Fail("end-page takes a number of lines");
    return Done(feeder::SetEndPageAfter((uint32_t)lines), "the device state cannot be changed");
}

int CommandFailRead(int count, char **arguments)
{
    long lines = 0, status = 0;
    if (count < 2 || !ParseNumber(arguments[0], 0, 1000000, &lines) ||
        !ParseNumber(arguments[1], -32768, 32767, &status))
        return Fail("fail-read takes a number of lines and a status");
    return Done(feeder::SetFailReadAfter((uint32_t)lines, (int16_t)status), "status 0 and 4 are not failures");
}

int CommandClearFaults(int, char **)
{
    return Done(feeder::ClearFaults(), "the device state cannot be changed");
}

int CommandTransfer(int count, char **arguments)
{
    long bytes = 0;
    if (count < 1 || !ParseNumber(arguments[0], 0, 0x7FFFFFFF, &bytes))
        return Fail("transfer takes a number of bytes");
    return Done(feeder::SetTransferSize((uint32_t)bytes), "the device state cannot be changed");
}

int CommandSpeed(int count, char **arguments)
{
    long lines = 0;
    if (count < 1 || !ParseNumber(arguments[0], 0, 1000000, &lines))
        return Fail("speed takes lines per second");
    return Done(feeder::SetLinesPerSecond((uint32_t)lines), "the device state cannot be changed");
}

int CommandSensor(int count, char **arguments)
{
    char *end = nullptr;
    const unsigned long seed = count >= 2 ? strtoul(arguments[1], &end, 0) : 0;
    if (count < 1 || (strcmp(arguments[0], "ideal") != 0 && strcmp(arguments[0], "shaded") != 0) ||
        (count >= 2 && (*end != '\0' || seed == 0)))
        return Fail("sensor takes ideal or shaded and optionally a seed other than 0");
    const FeederSensorModel model = arguments[0][0] == 's' ? FEEDER_SENSOR_SHADED : FEEDER_SENSOR_IDEAL;
    return Done(feeder::SetSensor(model, (uint32_t)seed), "the device state cannot be changed");
}

int CommandRollerDirt(int count, char **arguments)
{
    long pages = 0;
    if (count < 1 || !ParseNumber(arguments[0], 0, 1000000, &pages))
        return Fail("roller-dirt takes a number of pages");
    return Done(feeder::SetRollerDirtAfter((uint32_t)pages), "the device state cannot be changed");
}

// Holds the mutex in this process until asked to let go, the time is up or
// the device is reset.
int CommandHold(int count, char **arguments)
{
    long seconds = 0;
    if (count < 1 || strlen(arguments[0]) >= FEEDER_MODEL_CAPACITY ||
        (count >= 2 && !ParseNumber(arguments[1], 1, 86400, &seconds)))
        return Fail("hold takes a model name and optionally seconds");
    if (!feeder::HoldInUseMutex(arguments[0]))
        return Fail("the mutex cannot be created");
    {
        feeder::StateLock lock;
        if (!lock.state)
            return Fail("the device state cannot be opened");
        lock.state->MutexHolderPid = GetCurrentProcessId();
        lock.state->MutexReleaseRequested = 0;
        feeder::CopyText(lock.state->MutexModel, sizeof lock.state->MutexModel, arguments[0]);
    }
    printf("holding %s\n", feeder::InUseMutexName(arguments[0]).c_str());
    fflush(stdout);
    const DWORD started = GetTickCount();
    for (;;) {
        Sleep(50);
        feeder::StateLock lock;
        const bool timeUp = seconds && GetTickCount() - started >= (DWORD)seconds * 1000;
        if (!lock.state || lock.state->MutexReleaseRequested || lock.state->MutexHolderPid != GetCurrentProcessId() ||
            timeUp) {
            if (lock.state && lock.state->MutexHolderPid == GetCurrentProcessId()) {
                lock.state->MutexHolderPid = 0;
                lock.state->MutexReleaseRequested = 0;
                lock.state->MutexModel[0] = '\0';
            }
            break;
        }
    }
    feeder::ReleaseInUseMutex();
    return 0;
}

int CommandRelease(int, char **)
{
    {
        feeder::StateLock lock;
        if (!lock.state)
            return Fail("the device state cannot be opened");
        if (!lock.state->MutexHolderPid)
            return 0;
        lock.state->MutexReleaseRequested = 1;
    }
    for (int wait = 0; wait < 100; ++wait) {
        Sleep(50);
        feeder::StateLock lock;
        if (!lock.state || !lock.state->MutexHolderPid || !feeder::ProcessAlive(lock.state->MutexHolderPid)) {
            if (lock.state)
                lock.state->MutexHolderPid = 0;
            return 0;
        }
    }
    return Fail("the holder did not let go");
}

int CommandTrace(int count, char **arguments)
{
    if (count >= 1 && strcmp(arguments[0], "clear") == 0)
        return Done(feeder::ClearTrace(), "the device state cannot be changed");
    for (const FeederTraceEntry &entry : feeder::ReadTrace()) {
        printf("%6u at %10u us pid %-5u %-20s status %-4d size %-8u count %-8u", (unsigned)entry.Sequence,
               (unsigned)entry.Microseconds, (unsigned)entry.ProcessId, feeder::CommandName(entry.Command).c_str(),
               entry.Status, (unsigned)entry.TransferSize, (unsigned)entry.TransferCount);
        switch (entry.Command) {
        case SC_SET_TABLE:
            printf(" table %08X sum %08X b %d c %d", (unsigned)entry.TableAddress, (unsigned)entry.TableChecksum,
                   entry.Brightness, entry.Contrast);
            break;
        case SC_GET_GEOMETRY:
        case SC_SET_PARAMS:
            printf(" area %u,%u %ux%u dpi %ux%u type %u line %u lines %u", entry.PaperArea[0], entry.PaperArea[1],
                   entry.PaperArea[2], entry.PaperArea[3], entry.XResolution, entry.YResolution, entry.ImageType,
                   (unsigned)entry.LineBytes, (unsigned)entry.Lines);
            break;
        case SC_READ: printf(" from line %u", (unsigned)entry.FirstLine); break;
        default:
            if (entry.Detail[0])
                printf(" %s", entry.Detail);
        }
        printf("\n");
    }
    return 0;
}

struct ToolCommand {
    const char *name;
    int (*run)(int count, char **arguments);
};

const ToolCommand COMMANDS[] = {
    {"status", CommandStatus},
    {"reset", CommandReset},
    {"folder", CommandFolder},
    {"load", CommandLoad},
    {"synthetic", CommandSynthetic},
    {"press", CommandPress},
    {"plug", CommandPlug},
    {"unplug", CommandUnplug},
    {"vidpid", CommandVidPid},
    {"fault", CommandFault},
    {"refuse-acquire", CommandRefuseAcquire},
    {"end-page", CommandEndPage},
    {"fail-read", CommandFailRead},
    {"clear-faults", CommandClearFaults},
    {"transfer", CommandTransfer},
    {"speed", CommandSpeed},
    {"sensor", CommandSensor},
    {"roller-dirt", CommandRollerDirt},
    {"hold", CommandHold},
    {"release", CommandRelease},
    {"trace", CommandTrace},
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs(USAGE, stderr);
        return 2;
    }
    for (const ToolCommand &command : COMMANDS)
        if (strcmp(argv[1], command.name) == 0)
            return command.run(argc - 2, argv + 2);
    fputs(USAGE, stderr);
    return 2;
}
