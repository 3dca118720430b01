// Transfer blocks and the end-of-page status, read the way the agent reads.
#include <gtest/gtest.h>

#include <vector>

#include "feeder_state.h"
#include "transfer_plan.h"

using namespace feeder;

namespace {

struct Read {
    int16_t status;
    uint32_t lines;
    bool operator==(const Read &other) const { return status == other.status && lines == other.lines; }
};

std::ostream &operator<<(std::ostream &out, const Read &read)
{
    return out << "(" << read.status << ", " << read.lines << ")";
}

// Reads until a non-zero status or the announced lines arrived, then once
// more to see what a read after the end answers.
std::vector<Read> ReadWholePage(PageProgress page, uint32_t transferSize, Read *after)
{
    std::vector<Read> reads;
    for (int guard = 0; guard < 1000; ++guard) {
        const ReadOutcome outcome = PlanRead(page, transferSize);
        reads.push_back({outcome.Status, outcome.Lines});
        page.Delivered += outcome.Lines;
        if (outcome.Status != FEED_STATUS_OK || page.Delivered >= page.Lines)
            break;
    }
    const ReadOutcome last = PlanRead(page, transferSize);
    *after = {last.Status, last.Lines};
    return reads;
}

PageProgress Page(uint32_t lines)
{
    PageProgress page;
    page.LineBytes = 100;
    page.Lines = lines;
    return page;
}

} // namespace

TEST(TransferPlan, BlocksAndTheLastPart)
{
    const int16_t OK = FEED_STATUS_OK, END = FEED_STATUS_END_OF_PAGE;
    struct Case {
        const char *what;
        uint32_t lines, transferSize;
        std::vector<Read> reads;
    } cases[] = {
        {"short last block ends with status 4", 10, 300, {{OK, 3}, {OK, 3}, {OK, 3}, {END, 1}}},
        {"whole number of blocks needs no status 4", 9, 300, {{OK, 3}, {OK, 3}, {OK, 3}}},
        {"a partial line in the block is not used", 10, 399, {{OK, 3}, {OK, 3}, {OK, 3}, {END, 1}}},
        {"page smaller than a block", 2, 300, {{END, 2}}},
        {"page of exactly one block", 3, 300, {{OK, 3}}},
        {"one line per block", 2, 100, {{OK, 1}, {OK, 1}}},
    };
    for (const Case &c : cases) {
        Read after;
        EXPECT_EQ(ReadWholePage(Page(c.lines), c.transferSize, &after), c.reads) << c.what;
        EXPECT_EQ(after, (Read{END, 0})) << c.what << ": a read after the end";
    }
}

TEST(TransferPlan, PageFaults)
{
    const int16_t OK = FEED_STATUS_OK, END = FEED_STATUS_END_OF_PAGE;
    struct Case {
        const char *what;
        bool endEarly;
        uint32_t endAfter;
        bool failEarly;
        uint32_t failAfter;
        std::vector<Read> reads;
    } cases[] = {
        {"ends inside a block", true, 5, false, 0, {{OK, 3}, {END, 2}}},
        {"ends on a block boundary, still with status 4", true, 6, false, 0, {{OK, 3}, {END, 3}}},
        {"ends before the first line", true, 0, false, 0, {{END, 0}}},
        {"an end at the page's own length is no early end", true, 9, false, 0, {{OK, 3}, {OK, 3}, {OK, 3}}},
        {"read fails once the lines arrived", false, 0, true, 4, {{OK, 3}, {OK, 3}, {-12, 0}}},
        {"read fails at once", false, 0, true, 0, {{-12, 0}}},
    };
    for (const Case &c : cases) {
        PageProgress page = Page(9);
        page.EndEarly = c.endEarly;
        page.EndAfter = c.endAfter;
        page.FailEarly = c.failEarly;
        page.FailAfter = c.failAfter;
        page.FailStatus = -12;
        Read after;
        EXPECT_EQ(ReadWholePage(page, 300, &after), c.reads) << c.what;
    }
}

TEST(TransferPlan, PreferredSize)
{
    struct Case {
        uint32_t configured, lineBytes, expected;
    } cases[] = {
        {1000, 100, 1000},     // configured: as it is
        {50, 100, 50},         // even smaller than a line
        {0, 1000, 65000},      // whole lines within 64 KiB
        {0, 65536, 65536},
        {0, 100000, 100000},   // at least one line
        {0, 0, DEFAULT_TRANSFER_BYTES},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PreferredTransferBytes(c.configured, c.lineBytes), c.expected)
            << c.configured << " configured, lines of " << c.lineBytes;
}
