// How the virtual scanner hands a page out in transfer blocks: the preferred
// block size, and how many lines each SC_READ brings with which status. A
// reader that trusts these rules never loops on an empty success and never
// misses the page's last lines. Portable.
#pragma once

#include <cstdint>

namespace feeder {

// The device's own block when none is configured.
const uint32_t DEFAULT_TRANSFER_BYTES = 64 * 1024;

// Bytes SC_PREPARE_READ answers: a configured size as it is; otherwise as
// many whole lines as fit in DEFAULT_TRANSFER_BYTES, and at least one line.
uint32_t PreferredTransferBytes(uint32_t configured, uint32_t lineBytes);

// Where a page stands, and the page faults that shorten it.
struct PageProgress {
    uint32_t LineBytes = 0;
    uint32_t Lines = 0; // announced by SC_GET_GEOMETRY
    uint32_t Delivered = 0;
    bool EndEarly = false; // the page ends once EndAfter lines arrived
    uint32_t EndAfter = 0;
    bool FailEarly = false; // reads fail once FailAfter lines arrived
    uint32_t FailAfter = 0;
    int16_t FailStatus = 0;
};

struct ReadOutcome {
    int16_t Status;
    uint32_t Lines; // lines delivered by this read
};

// One SC_READ of `transferSize` bytes:
// - a block smaller than one line is refused (a success with no line would
//   never end a reader's loop);
// - a read fault that has come due fails with its status and no line;
// - otherwise as many whole lines as fit, up to the page's end; status 0,
//   except that the read reaching the end brings status 4 when it is shorter
//   than a block or the page ends early. A page that is a whole number of
//   blocks ends on a full block with status 0; a read after the end answers
//   status 4 with no line.
ReadOutcome PlanRead(const PageProgress &page, uint32_t transferSize);

} // namespace feeder
