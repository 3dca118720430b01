// The scan job's settings arithmetic, without a registry.
#include <gtest/gtest.h>

#include <array>

#include "scan_settings_core.h"

namespace {

TEST(ScanSettings, PaperAreaTextAndTone)
{
    const std::pair<const char *, std::array<uint16_t, 4>> cases[] = {
        {"10, 20, 30, 40", {10, 20, 30, 40}},
        {"10 20,30,40", {10, 20, 30, 40}}, // only the first ends at a blank
        {"10,20", {10, 20, 0, 0}},
        {"10,2x,30,-4", {10, 0, 30, 0}}, // not numbers
        {"10,,30,40", {10, 0, 30, 40}},
        {"1,2,3, 4 ,5", {1, 2, 3, 4}},
        {"0,0,2480,3508", {0, 0, 2480, 3508}},
    };
    for (const auto &c : cases) {
        std::array<uint16_t, 4> area = {9, 9, 9, 9};
        ParsePaperArea(c.first, area.data());
        EXPECT_EQ(area, c.second) << c.first;
    }
    // Percentages of the dialog's sliders to the device's -127..127.
    const std::pair<int, int> tones[] = {{0, -127}, {50, 0}, {51, 2}, {100, 127}};
    for (const auto &c : tones)
        EXPECT_EQ(PercentToTone(c.first), c.second) << c.first;
}

} // namespace
