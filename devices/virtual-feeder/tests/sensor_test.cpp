// The device's sensor and roller as a calibration tool meets them: the
// reference targets, the correction it accepts, and pages that the control
// API renders exactly as the driver delivered them.
#include <gtest/gtest.h>

#include <vector>

#include "device_test_support.h"
#include "page_render.h"
#include "test_support.h"

using namespace feedtest;

namespace {

class SensorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(driver.Loaded());
        ASSERT_EQ(driver.Send(SC_OPEN), 0);
        ASSERT_EQ(driver.Send(SC_ACQUIRE), 0);
    }

    int16_t SetReference(uint16_t target)
    {
        ReferenceRequest request = {target, 0};
        return driver.Send(SC_SET_REFERENCE, &request);
    }

    bool CorrectionValid()
    {
        FeederState *state = new FeederState;
        const bool valid = feeder::Snapshot(state) && state->Sensor.CorrectionValid;
        delete state;
        return valid;
    }

    ScratchDevice device;
    Driver driver;
};

TEST_F(SensorTest, ShadedCorrectedAndStreakedPagesRenderAsDelivered)
{
    ASSERT_TRUE(feeder::SetSensor(FEEDER_SENSOR_SHADED, 0x1234));
    ASSERT_TRUE(feeder::SetRollerDirtAfter(1));
    std::vector<ShadingCorrection> entries(FEEDER_SENSOR_ELEMENTS * FEEDER_SENSOR_CHANNELS);
    for (size_t i = 0; i < entries.size(); ++i)
        entries[i] = ShadingCorrection{uint16_t(64 + i % 200), uint16_t(16000 + i % 900)};
    CorrectionDownload download = {uint16_t(FEEDER_SENSOR_ELEMENTS), uint16_t(FEEDER_SENSOR_CHANNELS), entries.data()};
    ASSERT_EQ(driver.Send(SC_SET_CORRECTION, &download), 0);
    const std::string picture = device.folder + "\\sheet.bmp";
    ASSERT_TRUE(WriteTestBitmap(picture, 300, 90));
    std::vector<uint8_t> pages[2];
    for (std::vector<uint8_t> &rows : pages) {
        ASSERT_TRUE(feeder::QueueSheet(picture));
        // Across the whole glass, so the streak is on the page wherever it lies.
        ScanParameters parameters = MakeParameters(feeder::DEFAULT_MAX_WIDTH300, 150, 100, 3, nullptr);
        ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
        std::vector<ReadRecord> reads;
        driver.Send(SC_TAKE_PAPER);
        ReadPage(driver, 2552, 50, &rows, &reads);
        feeder::RenderedPage page;
        ASSERT_TRUE(feeder::RenderCurrentPage(&page));
        EXPECT_TRUE(rows == page.Rows) << "page " << (&rows - pages);
    }
    EXPECT_FALSE(pages[0] == pages[1]) << "the second page shows the dirty roller's streak";
}

TEST_F(SensorTest, CalibrationCommandsRefuseWhatTheyCannotUse)
{
    std::vector<ShadingCorrection> entries(FEEDER_SENSOR_ELEMENTS * FEEDER_SENSOR_CHANNELS,
                                           ShadingCorrection{0, 16384});
    struct Case {
        const char *what;
        uint16_t elements;
        uint16_t channels;
        size_t zeroGainAt; // entries.size(): none
    } cases[] = {
        {"another sensor's width", uint16_t(FEEDER_SENSOR_ELEMENTS - 1), 3, entries.size()},
        {"one channel", uint16_t(FEEDER_SENSOR_ELEMENTS), 1, entries.size()},
        {"a zero gain in the last entry", uint16_t(FEEDER_SENSOR_ELEMENTS), 3, entries.size() - 1},
    };
    for (const Case &c : cases) {
        std::vector<ShadingCorrection> table = entries;
        if (c.zeroGainAt < table.size())
            table[c.zeroGainAt].Gain = 0;
        CorrectionDownload download = {c.elements, c.channels, table.data()};
        EXPECT_EQ(driver.Send(SC_SET_CORRECTION, &download), FEED_STATUS_BAD_REQUEST) << c.what;
        EXPECT_FALSE(CorrectionValid()) << c.what;
    }
    EXPECT_EQ(SetReference(3), FEED_STATUS_BAD_REQUEST);
}

// A calibration tool that dies between selecting a reference and giving the
// device back must not leave the agent scanning the white strip.
TEST_F(SensorTest, ReferenceScansNeedNoPaperAndEndWithTheRelease)
{
    ScanParameters parameters = MakeParameters(600, 60, 300, 3, nullptr);
    ASSERT_EQ(SetReference(REFERENCE_WHITE), 0);
    ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
    EXPECT_EQ(driver.Send(SC_START), 0) << "the strip lies inside the transport";
    std::vector<uint8_t> rows;
    std::vector<ReadRecord> reads;
    ReadPage(driver, 1800, 60, &rows, &reads);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], 255) << "an ideal sensor reads the strip as full white";
    ASSERT_EQ(driver.Send(SC_RELEASE), 0);
    ASSERT_EQ(driver.Send(SC_ACQUIRE), 0);
    ASSERT_EQ(driver.Send(SC_SET_PARAMS, &parameters), 0);
    EXPECT_EQ(driver.Send(SC_START), FEED_STATUS_NO_PAPER) << "back to sheets, and none waits";
}

} // namespace
