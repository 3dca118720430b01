// The tool on small synthetic scans with known answers: one per kind of
// scan, each mode of the user's choices, the log, and refused files.
#include "pagefit.h"
#include "product_files.h"
#include "synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace {

const double DEGREE = 0.017453292519943295;

// A 2.5 x 3.5 inch print on a page with half-inch margins, at 150 dpi to
// keep the tests quick.
synth::Scene SmallScene(double angleDegrees, uint64_t seed)
{
    synth::Scene s;
    s.dpi = 150;
    s.photo.width = 375;
    s.photo.height = 525;
    s.photo.angle = angleDegrees * DEGREE;
    double a = std::fabs(s.photo.angle);
    double bw = s.photo.width * std::cos(a) + s.photo.height * std::sin(a);
    double bh = s.photo.width * std::sin(a) + s.photo.height * std::cos(a);
    s.width = int(bw + 150);
    s.height = int(bh + 150);
    s.photo.cx = 70 + bw / 2;
    s.photo.cy = 80 + bh / 2;
    s.seed = seed;
    s.noise = 2.5;
    s.texture = 2;
    s.falloff = 0.06;
    s.streaks = 2;
    s.specks = 5;
    s.columnPattern = 1;
    return s;
}

void SetLevel(double *rgb, double v)
{
    rgb[0] = rgb[1] = rgb[2] = v;
}

struct Kind {
    const char *name;
    void (*shape)(synth::Scene &s);
};

const Kind KINDS[] = {
    {"white backing", [](synth::Scene &s) { SetLevel(s.backing, 232); }},
    {"black backing", [](synth::Scene &s) { SetLevel(s.backing, 12); }},
    {"grey backing with shadow",
     [](synth::Scene &s) {
         SetLevel(s.backing, 128);
         s.shadow = 0.3;
     }},
    {"dark photo on black",
     [](synth::Scene &s) {
         SetLevel(s.backing, 10);
         s.tone = synth::Tone::Dark;
     }},
    {"light photo on white",
     [](synth::Scene &s) {
         SetLevel(s.backing, 230);
         s.tone = synth::Tone::Light;
     }},
    {"faded photo on white",
     [](synth::Scene &s) {
         SetLevel(s.backing, 235);
         s.tone = synth::Tone::Faded;
     }},
    {"white border on white",
     [](synth::Scene &s) {
         SetLevel(s.backing, 234);
         SetLevel(s.border, 242);
         s.borderWidth = 25;
         s.shadow = 0.2;
     }},
    {"black border on black",
     [](synth::Scene &s) {
         SetLevel(s.backing, 12);
         SetLevel(s.border, 26);
         s.borderWidth = 20;
     }},
    {"rounded corners",
     [](synth::Scene &s) {
         SetLevel(s.backing, 232);
         s.cornerRadius = 20;
     }},
    {"8-bit grey",
     [](synth::Scene &s) {
         SetLevel(s.backing, 20);
         s.bits = 8;
     }},
    {"1-bit with white border on black",
     [](synth::Scene &s) {
         SetLevel(s.backing, 15);
         SetLevel(s.border, 240);
         s.borderWidth = 20;
         s.bits = 1;
     }},
    {"1-bit by error diffusion on white",
     [](synth::Scene &s) {
         SetLevel(s.backing, 232);
         s.bits = 1;
         s.dither = true;
         s.shadow = 0.25;
     }},
    {"deep shadow on white",
     [](synth::Scene &s) {
         SetLevel(s.backing, 232);
         s.shadow = 0.4;
         s.shadowOffset[0] = 2;
         s.shadowOffset[1] = -2;
     }},
};

TEST(Pagefit, FindsThePrintOfEveryKindOfScan)
{
    int seed = 1;
    for (const Kind &k : KINDS)
        for (double angle : {-9.0, 0.3}) {
            synth::Scene s = SmallScene(angle, seed++);
            k.shape(s);
            std::vector<uint8_t> file = synth::RenderScan(s);
            pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), {true, true});
            ASSERT_EQ(r.outcome, pagefit::Outcome::Rewritten) << k.name << ": " << r.log;
            EXPECT_NEAR(r.search.box.angle / DEGREE, angle, 0.1) << k.name << ": " << r.log;
            EXPECT_GT(pagefit::RectIoU(r.search.box, s.photo), 0.99) << k.name << ": " << r.log;
            EXPECT_EQ(r.search.sidesFitted, 4) << k.name << ": " << r.log;
        }
}

// How much of the print lies inside the box.
double Covered(const pagefit::RotatedRect &box, const pagefit::RotatedRect &print)
{
    pagefit::Point a[4], b[4];
    pagefit::RectCorners(box, a);
    pagefit::RectCorners(print, b);
    std::vector<pagefit::Point> pa(a, a + 4), pb(b, b + 4);
    return pagefit::ConvexIntersectionArea(pa, pb) / pagefit::PolygonArea(pb);
}

// A print that once gave "noaction" or a wrong turn: it is found, kept
// whole, and turned no further than the print is (its edges are too faint
// to measure, so an outline that is not one solid print crops upright).
TEST(Pagefit, APrintOfTheBackingsOwnToneIsFoundAndNeverTurnedWrongly)
{
    int seed = 40;
    for (double angle : {-9.0, 0.3}) {
        synth::Scene s = SmallScene(angle, seed++);
        s.backing[0] = 131, s.backing[1] = 125, s.backing[2] = 133;
        s.tone = synth::Tone::Muted;
        s.mutedCentre = 127;
        s.mutedContrast = 0.08;
        s.shadow = 0.2;
        std::vector<uint8_t> file = synth::RenderScan(s);
        pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), {true, true});
        ASSERT_EQ(r.outcome, pagefit::Outcome::Rewritten) << r.log;
        EXPECT_LE(std::fabs(r.search.box.angle / DEGREE), std::fabs(angle) + 0.1) << r.log;
        EXPECT_GT(Covered(r.search.box, s.photo), 0.99) << r.log;
    }
}

// The print with only a quarter inch of backing around it.
void NarrowMargins(synth::Scene &s)
{
    double a = std::fabs(s.photo.angle);
    double bw = s.photo.width * std::cos(a) + s.photo.height * std::sin(a);
    double bh = s.photo.width * std::sin(a) + s.photo.height * std::cos(a);
    s.width = int(bw + 76);
    s.height = int(bh + 76);
    s.photo.cx = s.width / 2.0;
    s.photo.cy = s.height / 2.0;
}

// A speck of dust on the backing a few pixels beside the middle of the
// print's right side, close enough to join the print's outline, painted into
// an 8-bit page.
std::vector<uint8_t> WithSpeckBesideTheRightSide(const synth::Scene &s)
{
    std::vector<uint8_t> file = synth::RenderScan(s);
    int w, h;
    std::vector<uint8_t> luma = synth::LumaOf(file, &w, &h);
    double c = std::cos(s.photo.angle), sn = std::sin(s.photo.angle), out = s.photo.width / 2 + 11;
    double x = s.photo.cx + c * out, y = s.photo.cy + sn * out;
    for (int j = int(y) - 6; j <= int(y) + 6; j++)
        for (int i = int(x) - 6; i <= int(x) + 6; i++)
            if ((i + 0.5 - x) * (i + 0.5 - x) + (j + 0.5 - y) * (j + 0.5 - y) <= 25)
                luma[size_t(j) * w + i] = 30;
    return synth::ProductBitmap(w, h, 8, s.dpi, luma);
}

// A print whose left part is dark, five levels above a black backing, and
// whose right part is bright, the two meeting along a ragged line: the
// bright part alone looks like the photo, with no straight edge on its left.
const synth::RgbImage &HalfDarkPicture()
{
    static synth::RgbImage img;
    if (img.width)
        return img;
    img.width = 375;
    img.height = 525;
    img.rgb.resize(size_t(img.width) * img.height * 3);
    synth::Random rng(5);
    std::vector<double> ragged(img.height / 25 + 2);
    for (double &r : ragged)
        r = rng.Uniform(130, 210);
    for (int y = 0; y < img.height; y++)
        for (int x = 0; x < img.width; x++) {
            double f = (y % 25) / 25.0;
            bool bright = x > ragged[y / 25] * (1 - f) + ragged[y / 25 + 1] * f;
            uint8_t *p = &img.rgb[(size_t(y) * img.width + x) * 3];
            p[0] = bright ? 160 : 20;
            p[1] = bright ? 130 : 20;
            p[2] = bright ? 90 : 20;
        }
    return img;
}

struct HardEdge {
    const char *name;
    double angle;
    uint64_t seed;
    void (*shape)(synth::Scene &s);
    std::vector<uint8_t> (*render)(const synth::Scene &s);
    const char *logPart;
};

const HardEdge HARD_EDGES[] = {
    // The walk out to the backing must reach past a quarter inch of border.
    {"quarter-inch white border on white", 0.2, 69,
     [](synth::Scene &s) {
         SetLevel(s.backing, 228);
         SetLevel(s.border, 238);
         s.borderWidth = 38;
     },
     synth::RenderScan, ""},
    // Two levels above black: only its faint outer step on all four sides
    // gives this border away.
    {"dark border of nearly the backing's tone", -4, 38,
     [](synth::Scene &s) {
         SetLevel(s.backing, 15);
         SetLevel(s.border, 17);
         s.borderWidth = 22;
     },
     synth::RenderScan, "border of nearly the backing's tone"},
    // A thin margin holds the backing's blotches, not its columns and rows.
    {"quarter-inch margins on blotchy grey", 11, 38,
     [](synth::Scene &s) {
         SetLevel(s.backing, 125);
         s.texture = 3.5;
         s.streaks = 3;
         NarrowMargins(s);
     },
     synth::RenderScan, ""},
    // The side facing the dark part moves out to where the print ends.
    {"dark half of a print on black", -3, 21,
     [](synth::Scene &s) {
         SetLevel(s.backing, 15);
         s.streaks = 0;
         s.content = &HalfDarkPicture();
     },
     synth::RenderScan, "moved out to the picture's end"},
    {"speck joined to a side", 5, 12,
     [](synth::Scene &s) {
         SetLevel(s.backing, 225);
         s.specks = 0;
     },
     WithSpeckBesideTheRightSide, ""},
};

TEST(Pagefit, EdgesHoldWhereTheBackingTellsLittle)
{
    for (const HardEdge &e : HARD_EDGES) {
        synth::Scene s = SmallScene(e.angle, e.seed);
        e.shape(s);
        std::vector<uint8_t> file = e.render(s);
        pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), {true, true});
        ASSERT_EQ(r.outcome, pagefit::Outcome::Rewritten) << e.name << ": " << r.log;
        EXPECT_NEAR(r.search.box.angle / DEGREE, e.angle, 0.1) << e.name << ": " << r.log;
        EXPECT_GT(pagefit::RectIoU(r.search.box, s.photo), 0.99) << e.name << ": " << r.log;
        EXPECT_NE(r.log.find(e.logPart), std::string::npos) << e.name << ": " << r.log;
    }
}

// Mean position of the page's dark pixels (luma below 60) in a file.
bool DarkCentroid(const std::vector<uint8_t> &file, double *x, double *y, int *width, int *height)
{
    std::vector<uint8_t> luma = synth::LumaOf(file, width, height);
    double sx = 0, sy = 0, n = 0;
    for (int j = 0; j < *height; j++)
        for (int i = 0; i < *width; i++)
            if (luma[size_t(j) * *width + i] < 60) {
                sx += i + 0.5;
                sy += j + 0.5;
                n++;
            }
    if (n == 0)
        return false;
    *x = sx / n;
    *y = sy / n;
    return true;
}

// A plain light print with one black square at a known place in it.
synth::RgbImage MarkedPicture(int w, int h, int markX, int markY, int markSize)
{
    synth::RgbImage img;
    img.width = w;
    img.height = h;
    img.rgb.assign(size_t(w) * h * 3, 200);
    for (int y = markY; y < markY + markSize; y++)
        for (int x = markX; x < markX + markSize; x++)
            for (int c = 0; c < 3; c++)
                img.rgb[(size_t(y) * w + x) * 3 + c] = 0;
    return img;
}

TEST(Pagefit, CropAndDeskewPutsThePicturesContentWhereThePrintHasIt)
{
    // The picture matches the print pixel for pixel (375 x 525), so the mark
    // belongs at (75 + 15, 350 + 15) in an upright crop of the print.
    synth::RgbImage picture = MarkedPicture(375, 525, 75, 350, 30);
    for (double angle : {-12.0, 4.0, 0.4}) {
        synth::Scene s = SmallScene(angle, 77);
        SetLevel(s.backing, 120);
        // Dark dust would count as part of the mark.
        s.specks = 0;
        s.streaks = 0;
        s.content = &picture;
        std::vector<uint8_t> file = synth::RenderScan(s);
        pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), {true, true});
        ASSERT_EQ(r.outcome, pagefit::Outcome::Rewritten) << r.log;
        double x, y;
        int w, h;
        ASSERT_TRUE(DarkCentroid(r.output, &x, &y, &w, &h));
        EXPECT_NEAR(w, 375, 1) << angle;
        EXPECT_NEAR(h, 525, 1) << angle;
        EXPECT_NEAR(x, 90, 0.75) << angle << ": " << r.log;
        EXPECT_NEAR(y, 365, 0.75) << angle << ": " << r.log;
    }
}

TEST(Pagefit, CropAloneCutsTheUprightBoxAndDeskewAloneKeepsThePage)
{
    synth::Scene s = SmallScene(6, 5);
    SetLevel(s.backing, 15);
    std::vector<uint8_t> file = synth::RenderScan(s);
    pagefit::Point corners[4];
    pagefit::RectCorners(s.photo, corners);
    double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
    for (auto &p : corners) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }

    pagefit::Result crop = pagefit::RunPagefit(file.data(), file.size(), {true, false});
    ASSERT_EQ(crop.outcome, pagefit::Outcome::Rewritten) << crop.log;
    int w, h;
    synth::LumaOf(crop.output, &w, &h);
    EXPECT_NEAR(w, x1 - x0, 2);
    EXPECT_NEAR(h, y1 - y0, 2);
    EXPECT_EQ(crop.written.angle, 0);

    pagefit::Result deskew = pagefit::RunPagefit(file.data(), file.size(), {false, true});
    ASSERT_EQ(deskew.outcome, pagefit::Outcome::Rewritten) << deskew.log;
    synth::LumaOf(deskew.output, &w, &h);
    EXPECT_EQ(w, s.width);
    EXPECT_EQ(h, s.height);
    // Measured again, the print in the deskewed page stands straight, its size
    // unchanged, and the corners the turn uncovered hold backing, not a photo.
    pagefit::Result again = pagefit::RunPagefit(deskew.output.data(), deskew.output.size(), {true, true});
    ASSERT_TRUE(again.search.photoFound) << again.log;
    EXPECT_NEAR(again.search.box.angle / DEGREE, 0, 0.1);
    EXPECT_NEAR(again.search.box.width, 375, 2);
    EXPECT_NEAR(again.search.box.height, 525, 2);
    EXPECT_EQ(again.search.photoSizedMarks, 1);
}

TEST(Pagefit, ASheetWithoutAPhotoAsksForARescan)
{
    for (int dust = 0; dust < 2; dust++) {
        synth::Scene s = SmallScene(0, 40 + dust);
        s.hasPhoto = false;
        SetLevel(s.backing, dust ? 225 : 15);
        s.specks = dust ? 60 : 0;
        s.streaks = dust ? 6 : 0;
        std::vector<uint8_t> file = synth::RenderScan(s);
        for (pagefit::Options o :
             {pagefit::Options{true, true}, pagefit::Options{true, false}, pagefit::Options{false, true}}) {
            pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), o);
            EXPECT_EQ(r.outcome, pagefit::Outcome::NoAction) << r.log;
            EXPECT_NE(r.log.find(AUTOCROP_NO_ACTION_WORD), std::string::npos) << r.log;
            EXPECT_TRUE(r.output.empty());
        }
    }
}

TEST(Pagefit, OfTwoPrintsTheLargerIsKeptAndTheLogSaysSo)
{
    // Two renders composed: a small print at the top, the larger one below.
    synth::Scene big = SmallScene(3, 9);
    SetLevel(big.backing, 230);
    big.height += 300;
    big.photo.cy += 300;
    std::vector<uint8_t> withBig = synth::RenderScan(big);
    synth::Scene small = big;
    small.photo = {150, 125, 262, 187, -5 * DEGREE};
    small.noise = 0;
    std::vector<uint8_t> withSmall = synth::RenderScan(small);
    int w, h;
    std::vector<uint8_t> a = synth::LumaOf(withBig, &w, &h), b = synth::LumaOf(withSmall, &w, &h);
    for (int y = 0; y < 280; y++)
        for (int x = 0; x < w; x++)
            a[size_t(y) * w + x] = b[size_t(y) * w + x];
    std::vector<uint8_t> file = synth::ProductBitmap(w, h, 8, 300, a);
    pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), {true, true});
    ASSERT_EQ(r.outcome, pagefit::Outcome::Rewritten) << r.log;
    EXPECT_EQ(r.search.photoSizedMarks, 2);
    EXPECT_GT(pagefit::RectIoU(r.search.box, big.photo), 0.99) << r.log;
    EXPECT_NE(r.log.find("2 photo-sized marks on the sheet, kept the largest"), std::string::npos) << r.log;
}

TEST(Pagefit, TheLogLineSaysWhatWasDoneAndMeasured)
{
    synth::Scene s = SmallScene(-2.5, 3);
    SetLevel(s.backing, 232);
    std::vector<uint8_t> file = synth::RenderScan(s);
    pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), {true, true});
    ASSERT_EQ(r.outcome, pagefit::Outcome::Rewritten);
    EXPECT_EQ(r.log.find('\n'), std::string::npos);
    EXPECT_EQ(r.log.find(AUTOCROP_NO_ACTION_WORD), std::string::npos);
    for (const char *part : {"cropped and deskewed", "4 of 4 edges", "at 24 bits"})
        EXPECT_NE(r.log.find(part), std::string::npos) << part << " in " << r.log;
    // The measured numbers, read back from the text.
    double angle = 0, backing = 0;
    ASSERT_EQ(sscanf(r.log.c_str() + r.log.find("angle "), "angle %lf", &angle), 1) << r.log;
    ASSERT_EQ(sscanf(r.log.c_str() + r.log.find("backing luma "), "backing luma %lf", &backing), 1) << r.log;
    EXPECT_NEAR(angle, -2.5, 0.05);
    EXPECT_NEAR(backing, 228, 10);

    pagefit::Result off = pagefit::RunPagefit(file.data(), file.size(), {false, false});
    EXPECT_EQ(off.outcome, pagefit::Outcome::Unchanged);
    EXPECT_TRUE(off.output.empty());
    EXPECT_NE(off.log.find("are off"), std::string::npos);
}

TEST(Pagefit, AStraightPageNeedsNoDeskew)
{
    synth::Scene s = SmallScene(0, 8);
    SetLevel(s.backing, 20);
    std::vector<uint8_t> file = synth::RenderScan(s);
    pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), {false, true});
    EXPECT_EQ(r.outcome, pagefit::Outcome::Unchanged) << r.log;
    EXPECT_NE(r.log.find("straight"), std::string::npos) << r.log;
}

TEST(Pagefit, ARefusedFileIsNeverTouchedAndNeverAsksForARescan)
{
    synth::Scene s = SmallScene(5, 4);
    std::vector<uint8_t> file = synth::RenderScan(s);
    file.resize(file.size() / 2);
    std::vector<uint8_t> before = file;
    pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), {true, true});
    EXPECT_EQ(r.outcome, pagefit::Outcome::Invalid);
    EXPECT_EQ(file, before);
    EXPECT_TRUE(r.output.empty());
    EXPECT_NE(r.log.find("truncated"), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find(AUTOCROP_NO_ACTION_WORD), std::string::npos) << r.log;
}

} // namespace
