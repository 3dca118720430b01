// The virtual scanner's contact sensor: the fixed pattern, the roller's
// streak and one sample's way through the converter and the correction.
#include "sensor_model.h"

#include <algorithm>

namespace feeder {

namespace {

uint32_t Mix(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    uint32_t h = a * 0x9E3779B1u ^ b * 0x85EBCA77u ^ c * 0xC2B2AE3Du ^ d * 0x27D4EB2Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

double Unit(uint32_t hash)
{
    return (hash >> 8) / 16777216.0;
}

} // namespace

void ElementResponse(uint32_t seed, uint32_t element, uint32_t channel, double *gain, double *offset)
{
    // The lamp lights the middle of the glass best, and each element's
    // response differs from its neighbours' by a per cent or two.
    const double across = (element + 0.5) / FEEDER_SENSOR_ELEMENTS * 2.0 - 1.0;
    const double lamp = 1.0 - 0.03 * across * across;
    const double own = (Unit(Mix(seed, element, channel, 1)) - 0.5) * 0.03;
    *gain = 0.955 * lamp + own;
    *offset = 1.0 + 3.0 * Unit(Mix(seed, element, channel, 2));
}

uint32_t StreakFirstElement(uint32_t seed)
{
    const uint32_t span = FEEDER_SENSOR_ELEMENTS / 2;
    return FEEDER_SENSOR_ELEMENTS / 4 + Mix(seed, 0, 0, 3) % span;
}

uint32_t ElementUnder(uint32_t left300, uint32_t px, uint16_t xDpi)
{
    // The pixel's centre is left300 + (px + 1/2) x 300 / xDpi in 1/300 inch.
    const uint64_t element =
        ((uint64_t)left300 * 2 * xDpi + (2ull * px + 1) * 300) * FEEDER_SENSOR_DPI / (600ull * xDpi);
    return (uint32_t)std::min<uint64_t>(element, FEEDER_SENSOR_ELEMENTS - 1);
}

uint32_t LineNoiseStart(uint32_t seed, uint32_t line)
{
    // The generator never leaves zero once there.
    return Mix(seed, line, 0, 4) | 1u;
}

uint8_t ReadSample(uint8_t value, const SensorColumn &column, int channel, uint32_t noise)
{
    const int64_t fullScale = (256ll << 16) - 1;
    int64_t raw = (int64_t)value * column.Gain[channel] + column.Offset[channel] + (int64_t)noise - 32768;
    raw = std::max<int64_t>(0, std::min<int64_t>(fullScale, raw));
    int64_t read;
    if (column.Correct[channel])
        read = ((raw - column.Dark[channel]) * column.Correct[channel] + (1ll << 29)) >> 30;
    else
        read = (raw + 32768) >> 16;
    return (uint8_t)std::max<int64_t>(0, std::min<int64_t>(255, read));
}

} // namespace feeder
