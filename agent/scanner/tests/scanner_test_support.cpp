// Helpers of the scanner layer's Windows tests.
#include "scanner_test_support.h"

#include <cstdio>

#include "bitmap_layout.h"
#include "settings.h"
#include "shared.h"
#include "test_support.h"

using namespace bitmap_layout;

namespace scannertest {

std::string DriverPath()
{
    return testsupport::ProgramDirectory() + SCANNER_DRIVER_FILE;
}

std::vector<FeederTraceEntry> TracedEntries()
{
    std::vector<FeederTraceEntry> commands;
    for (const FeederTraceEntry &entry : feeder::ReadTrace())
        if (entry.Command != FEED_EVENT_SHEET_FED && entry.Command != FEED_EVENT_SHEET_SKIPPED)
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

std::string Repeat(const std::string &words, int times)
{
    std::string result;
    for (int i = 0; i < times; i++)
        result += (result.empty() ? "" : " ") + words;
    return result;
}

bool WriteSheetPicture(const std::string &path, int width, int height)
{
    uint32_t rowBytes = (uint32_t)RowBytes(width, 24);
    std::string bytes(54 + rowBytes * height, '\0');
    uint8_t *h = (uint8_t *)&bytes[0];
    h[0] = 'B';
    h[1] = 'M';
    WriteLe32(h + OFFSET_FILE_SIZE, (uint32_t)bytes.size());
    WriteLe32(h + OFFSET_PIXELS, 54);
    WriteLe32(h + OFFSET_INFO_SIZE, 40);
    WriteLe32(h + OFFSET_WIDTH, width);
    WriteLe32(h + OFFSET_HEIGHT, height);
    WriteLe16(h + OFFSET_PLANES, 1);
    WriteLe16(h + OFFSET_BIT_COUNT, 24);
    WriteLe32(h + OFFSET_IMAGE_SIZE, rowBytes * height);
    for (int y = 0; y < height; y++) {
        uint8_t *row = h + 54 + (height - 1 - y) * rowBytes;
        for (int x = 0; x < width; x++) {
            row[3 * x] = (uint8_t)(x * 5 + y);        // blue
            row[3 * x + 1] = (uint8_t)(y * 3 + 40);   // green
            row[3 * x + 2] = (uint8_t)(x * 2 + y * 7); // red
        }
    }
    return testsupport::WriteWholeFile(path, bytes);
}

void DeviceTest::SetUp()
{
    ASSERT_TRUE(feeder::Reset()) << "the virtual scanner's state cannot be mapped";
    folder_ = testsupport::MakeScratchFolder("scanner");
    ASSERT_FALSE(folder_.empty());
    char key[128];
    snprintf(key, sizeof key, "Software\\Velmora scanner tests\\%lu", GetCurrentProcessId());
    keyPath_ = key;
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath_);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &SettingsKey,
                              nullptr),
              ERROR_SUCCESS);
    AppInstance = GetModuleHandleA(nullptr);
    ResourceLibrary = nullptr;
    snprintf(AppTitle, sizeof AppTitle, "Velmora scanner test %lu", GetCurrentProcessId());
    ASSERT_EQ(ProbeScanner(DriverPath().c_str()), PROBE_READY);
    ASSERT_TRUE(feeder::ClearTrace());
}

void DeviceTest::TearDown()
{
    UnloadScannerDriver();
    feeder::Reset();
    if (resources_)
        FreeLibrary(resources_);
    resources_ = nullptr;
    ResourceLibrary = nullptr;
    RegCloseKey(SettingsKey);
    SettingsKey = nullptr;
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath_);
    testsupport::RemoveTree(folder_);
}

bool DeviceTest::StoredInsideGamma(DWORD *type, DWORD *value)
{
    std::string data;
    if (!testsupport::GetRawValue(HKEY_CURRENT_USER, keyPath_, SettingName(SETTING_InsideGamma), type, &data))
        return false;
    *value = data.size() == 4 ? ReadLe32((const uint8_t *)data.data()) : 0xFFFFFFFFu;
    return true;
}

void DeviceTest::SetInsideGamma(DWORD value)
{
    ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, keyPath_, SettingName(SETTING_InsideGamma), REG_DWORD,
                                         &value, sizeof value));
}

bool DeviceTest::LoadResources()
{
    resources_ = LoadLibraryA((testsupport::ProgramDirectory() + "VelmoraRes.dll").c_str());
    ResourceLibrary = resources_;
    return resources_ != nullptr;
}

ScanJobSettings MakeSettings(uint16_t type, uint16_t width300, uint16_t height300, uint16_t dpi)
{
    ScanJobSettings settings = {};
    settings.PaperArea[2] = width300;
    settings.PaperArea[3] = height300;
    settings.DeviceXResolution = settings.DeviceYResolution = dpi;
    settings.XResolution = settings.YResolution = dpi;
    settings.AcquireType = settings.OutputType = type;
    settings.Gamma = 100;
    return settings;
}

bool ReadAcquired(const std::string &path, AcquiredFile *file)
{
    if (!testsupport::ReadWholeFile(path, &file->bytes) || file->bytes.size() < 54)
        return false;
    const uint8_t *h = (const uint8_t *)file->bytes.data();
    file->headerSize = ReadLe32(h + OFFSET_PIXELS);
    file->fileSize = ReadLe32(h + OFFSET_FILE_SIZE);
    file->width = ReadLe32(h + OFFSET_WIDTH);
    file->height = ReadLe32(h + OFFSET_HEIGHT);
    file->bits = ReadLe16(h + OFFSET_BIT_COUNT);
    file->imageSize = ReadLe32(h + OFFSET_IMAGE_SIZE);
    file->xPerMetre = ReadLe32(h + OFFSET_X_PELS_PER_METRE);
    file->coloursUsed = ReadLe32(h + OFFSET_COLOURS_USED);
    return file->headerSize <= file->bytes.size();
}

std::vector<uint8_t> RowsTopFirst(const AcquiredFile &file, uint32_t lineBytes)
{
    std::vector<uint8_t> rows;
    if (lineBytes == 0)
        return rows;
    size_t count = (file.bytes.size() - file.headerSize) / lineBytes;
    for (size_t k = count; k-- > 0;) {
        const char *row = file.bytes.data() + file.headerSize + k * lineBytes;
        rows.insert(rows.end(), row, row + lineBytes);
    }
    return rows;
}

std::vector<uint8_t> RowsAsRgb(const feeder::RenderedPage &page)
{
    std::vector<uint8_t> rgb;
    for (uint32_t line = 0; line < page.Lines; line++) {
        const uint8_t *row = &page.Rows[(size_t)line * page.LineBytes];
        for (uint32_t x = 0; x < page.PixelsPerLine; x++) {
            uint8_t r, g, b;
            if (page.ImageType == SCAN_TYPE_COLOUR) {
                b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
            } else if (page.ImageType == SCAN_TYPE_GREY) {
                r = g = b = row[x];
            } else {
                r = g = b = (row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
            }
            rgb.push_back(r);
            rgb.push_back(g);
            rgb.push_back(b);
        }
    }
    return rgb;
}

} // namespace scannertest
