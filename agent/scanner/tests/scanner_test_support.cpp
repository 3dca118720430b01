// Helpers of the scanner layer's Windows tests.
#include "scanner_test_support.h"

#include <cstdio>

#include "bitmap_layout.h"
#include "scan_bitmap.h"
#include "shared.h"
#include "test_support.h"

using namespace bitmap_layout;

namespace scannertest {

std::vector<FeederTraceEntry> TracedEntries(uint16_t only)
{
    std::vector<FeederTraceEntry> commands;
    for (const FeederTraceEntry &entry : feeder::ReadTrace())
        if (entry.Command < FEED_EVENT_SHEET_SKIPPED && (only == 0xFFFF || entry.Command == only))
            commands.push_back(entry);
    return commands;
}

std::string TracedCommands()
{
    std::string names;
    for (const FeederTraceEntry &entry : TracedEntries())
        names += (names.empty() ? "" : " ") + feeder::CommandName(entry.Command);
    return names;
}

std::string Repeat(const std::string &word, int times)
{
    std::string result;
    for (int i = 0; i < times; i++)
        result += (i ? " " : "") + word;
    return result;
}

bool WriteSheetPicture(const std::string &path, int width, int height)
{
    return testsupport::WriteWholeFile(path, scanbitmap::ScanBitmap(24, width, height, 0, [](uint32_t x, uint32_t y) {
                                           return ((x * 5 + y) & 0xFF) | ((y * 3 + 40) & 0xFF) << 8 |
                                                  ((x * 2 + y * 7) & 0xFF) << 16;
                                       }));
}

ScanJobSettings MakeSettings(uint16_t type, uint16_t width300, uint16_t height300, uint16_t dpi)
{
    ScanJobSettings settings = {};
    settings.PaperArea[2] = width300;
    settings.PaperArea[3] = height300;
    settings.DeviceXResolution = settings.DeviceYResolution = settings.XResolution = settings.YResolution = dpi;
    settings.AcquireType = settings.OutputType = type;
    settings.Gamma = 100;
    return settings;
}

uint32_t AcquiredFile::Field(uint32_t offset) const
{
    return offset + 4 <= bytes.size() ? ReadLe32((const uint8_t *)bytes.data() + offset) : 0xFFFFFFFFu;
}

std::vector<uint8_t> AcquiredFile::RowsTopFirst(uint32_t lineBytes) const
{
    std::vector<uint8_t> rows;
    uint32_t first = Field(OFFSET_PIXELS);
    for (size_t k = (bytes.size() - first) / lineBytes; k-- > 0;)
        rows.insert(rows.end(), bytes.begin() + first + k * lineBytes, bytes.begin() + first + (k + 1) * lineBytes);
    return rows;
}

bool ReadAcquired(const std::string &path, AcquiredFile *file)
{
    return testsupport::ReadWholeFile(path, &file->bytes) && file->bytes.size() >= 54 &&
           file->Field(OFFSET_PIXELS) <= file->bytes.size();
}

void DeviceTest::SetUp()
{
    ASSERT_TRUE(feeder::Reset()) << "the virtual scanner's state cannot be mapped";
    folder_ = testsupport::MakeScratchFolder("scanner");
    sheet_ = folder_ + "\\sheet.bmp";
    page_ = folder_ + "\\page.bmp";
    ASSERT_TRUE(WriteSheetPicture(sheet_, 120, 90));
    keyPath_ = "Software\\Velmora scanner tests\\" + std::to_string(GetCurrentProcessId());
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath_);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                              &SettingsKey, nullptr),
              ERROR_SUCCESS);
    AppInstance = GetModuleHandleA(nullptr);
    // The test program holds no templates: no dialog unless a test loads the resources.
    ResourceLibrary = AppInstance;
    snprintf(AppTitle, sizeof AppTitle, "Velmora scanner test %lu", GetCurrentProcessId());
    ASSERT_EQ(ProbeScanner((testsupport::ProgramDirectory() + SCANNER_DRIVER_FILE).c_str()), PROBE_READY);
    ASSERT_TRUE(feeder::ClearTrace());
}

void DeviceTest::TearDown()
{
    UnloadScannerDriver();
    feeder::Reset();
    if (ResourceLibrary != AppInstance)
        FreeLibrary(ResourceLibrary);
    RegCloseKey(SettingsKey);
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath_);
    testsupport::RemoveTree(folder_);
}

bool DeviceTest::LoadResources()
{
    ResourceLibrary = LoadLibraryA((testsupport::ProgramDirectory() + "VelmoraRes.dll").c_str());
    return ResourceLibrary != nullptr;
}

} // namespace scannertest
