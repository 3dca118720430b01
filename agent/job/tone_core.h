// Tone curve and line-art reduction of scanned bitmaps: the table
// arithmetic, the checks a bitmap's header must pass before the pass may
// touch it, and the row passes themselves. Portable: no Windows header, so
// the same code is built natively with sanitizers, fuzzed and benchmarked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan_types.h"

// Output sample for every input sample of the page being processed. One page
// at a time uses it; it is rebuilt for every page that needs it.
extern uint8_t ToneTable[256];

// Fills `table` with gamma (hundredths), then the brightness offset, then
// the contrast stretch or compression around 128. Brightness and contrast
// are meant to lie in -127..127; values beyond still give entries in 0..255.
void BuildToneCurve(int16_t brightness, int16_t contrast, uint16_t gamma, uint8_t table[256]);
// Rebuilds ToneTable.
void BuildToneTable(int16_t brightness, int16_t contrast, uint16_t gamma);

// True when brightness, contrast and gamma leave every sample as it is, so
// no table needs to be applied.
bool ToneIsNeutral(int16_t brightness, int16_t contrast, uint16_t gamma);
// True when a cropped page needs the tone pass at all: a non-neutral tone,
// or a grey scan that is wanted as line art.
bool PostProcessingWanted(const ScanJobSettings &settings);

// What the pass over one bitmap file will do, worked out from its header
// before anything is written.
struct TonePassPlan {
    uint32_t width;
    uint32_t height;
    uint32_t samplesPerRow; // bytes of a row that are pixels: width, or 3 * width
    uint32_t inputOffset;   // first pixel row as the file holds it
    uint32_t inputRowBytes;
    uint32_t outputOffset; // first pixel row after the pass
    uint32_t outputRowBytes;
    bool applyTable;
    bool reduceToLineArt;
    uint64_t finalFileSize; // where the file ends after the pass
};

// Why a bitmap is left alone; TONE_PLAN_OK when the pass may run.
enum TonePlanResult {
    TONE_PLAN_OK = 0,
    TONE_PLAN_NOT_BITMAP,       // too short for its headers, or no "BM"
    TONE_PLAN_SIZE_MISMATCH,    // width or height differ from what the caller read, or do not fit 16 bits
    TONE_PLAN_UNEXPECTED_DEPTH, // neither 8 nor 24 bits per pixel, or not the depth the caller read
    TONE_PLAN_COMPRESSED,
    TONE_PLAN_PIXEL_OFFSET, // pixels do not start where our own bitmaps put them
    TONE_PLAN_TRUNCATED,    // the rows the header promises run past the end of the file
    TONE_PLAN_SIZE_FIELDS,  // file or image size fields, or the file's end, disagree with the rows
};

// Decides from the bitmap file's first bytes (`headerBytes` of them, at
// least the 62 the pass rewrites when the file is that long) and its whole
// size whether the pass may run, and how. `width`, `height` and `is24Bit`
// are what the caller read from the file earlier; they must still agree
// with the header. A colour page keeps its depth when line art is asked: only
// grey is reduced to 1 bit.
TonePlanResult PlanTonePass(const uint8_t *headerBytes, size_t headerLength, uint64_t fileSize, uint16_t width,
                            uint16_t height, bool is24Bit, bool applyTable, bool reduceToLineArt, TonePassPlan *plan);

// Rewrites the header of a grey bitmap as the 1-bit bitmap the pass leaves.
void WriteLineArtHeader(uint8_t *file, const TonePassPlan &plan);

// Runs the pass over rows [firstRow, firstRow + rowCount) of the mapped file.
// Rows are processed in ascending order; a reduced row is written no later
// in the file than the input it comes from, so the pass works in place.
void RunToneRows(uint8_t *file, const TonePassPlan &plan, const uint8_t table[256], uint32_t firstRow,
                 uint32_t rowCount);

// The row passes on their own.
void ApplyTableToRow(uint8_t *samples, size_t count, const uint8_t table[256]);
// Packs `width` grey samples, each first mapped through `table` (or taken
// as they are when it is null), into bits: the first pixel in the top bit,
// 128 and above white (1). The unused low bits of the last byte are 0.
void PackRowToBits(const uint8_t *samples, uint32_t width, const uint8_t *table, uint8_t *bits);
