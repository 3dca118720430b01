// The device's lookup tables and scan parameters as the virtual scanner
// received them: identity downloads, both gamma passes composed and capped,
// the table pointer each type and grey-table choice gives, the tone words
// under automatic cropping, and "Inside Gamma" read with its default.
#include "scanner_test_support.h"

#include <memory>

#include "shared.h"
#include "test_support.h"

using scannertest::Repeat;
using scannertest::TracedCommands;

namespace {

struct Probe {
    uint32_t index;
    uint32_t value;
};
const std::vector<Probe> IDENTITY = {{1, 1}, {2, 2}, {16, 16}, {128, 128}, {200, 200}, {255, 255}};
// Gamma 0.5 once: entries squared.
const std::vector<Probe> SQUARED = {{1, 0}, {2, 0}, {16, 1}, {128, 64}, {200, 157}, {255, 255}};
// Gamma 0.5, then 2.0 on its output: the darkest steps are lost; the other
// order would keep entry 1 at 1.
const std::vector<Probe> COMPOSED = {{1, 0}, {2, 0}, {16, 16}, {128, 128}, {200, 200}, {255, 255}};

const FeederTableShape DEFAULT_SHAPE = {255, 3, 1, 256, 4, 0};

class DeviceTablesTest : public scannertest::DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        page_ = folder_ + "\\page.bmp";
        state_.reset(new FeederState);
    }
    // One small synthetic page with `shape` tables; the device's state after it.
    const FeederState &Scan(const ScanJobSettings &settings, const FeederTableShape &shape)
    {
        EXPECT_TRUE(feeder::Reset());
        EXPECT_TRUE(feeder::SetSyntheticPage(true));
        EXPECT_TRUE(feeder::SetTableShape(shape));
        EXPECT_TRUE(feeder::ClearTrace());
        EXPECT_EQ(AcquireToBitmap(settings, page_.c_str()), 1);
        EXPECT_TRUE(feeder::Snapshot(state_.get()));
        return *state_;
    }
    std::string page_;
    std::unique_ptr<FeederState> state_;
};

std::vector<FeederTraceEntry> EntriesOf(uint16_t command)
{
    std::vector<FeederTraceEntry> found;
    for (const FeederTraceEntry &entry : scannertest::TracedEntries())
        if (entry.Command == command)
            found.push_back(entry);
    return found;
}

uint32_t TableEntry(const FeederState &state, uint32_t table, uint32_t index)
{
    const FeederTableShape &shape = state.Setup.TableShape;
    const uint8_t *bytes = state.Setup.Tables + table * shape.Entries * (shape.EntryBytes == 1 ? 1 : 2);
    return shape.EntryBytes == 1 ? bytes[index] : (uint32_t)(bytes[2 * index] | bytes[2 * index + 1] << 8);
}

uint32_t IdentityChecksum(const FeederTableShape &shape)
{
    std::vector<uint8_t> table;
    for (uint32_t i = 0; i < shape.Entries; i++) {
        table.push_back((uint8_t)i);
        if (shape.EntryBytes != 1)
            table.push_back((uint8_t)(i >> 8));
    }
    return feeder::TableChecksum(table.data(), (uint32_t)table.size());
}

TEST_F(DeviceTablesTest, GammaPassesAndToneWords)
{
    const FeederTableShape capped = {1023, 3, 2, 256, 4, 0};
    struct Case {
        const char *name;
        int insideGamma; // -1: no value stored
        uint16_t gamma;
        uint32_t autoCrop, autoDeskew;
        FeederTableShape shape;
        std::vector<Probe> probes;
        bool toneWords;
    } cases[] = {
        {"both 1.0", 100, 100, 0, 0, DEFAULT_SHAPE, IDENTITY, true},
        {"inside 0.5, then 2.0", 50, 200, 0, 0, DEFAULT_SHAPE, COMPOSED, true},
        {"inside 0 skips its pass", 0, 50, 0, 0, DEFAULT_SHAPE, SQUARED, true},
        {"gamma 0 skips its pass", 50, 0, 0, 0, DEFAULT_SHAPE, SQUARED, true},
        {"missing inside value counts as 1.0", -1, 50, 0, 0, DEFAULT_SHAPE, SQUARED, true},
        {"auto-crop: second pass at 1.0", 100, 50, 1, 0, DEFAULT_SHAPE, IDENTITY, false},
        {"auto-crop keeps the inside pass", 50, 200, 1, 0, DEFAULT_SHAPE, SQUARED, false},
        {"auto-deskew alone keeps the gamma", 100, 50, 0, 1, DEFAULT_SHAPE, SQUARED, false},
        // Full scale 1023 over 256 entries: the curve leaves the table's range
        // and is capped at the last entry.
        {"capped at the last entry", 100, 200, 0, 0, capped, {{1, 32}, {10, 101}, {16, 128}, {17, 132}, {64, 255}, {255, 255}}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath_); // SettingsKey stays open on a deleted key
        RegCloseKey(SettingsKey);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                  &SettingsKey, nullptr),
                  ERROR_SUCCESS);
        if (c.insideGamma >= 0)
            SetInsideGamma((DWORD)c.insideGamma);
        ScanJobSettings settings = scannertest::MakeSettings(SCAN_TYPE_COLOUR, 60, 60, 100);
        settings.Gamma = c.gamma;
        settings.AutoCrop = c.autoCrop;
        settings.AutoDeskew = c.autoDeskew;
        settings.Brightness = 20;
        settings.Contrast = -15;
        const FeederState &state = Scan(settings, c.shape);

        // Identity tables, each sent once, in order, with the tone words.
        std::vector<FeederTraceEntry> downloads = EntriesOf(SC_SET_TABLE);
        ASSERT_EQ(downloads.size(), 3u);
        uint32_t tableBytes = c.shape.Entries * (c.shape.EntryBytes == 1 ? 1 : 2);
        for (size_t i = 0; i < downloads.size(); i++) {
            EXPECT_EQ(downloads[i].TableBytes, tableBytes);
            EXPECT_EQ(downloads[i].TableChecksum, IdentityChecksum(c.shape)) << "table " << i << " sent as identity";
            EXPECT_EQ(downloads[i].TableAddress, downloads[0].TableAddress + i * tableBytes);
            EXPECT_EQ(downloads[i].Brightness, c.toneWords ? 20 : 0);
            EXPECT_EQ(downloads[i].Contrast, c.toneWords ? -15 : 0);
        }
        std::vector<FeederTraceEntry> parameters = EntriesOf(SC_SET_PARAMS);
        ASSERT_EQ(parameters.size(), 1u);
        EXPECT_EQ(parameters[0].Brightness, c.toneWords ? 20 : 0);
        EXPECT_EQ(parameters[0].Contrast, c.toneWords ? -15 : 0);

        // The shaped tables, as the device read them at the start of the scan.
        ASSERT_EQ(state.Setup.TableCount, 3u);
        for (uint32_t table = 0; table < 3; table++)
            for (const Probe &p : c.probes)
                EXPECT_EQ(TableEntry(state, table, p.index), p.value) << "table " << table << " entry " << p.index;

        DWORD type = 0, stored = 0;
        ASSERT_TRUE(StoredInsideGamma(&type, &stored)) << "the value read is left in the registry";
        EXPECT_EQ(type, (DWORD)REG_DWORD);
        EXPECT_EQ(stored, c.insideGamma >= 0 ? (DWORD)c.insideGamma : 100u);
    }
}

TEST_F(DeviceTablesTest, TablePointerByTypeAndGreyTable)
{
    struct Case {
        uint16_t type;
        uint16_t channels, greyTable;
        int pointsAt; // index of the downloaded table, -1: null
        uint16_t tableUse;
        uint32_t tablesRead;
    } cases[] = {
        {SCAN_TYPE_GREY, 3, 3, 0, 0, 1},
        {SCAN_TYPE_GREY, 3, 4, 1, 0, 1},
        {SCAN_TYPE_GREY, 3, 5, 2, 0, 1},
        {SCAN_TYPE_GREY, 3, 6, -1, 0, 0},
        {SCAN_TYPE_GREY, 3, 2, -1, 0, 0},
        {SCAN_TYPE_LINE_ART, 3, 4, -1, 2, 0},
        {SCAN_TYPE_COLOUR, 3, 4, 0, 1, 3},
        {SCAN_TYPE_GREY, 1, 9, 0, 0, 1},
        {SCAN_TYPE_COLOUR, 1, 4, 0, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << ", " << c.channels << " tables, grey table "
                                        << c.greyTable);
        FeederTableShape shape = DEFAULT_SHAPE;
        shape.Channels = c.channels;
        shape.GreyTable = c.greyTable;
        ScanJobSettings settings = scannertest::MakeSettings(c.type, 60, 90, 100);
        settings.DeviceOption = 0;
        const FeederState &state = Scan(settings, shape);

        std::vector<FeederTraceEntry> downloads = EntriesOf(SC_SET_TABLE);
        ASSERT_EQ(downloads.size(), c.channels == 3 ? 3u : 1u) << "tables are sent for every type";
        std::vector<FeederTraceEntry> parameters = EntriesOf(SC_SET_PARAMS);
        ASSERT_EQ(parameters.size(), 1u);
        const FeederTraceEntry &p = parameters[0];
        EXPECT_EQ(p.TableAddress, c.pointsAt < 0 ? 0u : downloads[c.pointsAt].TableAddress);
        EXPECT_EQ(p.TableUse, c.tableUse);
        EXPECT_EQ(p.ParameterBytes, 28u);
        EXPECT_EQ(p.Constant32, 2);
        EXPECT_EQ(p.ImageType, c.type);
        EXPECT_EQ(p.PaperArea[2], 60);
        EXPECT_EQ(p.PaperArea[3], 90);
        EXPECT_EQ(p.XResolution, 100);
        EXPECT_EQ(p.YResolution, 100);
        EXPECT_EQ(state.Setup.TableCount, c.tablesRead);
    }
}

TEST_F(DeviceTablesTest, NoTableFormatMeansNoTables)
{
    ASSERT_TRUE(feeder::Reset());
    ASSERT_TRUE(feeder::SetSyntheticPage(true));
    ASSERT_TRUE(feeder::InjectFault(SC_GET_TABLE_FORMAT, 1, FEED_STATUS_BAD_REQUEST));
    ASSERT_TRUE(feeder::ClearTrace());
    ASSERT_EQ(AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_COLOUR, 60, 60, 100), page_.c_str()), 1);
    EXPECT_EQ(TracedCommands(), "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE SC_ACQUIRE SC_GET_GEOMETRY "
                                "SC_GET_TABLE_FORMAT SC_SET_PARAMS SC_START SC_PREPARE_READ SC_READ "
                                "SC_STOP SC_END_PAGE SC_RELEASE");
    std::vector<FeederTraceEntry> parameters = EntriesOf(SC_SET_PARAMS);
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(parameters[0].TableAddress, 0u);
}

} // namespace
