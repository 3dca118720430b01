// The virtual scanner's contact sensor: each element reads light with a gain
// and an offset of its own (a fixed pattern seeded per device), the roller's
// dirt darkens a narrow band of elements, the converter adds a little noise,
// and a downloaded correction flattens what the elements read. Portable, so
// the DLL and a test rendering the same page agree to the byte.
//
// One sample, in 1/65536 of a level:
//   raw = value x gain + offset + noise,  noise uniform in [-1/2, 1/2) level,
//   limited to the converter's range, which reads far finer than a level;
//   delivered: raw rounded to a whole level, or with a correction
//   (raw - Dark / 64) x Gain / 16384 rounded, limited to 0..255.
// The noise comes before the rounding, so the mean of many readings is the
// true value, as a reference scan averaged over many lines relies on.
#pragma once

#include <cstdint>

#include "feeder_state.h"

namespace feeder {

// The narrow band of elements a dirty roller darkens, and by how much.
const uint32_t STREAK_ELEMENTS = 16;
const double STREAK_TRANSMISSION = 0.45;

// One line pixel's sensor element, in fixed point.
struct SensorColumn {
    int32_t Gain[3];    // 1/65536
    int32_t Offset[3];  // 1/65536 of a level
    int32_t Dark[3];    // the correction's, 1/65536 of a level
    int32_t Correct[3]; // the correction's gain, 1/16384; 0: no correction
};

// The element's gain (a little under 1) and offset (a few levels) for one
// channel (0 red, 1 green, 2 blue) of a shaded sensor with `seed`.
void ElementResponse(uint32_t seed, uint32_t element, uint32_t channel, double *gain, double *offset);

// First element of the dirty roller's band.
uint32_t StreakFirstElement(uint32_t seed);

// The sensor element under line pixel `px` of a scan starting `left300`
// (1/300 inch) from the origin at `xDpi`.
uint32_t ElementUnder(uint32_t left300, uint32_t px, uint16_t xDpi);

// The converter's noise along one line: a generator started from the line's
// own number, so a line renders alike whenever and wherever it is rendered,
// stepped once per sample from the line's first pixel on.
uint32_t LineNoiseStart(uint32_t seed, uint32_t line);
// The next sample's noise, 0..65535 for -1/2 .. 1/2 level.
inline uint32_t NextNoise(uint32_t *state)
{
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x >> 16;
}

// One channel of one sample through the sensor, as above.
uint8_t ReadSample(uint8_t value, const SensorColumn &column, int channel, uint32_t noise);

} // namespace feeder
