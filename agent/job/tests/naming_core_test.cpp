// Picture name formatting and the folder walk, without a file system.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "naming_core.h"

namespace {

TEST(PictureName, ExtensionsByFormatCode)
{
    struct Case {
        uint32_t code;
        const char *extension;
    } cases[] = {
        {0, ".bmp"}, {1, ".jpg"}, {2, ".tif"}, {3, ".png"},
        {4, ".bmp"}, {0xFFFF, ".bmp"},            // unknown codes save losslessly
        {0x10001, ".jpg"}, {0x20003, ".png"},     // only the low 16 bits count
    };
    for (const Case &c : cases)
        EXPECT_STREQ(FormatExtension(c.code), c.extension) << "code " << c.code;
}

TEST(PictureName, NumbersHaveAtLeastFiveDigits)
{
    struct Case {
        const char *folder, *prefix;
        unsigned number;
        const char *extension, *expected;
    } cases[] = {
        {"C:\\Scans", "Image", 1, ".jpg", "C:\\Scans\\Image00001.jpg"},
        {"C:\\Scans", "Image", 99999, ".bmp", "C:\\Scans\\Image99999.bmp"},
        {"C:\\Scans", "Image", 100000, ".jpg", "C:\\Scans\\Image100000.jpg"},
        {"C:\\Scans", "Image", 2147483647u, ".png", "C:\\Scans\\Image2147483647.png"},
        {"C:\\Scans", "Holiday.1999", 2, ".tif", "C:\\Scans\\Holiday.199900002.tif"},
        {"C:\\Scans", "", 7, ".jpg", "C:\\Scans\\00007.jpg"},
        {"C:\\Users\\me\\Desktop\\", "Image", 1, ".jpg", "C:\\Users\\me\\Desktop\\\\Image00001.jpg"},
    };
    for (const Case &c : cases) {
        char name[NAME_CAPACITY];
        ASSERT_TRUE(FormatPictureName(name, sizeof name, c.folder, c.prefix, c.number, c.extension)) << c.expected;
        EXPECT_STREQ(name, c.expected);
    }
}

TEST(PictureName, NameThatDoesNotFitIsNotMadeAtAll)
{
    // A folder that leaves exactly room for "\Image00001.jpg" and the
    // terminator: 259 characters of name fit in 260 bytes, 260 do not.
    const std::string tail = "\\Image00001.jpg";
    for (size_t folderLength : {NAME_CAPACITY - 1 - tail.size(), NAME_CAPACITY - tail.size(), NAME_CAPACITY + 40}) {
        std::string folder = "C:\\" + std::string(folderLength - 3, 'f');
        std::vector<char> buffer(NAME_CAPACITY + 16, '#');
        bool made = FormatPictureName(buffer.data(), NAME_CAPACITY, folder.c_str(), "Image", 1, ".jpg");
        bool fits = folderLength + tail.size() < NAME_CAPACITY;
        EXPECT_EQ(made, fits) << "folder of " << folderLength;
        if (fits)
            EXPECT_EQ(std::string(buffer.data()), folder + tail);
        else
            EXPECT_EQ(buffer[0], '\0') << "a cut name was left behind, folder of " << folderLength;
        // Nothing is written past the capacity, whatever happens.
        for (size_t i = NAME_CAPACITY; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '#') << "byte " << i << ", folder of " << folderLength;
    }
}

std::vector<std::string> Walk(const char *path, unsigned *depthAtLast = nullptr)
{
    FolderWalk walk;
    BeginFolderWalk(&walk, path);
    std::vector<std::string> created;
    const char *directory;
    while (NextFolderLevel(&walk, &directory)) {
        if (directory)
            created.push_back(directory);
        if (depthAtLast)
            *depthAtLast = walk.depth;
    }
    EXPECT_EQ(walk.length, 0u) << path;
    EXPECT_EQ(walk.depth, 0u) << path;
    EXPECT_EQ(walk.built[0], '\0') << path;
    return created;
}

TEST(FolderWalk, CreatesEveryLevelAfterTheFirstParentsFirst)
{
    struct Case {
        const char *path;
        std::vector<std::string> created;
    } cases[] = {
        {"C:\\Photos", {"C:\\Photos"}},
        {"C:\\Photos\\1987\\Summer", {"C:\\Photos", "C:\\Photos\\1987", "C:\\Photos\\1987\\Summer"}},
        // A trailing backslash names the last level once more.
        {"C:\\Photos\\", {"C:\\Photos", "C:\\Photos\\"}},
        // Network style: the lone backslash, server and share are tried and
        // fail harmlessly; the folder on the share is the one that matters.
        {"\\\\server\\share\\scans", {"\\", "\\\\server", "\\\\server\\share", "\\\\server\\share\\scans"}},
        {"C:", {}},
        {"", {}},
        {"relative\\sub", {"relative\\sub"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Walk(c.path), c.created) << c.path;
}

TEST(FolderWalk, LongPathStopsAtTheLastLevelThatFits)
{
    std::string level(100, 'x');
    std::string path = "C:\\" + level + "\\" + level + "\\" + level; // 305 characters
    std::vector<std::string> created = Walk(path.c_str());
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[1], "C:\\" + level + "\\" + level);
    // The longest path that fits (259 characters) is still walked to its end.
    std::string longest = "C:\\" + std::string(NAME_CAPACITY - 1 - 3, 'y');
    created = Walk(longest.c_str());
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0], longest);
}

TEST(FolderWalk, DepthCountsComponents)
{
    unsigned depth = 0;
    Walk("C:\\a\\b\\c", &depth);
    EXPECT_EQ(depth, 4u);
}

} // namespace
