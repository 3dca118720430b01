// ModulePath: siblings replace each other in the tail, and a name that does
// not fit is refused with the buffer left as it was.
#include <gtest/gtest.h>

#include <string>

#include "shared.h"
#include "test_support.h"

TEST(ModulePath, SiblingsOverwriteTheTailAndTooLongANameIsRefused)
{
    ASSERT_EQ(InitModulePath(), 1);
    const size_t room = PATH_CAPACITY - (ModulePathTail - ModulePath);
    EXPECT_EQ(std::string(ModuleSibling("Feedlink.dll")), testsupport::ProgramDirectory() + "Feedlink.dll");
    EXPECT_EQ(std::string(ModuleSibling("a")), testsupport::ProgramDirectory() + "a");
    EXPECT_EQ(ModuleSibling(std::string(room, 'x').c_str()), nullptr);
    EXPECT_STREQ(ModulePathTail, "a");
    ASSERT_NE(ModuleSibling(std::string(room - 1, 'x').c_str()), nullptr);
    EXPECT_EQ(strlen(ModulePath), size_t(PATH_CAPACITY) - 1);
}
