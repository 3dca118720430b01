// The scan job's settings arithmetic, without a registry.
#include <gtest/gtest.h>

#include "scan_settings_core.h"

namespace {

TEST(ScanSettings, PercentToTone)
{
    const int cases[][2] = {{0, -127}, {25, -64}, {50, 0}, {51, 2}, {99, 124}, {100, 127}};
    for (const auto &c : cases)
        EXPECT_EQ(PercentToTone(c[0]), c[1]) << c[0];
}

TEST(ScanSettings, ParseDecimalTakesEveryCharacterAsADigit)
{
    EXPECT_EQ(ParseDecimal(nullptr), 0);
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("0"), 0);
    EXPECT_EQ(ParseDecimal("2480"), 2480);
    EXPECT_EQ(ParseDecimal(" 7"), (' ' - '0') * 10 + 7); // read as stored values always were
    ParseDecimal("99999999999999999999999999");          // wraps; the sanitizers see no overflow
}

TEST(ScanSettings, PaperAreaText)
{
    struct Case {
        const char *text;
        uint16_t area[4];
    } cases[] = {
        {"10,20,30,40", {10, 20, 30, 40}},
        {"0,0,2480,3508", {0, 0, 2480, 3508}},
        {"10, 20, 30, 40", {10, 20, 30, 40}}, // blanks after the commas, as a person writes them
        {"10 20,30,40", {10, 20, 30, 40}},    // the first number may end at a blank
        {"10", {10, 0, 0, 0}},
        {"10,20", {10, 20, 0, 0}},
        {"", {0, 0, 0, 0}},
        {"10,2x,30,-4", {10, 0, 30, 0}}, // not numbers
        {"10,,30,40", {10, 0, 30, 40}},
        {"1,2,3,4,5", {1, 2, 3, 4}},
        {"1,2,3, 4 ", {1, 2, 3, 4}},
    };
    for (const Case &c : cases) {
        uint16_t area[4] = {9, 9, 9, 9};
        ParsePaperArea(c.text, area);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(area[i], c.area[i]) << "\"" << c.text << "\" number " << i;
    }
    uint16_t area[4] = {9, 9, 9, 9};
    ParsePaperArea(nullptr, area);
    EXPECT_EQ(area[0] | area[1] | area[2] | area[3], 0);
}

TEST(ScanSettings, ScanModeTable)
{
    struct Case {
        uint32_t mode;
        bool cropOrDeskew;
        uint16_t acquire, output;
    } cases[] = {
        {0, false, SCAN_TYPE_LINE_ART, SCAN_TYPE_LINE_ART},
        {0, true, SCAN_TYPE_GREY, SCAN_TYPE_LINE_ART},
        {1, false, SCAN_TYPE_GREY, SCAN_TYPE_GREY},
        {1, true, SCAN_TYPE_GREY, SCAN_TYPE_GREY},
        {2, true, SCAN_TYPE_COLOUR, SCAN_TYPE_COLOUR},
        {3, false, SCAN_TYPE_COLOUR, SCAN_TYPE_COLOUR},
        {0x10001, false, SCAN_TYPE_GREY, SCAN_TYPE_GREY}, // the low 16 bits count
        {0xFFFFFFFFu, true, SCAN_TYPE_COLOUR, SCAN_TYPE_COLOUR},
    };
    for (const Case &c : cases) {
        uint16_t acquire = 99, output = 99;
        ScanModeTypes(c.mode, c.cropOrDeskew, &acquire, &output);
        EXPECT_EQ(acquire, c.acquire) << c.mode << " " << c.cropOrDeskew;
        EXPECT_EQ(output, c.output) << c.mode << " " << c.cropOrDeskew;
    }
}

} // namespace
