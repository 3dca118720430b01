// Settings arithmetic of the scan job.
#include "scan_settings_core.h"

#include <cstring>

namespace {

const int TONE_SPAN = 254;
const int TONE_MIDDLE = 127;
const int PAPER_AREA_NUMBERS = 4;
// The longest piece worth reading: five digits fill 16 bits, and a stored
// text is shorter than 60 characters anyway.
const size_t PIECE_CAPACITY = 64;

bool IsBlank(char c)
{
    return c == ' ';
}

// `length` bytes from `start`, blanks on either side dropped; 0 unless what
// remains is one or more digits and nothing else.
int ParsePiece(const char *start, size_t length)
{
    while (length && IsBlank(*start))
        ++start, --length;
    while (length && IsBlank(start[length - 1]))
        --length;
    if (length == 0 || length >= PIECE_CAPACITY)
        return 0;
    char piece[PIECE_CAPACITY];
    for (size_t i = 0; i < length; ++i) {
        if (start[i] < '0' || start[i] > '9')
            return 0;
        piece[i] = start[i];
    }
    piece[length] = '\0';
    return ParseDecimal(piece);
}

} // namespace

int PercentToTone(int percent)
{
    return TONE_SPAN * percent / 100 - TONE_MIDDLE;
}

int ParseDecimal(const char *text)
{
    if (!text)
        return 0;
    uint32_t value = 0;
    for (const char *c = text; *c; ++c)
        value = value * 10u + uint32_t(*c - '0');
    return int(value);
}

void ParsePaperArea(const char *text, uint16_t area[4])
{
    for (int i = 0; i < PAPER_AREA_NUMBERS; ++i)
        area[i] = 0;
    if (!text)
        return;
    const char *rest = text;
    for (int i = 0; i < PAPER_AREA_NUMBERS && *rest; ++i) {
        // Only the first number may also end at a blank.
        size_t length = i == 0 ? strcspn(rest, ", ") : strcspn(rest, ",");
        area[i] = uint16_t(ParsePiece(rest, length));
        rest += length;
        if (*rest)
            ++rest;
    }
}

void ScanModeTypes(uint32_t scanMode, bool cropOrDeskew, uint16_t *acquireType, uint16_t *outputType)
{
    switch (uint16_t(scanMode)) {
    case 0:
        *acquireType = cropOrDeskew ? SCAN_TYPE_GREY : SCAN_TYPE_LINE_ART;
        *outputType = SCAN_TYPE_LINE_ART;
        break;
    case 1: *acquireType = *outputType = SCAN_TYPE_GREY; break;
    default: *acquireType = *outputType = SCAN_TYPE_COLOUR; break;
    }
}
