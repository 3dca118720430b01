// The arithmetic of the scan job's settings: stored percentages to tone
// values, decimal texts, the paper area text and the scan mode table.
// Portable: no Windows header.
#pragma once

#include <cstdint>

#include "scan_types.h"

// The settings dialog stores brightness and contrast as 0..100; the device
// and the tone pass take -127..127 (0 gives -127, 50 gives 0, 100 gives 127).
int PercentToTone(int percent);

// Every character taken as a digit, value = value * 10 + (c - '0'): a blank
// or a sign gives a meaningless number, as the stored paper area has always
// been read. Null or empty: 0. Wraps instead of overflowing.
int ParseDecimal(const char *text);

// The four numbers of a "Size" text into `area`: the first ends at the first
// comma or blank, each of the next three at the next comma. Blanks around a
// number are allowed (people editing the value write "10, 20, 30, 40"); a
// piece that is missing or not a plain number gives 0.
void ParsePaperArea(const char *text, uint16_t area[4]);

// The device's and the picture's ScanType for a stored scan mode (its low 16
// bits): 0 line art (scanned in grey when it is to be cropped or
// straightened), 1 grey, 2 colour. Any other mode scans and saves in colour,
// so an unexpected value still gives a whole picture.
void ScanModeTypes(uint32_t scanMode, bool cropOrDeskew, uint16_t *acquireType, uint16_t *outputType);
