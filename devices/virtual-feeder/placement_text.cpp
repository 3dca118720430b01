// Reading and writing a sheet's placement file.
#include "placement_text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace feeder {

namespace {

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool ParseInteger(const std::string &text, int base, long long minimum, long long maximum, long long *value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long long parsed = strtoll(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum)
        return false;
    *value = parsed;
    return true;
}

bool ParseMilliDegrees(const std::string &text, int32_t *milli)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    const double degrees = strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(degrees) || std::fabs(degrees) > 360.0)
        return false;
    *milli = (int32_t)std::lround(degrees * 1000.0);
    return true;
}

} // namespace

bool ParsePlacement(const std::string &text, FeederPlacement *placement)
{
    FeederPlacement parsed = *placement;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            return false;
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        long long number = 0;
        if (key == "x" && ParseInteger(value, 10, -100000, 100000, &number))
            parsed.X300 = (int32_t)number;
        else if (key == "y" && ParseInteger(value, 10, -100000, 100000, &number))
            parsed.Y300 = (int32_t)number;
        else if (key == "skew" && ParseMilliDegrees(value, &parsed.SkewMilliDegrees))
            continue;
        else if (key == "backing" && value.size() == 6 && ParseInteger(value, 16, 0, 0xFFFFFF, &number))
            parsed.BackingRgb = (uint32_t)number;
        else if (key == "dpi" && ParseInteger(value, 10, 0, 9600, &number))
            parsed.SheetDpi = (uint32_t)number;
        else
            return false;
    }
    *placement = parsed;
    return true;
}

std::string FormatPlacement(const FeederPlacement &placement)
{
    char text[160];
    const int32_t milli = placement.SkewMilliDegrees;
    const char *sign = milli < 0 ? "-" : "";
    const int32_t magnitude = milli < 0 ? -milli : milli;
    snprintf(text, sizeof text, "x=%d\ny=%d\nskew=%s%d.%03d\nbacking=%06X\ndpi=%u\n", (int)placement.X300,
             (int)placement.Y300, sign, (int)(magnitude / 1000), (int)(magnitude % 1000),
             (unsigned)(placement.BackingRgb & 0xFFFFFF), (unsigned)placement.SheetDpi);
    return text;
}

} // namespace feeder
