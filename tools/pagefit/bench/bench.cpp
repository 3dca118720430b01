// Runs Pagefit's core, ImageMagick and unpaper on the same synthetic scans
// and prints, per tool and category, how close each came to the truth.
//
//   pagefit_bench <folder written by pagefit_generate> [--pagefit-only] [--only CATEGORY]
//
// Every tool's answer is turned into the same thing: the photo's angle and
// the region of the scan that became the output, as a rotated rectangle in
// the scan's pixels. Angle error is against the true angle modulo 90
// degrees; IoU is the overlap of that region with the true print.
#include "pagefit.h"
#include "synth.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using pagefit::RotatedRect;

const double DEGREE = 0.017453292519943295;

struct Truth {
    std::string file, category;
    bool photo = false;
    int bits = 24, width = 0, height = 0;
    double dpi = 300;
    RotatedRect box;
};

struct Answer {
    bool ran = false;      // the tool ran and its answer could be read
    bool noAction = false; // it said the sheet holds no photo
    bool hasBox = false;
    RotatedRect box;
    double ms = 0;
};

std::vector<Truth> ReadTruth(const std::string &folder)
{
    std::vector<Truth> out;
    FILE *f = fopen((folder + "/truth.tsv").c_str(), "r");
    if (!f)
        return out;
    char line[1024];
    if (!fgets(line, sizeof line, f)) {
        fclose(f);
        return out;
    }
    while (fgets(line, sizeof line, f)) {
        char file[256], category[64];
        Truth t;
        int photo;
        double angle;
        if (sscanf(line, "%255s %63s %d %d %lf %d %d %lf %lf %lf %lf %lf", file, category, &photo, &t.bits, &t.dpi,
                   &t.width, &t.height, &t.box.cx, &t.box.cy, &t.box.width, &t.box.height, &angle) != 12)
            continue;
        t.file = file;
        t.category = category;
        t.photo = photo != 0;
        t.box.angle = angle * DEGREE;
        out.push_back(t);
    }
    fclose(f);
    return out;
}

double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

std::string RunCapture(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    pclose(p);
    return out;
}

// A rectangle upright in a rotated output mapped back into the scan: the
// output is the scan turned by -angle about the two frames' matching centres.
RotatedRect BackToScan(double boxCx, double boxCy, double boxW, double boxH, double outCx, double outCy, double scanCx,
                       double scanCy, double angle)
{
    double dx = boxCx - outCx, dy = boxCy - outCy;
    double c = std::cos(angle), s = std::sin(angle);
    return {scanCx + dx * c - dy * s, scanCy + dx * s + dy * c, boxW, boxH, angle};
}

Answer RunPagefitCore(const std::string &path, const std::string &scratch)
{
    Answer a;
    double start = NowMs();
    std::vector<uint8_t> file;
    if (!synth::ReadFile(path, &file))
        return a;
    pagefit::Options options;
    options.crop = options.deskew = true;
    pagefit::Result r = pagefit::RunPagefit(file.data(), file.size(), options);
    if (r.outcome == pagefit::Outcome::Rewritten)
        synth::WriteFile(scratch + "/pagefit-out.bmp", r.output);
    a.ms = NowMs() - start;
    a.ran = r.outcome != pagefit::Outcome::Invalid;
    a.noAction = r.outcome == pagefit::Outcome::NoAction;
    a.hasBox = r.search.photoFound;
    a.box = r.written;
    return a;
}

// A fair backing colour for ImageMagick's rotation fill, so -trim can cut
// it away: the median of the scan's outermost pixels.
std::string BackingColour(const std::vector<uint8_t> &file)
{
    pagefit::Bitmap b;
    if (!pagefit::ParseBitmap(file.data(), file.size(), &b, nullptr))
        return "white";
    std::vector<int> v[3];
    auto add = [&](int x, int y) {
        const uint8_t *row = b.Row(y);
        int px[3];
        if (b.bits == 24) {
            px[0] = row[3 * x + 2];
            px[1] = row[3 * x + 1];
            px[2] = row[3 * x];
        } else {
            int l = b.bits == 8 ? b.paletteLuma[row[x]] : b.paletteLuma[(row[x >> 3] >> (7 - (x & 7))) & 1];
            px[0] = px[1] = px[2] = l;
        }
        for (int c = 0; c < 3; c++)
            v[c].push_back(px[c]);
    };
    for (int x = 0; x < b.width; x += 3) {
        add(x, 1);
        add(x, b.height - 2);
    }
    for (int y = 0; y < b.height; y += 3) {
        add(1, y);
        add(b.width - 2, y);
    }
    int m[3];
    for (int c = 0; c < 3; c++) {
        std::nth_element(v[c].begin(), v[c].begin() + v[c].size() / 2, v[c].end());
        m[c] = v[c][v[c].size() / 2];
    }
    char text[64];
    snprintf(text, sizeof text, "rgb(%d,%d,%d)", m[0], m[1], m[2]);
    return text;
}

// convert -deskew 40% then -fuzz -trim, on one thread. Reports the deskew
// angle and the trimmed box inside the enlarged, rotated canvas.
Answer RunImageMagick(const std::string &path, const Truth &t, const std::string &scratch)
{
    Answer a;
    std::vector<uint8_t> file;
    synth::ReadFile(path, &file);
    std::string command = "convert -limit thread 1 '" + path + "' -background '" + BackingColour(file) +
                          "' -deskew 40% -print 'A %[deskew:angle]\\n' +repage -print 'C %w %h\\n' -fuzz 15% -trim "
                          "-print 'T %w %h %X %Y\\n' '" +
                          scratch + "/im-out.bmp' 2>/dev/null";
    double start = NowMs();
    std::string out = RunCapture(command);
    a.ms = NowMs() - start;
    double angle, cw, ch, w, h, x, y;
    const char *pa = strstr(out.c_str(), "A "), *pc = strstr(out.c_str(), "C "), *pt = strstr(out.c_str(), "T ");
    if (!pa || !pc || !pt || sscanf(pa, "A %lf", &angle) != 1 || sscanf(pc, "C %lf %lf", &cw, &ch) != 2 ||
        sscanf(pt, "T %lf %lf %lf %lf", &w, &h, &x, &y) != 4)
        return a;
    a.ran = true;
    a.hasBox = true;
    // ImageMagick turns the page clockwise by the angle it reports; the photo
    // stood at the opposite angle.
    a.box = BackToScan(x + w / 2, y + h / 2, w, h, cw / 2, ch / 2, t.width / 2.0, t.height / 2.0, -angle * DEGREE);
    return a;
}

// unpaper with its filters off (they wipe photo areas): deskew, mask and
// border detection only. Its masks and borders are boxes in the turned page.
Answer RunUnpaper(const std::string &path, const Truth &t, const std::string &scratch)
{
    Answer a;
    std::vector<uint8_t> file;
    if (!synth::ReadFile(path, &file))
        return a;
    int w, h;
    std::vector<uint8_t> luma = synth::LumaOf(file, &w, &h);
    pagefit::Bitmap b;
    pagefit::ParseBitmap(file.data(), file.size(), &b, nullptr);
    // unpaper reads PNM: colour as PPM, the rest as PGM (untimed conversion).
    std::string in = scratch + (b.bits == 24 ? "/up-in.ppm" : "/up-in.pgm"), outPath = scratch + "/up-out.pnm";
    FILE *f = fopen(in.c_str(), "wb");
    fprintf(f, "%s\n%d %d\n255\n", b.bits == 24 ? "P6" : "P5", w, h);
    if (b.bits == 24) {
        std::vector<uint8_t> row(size_t(w) * 3);
        for (int y = 0; y < h; y++) {
            const uint8_t *r = b.Row(y);
            for (int x = 0; x < w; x++) {
                row[3 * x] = r[3 * x + 2];
                row[3 * x + 1] = r[3 * x + 1];
                row[3 * x + 2] = r[3 * x];
            }
            fwrite(row.data(), 1, row.size(), f);
        }
    } else {
        fwrite(luma.data(), 1, luma.size(), f);
    }
    fclose(f);
    std::string command = "unpaper -v --overwrite --no-blackfilter --no-noisefilter --no-blurfilter --no-grayfilter "
                          "--no-mask-center --no-border-align '" +
                          in + "' '" + outPath + "' 2>&1";
    double start = NowMs();
    std::string out = RunCapture(command);
    a.ms = NowMs() - start;
    double angle = 0;
    int mx1 = 0, my1 = 0, mx2 = w - 1, my2 = h - 1, bl = 0, bt = 0, br = 0, bb = 0;
    bool any = false;
    for (size_t pos = 0; (pos = out.find("auto-masking", pos)) != std::string::npos; pos++) {
        int px, py;
        if (sscanf(out.c_str() + pos, "auto-masking (%d,%d): %d,%d,%d,%d", &px, &py, &mx1, &my1, &mx2, &my2) == 6)
            any = true;
    }
    size_t rp = out.find("rotate (");
    if (rp != std::string::npos) {
        int px, py;
        sscanf(out.c_str() + rp, "rotate (%d,%d): %lf", &px, &py, &angle);
    }
    size_t bp = out.find("border detected: (");
    if (bp != std::string::npos)
        sscanf(out.c_str() + bp, "border detected: (%d,%d,%d,%d)", &bl, &bt, &br, &bb);
    if (!any && bp == std::string::npos)
        return a;
    a.ran = true;
    a.hasBox = true;
    double x1 = std::max(mx1, bl), y1 = std::max(my1, bt), x2 = std::min(mx2, w - 1 - br),
           y2 = std::min(my2, h - 1 - bb);
    if (x2 < x1)
        std::swap(x1, x2);
    if (y2 < y1)
        std::swap(y1, y2);
    // unpaper turns the page about its centre by the angle it prints, in radians.
    a.box = BackToScan((x1 + x2 + 1) / 2, (y1 + y2 + 1) / 2, x2 - x1 + 1, y2 - y1 + 1, w / 2.0, h / 2.0, w / 2.0,
                       h / 2.0, angle);
    return a;
}

double AngleError(double a, double b)
{
    double d = std::fmod(std::fabs(a - b), 90 * DEGREE);
    return std::min(d, 90 * DEGREE - d) / DEGREE;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    double pos = p / 100 * (v.size() - 1);
    size_t i = size_t(pos);
    double f = pos - i;
    return i + 1 < v.size() ? v[i] * (1 - f) + v[i + 1] * f : v[i];
}

struct Stats {
    std::vector<double> angle, iou, corner, msPerMp;
    int photos = 0, failures = 0, negatives = 0;
    int noActionOnPhoto = 0, noActionOnBlank = 0;
};

void Add(Stats &s, const Truth &t, const Answer &a)
{
    double mp = double(t.width) * t.height / 1e6;
    if (a.ran)
        s.msPerMp.push_back(a.ms / mp);
    if (!t.photo) {
        s.negatives++;
        if (a.noAction)
            s.noActionOnBlank++;
        return;
    }
    s.photos++;
    if (a.noAction)
        s.noActionOnPhoto++;
    if (!a.ran || !a.hasBox || a.noAction) {
        s.failures++;
        s.angle.push_back(90);
        s.iou.push_back(0);
        s.corner.push_back(1e6);
        return;
    }
    double ae = AngleError(a.box.angle, t.box.angle);
    double iou = pagefit::RectIoU(a.box, t.box);
    s.angle.push_back(ae);
    s.iou.push_back(iou);
    s.corner.push_back(pagefit::MaxCornerDistance(a.box, t.box));
    if (ae > 0.5 || iou < 0.95)
        s.failures++;
}

std::string Num(double v, const char *format)
{
    if (std::isnan(v))
        return "-";
    char b[32];
    snprintf(b, sizeof b, format, v);
    return b;
}

void PrintRow(const char *tool, const std::string &category, const Stats &s, bool noActionTool)
{
    std::string precision = "-", recall = "-";
    if (noActionTool) {
        int said = s.noActionOnBlank + s.noActionOnPhoto;
        precision = said ? Num(100.0 * s.noActionOnBlank / said, "%.0f%%") : "-";
        recall = s.negatives ? Num(100.0 * s.noActionOnBlank / s.negatives, "%.0f%%") : "-";
    }
    std::string photoCells;
    if (s.photos) {
        photoCells = Num(Percentile(s.angle, 50), "%.3f") + " | " + Num(Percentile(s.angle, 95), "%.3f") + " | " +
                     Num(Percentile(s.angle, 100), "%.2f") + " | " + Num(Percentile(s.iou, 50), "%.4f") + " | " +
                     Num(Percentile(s.iou, 5), "%.4f") + " | " + Num(Percentile(s.corner, 50), "%.1f") + " | " +
                     Num(Percentile(s.corner, 95), "%.1f") + " | " + Num(100.0 * s.failures / s.photos, "%.1f%%") +
                     " | " + Num(100.0 * s.noActionOnPhoto / s.photos, "%.1f%%");
    } else {
        photoCells = "- | - | - | - | - | - | - | - | -";
    }
    printf("| %s | %s | %d | %s | %s | %s | %s |\n", tool, category.c_str(), s.photos + s.negatives, photoCells.c_str(),
           precision.c_str(), recall.c_str(), Num(Percentile(s.msPerMp, 50), "%.1f").c_str());
}

bool IsHard(const std::string &c)
{
    return c == "dark-on-black" || c == "light-on-white" || c == "white-border" || c == "line-art" ||
           c == "matching-tone" || c == "heavy-jpeg" || c == "dithered" || c == "shadow-light";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s <scan folder> [--pagefit-only] [--only CATEGORY] [--verbose]\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1], only;
    bool pagefitOnly = false, verbose = false;
    for (int i = 2; i < argc; i++) {
        if (!strcmp(argv[i], "--pagefit-only"))
            pagefitOnly = true;
        else if (!strcmp(argv[i], "--verbose"))
            verbose = true;
        else if (!strcmp(argv[i], "--only") && i + 1 < argc)
            only = argv[++i];
    }
    std::vector<Truth> truth = ReadTruth(folder);
    if (truth.empty()) {
        fprintf(stderr, "no scans in %s (run pagefit_generate first)\n", folder.c_str());
        return 1;
    }
    std::string scratch = folder + "/out";
    if (system(("mkdir -p '" + scratch + "'").c_str()) != 0)
        return 1;
    const char *tools[] = {"Pagefit", "ImageMagick", "unpaper"};
    int toolCount = pagefitOnly ? 1 : 3;
    std::vector<std::string> order;
    std::map<std::string, Stats> stats[3];
    for (const Truth &t : truth) {
        if (!only.empty() && t.category != only)
            continue;
        if (std::find(order.begin(), order.end(), t.category) == order.end())
            order.push_back(t.category);
        std::string path = folder + "/" + t.file;
        for (int k = 0; k < toolCount; k++) {
            Answer a = k == 0   ? RunPagefitCore(path, scratch)
                       : k == 1 ? RunImageMagick(path, t, scratch)
                                : RunUnpaper(path, t, scratch);
            Add(stats[k][t.category], t, a);
            Add(stats[k]["all scans"], t, a);
            if (IsHard(t.category))
                Add(stats[k]["hard categories"], t, a);
            if (!t.photo)
                Add(stats[k]["negatives"], t, a);
            if (verbose && k == 0) {
                fprintf(stderr, "%s: ", t.file.c_str());
                if (t.photo && a.hasBox)
                    fprintf(stderr, "angle err %.3f iou %.4f corner %.1f %.0f ms%s\n",
                            AngleError(a.box.angle, t.box.angle), pagefit::RectIoU(a.box, t.box),
                            pagefit::MaxCornerDistance(a.box, t.box), a.ms, a.noAction ? " NOACTION" : "");
                else
                    fprintf(stderr, "%s %.0f ms\n", a.noAction ? "noaction" : "no box", a.ms);
            }
        }
    }
    order.push_back("hard categories");
    order.push_back("all scans");
    printf("| tool | category | scans | angle err p50 (deg) | p95 | max | IoU p50 | IoU p5 | corner err p50 (px) | "
           "corner p95 | "
           "failures | noaction on photos | noaction precision | noaction recall | ms/MP p50 |\n");
    printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const std::string &c : order)
        for (int k = 0; k < toolCount; k++)
            if (stats[k].count(c))
                PrintRow(tools[k], c, stats[k][c], k == 0);
    return 0;
}
