// Tone processing of a scanned page: brightness, contrast and gamma through
// ToneTable, and the reduction of a grey page to 1 bit per pixel, applied in
// place to the temporary bitmap file after the auto-crop tool has run.
#pragma once

#include <windows.h>

#include "scan_types.h"
#include "tone_core.h"

// Always 1: a page that cannot be processed is saved as it is.
int PostProcessBitmap(ScanJobSettings settings, const char *path);

// True with the low 16 bits of the width and height and whether the picture
// has 24 bits per pixel; false for a file that cannot be read, is shorter
// than 58 bytes or does not start with "BM".
bool ReadBitmapInfo(const char *path, uint16_t *width, uint16_t *height, bool *is24Bit);

// Applies ToneTable (when `applyTable`) and, for an `outputType` of line art,
// the reduction to 1 bit. 1 when the pass ran to the end; 0 when the file
// could not be opened or mapped, or its header does not describe a bitmap
// the pass can handle: the file is then exactly as it was.
int ApplyToneToBitmap(uint16_t outputType, const char *path, uint16_t width, uint16_t height, bool is24Bit,
                      bool applyTable);
