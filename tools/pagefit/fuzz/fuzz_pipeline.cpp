// Fuzzes the whole tool on small pages built from the input (page_input.h):
// the tool may refuse a page but never crash, what it writes must parse in
// the page's own depth and fit inside it, and its log is one line.
#include "bitmap.h"
#include "page_input.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pagefit::Options options;
    std::vector<uint8_t> page = pagefit_fuzz::PageFromInput(data, size, &options);
    if (page.empty())
        return 0;
    pagefit::Result r = pagefit::RunPagefit(page.data(), page.size(), options);
    if (r.log.empty() || r.log.find('\n') != std::string::npos)
        __builtin_trap();
    pagefit::Bitmap in;
    const bool valid = pagefit::ParseBitmap(page.data(), page.size(), &in, nullptr);
    if (valid != (r.outcome != pagefit::Outcome::Invalid))
        __builtin_trap();
    if (r.outcome == pagefit::Outcome::Rewritten) {
        pagefit::Bitmap out;
        if (!pagefit::ParseBitmap(r.output.data(), r.output.size(), &out, nullptr) || out.bits != in.bits)
            __builtin_trap();
        // A crop stays inside the page; straightening alone keeps its size.
        if (!options.deskew && (out.width > in.width || out.height > in.height))
            __builtin_trap();
        if (!options.crop && (out.width != in.width || out.height != in.height))
            __builtin_trap();
    }
    return 0;
}
