// Pagefit.exe as the agent starts it, under Wine: its own folder with
// Module.ini, the user's choices in a registry fixture, the bitmap's path
// unquoted after the program's.
#include "synth.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

std::string Bytes(const std::vector<uint8_t> &v)
{
    return std::string(v.begin(), v.end());
}

std::vector<uint8_t> Scan(bool photo)
{
    synth::Scene s;
    s.dpi = 150;
    s.width = 520;
    s.height = 640;
    s.photo = {260, 320, 375, 525, -0.09};
    s.hasPhoto = photo;
    s.backing[0] = s.backing[1] = s.backing[2] = 228;
    return synth::RenderScan(s);
}

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string built = testsupport::ProgramDirectory() + "Pagefit.exe";
        if (!testsupport::FileExists(built))
            GTEST_SKIP() << "Pagefit.exe was not built";
        root = testsupport::MakeScratchFolder("pagefit program") + "\\";
        programFolder = root + "Velmora Tools\\";
        scanFolder = root + "Temp Scans\\";
        CreateDirectoryA(programFolder.c_str(), nullptr);
        CreateDirectoryA(scanFolder.c_str(), nullptr);
        program = programFolder + "Pagefit.exe";
        ASSERT_TRUE(CopyFileA(built.c_str(), program.c_str(), FALSE));
        char name[32];
        snprintf(name, sizeof name, "PfTest%lu", GetCurrentProcessId());
        model = name;
        modelKey = "Software\\Sheetfed Scanner\\" + model;
        ASSERT_TRUE(WriteWholeFile(programFolder + "Module.ini", "[SYSTEM]\r\nModule=" + model + "\r\n"));
        bitmap = scanFolder + "Vel 9F.Bmp";
    }
    void TearDown() override
    {
        if (root.empty())
            return;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKey);
        testsupport::RemoveTree(root);
    }
    // The scanner instance whose agent lives in the program's folder, and an
    // unrelated one first, which the lookup must pass over.
    void Install(int crop, int deskew, bool writeDeskew = true)
    {
        std::string other = modelKey + "\\Another", mine = modelKey + "\\Scanner 1";
        std::string elsewhere = "C:\\windows\\";
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, other, "System Directory", REG_SZ, elsewhere.c_str(),
                                             DWORD(elsewhere.size())));
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, other + "\\Velmora\\Setting", "Current AutoCrop",
                                             REG_DWORD, &crop, 4));
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, mine, "System Directory", REG_SZ, programFolder.c_str(),
                                             DWORD(programFolder.size())));
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, mine + "\\Velmora\\Setting", "Current AutoCrop",
                                             REG_DWORD, &crop, 4));
        if (writeDeskew) {
            ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, mine + "\\Velmora\\Setting", "Current AutoDeskew",
                                                 REG_DWORD, &deskew, 4));
        }
    }
    std::string Run(const std::string &programPath)
    {
        // As the agent builds it: "%s %s", neither quoted.
        EXPECT_EQ(testsupport::RunAndWait(programPath + " " + bitmap), 0);
        std::string log;
        ReadWholeFile(scanFolder + "Pagefit.log", &log);
        return log;
    }
    std::string root, programFolder, scanFolder, program, model, modelKey, bitmap;
};

TEST_F(Program, CropsAndDeskewsWhenTheUserAskedForBoth)
{
    Install(1, 1);
    ASSERT_TRUE(WriteWholeFile(bitmap, Bytes(Scan(true))));
    std::string log = Run(program);
    EXPECT_NE(log.find("cropped and deskewed"), std::string::npos) << log;
    std::string after;
    ASSERT_TRUE(ReadWholeFile(bitmap, &after));
    int w = 0, h = 0;
    synth::LumaOf(std::vector<uint8_t>(after.begin(), after.end()), &w, &h);
    EXPECT_NEAR(w, 375, 2);
    EXPECT_NEAR(h, 525, 2);
}

TEST_F(Program, FindsItselfByItsShortName)
{
    Install(1, 0);
    ASSERT_TRUE(WriteWholeFile(bitmap, Bytes(Scan(true))));
    char shortName[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(program.c_str(), shortName, MAX_PATH), 0u);
    std::string log = Run(shortName);
    EXPECT_NE(log.find("cropped to the photo's upright box"), std::string::npos) << log;
}

TEST_F(Program, DoesNothingWhenTheChoicesAreOffOrMissing)
{
    ASSERT_TRUE(WriteWholeFile(bitmap, Bytes(Scan(true))));
    // No registry at all for this model: both choices count as off.
    std::string log = Run(program);
    EXPECT_NE(log.find("are off"), std::string::npos) << log;
    Install(0, 0);
    log = Run(program);
    EXPECT_NE(log.find("are off"), std::string::npos) << log;
    std::string after;
    ASSERT_TRUE(ReadWholeFile(bitmap, &after));
    EXPECT_TRUE(after == Bytes(Scan(true)));
}

TEST_F(Program, OnlyReadsTheSettings)
{
    Install(1, 0, false);
    ASSERT_TRUE(WriteWholeFile(bitmap, Bytes(Scan(false))));
    std::string log = Run(program);
    EXPECT_NE(log.find("noaction"), std::string::npos) << log;
    // The missing choice was not written back, and no key was made for it.
    DWORD type;
    std::string data;
    EXPECT_FALSE(testsupport::GetRawValue(HKEY_CURRENT_USER, modelKey + "\\Scanner 1\\Velmora\\Setting",
                                          "Current AutoDeskew", &type, &data));
    HKEY key;
    EXPECT_NE(
        RegOpenKeyExA(HKEY_CURRENT_USER, (modelKey + "\\Scanner 1\\Velmora\\Paper Size").c_str(), 0, KEY_READ, &key),
        ERROR_SUCCESS);
}

} // namespace
