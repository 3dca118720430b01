// Writes the fuzzers' seed corpus: small synthetic scans at every depth,
// with and without a photo, into the folder given.
#include "synth.h"

#include <cmath>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    std::string folder = argv[1];
    int n = 0;
    for (int bits : {1, 8, 24})
        for (int photo = 0; photo < 2; photo++) {
            synth::Scene s;
            s.width = 97 + bits;
            s.height = 120;
            s.dpi = 75;
            s.bits = bits;
            s.hasPhoto = photo;
            s.photo = {50, 60, 60, 80, 0.1 * bits / 24};
            s.seed = uint64_t(n + 1);
            synth::WriteFile(folder + "/seed" + std::to_string(n++) + ".bmp", synth::RenderScan(s));
        }
    return 0;
}
