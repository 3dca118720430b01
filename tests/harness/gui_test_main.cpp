// Entry point of the GUI test programs: they need an X display behind Wine,
// and report "skipped" (77) instead of failing when there is none.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv)
{
    char display[256];
    if (GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0) {
        std::printf("no X display: GUI test skipped\n");
        return 77;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
