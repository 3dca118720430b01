// The cleaning run: the cleaning sheet goes through the transport as many
// times as the device asks, which wipes the dirt off its roller.
#include "levelset.h"

#include <cstdio>

#include "scanner.h"

namespace {

// Sentences for the window, one per pass; the run posts pointers to them.
const int MAX_PASSES_SHOWN = 8;
char PassText[MAX_PASSES_SHOWN][64];

const char *PassSentence(int pass, int passes)
{
    const int slot = pass < MAX_PASSES_SHOWN ? pass : MAX_PASSES_SHOWN - 1;
    snprintf(PassText[slot], sizeof PassText[slot], "Running the cleaning sheet through: pass %d of %d...", pass + 1,
             passes);
    return PassText[slot];
}

} // namespace

int CleanRoller(RunContext *run, const char **failure)
{
    int result = LEVELSET_DONE;
    if (!TakeScanner(run, &result, failure))
        return result;
    SensorInfo sensor = {};
    if (!ScannerCommand(SC_GET_SENSOR, &sensor) || sensor.CleaningPasses == 0) {
        *failure = "This scanner offers no cleaning run.";
        GiveBackScanner();
        return LEVELSET_FAILED;
    }
    const int passes = sensor.CleaningPasses;
    for (int pass = 0; pass < passes && result == LEVELSET_DONE; ++pass) {
        if (CancelRequested(run)) {
            result = LEVELSET_CANCELLED;
            break;
        }
        ReportStep(run, PassSentence(pass, passes), 100 * pass / passes);
        if (!ScannerCommand(SC_CLEAN_PASS, nullptr)) {
            *failure = "The scanner stopped during the cleaning run.";
            result = LEVELSET_FAILED;
        }
    }
    GiveBackScanner();
    if (result == LEVELSET_DONE)
        ReportStep(run, "The rollers are clean.", 100);
    return result;
}
