// Where the program's path ends on the tool's command line.
#include "command_line.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

// The program as the test pretends it is installed, in long and short form;
// a prefix names it when it equals either, ignoring case, with or without
// its extension.
bool IsInstalledProgram(const std::string &candidate, void *)
{
    static const char *const forms[] = {"C:\\Program Files\\Velmora\\Pagefit.exe", "C:\\PROGRA~1\\Velmora\\Pagefit.exe",
                                        "C:\\Program Files\\Velmora\\Pagefit"};
    for (const char *form : forms) {
        std::string f = form;
        if (f.size() != candidate.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < f.size() && same; i++)
            same = std::tolower(f[i]) == std::tolower(candidate[i]);
        if (same)
            return true;
    }
    return false;
}

struct Case {
    const char *commandLine;
    const char *bitmap;
};

const Case CASES[] = {
    // What the agent passes: neither part quoted, both with blanks.
    {"C:\\Program Files\\Velmora\\Pagefit.exe C:\\Users\\Ann Lee\\Temp\\Vel12.Bmp",
     "C:\\Users\\Ann Lee\\Temp\\Vel12.Bmp"},
    {"C:\\Program Files\\Velmora\\Pagefit.exe C:\\Temp\\a.Bmp", "C:\\Temp\\a.Bmp"},
    {"c:\\program files\\velmora\\PAGEFIT.EXE C:\\Temp\\a.Bmp", "C:\\Temp\\a.Bmp"},
    {"C:\\PROGRA~1\\Velmora\\Pagefit.exe C:\\Temp\\my scan.Bmp", "C:\\Temp\\my scan.Bmp"},
    {"C:\\Program Files\\Velmora\\Pagefit C:\\Temp\\a b.Bmp", "C:\\Temp\\a b.Bmp"},
    // Quoted by someone else.
    {"\"C:\\Program Files\\Velmora\\Pagefit.exe\" C:\\Temp\\a b.Bmp", "C:\\Temp\\a b.Bmp"},
    {"\"C:\\Program Files\\Velmora\\Pagefit.exe\"C:\\Temp\\a.Bmp", "C:\\Temp\\a.Bmp"},
    {"C:\\Program Files\\Velmora\\Pagefit.exe \"C:\\Temp\\a b.Bmp\"", "C:\\Temp\\a b.Bmp"},
    {"\"C:\\Program Files\\Velmora\\Pagefit.exe\" \"C:\\Temp\\a.Bmp\" ", "C:\\Temp\\a.Bmp"},
    // Only a pair wraps: a lone mark stays for the open to refuse.
    {"C:\\Program Files\\Velmora\\Pagefit.exe \"C:\\Temp\\a.Bmp", "\"C:\\Temp\\a.Bmp"},
    {"C:\\Program Files\\Velmora\\Pagefit.exe \"", "\""},
    // Blanks around the path are not part of it; blanks inside are.
    {"C:\\Program Files\\Velmora\\Pagefit.exe   C:\\Temp\\two  blanks.Bmp  ", "C:\\Temp\\two  blanks.Bmp"},
    {"  C:\\Program Files\\Velmora\\Pagefit.exe C:\\Temp\\a.Bmp", "C:\\Temp\\a.Bmp"},
    // No bitmap at all.
    {"C:\\Program Files\\Velmora\\Pagefit.exe", ""},
    {"C:\\Program Files\\Velmora\\Pagefit.exe   ", ""},
    {"\"C:\\Program Files\\Velmora\\Pagefit.exe", ""},
    {"", ""},
    // A program path the check does not recognise: the first ".exe" ends it,
    // and without one the first word does.
    {"D:\\Other Place\\Pagefit.exe C:\\Temp\\a b.Bmp", "C:\\Temp\\a b.Bmp"},
    {"pagefit C:\\Temp\\a b.Bmp", "C:\\Temp\\a b.Bmp"},
};

TEST(CommandLine, BitmapPathIsEverythingAfterTheProgram)
{
    for (const Case &c : CASES)
        EXPECT_EQ(pagefit::BitmapPathFromCommandLine(c.commandLine, IsInstalledProgram, nullptr), c.bitmap)
            << c.commandLine;
}

TEST(CommandLine, TheShortestPrefixNamingTheProgramWins)
{
    // A bitmap folder that itself starts like the program's path.
    EXPECT_EQ(pagefit::BitmapPathFromCommandLine(
                  "C:\\Program Files\\Velmora\\Pagefit.exe C:\\Program Files\\Velmora\\Pagefit.exe.Bmp",
                  IsInstalledProgram, nullptr),
              "C:\\Program Files\\Velmora\\Pagefit.exe.Bmp");
}

} // namespace
