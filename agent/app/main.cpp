// Velmora.exe's entry point.
#include "app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    return RunAgent(instance, commandLine);
}
