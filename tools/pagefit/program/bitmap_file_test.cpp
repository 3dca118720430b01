// The tool's file handling under Wine: in-place rewrite through a temporary
// file, the log beside the bitmap, and files that must stay untouched.
#include "bitmap_file.h"
#include "product_files.h"
#include "synth.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

std::string Bytes(const std::vector<uint8_t> &v)
{
    return std::string(v.begin(), v.end());
}

std::set<std::string> FilesIn(const std::string &folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

std::vector<uint8_t> Scan(int bits, bool photo)
{
    synth::Scene s;
    s.dpi = 150;
    s.bits = bits;
    s.width = 520;
    s.height = 640;
    s.photo = {260, 320, 375, 525, 0.07};
    s.hasPhoto = photo;
    s.backing[0] = s.backing[1] = s.backing[2] = 15;
    if (bits == 1) {
        s.borderWidth = 20;
        s.border[0] = s.border[1] = s.border[2] = 240;
    }
    return synth::RenderScan(s);
}

class BitmapFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = testsupport::MakeScratchFolder("pagefit files") + "\\";
        bitmap = folder + "Vel 1A2.Bmp";
    }
    void TearDown() override
    {
        testsupport::RemoveTree(folder);
    }
    std::string Log()
    {
        std::string text;
        ReadWholeFile(folder + AUTOCROP_LOG_FILE, &text);
        return text;
    }
    std::string folder, bitmap;
};

TEST_F(BitmapFile, RewritesThePageInPlaceAtEveryDepth)
{
    for (int bits : {1, 8, 24}) {
        ASSERT_TRUE(WriteWholeFile(bitmap, Bytes(Scan(bits, true))));
        std::string line = PagefitBitmapFile(bitmap, {true, true}).log;
        std::string after;
        ASSERT_TRUE(ReadWholeFile(bitmap, &after));
        std::vector<uint8_t> bytes(after.begin(), after.end());
        int w = 0, h = 0;
        ASSERT_FALSE(synth::LumaOf(bytes, &w, &h).empty()) << bits;
        EXPECT_NEAR(w, 375, 2) << bits << ": " << line;
        EXPECT_NEAR(h, 525, 2) << bits << ": " << line;
        EXPECT_EQ(bytes[28], bits);
        EXPECT_EQ(Log(), line + "\r\n");
        EXPECT_NE(line.find("cropped and deskewed"), std::string::npos) << line;
        // Nothing but the bitmap and the log: the temporary file was moved over.
        EXPECT_EQ(FilesIn(folder), (std::set<std::string>{"Vel 1A2.Bmp", AUTOCROP_LOG_FILE}));
    }
}

TEST_F(BitmapFile, LeavesTheFileAloneWhenItShouldAndSaysWhy)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        pagefit::Options options;
        const char *logPart;
        bool noAction;
    };
    std::vector<uint8_t> cut = Scan(24, true);
    cut.resize(cut.size() - 1000);
    const Case cases[] = {
        {"blank backing", Scan(24, false), {true, true}, "no photo on the backing", true},
        {"blank backing, crop only", Scan(8, false), {true, false}, "no photo on the backing", true},
        {"truncated", cut, {true, true}, "truncated", false},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(WriteWholeFile(bitmap, Bytes(c.bytes)));
        std::string line = PagefitBitmapFile(bitmap, c.options).log;
        std::string after;
        ASSERT_TRUE(ReadWholeFile(bitmap, &after));
        EXPECT_TRUE(after == Bytes(c.bytes)) << c.name;
        EXPECT_NE(Log().find(c.logPart), std::string::npos) << c.name << ": " << Log();
        EXPECT_EQ(Log().find(AUTOCROP_NO_ACTION_WORD) != std::string::npos, c.noAction) << c.name << ": " << Log();
        EXPECT_EQ(FilesIn(folder), (std::set<std::string>{"Vel 1A2.Bmp", AUTOCROP_LOG_FILE})) << c.name;
    }
}

TEST_F(BitmapFile, ALockedBitmapIsNotReplacedAndNoTemporaryFileStays)
{
    ASSERT_TRUE(WriteWholeFile(bitmap, Bytes(Scan(24, true))));
    // Another program holds the file open without sharing deletion or writing.
    HANDLE holder = CreateFileA(bitmap.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::string line = PagefitBitmapFile(bitmap, {true, true}).log;
    CloseHandle(holder);
    std::string after;
    ASSERT_TRUE(ReadWholeFile(bitmap, &after));
    EXPECT_TRUE(after == Bytes(Scan(24, true)));
    EXPECT_NE(line.find("cannot replace"), std::string::npos) << line;
    EXPECT_EQ(FilesIn(folder), (std::set<std::string>{"Vel 1A2.Bmp", AUTOCROP_LOG_FILE}));
}

} // namespace
