// Transfer blocks and end-of-page statuses of the virtual scanner.
#include "transfer_plan.h"

#include <algorithm>

#include "feeder_state.h"

namespace feeder {

uint32_t PreferredTransferBytes(uint32_t configured, uint32_t lineBytes)
{
    if (configured != 0)
        return configured;
    if (lineBytes == 0)
        return DEFAULT_TRANSFER_BYTES;
    const uint32_t lines = std::max<uint32_t>(1, DEFAULT_TRANSFER_BYTES / lineBytes);
    return lines * lineBytes;
}

ReadOutcome PlanRead(const PageProgress &page, uint32_t transferSize)
{
    if (page.LineBytes == 0 || transferSize < page.LineBytes)
        return {FEED_STATUS_BAD_REQUEST, 0};
    if (page.FailEarly && page.Delivered >= page.FailAfter)
        return {page.FailStatus, 0};
    const bool early = page.EndEarly && page.EndAfter < page.Lines;
    const uint32_t end = early ? page.EndAfter : page.Lines;
    if (page.Delivered >= end)
        return {FEED_STATUS_END_OF_PAGE, 0};
    const uint32_t block = transferSize / page.LineBytes;
    const uint32_t lines = std::min(block, end - page.Delivered);
    const bool reachesEnd = page.Delivered + lines == end;
    if (reachesEnd && (early || lines < block))
        return {FEED_STATUS_END_OF_PAGE, lines};
    return {FEED_STATUS_OK, lines};
}

} // namespace feeder
