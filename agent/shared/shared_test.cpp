// ModulePath: siblings replace each other in the tail, and names that do not
// fit never spill past the buffer.
#include <gtest/gtest.h>

#include <string>

#include "shared.h"
#include "test_support.h"

TEST(ModulePath, SiblingsOverwriteTheTail)
{
    ASSERT_EQ(InitModulePath(), 1);
    const std::string folder = testsupport::ProgramDirectory();
    struct Case {
        const char *name;
    } cases[] = {{"Feedlink.dll"}, {"Module.ini"}, {"a"}, {"Levelset.exe"}};
    for (const Case &c : cases) {
        const char *path = ModuleSibling(c.name);
        ASSERT_NE(path, nullptr) << c.name;
        EXPECT_EQ(std::string(path), folder + c.name);
    }
}

TEST(ModulePath, NameTooLongForTheTailIsRefused)
{
    ASSERT_EQ(InitModulePath(), 1);
    ASSERT_NE(ModuleSibling("Module.ini"), nullptr);
    const size_t room = PATH_CAPACITY - (ModulePathTail - ModulePath);
    std::string fits(room - 1, 'x');
    std::string tooLong(room, 'x');
    EXPECT_EQ(ModuleSibling(tooLong.c_str()), nullptr);
    EXPECT_STREQ(ModulePathTail, "Module.ini") << "a refused name leaves the buffer as it was";
    ASSERT_NE(ModuleSibling(fits.c_str()), nullptr);
    EXPECT_EQ(strlen(ModulePath), (size_t)PATH_CAPACITY - 1);
}
