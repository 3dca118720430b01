// A library that loads but is not a scanner driver: it exports no FeedlinkCall.
#include <windows.h>

extern "C" __declspec(dllexport) int __stdcall NotTheDriverEntry(void *block)
{
    return 0;
}
