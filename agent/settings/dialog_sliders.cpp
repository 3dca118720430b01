// The brightness, contrast and gamma sliders: the dialog's own steps of 1
// and 10 decide the value, whatever page size the trackbar uses itself.
#include "settings_dialog.h"

#include <cstdio>

namespace {

const uint16_t LINE_STEP = 1;
const uint16_t PAGE_STEP = 10;
const int VALUE_TEXT_CAPACITY = 16;

// The new value for `code`; false when the value stays as it is and nothing
// is to be shown or saved. Arithmetic is that of the 16-bit field.
bool ScrolledValue(HWND slider, WPARAM code, uint16_t value, uint16_t minimum, uint16_t maximum, uint16_t *result)
{
    switch (code) {
    case TB_LINEUP:
        if (value == minimum)
            return false;
        *result = uint16_t(value - LINE_STEP);
        return true;
    case TB_LINEDOWN:
        if (value == maximum)
            return false;
        *result = uint16_t(value + LINE_STEP);
        return true;
    case TB_PAGEUP:
        if (value == minimum)
            return false;
        *result = uint16_t(value - PAGE_STEP);
        if (*result < minimum)
            *result = minimum;
        // A step below zero wraps to a large number: that is the minimum too.
        if (*result > maximum)
            *result = minimum;
        return true;
    case TB_PAGEDOWN:
        if (value == maximum)
            return false;
        *result = uint16_t(value + PAGE_STEP);
        if (*result > maximum)
            *result = maximum;
        return true;
    case TB_THUMBPOSITION:
    case TB_THUMBTRACK: *result = uint16_t(SendMessageA(slider, TBM_GETPOS, 0, 0)); return true;
    case TB_TOP:
        if (value == minimum)
            return false;
        *result = minimum;
        return true;
    case TB_BOTTOM:
        if (value == maximum)
            return false;
        *result = maximum;
        return true;
    case TB_ENDTRACK: return false;
    default: *result = value; return true;
    }
}

} // namespace

void ShowSliderValue(HWND valueText, uint16_t value, bool hundredths)
{
    char text[VALUE_TEXT_CAPACITY];
    if (hundredths)
        snprintf(text, sizeof text, "%d.%02d", value / 100, value % 100);
    else
        snprintf(text, sizeof text, "%d", value);
    SetWindowTextA(valueText, text);
}

void HandleSliderScroll(HWND dialog, HWND slider, HWND valueText, WPARAM scrollCode, uint16_t *value, uint16_t minimum,
                        uint16_t maximum, bool hundredths)
{
    uint16_t updated;
    if (!ScrolledValue(slider, scrollCode, *value, minimum, maximum, &updated))
        return;
    *value = updated;
    SendMessageA(slider, TBM_SETPOS, TRUE, *value);
    ShowSliderValue(valueText, *value, hundredths);
    SaveDialogSettings(dialog);
}
