// The tool's file handling under Wine, one table for every outcome and every
// path it must handle: the bitmap rewritten in place through a temporary
// file, or left with its bytes, and the log beside it. Paths past the
// system's limit name no file, so the test needs no long-path names.
#include "bitmap_file.h"
#include "product_files.h"
#include "synth.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace {

using testsupport::ReadWholeFile;

// Names in a folder (given with its final backslash), files and folders.
std::set<std::string> NamesIn(const std::string &folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &found);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found))
        if (found.cFileName[0] != '.')
            names.insert(found.cFileName);
    FindClose(h);
    return names;
}

enum Content { PHOTO, BLANK, GARBAGE, MISSING };
enum Twist { PLAIN, READ_ONLY, HELD_OPEN, LOG_BLOCKED };

const struct Case {
    const char *name;
    Content content;
    pagefit::Options options;
    Twist twist;
    PagefitExitCode exitCode;
    const char *logPart;       // nullptr: no log may be left
    int width = 0, height = 0; // of the rewritten page; 0: the bitmap keeps its bytes
    size_t pathLength = 0;     // characters in the bitmap's path through a deep folder, or 0
    bool longName = false;
} CASES[] = {
    {"crop and deskew", PHOTO, {true, true}, PLAIN, PAGEFIT_DONE, "cropped and deskewed", 375, 525},
    // The upright box around the print turned by 0.09.
    {"crop only", PHOTO, {true, false}, PLAIN, PAGEFIT_DONE, "cropped to the photo's upright box", 421, 557},
    {"deskew only", PHOTO, {false, true}, PLAIN, PAGEFIT_DONE, "deskewed the page", 520, 640},
    {"both choices off", PHOTO, {false, false}, PLAIN, PAGEFIT_DONE, "are off"},
    {"blank sheet", BLANK, {true, false}, PLAIN, PAGEFIT_NO_ACTION, AUTOCROP_NO_ACTION_WORD},
    {"not a bitmap", GARBAGE, {true, true}, PLAIN, PAGEFIT_NOT_A_BITMAP, "not a bitmap"},
    {"missing bitmap", MISSING, {true, true}, PLAIN, PAGEFIT_FILE_ERROR, "cannot open"},
    {"read-only bitmap", PHOTO, {true, true}, READ_ONLY, PAGEFIT_FILE_ERROR, "read-only"},
    {"bitmap held open", PHOTO, {true, true}, HELD_OPEN, PAGEFIT_FILE_ERROR, "cannot replace"},
    {"log cannot be written", PHOTO, {true, true}, LOG_BLOCKED, PAGEFIT_FILE_ERROR, nullptr, 375, 525},
    {"path of 259", PHOTO, {true, true}, PLAIN, PAGEFIT_DONE, "cropped and deskewed", 375, 525, 259},
    {"path of 260", MISSING, {true, true}, PLAIN, PAGEFIT_FILE_ERROR, nullptr, 0, 0, 260},
    // Made long by the file's own name in a short folder.
    {"long name", MISSING, {true, true}, PLAIN, PAGEFIT_FILE_ERROR, "longer than the system", 0, 0, 280, true},
};

TEST(BitmapFile, EveryOutcomeAndPathHasItsExitCodeAndLog)
{
    const std::string root = testsupport::MakeScratchFolder("pagefit files") + "\\";
    int index = 0;
    for (const Case &c : CASES) {
        SCOPED_TRACE(c.name);
        std::string folder = root + "Scans " + std::to_string(index++) + "\\", leaf = "Tem1A2B.Bmp";
        CreateDirectoryA(folder.c_str(), nullptr);
        if (c.pathLength && !c.longName) {
            folder += std::string(c.pathLength - folder.size() - 1 - leaf.size(), 'd') + "\\";
            CreateDirectoryA(folder.c_str(), nullptr);
        }
        if (c.longName)
            leaf = std::string(c.pathLength - folder.size() - 4, 'n') + ".Bmp";
        const std::string bitmap = folder + leaf;
        synth::Scene s;
        s.dpi = 150, s.width = 520, s.height = 640, s.hasPhoto = c.content == PHOTO;
        s.photo = {260, 320, 375, 525, -0.09};
        s.backing[0] = s.backing[1] = s.backing[2] = 228;
        std::vector<uint8_t> scan = synth::RenderScan(s);
        const std::string before =
            c.content == GARBAGE ? std::string(5000, 'x') : std::string(scan.begin(), scan.end());
        std::set<std::string> expected;
        if (c.content != MISSING) {
            EXPECT_TRUE(testsupport::WriteWholeFile(bitmap, before));
            expected.insert(leaf);
        }
        if (c.twist == READ_ONLY)
            SetFileAttributesA(bitmap.c_str(), FILE_ATTRIBUTE_READONLY);
        if (c.twist == LOG_BLOCKED)
            CreateDirectoryA((folder + AUTOCROP_LOG_FILE).c_str(), nullptr);
        if (c.logPart || c.twist == LOG_BLOCKED)
            expected.insert(AUTOCROP_LOG_FILE);
        // Another program holds the bitmap open, sharing neither deletion nor writing.
        HANDLE holder = c.twist != HELD_OPEN ? INVALID_HANDLE_VALUE
                                             : CreateFileA(bitmap.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                           OPEN_EXISTING, 0, nullptr);
        const BitmapFileRun run = PagefitBitmapFile(bitmap, c.options);
        CloseHandle(holder);

        EXPECT_EQ(run.exitCode, c.exitCode) << run.log;
        std::string log, after;
        EXPECT_EQ(ReadWholeFile(folder + AUTOCROP_LOG_FILE, &log), c.logPart != nullptr) << run.log;
        EXPECT_EQ(log, c.logPart ? run.log + "\r\n" : "");
        EXPECT_NE(log.find(c.logPart ? c.logPart : ""), std::string::npos) << log;
        // The agent asks for a new scan on this word alone.
        EXPECT_EQ(log.find(AUTOCROP_NO_ACTION_WORD) != std::string::npos, c.exitCode == PAGEFIT_NO_ACTION) << log;
        // Nothing else beside the bitmap: no temporary file, named or garbled.
        EXPECT_EQ(NamesIn(folder), expected);
        if (c.content == MISSING)
            continue;
        EXPECT_TRUE(ReadWholeFile(bitmap, &after));
        int w = 0, h = 0;
        synth::LumaOf(std::vector<uint8_t>(after.begin(), after.end()), &w, &h);
        EXPECT_TRUE(c.width ? std::abs(w - c.width) <= 2 && std::abs(h - c.height) <= 2 : after == before)
            << w << "x" << h;
        EXPECT_EQ(GetFileAttributesA(bitmap.c_str()) & FILE_ATTRIBUTE_READONLY, c.twist == READ_ONLY ? 1u : 0u);
    }
    testsupport::RemoveTree(root);
}

} // namespace
