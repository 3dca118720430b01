// The lookup tables and parameters the virtual scanner received: identity
// downloads, which gamma each pass uses, the tone words under automatic
// cropping, the table pointer by type and grey table, and "Inside Gamma".
#include "scanner_test_support.h"

#include <memory>

#include "settings.h"
#include "shared.h"
#include "test_support.h"

namespace {

typedef std::vector<std::pair<uint32_t, uint32_t>> Probes; // entry, value
const Probes IDENTITY = {{1, 1}, {2, 2}, {16, 16}, {128, 128}, {200, 200}};
const Probes SQUARED = {{1, 0}, {2, 0}, {16, 1}, {128, 64}, {200, 157}};   // gamma 0.5 once
const Probes COMPOSED = {{1, 0}, {2, 0}, {16, 16}, {128, 128}, {200, 200}}; // 0.5, then 2.0
const FeederTableShape BYTE_TABLES = {255, 3, 1, 256, 4, 0};

class DeviceTablesTest : public scannertest::DeviceTest {
protected:
    // One small pre-rendered page; the device's state after it.
    const FeederState &Scan(const ScanJobSettings &settings, const FeederTableShape &shape)
    {
        EXPECT_TRUE(feeder::Reset() && feeder::SetSyntheticPage(true) && feeder::SetTableShape(shape));
        feeder::ClearTrace();
        EXPECT_EQ(AcquireToBitmap(settings, page_.c_str()), 1);
        EXPECT_TRUE(feeder::Snapshot(state_.get()));
        return *state_;
    }
    std::unique_ptr<FeederState> state_{new FeederState};
};

TEST_F(DeviceTablesTest, GammaPassesAndToneWords)
{
    struct Case {
        const char *name;
        int insideGamma; // -1: no value stored
        uint16_t gamma;
        uint32_t autoCrop, autoDeskew;
        Probes probes;
    } cases[] = {
        {"both 1.0", 100, 100, 0, 0, IDENTITY},
        {"inside first, gamma second", 50, 200, 0, 0, COMPOSED},
        {"inside 0 skips its pass", 0, 50, 0, 0, SQUARED},
        {"gamma 0 skips its pass", 50, 0, 0, 0, SQUARED},
        {"missing inside value reads as 100", -1, 50, 0, 0, SQUARED},
        {"auto-crop: second pass at 1.0", 100, 50, 1, 0, IDENTITY},
        {"auto-crop keeps the inside pass", 50, 200, 1, 0, SQUARED},
        {"auto-deskew alone keeps the gamma", 100, 50, 0, 1, SQUARED},
    };
    const std::vector<uint8_t> identity = [] {
        std::vector<uint8_t> table(256);
        for (int i = 0; i < 256; i++)
            table[i] = (uint8_t)i;
        return table;
    }();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RegDeleteValueA(SettingsKey, SettingName(SETTING_InsideGamma));
        if (c.insideGamma >= 0)
            WriteDwordSetting(SettingsKey, SettingName(SETTING_InsideGamma), c.insideGamma);
        ScanJobSettings settings = scannertest::MakeSettings(SCAN_TYPE_COLOUR, 60, 60, 100);
        settings.Gamma = c.gamma, settings.AutoCrop = c.autoCrop, settings.AutoDeskew = c.autoDeskew;
        settings.Brightness = 20, settings.Contrast = -15;
        const FeederState &state = Scan(settings, BYTE_TABLES);

        // Three identity tables, each sent once, in order, with the tone words;
        // automatic cropping or deskewing leaves the page untouched for the tool.
        std::pair<int16_t, int16_t> words(0, 0);
        if (!c.autoCrop && !c.autoDeskew)
            words = {20, -15};
        std::vector<FeederTraceEntry> downloads = scannertest::TracedEntries(SC_SET_TABLE);
        ASSERT_EQ(downloads.size(), 3u);
        for (size_t i = 0; i < downloads.size(); i++) {
            EXPECT_EQ(downloads[i].TableChecksum, feeder::TableChecksum(identity.data(), 256)) << "table " << i;
            EXPECT_EQ(downloads[i].TableAddress, downloads[0].TableAddress + i * 256);
            EXPECT_EQ(std::make_pair(downloads[i].Brightness, downloads[i].Contrast), words);
        }
        std::vector<FeederTraceEntry> parameters = scannertest::TracedEntries(SC_SET_PARAMS);
        ASSERT_EQ(parameters.size(), 1u);
        EXPECT_EQ(std::make_pair(parameters[0].Brightness, parameters[0].Contrast), words);
        // The shaped tables, as the device read them when the scan started.
        ASSERT_EQ(state.Setup.TableCount, 3u);
        for (uint32_t table = 0; table < 3; table++)
            for (const auto &probe : c.probes)
                EXPECT_EQ(state.Setup.Tables[table * 256 + probe.first], probe.second)
                    << "table " << table << " entry " << probe.first;
        DWORD type = 0;
        std::string stored;
        ASSERT_TRUE(testsupport::GetRawValue(HKEY_CURRENT_USER, keyPath_, SettingName(SETTING_InsideGamma), &type,
                                             &stored)) << "a missing value is written back";
        EXPECT_EQ(type, (DWORD)REG_DWORD);
        DWORD expected = c.insideGamma >= 0 ? (DWORD)c.insideGamma : 100;
        EXPECT_EQ(stored, std::string((const char *)&expected, sizeof expected));
    }
}

TEST_F(DeviceTablesTest, TablePointerByTypeAndGreyTable)
{
    struct Case {
        uint16_t type, channels, greyTable;
        int pointsAt; // which downloaded table, -1: null
        uint16_t tableUse;
    } cases[] = {
        {SCAN_TYPE_GREY, 3, 3, 0, 0},      {SCAN_TYPE_GREY, 3, 4, 1, 0},   {SCAN_TYPE_GREY, 3, 5, 2, 0},
        {SCAN_TYPE_GREY, 3, 6, -1, 0},     {SCAN_TYPE_GREY, 3, 2, -1, 0},  {SCAN_TYPE_LINE_ART, 3, 4, -1, 2},
        {SCAN_TYPE_COLOUR, 3, 4, 0, 1},    {SCAN_TYPE_GREY, 1, 9, 0, 0},   {SCAN_TYPE_COLOUR, 1, 4, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << ", " << c.channels << " tables, grey " << c.greyTable);
        FeederTableShape shape = BYTE_TABLES;
        shape.Channels = c.channels, shape.GreyTable = c.greyTable;
        Scan(scannertest::MakeSettings(c.type, 60, 90, 100), shape);
        std::vector<FeederTraceEntry> downloads = scannertest::TracedEntries(SC_SET_TABLE);
        ASSERT_EQ(downloads.size(), c.channels == 3 ? 3u : 1u) << "tables are sent for every type";
        std::vector<FeederTraceEntry> parameters = scannertest::TracedEntries(SC_SET_PARAMS);
        ASSERT_EQ(parameters.size(), 1u);
        const FeederTraceEntry &p = parameters[0];
        EXPECT_EQ(p.TableAddress, c.pointsAt < 0 ? 0u : downloads[c.pointsAt].TableAddress);
        EXPECT_EQ(p.TableUse, c.tableUse);
        EXPECT_EQ(p.ParameterBytes == SC_PARAMETER_BYTES && p.Constant32 == 2 && p.ImageType == c.type, true);
        EXPECT_EQ(p.PaperArea[2] == 60 && p.PaperArea[3] == 90 && p.XResolution == 100 && p.YResolution == 100, true);
    }
    // Without a table format no table is sent and the pointer stays null.
    ASSERT_TRUE(feeder::Reset() && feeder::SetSyntheticPage(true));
    feeder::InjectFault(SC_GET_TABLE_FORMAT, 1, FEED_STATUS_BAD_REQUEST);
    ASSERT_EQ(AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_COLOUR, 60, 60, 100), page_.c_str()), 1);
    EXPECT_EQ(scannertest::TracedEntries(SC_SET_TABLE).size(), 0u);
    EXPECT_EQ(scannertest::TracedEntries(SC_SET_PARAMS).at(0).TableAddress, 0u);
}

} // namespace
