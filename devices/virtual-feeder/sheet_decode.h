// Decoding sheet pictures with the Windows Imaging Component.
#pragma once

#include <string>

#include "page_render.h"

namespace feeder {

// Largest sheet decoded: beyond this a picture would not fit beside the
// agent in a 32-bit process, so it counts as undecodable.
const uint64_t MAX_SHEET_PIXELS = 40u * 1000 * 1000;

// The first frame of the picture as red, green, blue bytes. False for a
// file that cannot be read or decoded, or is too large.
bool DecodeSheet(const std::string &path, SheetImage *sheet);
// The same checks without converting the pixels: cheap enough for every
// paper poll.
bool CanDecodeSheet(const std::string &path);

} // namespace feeder
