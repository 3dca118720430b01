// Writes the benchmark's synthetic scans and their ground truth. Every scan
// follows from the base seed, its category and its number, so the same
// command always writes the same files.
//
//   pagefit_generate <output folder> [scans per category] [base seed] [category,...]
//
// The folder receives <category>-<n>.bmp and truth.tsv (one line per scan:
// the photo's true centre, size and clockwise angle in pixels and degrees).
#include "photo_source.h"
#include "synth.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const double DEGREE = 0.017453292519943295;

struct Category {
    const char *name;
    const char *what;
};

// The order is the table's order in the benchmark's report.
const Category CATEGORIES[] = {
    {"white", "photos on a white backing"},
    {"black", "photos on a black backing"},
    {"grey", "photos on a grey backing"},
    {"dark-on-black", "dark photos and black-bordered prints on black (hard)"},
    {"light-on-white", "light and faded photos on white (hard)"},
    {"white-border", "white-bordered prints on white (hard)"},
    {"small-skew", "skews of 0.1 to 0.5 degrees"},
    {"rounded", "prints with rounded corners"},
    {"600dpi", "600 dpi scans"},
    {"grey-8bit", "8-bit grey scans"},
    {"line-art", "1-bit scans (hard)"},
    {"blank", "empty backing (must be noaction)"},
    {"dust", "backing with dust and streaks only (must be noaction)"},
    // Added later, so the scans above keep their seeds.
    {"matching-tone", "faded, low-contrast prints on a backing of their own tone (hard)"},
    {"heavy-jpeg", "scans through JPEG at quality 35 to 45 on white (hard)"},
    {"dithered", "1-bit 600 dpi scans made by error diffusion (hard)"},
    {"shadow-light", "prints casting a 2 to 4 px shadow on white and grey (hard)"},
};

enum BackingKind { WHITE, BLACK, GREY };

void SetBacking(synth::Scene &s, BackingKind kind, synth::Random &rng)
{
    double level = kind == WHITE ? rng.Uniform(222, 240) : kind == BLACK ? rng.Uniform(6, 20) : rng.Uniform(105, 150);
    double tint = kind == GREY ? 6 : 2;
    for (int c = 0; c < 3; c++)
        s.backing[c] = level + rng.Uniform(-tint, tint);
}

// What every scan may suffer, whatever its category.
void SetScanner(synth::Scene &s, synth::Random &rng)
{
    s.texture = rng.Uniform(0, 3.5);
    s.falloff = rng.Uniform(0, 0.1);
    s.columnPattern = rng.Uniform(0, 1.5);
    s.streaks = rng.Int(0, 3);
    s.specks = rng.Int(0, 12);
    s.blur = rng.Uniform(0.4, 1.3);
    s.noise = rng.Uniform(1, 4);
    s.shadow = rng.Uniform() < 0.5 ? rng.Uniform(0.1, 0.35) : 0;
    s.shadowOffset[0] = rng.Uniform(-2.5, 2.5) * s.dpi / 300;
    s.shadowOffset[1] = rng.Uniform(0.5, 3) * s.dpi / 300;
}

// A print of a common size, turned by `angle`, on a page with margins.
void PlacePrint(synth::Scene &s, synth::Random &rng, double angleDegrees, bool smallPrints)
{
    static const double SIZES[][2] = {{2.5, 3.5}, {3.5, 5}, {4, 6}, {5, 7}};
    int pick = smallPrints ? rng.Int(0, 1) : rng.Int(0, 3);
    double w = SIZES[pick][0] * s.dpi, h = SIZES[pick][1] * s.dpi;
    if (rng.Int(0, 1))
        std::swap(w, h);
    double a = angleDegrees * DEGREE;
    double bw = std::fabs(w * std::cos(a)) + std::fabs(h * std::sin(a));
    double bh = std::fabs(w * std::sin(a)) + std::fabs(h * std::cos(a));
    double left = rng.Uniform(0.25, 0.8) * s.dpi, right = rng.Uniform(0.25, 0.8) * s.dpi;
    double top = rng.Uniform(0.25, 0.8) * s.dpi, bottom = rng.Uniform(0.25, 0.8) * s.dpi;
    s.width = int(std::ceil(bw + left + right));
    s.height = int(std::ceil(bh + top + bottom));
    s.photo.cx = left + bw / 2;
    s.photo.cy = top + bh / 2;
    s.photo.width = w;
    s.photo.height = h;
    s.photo.angle = a;
    s.cornerRadius = 0;
    s.borderWidth = 0;
}

double RandomSkew(synth::Random &rng)
{
    double u = rng.Uniform();
    if (u < 0.08)
        return 0;
    return rng.Uniform(-15, 15);
}

synth::Scene MakeScene(const std::string &category, synth::Random &rng, const std::vector<synth::RgbImage> &photos)
{
    synth::Scene s;
    s.dpi = category == "600dpi" || category == "dithered" ? 600 : 300;
    s.bits = category == "grey-8bit" ? 8 : category == "line-art" || category == "dithered" ? 1 : 24;
    s.seed = rng.Next();
    SetScanner(s, rng);
    BackingKind kind = BackingKind(rng.Int(0, 2));
    if (category == "white" || category == "light-on-white" || category == "white-border")
        kind = WHITE;
    if (category == "black" || category == "dark-on-black")
        kind = BLACK;
    if (category == "grey" || category == "matching-tone")
        kind = GREY;
    if (category == "heavy-jpeg" || category == "dithered")
        kind = WHITE;
    if (category == "shadow-light")
        kind = rng.Int(0, 1) ? WHITE : GREY;
    SetBacking(s, kind, rng);
    double angle = category == "small-skew" ? rng.Uniform(0.1, 0.5) * (rng.Int(0, 1) ? 1 : -1) : RandomSkew(rng);
    PlacePrint(s, rng, angle, s.dpi > 300);
    s.content = photos.empty() ? nullptr : &photos[rng.Int(0, int(photos.size()) - 1)];
    s.tone = synth::Tone::Normal;
    if (category == "dark-on-black") {
        if (rng.Int(0, 1)) {
            s.tone = synth::Tone::Dark;
        } else {
            s.borderWidth = rng.Uniform(0.08, 0.25) * s.dpi;
            double b = rng.Uniform(18, 32);
            for (double &c : s.border)
                c = b;
        }
    }
    if (category == "light-on-white")
        s.tone = rng.Int(0, 1) ? synth::Tone::Light : synth::Tone::Faded;
    if (category == "white-border") {
        s.borderWidth = rng.Uniform(0.1, 0.25) * s.dpi;
        double b = std::min(252.0, s.backing[1] + rng.Uniform(6, 14));
        for (double &c : s.border)
            c = b;
    }
    if (category == "line-art") {
        // A threshold keeps only which side of it a tone lies on: a print's edge
        // survives where the print and the backing fall on opposite sides, as a
        // white border on black or a dark border on white does.
        SetBacking(s, kind == WHITE ? WHITE : BLACK, rng);
        s.borderWidth = rng.Uniform(0.08, 0.25) * s.dpi;
        double b = s.backing[1] > 128 ? rng.Uniform(15, 60) : rng.Uniform(200, 250);
        for (double &c : s.border)
            c = b;
    }
    if (category == "matching-tone") {
        // Its mean within a few levels of the backing's, its contrast a
        // fraction of a normal print's; it still casts its shadow.
        s.tone = synth::Tone::Muted;
        s.mutedCentre = s.backing[1] + rng.Uniform(-8, 8);
        s.mutedContrast = rng.Uniform(0.1, 0.25);
        s.shadow = rng.Uniform(0.15, 0.3);
    }
    if (category == "dithered") {
        s.dither = true;
        if (rng.Int(0, 1))
            s.tone = synth::Tone::Light;
        s.shadow = rng.Uniform(0.15, 0.35);
    }
    if (category == "shadow-light") {
        s.shadow = rng.Uniform(0.25, 0.45);
        s.shadowOffset[0] = rng.Uniform(2, 4) * (rng.Int(0, 1) ? 1 : -1);
        s.shadowOffset[1] = rng.Uniform(2, 4) * (rng.Int(0, 1) ? 1 : -1);
    }
    if (category == "rounded")
        s.cornerRadius = rng.Uniform(0.06, 0.15) * s.dpi;
    if (category == "blank" || category == "dust") {
        s.hasPhoto = false;
        s.width = int(rng.Uniform(4.5, 7.5) * s.dpi);
        s.height = int(rng.Uniform(5.5, 8.5) * s.dpi);
        if (category == "dust") {
            s.specks = rng.Int(20, 60);
            s.streaks = rng.Int(2, 6);
        }
    }
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s <output folder> [scans per category] [base seed] [category,...]\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    int perCategory = argc > 2 ? atoi(argv[2]) : 10;
    uint64_t baseSeed = argc > 3 ? strtoull(argv[3], nullptr, 10) : 20240601;
    // Only these categories, each with the seeds it has in the whole set.
    std::string only = argc > 4 ? "," + std::string(argv[4]) + "," : "";
    std::vector<std::string> names;
    std::vector<synth::RgbImage> photos =
        synth::LoadPhotos({"/usr/share/palapeli/collection", "/usr/share/backgrounds/mate/nature"}, 1400, &names);
    if (photos.empty()) {
        fprintf(stderr, "no photographs found (packages palapeli-data and mate-backgrounds)\n");
        return 1;
    }
    FILE *truth = fopen((folder + "/truth.tsv").c_str(), "w");
    if (!truth) {
        fprintf(stderr, "cannot write %s/truth.tsv\n", folder.c_str());
        return 1;
    }
    fprintf(truth, "file\tcategory\tphoto\tbits\tdpi\twidth\theight\tcx\tcy\tw\th\tangle\n");
    int index = 0;
    for (const Category &c : CATEGORIES) {
        bool negative = std::string(c.name) == "blank" || std::string(c.name) == "dust";
        int count = negative ? std::max(1, perCategory * 8 / 10) : perCategory;
        for (int k = 0; k < count; k++, index++) {
            synth::Random rng(baseSeed * 1000003ull + uint64_t(index) * 7919ull);
            if (!only.empty() && only.find("," + std::string(c.name) + ",") == std::string::npos)
                continue;
            synth::Scene s = MakeScene(c.name, rng, photos);
            std::string file = std::string(c.name) + "-" + std::to_string(k) + ".bmp";
            std::vector<uint8_t> scan = synth::RenderScan(s);
            if (std::string(c.name) == "heavy-jpeg")
                scan = synth::ThroughJpeg(scan, rng.Int(35, 45));
            if (!synth::WriteFile(folder + "/" + file, scan)) {
                fprintf(stderr, "cannot write %s\n", file.c_str());
                return 1;
            }
            fprintf(truth, "%s\t%s\t%d\t%d\t%.0f\t%d\t%d\t%.4f\t%.4f\t%.4f\t%.4f\t%.5f\n", file.c_str(), c.name,
                    s.hasPhoto ? 1 : 0, s.bits, s.dpi, s.width, s.height, s.photo.cx, s.photo.cy, s.photo.width,
                    s.photo.height, s.photo.angle / DEGREE);
        }
        fprintf(stderr, "generated %s\n", c.name);
    }
    fclose(truth);
    return 0;
}
