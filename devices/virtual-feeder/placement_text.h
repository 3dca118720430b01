// The placement file a sheet may carry beside it ("photo.jpg.placement"):
// lines of key=value, keys x and y (1/300 inch), skew (degrees, clockwise,
// up to three decimals), backing (RRGGBB hex) and dpi. Missing keys keep
// the defaults; blank lines and lines starting with # are ignored. Portable.
#pragma once

#include <string>

#include "feeder_state.h"

namespace feeder {

// False for an unknown key or a value that does not parse; `placement` is
// then left as it was.
bool ParsePlacement(const std::string &text, FeederPlacement *placement);
std::string FormatPlacement(const FeederPlacement &placement);

} // namespace feeder
