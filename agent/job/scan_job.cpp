// The scan job: settings, the first page, its viewer, and the continuous
// loop that scans every further sheet fed in while its prompt is up.
#include "scan_job.h"

#include "image_library.h"
#include "scanner.h"
#include "settings.h"
#include "shared.h"
#include "ui.h"

namespace {

// The sheet settles in the transport before it is scanned.
const DWORD CONTINUOUS_PAGE_PAUSE_MS = 1000;
// Between two looks for the next sheet the thread sleeps until a message
// comes or this time passes, instead of asking the scanner without pause.
const DWORD NEXT_SHEET_POLL_MS = 50;

// The job's own buffers, kept for its whole run.
struct ScanJobState {
    ScanJobSettings settings;
    OutputSettings output;
    char picture[PATH_CAPACITY];
    char imageFolio[PATH_CAPACITY]; // empty when ImageFolio is not installed
    char promptText[WAIT_PROMPT_TEXT_CAPACITY];
};

// Opens a saved picture in the viewer chosen now: "Default Processor" is
// read again for every picture, so a change takes effect at the next page.
void OpenPicture(const ScanJobState &job)
{
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    if (ReadNumberSetting(SettingsKey, SETTING_DefaultProcessor) != 0)
        OpenInDefaultViewer(job.picture);
    else
        OpenInImageFolio(job.imageFolio, job.picture);
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    LastPageTimes.viewer = double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

void ScanContinuously(ScanJobState &job)
{
    LoadStringA(ResourceLibrary, IDS_CONTINUOUS_PROMPT, job.promptText, sizeof job.promptText);
    ShowWaitPrompt(job.promptText);
    for (;;) {
        if (WaitPromptStopRequested(job.promptText))
            break;
        if (!IsScannerPresent())
            break;
        if (!TakePaperEvent()) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, NEXT_SHEET_POLL_MS, QS_ALLINPUT);
            continue;
        }
        CloseWaitPrompt();
        MakeOutputName(job.output.Format, job.output.Prefix, job.output.SavePath, job.picture, sizeof job.picture);
        Sleep(CONTINUOUS_PAGE_PAUSE_MS);
        if (ScanAndSavePage(job.settings, &job.output, job.picture) == 1)
            OpenPicture(job);
        ShowWaitPrompt(job.promptText);
    }
    CloseWaitPrompt();
}

} // namespace

int RunScanJob(void)
{
    ScanJobState job = {};
    if (!ReadScanJobSettings(&job.settings))
        return 1;
    if (!ReadOutputSettings(&job.output))
        return 1;
    if (!LoadImageLibrary())
        return 0;
    MakeOutputName(job.output.Format, job.output.Prefix, job.output.SavePath, job.picture, sizeof job.picture);
    if (ScanAndSavePage(job.settings, &job.output, job.picture)) {
        // Not installed, the path stays empty and the default viewer stands in.
        GetImageFolioPath(job.imageFolio, sizeof job.imageFolio);
        OpenPicture(job);
        if (job.settings.ContinuousScan)
            ScanContinuously(job);
    }
    UnloadImageLibrary();
    return 1;
}
