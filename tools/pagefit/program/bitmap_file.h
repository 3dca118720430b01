// Pagefit on a bitmap file: read it, run the core, replace it safely, and
// write "Pagefit.log" beside it.
#pragma once

#include "pagefit.h"

#include <string>

// Largest bitmap the tool loads: the file and the new page must both fit in
// a 32-bit process's memory with room for the analysis.
const unsigned long MAX_BITMAP_FILE_BYTES = 400ul * 1024 * 1024;

// What the tool's exit code says. The agent reads only the log; the codes are
// for people and scripts that run the tool themselves.
enum PagefitExitCode {
    PAGEFIT_DONE = 0,         // rewritten, or left unchanged as the choices and the page asked
    PAGEFIT_USAGE = 1,        // no bitmap path on the command line
    PAGEFIT_NO_ACTION = 2,    // no photo on the sheet: the log asks for a new scan
    PAGEFIT_NOT_A_BITMAP = 3, // not a bitmap in the scanner's layout; left byte-identical
    PAGEFIT_FILE_ERROR = 4,   // the bitmap, its temporary copy or the log could not be read or written
};

struct ExitCodeMeaning {
    PagefitExitCode code;
    const char *meaning;
};
// Every code with its meaning, in order, for the usage text.
extern const ExitCodeMeaning EXIT_CODE_MEANINGS[5];

struct BitmapFileRun {
    std::string log; // the log line, also when it could not be written
    PagefitExitCode exitCode = PAGEFIT_DONE;
};

// Runs the tool on the file at `bitmapPath` with the user's choices. The
// file is replaced only by a complete new file (written under a temporary
// name in the same folder, then moved over it); on any failure, and when it
// is read-only, it keeps its bytes. Paths that do not fit the system's limit
// are refused before any file is made.
BitmapFileRun PagefitBitmapFile(const std::string &bitmapPath, const pagefit::Options &options);
