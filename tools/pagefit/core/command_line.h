// Where the program's path ends on the tool's command line. The agent passes
// "<program path> <bitmap path>" with neither quoted, and both may contain
// blanks, so the split needs to know which prefix names this program.
#pragma once

#include <string>

namespace pagefit {

// Answers whether `candidate` (a prefix of the command line) names the
// running program.
typedef bool (*IsProgramPath)(const std::string &candidate, void *context);

// The bitmap's path: everything after the program's path and the blanks that
// follow it, without trailing blanks and without the quotation marks of a
// bitmap path wrapped in them (a path cannot hold one). A quoted program path ends at its
// closing quote. Otherwise the shortest prefix ending before a blank that
// `isProgram` accepts is the program; when none is accepted, the first
// prefix ending in ".exe", and failing that the first word.
std::string BitmapPathFromCommandLine(const std::string &commandLine, IsProgramPath isProgram, void *context);

} // namespace pagefit
