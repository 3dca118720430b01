// Writes the tone fuzzer's seed corpus: grey and colour bitmaps of a few
// shapes, each as is and with a damaged header, with varied tone settings.
#include <cstdio>
#include <string>

#include "tone_test_bitmaps.h"

using namespace bitmap_layout;

namespace {

bool WriteSeed(const std::string &folder, int index, const std::string &parameters, const std::string &file)
{
    std::string path = folder + "/seed-" + std::to_string(index);
    FILE *out = fopen(path.c_str(), "wb");
    if (!out)
        return false;
    std::string bytes = parameters + file;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return fclose(out) == 0 && ok;
}

std::string Parameters(int16_t brightness, int16_t contrast, uint16_t gamma, uint8_t flags)
{
    std::string p(7, '\0');
    uint8_t *b = reinterpret_cast<uint8_t *>(&p[0]);
    WriteLe16(b, uint16_t(brightness));
    WriteLe16(b + 2, uint16_t(contrast));
    WriteLe16(b + 4, gamma);
    b[6] = flags;
    return p;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    int index = 0;
    bool ok = true;
    const uint32_t shapes[][2] = {{1, 1}, {10, 3}, {33, 5}, {64, 2}};
    for (const auto &shape : shapes) {
        for (int bits : {8, 24}) {
            std::string file =
                tonetest::MakeBitmap(shape[0], shape[1], bits, [](uint32_t r, uint32_t b) { return r * 53 + b * 29; });
            ok &= WriteSeed(folder, index++, Parameters(10, 64, 120, 1), file);
            ok &= WriteSeed(folder, index++, Parameters(-20, -64, 80, 0), file);
            std::string lying = file;
            WriteLe32(tonetest::Bytes(lying) + OFFSET_HEIGHT, shape[1] + 1000);
            ok &= WriteSeed(folder, index++, Parameters(0, 127, 100, 1), lying);
            ok &= WriteSeed(folder, index++, Parameters(0, 0, 200, 1), file.substr(0, file.size() - 1));
        }
    }
    return ok ? 0 : 1;
}
