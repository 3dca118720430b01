// Picture name formatting and the folder walk, without a file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "naming_core.h"

namespace {

TEST(PictureName, ExtensionsNumbersAndTheNameThatDoesNotFit)
{
    const std::pair<uint32_t, const char *> cases[] = {
        {0, "C:\\S\\Image00007.bmp"}, {1, "C:\\S\\Image00007.jpg"}, {2, "C:\\S\\Image00007.tif"},
        {3, "C:\\S\\Image00007.png"}, {4, "C:\\S\\Image00007.bmp"}, {0x10001, "C:\\S\\Image00007.jpg"},
    };
    char name[PATH_CAPACITY];
    for (const auto &c : cases) {
        ASSERT_TRUE(FormatPictureName(name, sizeof name, "C:\\S", "Image", 7, FormatExtension(c.first)));
        EXPECT_STREQ(name, c.second);
    }
    // "\Image00001.jpg" is 15 characters: the longest folder leaves room for the terminator.
    for (size_t folderLength : {size_t(PATH_CAPACITY) - 16, size_t(PATH_CAPACITY) - 15}) {
        std::string folder(folderLength, 'f');
        std::vector<char> buffer(PATH_CAPACITY + 1, '#');
        bool fits = folderLength == PATH_CAPACITY - 16;
        EXPECT_EQ(FormatPictureName(buffer.data(), PATH_CAPACITY, folder.c_str(), "Image", 1, ".jpg"), fits);
        EXPECT_EQ(std::string(buffer.data()), fits ? folder + "\\Image00001.jpg" : "") << "a cut name was left";
        EXPECT_EQ(buffer[PATH_CAPACITY], '#');
    }
}

} // namespace
