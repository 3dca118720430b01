// Writing a picture so that nothing is ever replaced or left half-written:
// the bytes go to a temporary file in the destination's own folder, which is
// moved to the destination name only when complete, and only if that name is
// still free.
#pragma once

#include <windows.h>

#include <string>

namespace pixkit {

// Fills the (existing, empty, closed) temporary file whose path it is given
// and closes it again; returns a PixkitStatus.
typedef int (*FillFile)(const char *temporaryPath, void *context);

// Returns a PixkitStatus: PIXKIT_ERROR_EXISTS when the destination is there
// before or appears while writing (the temporary file is then removed).
int SaveWithoutReplacing(const char *destination, FillFile fill, void *context);

} // namespace pixkit
