// Fuzzes the whole tool on small pages: every option, any bytes. The tool
// may refuse a page but never crash, and what it writes must parse.
#include "pagefit.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pagefit::Bitmap b;
    if (!pagefit::ParseBitmap(data, size, &b, nullptr))
        return 0;
    // Small pages only, so each run stays fast.
    if (uint64_t(b.width) * b.height > 300 * 300)
        return 0;
    for (int mode = 1; mode <= 3; mode++) {
        pagefit::Options options;
        options.crop = mode & 1;
        options.deskew = mode & 2;
        pagefit::Result r = pagefit::RunPagefit(data, size, options);
        if (r.outcome == pagefit::Outcome::Rewritten) {
            pagefit::Bitmap out;
            if (!pagefit::ParseBitmap(r.output.data(), r.output.size(), &out, nullptr) || out.bits != b.bits)
                __builtin_trap();
        }
        if (r.log.empty() || r.log.find('\n') != std::string::npos)
            __builtin_trap();
    }
    return 0;
}
