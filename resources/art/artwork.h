// The product's icons and pictures, drawn in code so that every build can
// make them again: the scanner in its connected and not-connected forms, the
// warning's three pictures and the sheet going into the feeder. Portable.
#pragma once

#include <cstdint>
#include <vector>

#include "canvas.h"

namespace art {

// Sizes the dialogs lay their picture controls out for.
const int WARNING_BADGE_SIZE = 48;
const int CABLE_PICTURE_WIDTH = 260, CABLE_PICTURE_HEIGHT = 107;
const int POWER_PICTURE_WIDTH = 200, POWER_PICTURE_HEIGHT = 56;
const int INSERT_PAPER_WIDTH = 339, INSERT_PAPER_HEIGHT = 96;

// Opaque pixels of a picture drawn "white is transparent" never come out
// pure white; this is the colour they are nudged to.
const uint8_t NEAR_WHITE = 0xFE;

Canvas DrawScannerIcon(int size, bool connected);
Canvas DrawWarningScanner();
Canvas DrawCablePicture();
Canvas DrawPowerPicture();
Canvas DrawInsertPaperPicture();

// Pixels of a picture shown with white as its transparent colour: faint
// edges become white (transparent), everything else is flattened onto the
// dialog face colour and kept off pure white.
std::vector<uint8_t> FlattenForWhiteKey(const Canvas &canvas);

struct GeneratedFile {
    const char *name;
    std::vector<uint8_t> (*make)();
};
// Every file the resource script includes, by name.
const std::vector<GeneratedFile> &GeneratedFiles();

} // namespace art
