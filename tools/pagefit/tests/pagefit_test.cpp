// The tool on small synthetic scans with known answers, in one table: every
// kind of scan, every edge that once misled it, where the picture lands, a
// straight print and sheets without a photo.
#include "pagefit.h"
#include "product_files.h"
#include "synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <sstream>

namespace {

const double DEGREE = 0.017453292519943295;

// A 2.5 x 3.5 inch print on a page with half-inch margins, at 150 dpi to
// keep the tests quick, with a scanner's noise, falloff, streaks and dust.
synth::Scene SmallScene(double angleDegrees, uint64_t seed)
{
    synth::Scene s;
    const double a = std::fabs(angleDegrees * DEGREE);
    const double bw = 375 * std::cos(a) + 525 * std::sin(a), bh = 375 * std::sin(a) + 525 * std::cos(a);
    s.photo = {70 + bw / 2, 80 + bh / 2, 375, 525, angleDegrees * DEGREE};
    s.width = int(bw + 150), s.height = int(bh + 150), s.dpi = 150, s.seed = seed;
    s.noise = 2.5, s.texture = 2, s.falloff = 0.06, s.streaks = 2, s.specks = 5, s.columnPattern = 1;
    return s;
}

// A print whose left part is dark, five levels above a black backing, and
// whose right part is bright, meeting along a ragged line: the bright part
// alone looks like the photo, with no straight edge on its left.
const synth::RgbImage HALF_DARK = [] {
    synth::RgbImage img;
    img.width = 375, img.height = 525;
    synth::Random rng(5);
    std::vector<double> ragged(525 / 25 + 2);
    for (double &r : ragged)
        r = rng.Uniform(130, 210);
    for (int y = 0; y < 525; y++)
        for (int x = 0; x < 375; x++) {
            const double f = (y % 25) / 25.0;
            const uint8_t bright = x > ragged[y / 25] * (1 - f) + ragged[y / 25 + 1] * f;
            img.rgb.insert(img.rgb.end(),
                           {uint8_t(20 + 140 * bright), uint8_t(20 + 110 * bright), uint8_t(20 + 70 * bright)});
        }
    return img;
}();

// A plain light print with one black square at (75, 350), 30 pixels wide.
const synth::RgbImage MARKED = [] {
    synth::RgbImage img;
    img.width = 375, img.height = 525;
    img.rgb.assign(size_t(375) * 525 * 3, 200);
    for (int y = 350; y < 380; y++)
        std::fill_n(&img.rgb[(size_t(y) * 375 + 75) * 3], 90, 0);
    return img;
}();

// What a word of a scan's description does to the scene, given its number.
const std::map<std::string, std::function<void(synth::Scene &, double)>> LOOKS = {
    {"backing", [](synth::Scene &s, double v) { std::fill_n(s.backing, 3, v); }},
    {"red", [](synth::Scene &s, double v) { s.backing[0] = v; }},
    {"blue", [](synth::Scene &s, double v) { s.backing[2] = v; }},
    {"border", [](synth::Scene &s, double v) { std::fill_n(s.border, 3, v); }},
    {"borderWidth", [](synth::Scene &s, double v) { s.borderWidth = v; }},
    {"shadow", [](synth::Scene &s, double v) { s.shadow = v; }},
    {"shadowAt", [](synth::Scene &s, double v) { s.shadowOffset[0] = v, s.shadowOffset[1] = -v; }},
    {"corners", [](synth::Scene &s, double v) { s.cornerRadius = v; }},
    {"bits", [](synth::Scene &s, double v) { s.bits = int(v); }},
    {"dithered", [](synth::Scene &s, double v) { s.bits = int(v), s.dither = true; }},
    {"tone", [](synth::Scene &s, double v) { s.tone = synth::Tone(int(v)); }}, // 1 dark, 2 light, 3 faded
    {"muted", [](synth::Scene &s, double v) { s.tone = synth::Tone::Muted, s.mutedContrast = v; }},
    {"mutedAround", [](synth::Scene &s, double v) { s.mutedCentre = v; }},
    {"texture", [](synth::Scene &s, double v) { s.texture = v; }},
    {"streaks", [](synth::Scene &s, double v) { s.streaks = int(v); }},
    {"specks", [](synth::Scene &s, double v) { s.specks = int(v); }},
    {"margins",
     [](synth::Scene &s, double v) { // the print centred with this much backing around it
         s.width -= int(150 - 2 * v), s.height -= int(150 - 2 * v);
         s.photo.cx = s.width / 2.0, s.photo.cy = s.height / 2.0;
     }},
    {"halfDark", [](synth::Scene &s, double) { s.content = &HALF_DARK; }},
    {"marked", [](synth::Scene &s, double) { s.content = &MARKED; }},
    {"lower", [](synth::Scene &s, double v) { s.height += int(v), s.photo.cy += v; }},
    {"photo", [](synth::Scene &s, double v) { s.hasPhoto = v != 0; }},
};

// A speck of dust on the backing a few pixels beside the middle of the
// print's right side, close enough to join the print's outline (8-bit page).
std::vector<uint8_t> SpeckBesideTheRightSide(const synth::Scene &s)
{
    int w, h;
    std::vector<uint8_t> luma = synth::LumaOf(synth::RenderScan(s), &w, &h);
    double out = s.photo.width / 2 + 11;
    double x = s.photo.cx + std::cos(s.photo.angle) * out, y = s.photo.cy + std::sin(s.photo.angle) * out;
    for (int j = int(y) - 6; j <= int(y) + 6; j++)
        for (int i = int(x) - 6; i <= int(x) + 6; i++)
            if ((i + 0.5 - x) * (i + 0.5 - x) + (j + 0.5 - y) * (j + 0.5 - y) <= 25)
                luma[size_t(j) * w + i] = 30;
    return synth::ProductBitmap(w, h, 8, s.dpi, luma);
}

// A smaller print in the top 280 rows, above the scene's own.
std::vector<uint8_t> SmallerPrintAbove(const synth::Scene &big)
{
    synth::Scene small = big;
    small.photo = {150, 125, 262, 187, -5 * DEGREE};
    small.noise = 0;
    int w, h;
    std::vector<uint8_t> a = synth::LumaOf(synth::RenderScan(big), &w, &h);
    std::vector<uint8_t> b = synth::LumaOf(synth::RenderScan(small), &w, &h);
    std::copy(b.begin(), b.begin() + 280 * w, a.begin());
    return synth::ProductBitmap(w, h, 8, 300, a);
}

struct Scan {
    const char *name;
    const char *look; // words of LOOKS, each with its number
    uint64_t seed;    // of the first angle; the next angle takes the next seed
    std::vector<double> angles = {-9, 0.3};
    const char *logPart = "4 of 4 edges";
    std::vector<uint8_t> (*render)(const synth::Scene &s) = synth::RenderScan;
    bool faint = false; // edges too faint to measure: kept whole, never turned further than the print
};

const Scan SCANS[] = {
    {"white backing", "backing 232", 1},
    {"black backing", "backing 12", 3},
    {"grey backing with shadow", "backing 128 shadow 0.3", 5},
    {"dark photo on black", "backing 10 tone 1", 7},
    {"light photo on white", "backing 230 tone 2", 9},
    {"faded photo on white", "backing 235 tone 3", 11},
    {"white border on white", "backing 234 border 242 borderWidth 25 shadow 0.2", 13},
    {"black border on black", "backing 12 border 26 borderWidth 20", 15},
    {"rounded corners", "backing 232 corners 20", 17},
    {"8-bit grey", "backing 20 bits 8", 19, {-9, 0.3}, "at 8 bits"},
    {"1-bit with white border on black", "backing 15 border 240 borderWidth 20 bits 1", 21},
    // A single fitted side once turned these two by two degrees more than the print.
    {"1-bit by error diffusion on white", "backing 232 dithered 1 shadow 0.25", 23},
    {"deep shadow on white", "backing 232 shadow 0.4 shadowAt 2", 25},
    // Once "noaction"; its edges are too faint to measure.
    {"print of the backing's own tone",
     "backing 125 red 131 blue 133 muted 0.08 mutedAround 127 shadow 0.2",
     40,
     {-9, 0.3},
     "",
     synth::RenderScan,
     true},
    // The walk out to the backing must reach past a quarter inch of border.
    {"quarter-inch white border on white", "backing 228 border 238 borderWidth 38", 69, {0.2}, ""},
    // Two levels above black: only its faint outer step on all four sides gives it away.
    {"dark border of nearly the backing's tone",
     "backing 15 border 17 borderWidth 22",
     38,
     {-4},
     "border of nearly the backing's tone"},
    // A thin margin holds the backing's blotches, not its columns and rows.
    {"quarter-inch margins on blotchy grey", "backing 125 texture 3.5 streaks 3 margins 38", 38, {11}, ""},
    // The side facing the dark part moves out to where the print ends.
    {"dark half of a print on black", "backing 15 streaks 0 halfDark 1", 21, {-3}, "moved out to the picture's end"},
    {"speck joined to a side", "backing 225 specks 0", 12, {5}, "", SpeckBesideTheRightSide},
    {"two prints", "backing 230 lower 300", 9, {3}, "2 photo-sized marks on the sheet", SmallerPrintAbove},
    // Below the smallest turn worth a pass.
    {"straight print", "backing 232", 8, {0}, "skew below the smallest turn"},
    // The mark at (75, 350) lands where the print has it.
    {"marked picture on grey", "backing 120 specks 0 streaks 0 marked 1", 77, {-12, 4, 0.4}},
    // No photo: the log asks for a new scan.
    {"empty black backing", "photo 0 backing 15 specks 0 streaks 0", 40, {0}, AUTOCROP_NO_ACTION_WORD},
    {"empty dusty white backing", "photo 0 backing 225 specks 60 streaks 6", 41, {0}, AUTOCROP_NO_ACTION_WORD},
};

TEST(Pagefit, FindsThePrintOfEveryKindOfScan)
{
    for (const Scan &k : SCANS)
        for (size_t n = 0; n < k.angles.size(); n++) {
            const double angle = k.angles[n];
            SCOPED_TRACE(std::string(k.name) + " at " + std::to_string(angle));
            synth::Scene s = SmallScene(angle, k.seed + n);
            std::istringstream look(k.look);
            std::string word;
            for (double v; look >> word >> v;)
                LOOKS.at(word)(s, v);
            std::vector<uint8_t> file = k.render(s);
            pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), {true, true});
            EXPECT_NE(r.log.find(k.logPart), std::string::npos) << r.log;
            ASSERT_EQ(r.outcome, s.hasPhoto ? pagefit::Outcome::Rewritten : pagefit::Outcome::NoAction) << r.log;
            const pagefit::RotatedRect &box = r.search.box;
            const double iou = pagefit::RectIoU(box, s.photo), area = box.width * box.height, print = 375 * 525;
            if (k.faint) { // kept whole (the print's share inside the box), turned no further than the print
                EXPECT_LE(std::fabs(box.angle / DEGREE), std::fabs(angle) + 0.1) << r.log;
                EXPECT_GT(iou * (area + print) / (1 + iou) / print, 0.99) << r.log;
            } else if (s.hasPhoto) {
                EXPECT_NEAR(box.angle / DEGREE, angle, 0.1) << r.log;
                EXPECT_GT(iou, 0.99) << r.log;
            }
            if (s.content == &MARKED) {
                int w, h;
                std::vector<uint8_t> luma = synth::LumaOf(r.output, &w, &h);
                double sx = 0, sy = 0, dark = 0;
                for (size_t i = 0; i < luma.size(); i++)
                    if (luma[i] < 60)
                        sx += i % w + 0.5, sy += i / w + 0.5, dark++;
                EXPECT_NEAR(w, 375, 1);
                EXPECT_NEAR(h, 525, 1);
                EXPECT_NEAR(sx / dark, 90, 0.75) << r.log;
                EXPECT_NEAR(sy / dark, 365, 0.75) << r.log;
            }
        }
}

// The overlap measure the table relies on, on squares with a known answer.
TEST(Pagefit, OverlapOfKnownShapes)
{
    EXPECT_NEAR(pagefit::RectIoU({5, 5, 10, 10, 0}, {10, 5, 10, 10, 0}), 50.0 / 150.0, 1e-9);
}

} // namespace
