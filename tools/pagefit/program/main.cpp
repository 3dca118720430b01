// Pagefit.exe: the auto-crop and deskew tool the agent starts on each page
// with "<own path> <bitmap path>", neither quoted. No window, no message box:
// everything it has to say goes into Pagefit.log beside the bitmap, and its
// exit code sums it up for people and scripts.
#include <windows.h>

#include <cstdio>

#include "bitmap_file.h"
#include "command_line.h"
#include "product_files.h"
#include "shared.h"
#include "user_choices.h"

namespace {

// The long form of an existing path, or "" when it does not exist.
std::string LongForm(const std::string &path)
{
    char full[MAX_PATH], longer[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full)
        return std::string();
    n = GetLongPathNameA(full, longer, sizeof longer);
    if (n == 0 || n >= sizeof longer)
        return std::string();
    return longer;
}

// Does a prefix of the command line name this very program? Compared in
// long form, so short names and any letter case match; a name given
// without its extension matches too.
bool IsThisProgram(const std::string &candidate, void *context)
{
    const std::string &self = *static_cast<const std::string *>(context);
    if (self.empty())
        return false;
    for (const std::string &name : {candidate, candidate + ".exe"}) {
        std::string form = LongForm(name);
        if (!form.empty() && lstrcmpiA(form.c_str(), self.c_str()) == 0)
            return true;
    }
    return false;
}

// Said on the standard error stream when there is one (a console or a
// redirection); the program has no window of its own.
void ShowUsage()
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE)
        return;
    std::string text = "usage: " AUTOCROP_TOOL_FILE " BITMAP\r\n"
                       "Straightens and crops the scanned bitmap in place, as the user's auto-crop and auto-deskew\r\n"
                       "choices ask, and writes " AUTOCROP_LOG_FILE " beside it. The path may hold blanks.\r\n"
                       "Exit codes:\r\n";
    for (const ExitCodeMeaning &e : EXIT_CODE_MEANINGS) {
        char line[160];
        snprintf(line, sizeof line, "  %d  %s\r\n", int(e.code), e.meaning);
        text += line;
    }
    DWORD written;
    WriteFile(err, text.data(), DWORD(text.size()), &written, nullptr);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // The settings lookup finds Module.ini and the scanner instance through
    // ModulePath, as the agent does.
    if (!InitModulePath())
        return PAGEFIT_USAGE;
    std::string self = LongForm(ModulePath);
    std::string bitmap = pagefit::BitmapPathFromCommandLine(GetCommandLineA(), IsThisProgram, &self);
    // Without a bitmap there is no folder to write a log into.
    if (bitmap.empty()) {
        ShowUsage();
        return PAGEFIT_USAGE;
    }
    return PagefitBitmapFile(bitmap, ReadUserChoices()).exitCode;
}
