// The system's version, as the parts that depend on it ask.
#include "app.h"

int IsWindows2000OrLater(void)
{
    OSVERSIONINFOEXA extended = {};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExA((OSVERSIONINFOA *)&extended))
        return extended.dwMajorVersion >= 5;
    OSVERSIONINFOA plain = {};
    plain.dwOSVersionInfoSize = sizeof plain;
    if (GetVersionExA(&plain))
        return plain.dwMajorVersion >= 5;
    return 0;
}
