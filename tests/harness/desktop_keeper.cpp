// Holds Wine's desktop open for the length of a test run: the desktop process
// exits a moment after the last windowed program, and restarting it costs
// every GUI test about a second. Ended by the server fixture's cleanup.
#include <windows.h>

// Its command line names a file it creates once its window exists, so the
// fixture knows the desktop is up before the first test runs.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    HWND window = CreateWindowExA(0, "STATIC", "Velmora test desktop keeper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  instance, nullptr);
    if (!window)
        return 1; // no display: nothing to keep open
    if (commandLine && *commandLine) {
        HANDLE ready = CreateFileA(commandLine, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (ready != INVALID_HANDLE_VALUE)
            CloseHandle(ready);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
