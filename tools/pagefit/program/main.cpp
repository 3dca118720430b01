// Pagefit.exe: the auto-crop and deskew tool the agent starts on each page
// with "<own path> <bitmap path>", neither quoted. No window, no message box:
// everything it has to say goes into Pagefit.log beside the bitmap.
#include <windows.h>

#include "bitmap_file.h"
#include "command_line.h"
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

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // The settings lookup finds Module.ini and the scanner instance through
    // ModulePath, as the agent does.
    if (!InitModulePath())
        return 1;
    std::string self = LongForm(ModulePath);
    std::string bitmap = pagefit::BitmapPathFromCommandLine(GetCommandLineA(), IsThisProgram, &self);
    // Without a bitmap there is no folder to write a log into.
    if (bitmap.empty())
        return 1;
    PagefitBitmapFile(bitmap, ReadUserChoices());
    return 0;
}
