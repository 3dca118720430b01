// Picture name formatting and the folder walk, without a file system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "naming_core.h"

namespace {

TEST(PictureName, ExtensionsAndNumbers)
{
    struct Case {
        uint32_t format;
        const char *prefix;
        unsigned number;
        const char *expected;
    } cases[] = {
        {0, "Image", 1, "C:\\Scans\\Image00001.bmp"},       {1, "Image", 99999, "C:\\Scans\\Image99999.jpg"},
        {2, "Image", 100000, "C:\\Scans\\Image100000.tif"}, {3, "Image", 2147483647u, "C:\\Scans\\Image2147483647.png"},
        {1, "Holiday.1999", 2, "C:\\Scans\\Holiday.199900002.jpg"}, // the dot is no extension
        {4, "Image", 1, "C:\\Scans\\Image00001.bmp"},       {0xFFFF, "", 7, "C:\\Scans\\00007.bmp"}, // unknown: BMP
        {0x10001, "Image", 1, "C:\\Scans\\Image00001.jpg"},  // only the low 16 bits count
    };
    for (const Case &c : cases) {
        char name[PATH_CAPACITY];
        ASSERT_TRUE(FormatPictureName(name, sizeof name, "C:\\Scans", c.prefix, c.number, FormatExtension(c.format)));
        EXPECT_STREQ(name, c.expected);
    }
}

TEST(PictureName, NameThatDoesNotFitIsNotMadeAtAll)
{
    const std::string tail = "\\Image00001.jpg";
    for (size_t folderLength : {PATH_CAPACITY - 1 - tail.size(), PATH_CAPACITY - tail.size(), size_t(PATH_CAPACITY) + 40}) {
        std::string folder(folderLength, 'f');
        std::vector<char> buffer(PATH_CAPACITY + 16, '#');
        bool fits = folderLength + tail.size() < PATH_CAPACITY; // 259 characters and the terminator
        EXPECT_EQ(FormatPictureName(buffer.data(), PATH_CAPACITY, folder.c_str(), "Image", 1, ".jpg"), fits);
        EXPECT_EQ(std::string(buffer.data()), fits ? folder + tail : "") << "a cut name was left, " << folderLength;
        EXPECT_EQ(std::string(buffer.begin() + PATH_CAPACITY, buffer.end()), std::string(16, '#'));
    }
}

TEST(FolderWalk, CreatesEveryLevelAfterTheFirstParentsFirst)
{
    std::string level(100, 'x'), longest = "C:\\" + std::string(PATH_CAPACITY - 4, 'y');
    struct Case {
        std::string path;
        std::vector<std::string> created;
    } cases[] = {
        {"C:\\Photos\\1987\\Summer", {"C:\\Photos", "C:\\Photos\\1987", "C:\\Photos\\1987\\Summer"}},
        {"C:\\Photos\\", {"C:\\Photos", "C:\\Photos\\"}}, // a trailing backslash names the last level again
        // The lone backslash, server and share fail harmlessly on a network path.
        {"\\\\server\\share\\scans", {"\\", "\\\\server", "\\\\server\\share", "\\\\server\\share\\scans"}},
        {"C:", {}}, {"", {}},
        {longest, {longest}}, // 259 characters still fit
        {"C:\\" + level + "\\" + level + "\\" + level, {"C:\\" + level, "C:\\" + level + "\\" + level}},
    };
    for (const Case &c : cases) {
        FolderWalk walk;
        BeginFolderWalk(&walk, c.path.c_str());
        std::vector<std::string> created;
        const char *directory;
        while (NextFolderLevel(&walk, &directory))
            if (directory)
                created.push_back(directory);
        EXPECT_EQ(created, c.created) << c.path;
        EXPECT_EQ(walk.depth + walk.length + walk.built[0], 0u) << "walk not cleared: " << c.path;
    }
}

} // namespace
