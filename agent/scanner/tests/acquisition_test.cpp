// One page from the virtual scanner into a bitmap file: the command
// sequence, the file byte for byte against the device's own rendering and as
// ImageMagick decodes it, short pages and failures.
#include "scanner_test_support.h"

#include "bitmap_layout.h"
#include "shared.h"
#include "test_support.h"

using namespace bitmap_layout;
using scannertest::Repeat;
using scannertest::TracedCommands;

namespace {

const std::string PAPER_CHECK = "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE";
const std::string TABLES = "SC_ACQUIRE SC_GET_GEOMETRY SC_GET_TABLE_FORMAT " + Repeat("SC_SET_TABLE", 3);
const std::string SET_UP = PAPER_CHECK + " " + TABLES + " SC_SET_PARAMS SC_START SC_PREPARE_READ";
const std::string FINISH = "SC_STOP SC_END_PAGE SC_RELEASE";

// 2 by 1.5 inches at 100 dpi: 200 pixels by 150 lines.
uint32_t LineBytesOf(uint16_t type)
{
    return type == SCAN_TYPE_COLOUR ? 600 : type == SCAN_TYPE_GREY ? 200 : 28;
}

// Delivered rows as the 8-bit RGB a picture reader shows: line art bit 1 white.
std::vector<uint8_t> RowsAsRgb(const feeder::RenderedPage &page)
{
    std::vector<uint8_t> rgb;
    for (uint32_t line = 0; line < page.Lines; line++)
        for (uint32_t x = 0; x < page.PixelsPerLine; x++) {
            const uint8_t *row = &page.Rows[(size_t)line * page.LineBytes];
            for (int channel = 2; channel >= 0; channel--)
                rgb.push_back(page.ImageType == SCAN_TYPE_COLOUR ? row[3 * x + channel]
                              : page.ImageType == SCAN_TYPE_GREY ? row[x]
                                                                 : (row[x / 8] >> (7 - x % 8) & 1) * 255);
        }
    return rgb;
}

class AcquisitionTest : public scannertest::DeviceTest {};

TEST_F(AcquisitionTest, EachTypeMatchesTheDeviceByteForByte)
{
    struct Case {
        uint16_t type;
        uint32_t bits, headerSize, colours;
        int16_t brightness, contrast;
        uint16_t gamma;
    } cases[] = {
        {SCAN_TYPE_COLOUR, 24, 54, 0, 25, -30, 160},
        {SCAN_TYPE_GREY, 8, 1078, 256, -10, 40, 70},
        {SCAN_TYPE_LINE_ART, 1, 62, 0, 0, 0, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type);
        const uint32_t lineBytes = LineBytesOf(c.type);
        ASSERT_TRUE(feeder::QueueSheet(sheet_) && feeder::SetTransferSize(lineBytes * 40) && feeder::ClearTrace());
        ScanJobSettings settings = scannertest::MakeSettings(c.type, 600, 450, 100);
        settings.Brightness = c.brightness, settings.Contrast = c.contrast, settings.Gamma = c.gamma;
        ASSERT_EQ(AcquireToBitmap(settings, page_.c_str()), 1);
        // Blocks of 40, 40 and 40 lines, then the last 30 with the end-of-page status.
        EXPECT_EQ(TracedCommands(), SET_UP + " " + Repeat("SC_READ", 4) + " " + FINISH);

        scannertest::AcquiredFile file;
        ASSERT_TRUE(scannertest::ReadAcquired(page_, &file));
        EXPECT_EQ(file.Field(OFFSET_PIXELS), c.headerSize);
        EXPECT_EQ(file.Field(OFFSET_FILE_SIZE), file.bytes.size());
        EXPECT_EQ(file.bytes.size(), c.headerSize + lineBytes * 150);
        EXPECT_EQ(file.Field(OFFSET_WIDTH), 200u);
        EXPECT_EQ(file.Field(OFFSET_HEIGHT), 150u);
        EXPECT_EQ(file.Field(OFFSET_BIT_COUNT) & 0xFFFF, c.bits);
        EXPECT_EQ(file.Field(OFFSET_X_PELS_PER_METRE), 3937u);
        EXPECT_EQ(file.Field(OFFSET_COLOURS_USED), c.colours);
        feeder::RenderedPage rendered;
        ASSERT_TRUE(feeder::RenderCurrentPage(&rendered));
        ASSERT_EQ(rendered.Lines * rendered.LineBytes, 150 * lineBytes);
        EXPECT_TRUE(file.RowsTopFirst(lineBytes) == rendered.Rows) << "rows differ from the device's";

        std::string raw = folder_ + "\\page.rgb", output, decoded;
        std::string script = "identify -format '%w %h %z' '" + testsupport::UnixPath(page_) + "' && convert '" +
                             testsupport::UnixPath(page_) + "' -depth 8 'rgb:" + testsupport::UnixPath(raw) + "'";
        ASSERT_EQ(testsupport::RunHostShell(script, &output), 0) << output;
        EXPECT_EQ(output.substr(0, 8), "200 150 ") << output;
        ASSERT_TRUE(testsupport::ReadWholeFile(raw, &decoded));
        EXPECT_TRUE(std::vector<uint8_t>(decoded.begin(), decoded.end()) == RowsAsRgb(rendered))
            << "ImageMagick decodes other pixels than the device delivered";
    }
}

TEST_F(AcquisitionTest, ShortPagesAndFailures)
{
    struct Case {
        const char *name;
        uint16_t width300;
        uint32_t blockBytes;
        void (*fault)();
        int result;
        std::string commands;
        uint32_t width, lines; // of the file, when one is left
    } cases[] = {
        {"whole number of blocks", 600, 200 * 50, nullptr, 1, SET_UP + " " + Repeat("SC_READ", 3) + " " + FINISH, 200, 150},
        {"early end", 600, 200 * 40, [] { feeder::SetEndPageAfter(55); }, 1,
         SET_UP + " SC_READ SC_READ " + FINISH, 200, 55},
        {"read error mid-page", 600, 200 * 40, [] { feeder::SetFailReadAfter(80, FEED_STATUS_BAD_SHEET); }, 1,
         SET_UP + " " + Repeat("SC_READ", 3) + " " + FINISH, 200, 80},
        // 10 inches asked for on an 8.5-inch glass: the header follows the device's answer.
        {"area clipped by the device", 3000, 852 * 40, nullptr, 1, SET_UP + " " + Repeat("SC_READ", 4) + " " + FINISH,
         850, 150},
        {"block smaller than a line", 600, 199, nullptr, 0, SET_UP + " " + FINISH, 0, 0},
        // No line length comes back, so the page cannot match its header.
        {"geometry refused", 600, 200 * 40, [] { feeder::InjectFault(SC_GET_GEOMETRY, 1, -6); }, 0,
         PAPER_CHECK + " SC_ACQUIRE SC_GET_GEOMETRY SC_RELEASE", 0, 0},
        {"device taken elsewhere", 600, 200 * 40, [] { feeder::SetRefuseAcquire(true); }, 0, "SC_ACQUIRE", 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(page_.c_str());
        ASSERT_TRUE(feeder::Reset() && feeder::QueueSheet(sheet_) && feeder::SetTransferSize(c.blockBytes));
        if (c.fault)
            c.fault();
        feeder::ClearTrace();
        ScanJobSettings settings = scannertest::MakeSettings(SCAN_TYPE_GREY, c.width300, 450, 100);
        EXPECT_EQ(AcquireToBitmap(settings, page_.c_str()), c.result);
        EXPECT_EQ(TracedCommands(), c.commands);
        scannertest::AcquiredFile file;
        ASSERT_EQ(scannertest::ReadAcquired(page_, &file), c.result == 1) << "a failed page leaves no file";
        if (!c.result)
            continue;
        uint32_t lineBytes = uint32_t(RowBytes(c.width, 8));
        EXPECT_EQ(file.Field(OFFSET_WIDTH), c.width) << "the width stays as announced";
        EXPECT_EQ(file.Field(OFFSET_HEIGHT), c.lines);
        EXPECT_EQ(file.Field(OFFSET_IMAGE_SIZE), lineBytes * c.lines);
        EXPECT_EQ(file.bytes.size(), 1078 + lineBytes * c.lines);
        feeder::RenderedPage rendered;
        ASSERT_TRUE(feeder::RenderCurrentPage(&rendered));
        rendered.Rows.resize((size_t)lineBytes * c.lines);
        EXPECT_TRUE(file.RowsTopFirst(lineBytes) == rendered.Rows) << "the lines received, in order";
    }
    // A file that cannot be created: the tables and the device are given back.
    ASSERT_TRUE(feeder::Reset() && feeder::QueueSheet(sheet_));
    std::string unreachable = folder_ + "\\missing\\page.bmp";
    EXPECT_EQ(AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_GREY, 600, 450, 100), unreachable.c_str()), 0);
    EXPECT_EQ(TracedCommands(), PAPER_CHECK + " " + TABLES + " SC_SET_PARAMS SC_RELEASE");
}

} // namespace
