// Loads the built VelmoraRes.dll from the program folder, as the agent does,
// into ResourceLibrary and AppTitle for the tests of this folder.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "shared.h"
#include "test_support.h"

class LibraryTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        AppInstance = GetModuleHandleA(nullptr);
        ResourceLibrary = LoadLibraryA((testsupport::ProgramDirectory() + "VelmoraRes.dll").c_str());
        if (ResourceLibrary)
            LoadStringA(ResourceLibrary, 1, AppTitle, sizeof AppTitle);
    }
    static void TearDownTestSuite()
    {
        if (ResourceLibrary)
            FreeLibrary(ResourceLibrary);
        ResourceLibrary = nullptr;
    }
    void SetUp() override { ASSERT_NE(ResourceLibrary, nullptr) << "VelmoraRes.dll beside the test program"; }

    static std::string LoadText(UINT id)
    {
        char text[4096] = "";
        int length = LoadStringA(ResourceLibrary, id, text, sizeof text);
        return std::string(text, length > 0 ? length : 0);
    }
};
