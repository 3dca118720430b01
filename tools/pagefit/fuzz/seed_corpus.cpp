// Writes a fuzzer's seed corpus into the folder given. For the bitmap parser:
// small synthetic scans at every depth, with and without a photo. With
// "pipeline": scans of real photographs (when the machine has them; synthetic
// pictures otherwise) laid crooked on the backing at every depth, each
// described as the pipeline fuzzer's input.
#include "page_input.h"
#include "photo_source.h"
#include "synth.h"

#include <string>

namespace {

const char *const PHOTO_FOLDERS[] = {"/usr/share/palapeli/collection", "/usr/share/backgrounds/mate/nature"};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const std::string folder = argv[1];
    const bool pipeline = argc > 2 && std::string(argv[2]) == "pipeline";
    std::vector<synth::RgbImage> photos;
    if (pipeline)
        photos = synth::LoadPhotos({PHOTO_FOLDERS[0], PHOTO_FOLDERS[1]}, 200, nullptr);
    const size_t pictures = pipeline ? std::max<size_t>(photos.size(), 2) : 2;
    int n = 0;
    for (int bits : {1, 8, 24})
        for (size_t photo = 0; photo < pictures; photo++) {
            synth::Scene s;
            s.width = pipeline ? 240 : 97 + bits;
            s.height = pipeline ? 300 : 120;
            s.dpi = 75;
            s.bits = bits;
            s.hasPhoto = !pipeline ? photo == 1 : photo % 4 != 3;
            s.content = photo < photos.size() ? &photos[photo] : nullptr;
            s.photo = pipeline ? pagefit::RotatedRect{120, 150, 150, 200, 0.02 * double(photo % 7) - 0.06}
                               : pagefit::RotatedRect{50, 60, 60, 80, 0.1 * bits / 24};
            s.seed = uint64_t(n + 1);
            std::vector<uint8_t> scan = synth::RenderScan(s);
            if (pipeline) {
                pagefit::Options options;
                options.crop = photo % 3 != 2;
                options.deskew = photo % 3 != 1;
                scan = pagefit_fuzz::InputFromScan(scan, 4, options);
            }
            if (!synth::WriteFile(folder + "/seed" + std::to_string(n++) + (pipeline ? ".page" : ".bmp"), scan))
                return 1;
        }
    return 0;
}
