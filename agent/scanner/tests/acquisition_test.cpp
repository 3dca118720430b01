// One page from the virtual scanner into a bitmap file: the command
// sequence, the file byte for byte against the device's own rendering (and
// as an independent reader decodes it), short pages, failures and cancelling.
#include "scanner_test_support.h"

#include <memory>

#include "shared.h"
#include "test_support.h"

using scannertest::AcquiredFile;
using scannertest::Repeat;
using scannertest::TracedCommands;

namespace {

const std::string PAPER_CHECK = "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE";
const std::string SET_UP = "SC_ACQUIRE SC_GET_GEOMETRY SC_GET_TABLE_FORMAT " + Repeat("SC_SET_TABLE", 3) +
                           " SC_SET_PARAMS SC_START SC_PREPARE_READ";
const std::string FINISH = "SC_STOP SC_END_PAGE SC_RELEASE";

// A 2 by 1.5 inch area at 100 dpi: 200 pixels by 150 lines.
const uint16_t AREA_WIDTH = 600, AREA_HEIGHT = 450, DPI = 100;
const uint32_t PIXELS = 200, LINES = 150;

uint32_t LineBytesOf(uint16_t type)
{
    return type == SCAN_TYPE_COLOUR ? 600 : type == SCAN_TYPE_GREY ? 200 : 28;
}

class AcquisitionTest : public scannertest::DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        sheet_ = folder_ + "\\sheet.bmp";
        page_ = folder_ + "\\page.bmp";
        ASSERT_TRUE(scannertest::WriteSheetPicture(sheet_, 120, 90));
        // The test program has no dialog template: a missing sheet would not stop the scan.
        ResourceLibrary = GetModuleHandleA(nullptr);
    }
    // Queues the sheet, sets `lines` per block, clears the trace.
    void Arrange(uint16_t type, uint32_t blockLines)
    {
        ASSERT_TRUE(feeder::QueueSheet(sheet_));
        ASSERT_TRUE(feeder::SetTransferSize(LineBytesOf(type) * blockLines));
        ASSERT_TRUE(feeder::ClearTrace());
    }
    std::string sheet_, page_;
};

TEST_F(AcquisitionTest, CompletedPageOfEachTypeMatchesTheDevice)
{
    struct Case {
        uint16_t type;
        uint32_t bits, headerSize, coloursUsed;
        int16_t brightness, contrast;
        uint16_t gamma;
    } cases[] = {
        {SCAN_TYPE_COLOUR, 24, 54, 0, 0, 0, 100},
        {SCAN_TYPE_GREY, 8, 1078, 256, 0, 0, 100},
        {SCAN_TYPE_LINE_ART, 1, 62, 0, 0, 0, 100},
        {SCAN_TYPE_COLOUR, 24, 54, 0, 25, -30, 160},
        {SCAN_TYPE_GREY, 8, 1078, 256, -10, 40, 70},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << ", gamma " << c.gamma);
        const uint32_t lineBytes = LineBytesOf(c.type);
        Arrange(c.type, 40);
        ScanJobSettings settings = scannertest::MakeSettings(c.type, AREA_WIDTH, AREA_HEIGHT, DPI);
        settings.Brightness = c.brightness;
        settings.Contrast = c.contrast;
        settings.Gamma = c.gamma;
        ASSERT_EQ(AcquireToBitmap(settings, page_.c_str()), 1);
        // 40 + 40 + 40 lines, then the last 30 with the end-of-page status.
        EXPECT_EQ(TracedCommands(), PAPER_CHECK + " " + SET_UP + " " + Repeat("SC_READ", 4) + " " + FINISH);

        AcquiredFile file;
        ASSERT_TRUE(scannertest::ReadAcquired(page_, &file));
        EXPECT_EQ(file.headerSize, c.headerSize);
        EXPECT_EQ(file.bits, c.bits);
        EXPECT_EQ(file.width, PIXELS);
        EXPECT_EQ(file.height, LINES);
        EXPECT_EQ(file.imageSize, lineBytes * LINES);
        EXPECT_EQ(file.fileSize, c.headerSize + lineBytes * LINES);
        EXPECT_EQ(file.bytes.size(), file.fileSize);
        EXPECT_EQ(file.xPerMetre, 3937u);
        EXPECT_EQ(file.coloursUsed, c.coloursUsed);

        feeder::RenderedPage rendered;
        ASSERT_TRUE(feeder::RenderCurrentPage(&rendered));
        ASSERT_EQ(rendered.LineBytes, lineBytes);
        ASSERT_EQ(rendered.Lines, LINES);
        EXPECT_TRUE(scannertest::RowsTopFirst(file, lineBytes) == rendered.Rows) << "rows differ from the device's";

        // An independent reader decodes the same picture.
        std::string raw = folder_ + "\\page.rgb", output;
        std::string script = "identify -format '%w %h %z\\n' '" + testsupport::UnixPath(page_) + "' && convert '" +
                             testsupport::UnixPath(page_) + "' -depth 8 'rgb:" + testsupport::UnixPath(raw) + "'";
        ASSERT_EQ(testsupport::RunHostShell(script, &output), 0) << output;
        EXPECT_EQ(output.substr(0, 8), "200 150 ") << output;
        std::string decoded;
        ASSERT_TRUE(testsupport::ReadWholeFile(raw, &decoded));
        std::vector<uint8_t> expected = scannertest::RowsAsRgb(rendered);
        EXPECT_TRUE(std::vector<uint8_t>(decoded.begin(), decoded.end()) == expected)
            << "ImageMagick decodes " << decoded.size() << " bytes, unlike the device's " << expected.size();
    }
}

TEST_F(AcquisitionTest, ShortAndExactPages)
{
    struct Case {
        const char *name;
        uint32_t blockLines;
        void (*fault)();
        uint32_t linesKept;
        int reads;
        int16_t lastReadStatus;
    } cases[] = {
        {"a whole number of blocks", 50, nullptr, LINES, 3, 0},
        {"one block", LINES, nullptr, LINES, 1, 0},
        {"early end", 40, [] { feeder::SetEndPageAfter(55); }, 55, 2, FEED_STATUS_END_OF_PAGE},
        {"read error mid-page", 40, [] { feeder::SetFailReadAfter(80, FEED_STATUS_BAD_SHEET); }, 80, 3,
         FEED_STATUS_BAD_SHEET},
        {"read error at once", 40, [] { feeder::SetFailReadAfter(0, FEED_STATUS_BAD_SHEET); }, 0, 1,
         FEED_STATUS_BAD_SHEET},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(feeder::Reset());
        Arrange(SCAN_TYPE_GREY, c.blockLines);
        if (c.fault)
            c.fault();
        ASSERT_EQ(AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_GREY, AREA_WIDTH, AREA_HEIGHT, DPI),
                                  page_.c_str()),
                  1);
        EXPECT_EQ(TracedCommands(), PAPER_CHECK + " " + SET_UP + " " + Repeat("SC_READ", c.reads) + " " + FINISH);
        std::vector<FeederTraceEntry> entries = scannertest::TracedEntries();
        ASSERT_GE(entries.size(), 4u);
        EXPECT_EQ(entries[entries.size() - 4].Status, c.lastReadStatus) << "the last read's status";

        AcquiredFile file;
        ASSERT_TRUE(scannertest::ReadAcquired(page_, &file));
        EXPECT_EQ(file.height, c.linesKept);
        EXPECT_EQ(file.width, PIXELS) << "the width stays as announced";
        EXPECT_EQ(file.imageSize, 200 * c.linesKept);
        EXPECT_EQ(file.fileSize, 1078 + 200 * c.linesKept);
        EXPECT_EQ(file.bytes.size(), file.fileSize);
        feeder::RenderedPage rendered;
        ASSERT_TRUE(feeder::RenderCurrentPage(&rendered));
        rendered.Rows.resize((size_t)200 * c.linesKept);
        EXPECT_TRUE(scannertest::RowsTopFirst(file, 200) == rendered.Rows) << "the lines received, in order";
    }
}

TEST_F(AcquisitionTest, DeviceAdjustedAreaDecidesTheExtent)
{
    // 10 inches asked for, the glass is 8.5 inches wide: the device answers
    // with the clipped area and the header follows it.
    Arrange(SCAN_TYPE_GREY, 40);
    ScanJobSettings settings = scannertest::MakeSettings(SCAN_TYPE_GREY, 3000, 150, DPI);
    ASSERT_EQ(AcquireToBitmap(settings, page_.c_str()), 1);
    AcquiredFile file;
    ASSERT_TRUE(scannertest::ReadAcquired(page_, &file));
    EXPECT_EQ(file.width, 850u);
    EXPECT_EQ(file.height, 50u);
    EXPECT_EQ(file.imageSize, 852u * 50);
}

TEST_F(AcquisitionTest, FailuresBeforeTheTransfer)
{
    struct Case {
        const char *name;
        void (*arrange)();
        bool missingFolder;
        std::string commands;
    } cases[] = {
        // A block smaller than a line: nothing can be read, the page is given up.
        {"block smaller than a line", [] { feeder::SetTransferSize(199); }, false,
         PAPER_CHECK + " " + SET_UP + " " + FINISH},
        {"file cannot be created", nullptr, true,
         PAPER_CHECK + " SC_ACQUIRE SC_GET_GEOMETRY SC_GET_TABLE_FORMAT " + Repeat("SC_SET_TABLE", 3) +
             " SC_SET_PARAMS SC_RELEASE"},
        {"device taken by another program", [] { feeder::SetRefuseAcquire(true); }, false, "SC_ACQUIRE"},
        // No geometry means no line size: the page is given up once the
        // transfer size shows that nothing can be read.
        {"geometry refused",
         [] { feeder::InjectFault(SC_GET_GEOMETRY, 1, FEED_STATUS_BAD_REQUEST); }, false,
         PAPER_CHECK + " " + SET_UP + " " + FINISH},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(feeder::Reset());
        Arrange(SCAN_TYPE_GREY, 40);
        if (c.arrange)
            c.arrange();
        std::string path = c.missingFolder ? folder_ + "\\missing\\page.bmp" : page_;
        EXPECT_EQ(AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_GREY, AREA_WIDTH, AREA_HEIGHT, DPI),
                                  path.c_str()),
                  0);
        EXPECT_EQ(TracedCommands(), c.commands);
        EXPECT_FALSE(testsupport::FileExists(path));
    }
}

} // namespace
