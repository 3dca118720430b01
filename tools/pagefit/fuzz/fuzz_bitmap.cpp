// Fuzzes bitmap parsing and the writer: whatever the bytes, parsing must not
// read outside them, and a parsed file must copy and rewrite cleanly.
#include "bitmap.h"
#include "render.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pagefit::Bitmap b;
    std::string why;
    if (!pagefit::ParseBitmap(data, size, &b, &why))
        return 0;
    if (uint64_t(b.width) * b.height > 1u << 20)
        return 0;
    std::vector<uint8_t> copy = pagefit::CopyBox(b, 0, 0, b.width, b.height);
    pagefit::Bitmap again;
    if (!pagefit::ParseBitmap(copy.data(), copy.size(), &again, &why))
        __builtin_trap();
    if (again.width != b.width || again.height != b.height || again.bits != b.bits)
        __builtin_trap();
    return 0;
}
