// Synthetic scan rendering.
#include "synth.h"

#include "bitmap.h"
#include "bitmap_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace synth {

uint64_t Random::Next()
{
    // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Random::Normal()
{
    double u = std::max(1e-12, Uniform()), v = Uniform();
    return std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
}

RgbImage ProceduralPhoto(int width, int height, uint64_t seed)
{
    Random rng(seed);
    RgbImage img;
    img.width = width;
    img.height = height;
    img.rgb.resize(size_t(width) * height * 3);
    double base[3], grad[3];
    for (int c = 0; c < 3; c++) {
        base[c] = rng.Uniform(40, 200);
        grad[c] = rng.Uniform(-80, 80);
    }
    struct Disc {
        double x, y, r, col[3];
    } discs[6];
    for (Disc &d : discs) {
        d.x = rng.Uniform(0, width);
        d.y = rng.Uniform(0, height);
        d.r = rng.Uniform(0.05, 0.3) * width;
        for (double &c : d.col)
            c = rng.Uniform(0, 255);
    }
    struct Line {
        double a, b, c, col;
    } lines[5];
    for (Line &l : lines) {
        double angle = rng.Uniform(-0.6, 0.6) + (rng.Int(0, 1) ? 1.5708 : 0);
        l.a = -std::sin(angle);
        l.b = std::cos(angle);
        l.c = -(l.a * rng.Uniform(0, width) + l.b * rng.Uniform(0, height));
        l.col = rng.Int(0, 1) ? 20 : 235;
    }
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            double v[3];
            for (int c = 0; c < 3; c++)
                v[c] = base[c] + grad[c] * (double(x) / width - double(y) / height);
            for (const Disc &d : discs)
                if ((x - d.x) * (x - d.x) + (y - d.y) * (y - d.y) < d.r * d.r)
                    for (int c = 0; c < 3; c++)
                        v[c] = d.col[c];
            for (const Line &l : lines)
                if (std::fabs(l.a * x + l.b * y + l.c) < 2.5)
                    for (double &c : v)
                        c = l.col;
            for (int c = 0; c < 3; c++)
                img.rgb[(size_t(y) * width + x) * 3 + c] = uint8_t(std::max(0.0, std::min(255.0, v[c])));
        }
    return img;
}

namespace {

// Signed distance from a point (in the print's own frame, centred) to the
// outline of a rounded rectangle; negative inside.
double RoundedRectDistance(double x, double y, double hw, double hh, double r)
{
    r = std::min(r, std::min(hw, hh));
    double qx = std::fabs(x) - (hw - r), qy = std::fabs(y) - (hh - r);
    double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - r;
}

double ApplyTone(const Scene &s, double v, int channel)
{
    switch (s.tone) {
    case Tone::Dark: return 255 * std::pow(v / 255, 1.9) * 0.55;
    case Tone::Light: return 255 - (255 - v) * 0.4;
    case Tone::Faded: return 105 + v * 0.55 + (channel == 2 ? -18 : channel == 0 ? 8 : 0);
    case Tone::Muted: return s.mutedCentre + (v - 128) * s.mutedContrast;
    default: return v;
    }
}

// Bilinear sample of the picture, red, green, blue.
void SampleContent(const RgbImage &img, double x, double y, double out[3])
{
    x = std::max(0.0, std::min(img.width - 1.001, x - 0.5));
    y = std::max(0.0, std::min(img.height - 1.001, y - 0.5));
    int x0 = int(x), y0 = int(y);
    double fx = x - x0, fy = y - y0;
    const uint8_t *p = &img.rgb[(size_t(y0) * img.width + x0) * 3];
    const uint8_t *q = p + size_t(img.width) * 3;
    for (int c = 0; c < 3; c++) {
        double top = p[c] + (p[3 + c] - p[c]) * fx, bottom = q[c] + (q[3 + c] - q[c]) * fx;
        out[c] = top + (bottom - top) * fy;
    }
}

void GaussianBlur(std::vector<float> &plane, int w, int h, double sigma)
{
    if (sigma <= 0.05)
        return;
    int r = std::max(1, int(std::ceil(3 * sigma)));
    std::vector<float> k(2 * r + 1);
    float sum = 0;
    for (int i = -r; i <= r; i++)
        sum += (k[i + r] = float(std::exp(-i * i / (2 * sigma * sigma))));
    for (float &v : k)
        v /= sum;
    std::vector<float> tmp(plane.size()), line;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float acc = 0;
            for (int i = -r; i <= r; i++)
                acc += k[i + r] * plane[size_t(y) * w + std::max(0, std::min(w - 1, x + i))];
            tmp[size_t(y) * w + x] = acc;
        }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float acc = 0;
            for (int i = -r; i <= r; i++)
                acc += k[i + r] * tmp[size_t(std::max(0, std::min(h - 1, y + i))) * w + x];
            plane[size_t(y) * w + x] = acc;
        }
}

} // namespace

std::vector<uint8_t> RenderScan(const Scene &s)
{
    Random rng(s.seed);
    int w = s.width, h = s.height;
    std::vector<float> plane[3];
    for (auto &p : plane)
        p.assign(size_t(w) * h, 0);

    // Backing texture: a coarse random grid, smoothly interpolated.
    int step = std::max(8, int(s.dpi / 12));
    int gw = w / step + 2, gh = h / step + 2;
    std::vector<float> grid(size_t(gw) * gh);
    for (float &g : grid)
        g = float(rng.Normal() * s.texture);

    RgbImage procedural;
    const RgbImage *content = s.content;
    double hw = s.photo.width / 2, hh = s.photo.height / 2;
    double innerW = std::max(1.0, s.photo.width - 2 * s.borderWidth),
           innerH = std::max(1.0, s.photo.height - 2 * s.borderWidth);
    if (s.hasPhoto && !content) {
        procedural = ProceduralPhoto(std::max(8, int(innerW / 2)), std::max(8, int(innerH / 2)), s.seed ^ 0x5A5A);
        content = &procedural;
    }
    // The picture covers the print's inner area, cropped to its aspect.
    double scale = content ? std::max(innerW / content->width, innerH / content->height) : 1;
    double ca = std::cos(s.photo.angle), sa = std::sin(s.photo.angle);

    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            double px = x + 0.5, py = y + 0.5;
            double gx = px / step, gy = py / step;
            int ix = int(gx), iy = int(gy);
            double fx = gx - ix, fy = gy - iy;
            double t = grid[size_t(iy) * gw + ix] * (1 - fx) * (1 - fy) +
                       grid[size_t(iy) * gw + ix + 1] * fx * (1 - fy) + grid[size_t(iy + 1) * gw + ix] * (1 - fx) * fy +
                       grid[size_t(iy + 1) * gw + ix + 1] * fx * fy;
            double v[3];
            for (int c = 0; c < 3; c++)
                v[c] = s.backing[c] + t;
            if (s.hasPhoto) {
                double dx = px - s.photo.cx, dy = py - s.photo.cy;
                double lx = dx * ca + dy * sa, ly = -dx * sa + dy * ca;
                if (s.shadow > 0) {
                    double sx = lx - s.shadowOffset[0], sy = ly - s.shadowOffset[1];
                    double d = RoundedRectDistance(sx, sy, hw, hh, s.cornerRadius);
                    double cover = std::max(0.0, std::min(1.0, 0.5 - d / 2.0));
                    for (double &c : v)
                        c *= 1 - s.shadow * cover;
                }
                double d = RoundedRectDistance(lx, ly, hw, hh, s.cornerRadius);
                double cover = std::max(0.0, std::min(1.0, 0.5 - d));
                if (cover > 0) {
                    double pc[3];
                    if (-d < s.borderWidth) {
                        for (int c = 0; c < 3; c++)
                            pc[c] = s.border[c];
                    } else {
                        double cx = (lx + innerW / 2) / scale + (content->width - innerW / scale) / 2;
                        double cy = (ly + innerH / 2) / scale + (content->height - innerH / scale) / 2;
                        SampleContent(*content, cx, cy, pc);
                        for (int c = 0; c < 3; c++)
                            pc[c] = ApplyTone(s, pc[c], c);
                    }
                    for (int c = 0; c < 3; c++)
                        v[c] = cover * pc[c] + (1 - cover) * v[c];
                }
            }
            double gain = 1 - s.falloff * std::pow(2.0 * px / w - 1, 2);
            for (int c = 0; c < 3; c++)
                plane[c][size_t(y) * w + x] = float(v[c] * gain);
        }
    }
    // Column patterns and dust streaks run the whole length of the page: the
    // sensor reads every line through the same spot.
    std::vector<float> column(w, 0);
    for (int x = 0; x < w; x++)
        column[x] = float(rng.Normal() * s.columnPattern);
    for (int k = 0; k < s.streaks; k++) {
        int x = rng.Int(0, w - 1), width = rng.Int(1, 3);
        float depth = float(rng.Uniform(-40, 25));
        for (int i = x; i < std::min(w, x + width); i++)
            column[i] += depth;
    }
    for (int c = 0; c < 3; c++)
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                plane[c][size_t(y) * w + x] += column[x];
    for (int k = 0; k < s.specks; k++) {
        double x = rng.Uniform(0, w), y = rng.Uniform(0, h), r = rng.Uniform(0.7, 3.5);
        float level = rng.Int(0, 1) ? 30.f : 250.f;
        for (int yy = std::max(0, int(y - r)); yy <= std::min(h - 1, int(y + r)); yy++)
            for (int xx = std::max(0, int(x - r)); xx <= std::min(w - 1, int(x + r)); xx++)
                if ((xx - x) * (xx - x) + (yy - y) * (yy - y) <= r * r)
                    for (auto &p : plane)
                        p[size_t(yy) * w + xx] = level;
    }
    for (auto &p : plane)
        GaussianBlur(p, w, h, s.blur);

    std::vector<uint8_t> pixels;
    int bytes = s.bits == 24 ? 3 : 1;
    pixels.resize(size_t(w) * h * bytes);
    std::vector<float> diffused(s.dither ? size_t(w) * h : 0);
    for (size_t i = 0; i < size_t(w) * h; i++) {
        double r = plane[0][i] + rng.Normal() * s.noise, g = plane[1][i] + rng.Normal() * s.noise,
               b = plane[2][i] + rng.Normal() * s.noise;
        auto clamp = [](double v) { return uint8_t(std::lround(std::max(0.0, std::min(255.0, v)))); };
        if (s.bits == 24) {
            pixels[3 * i] = clamp(b);
            pixels[3 * i + 1] = clamp(g);
            pixels[3 * i + 2] = clamp(r);
        } else {
            double luma = (b * luma::BLUE_WEIGHT + g * luma::GREEN_WEIGHT + r * luma::RED_WEIGHT) / luma::WEIGHT_TOTAL;
            pixels[i] = s.bits == 8 ? clamp(luma) : (luma >= s.lineArtThreshold ? 255 : 0);
            if (s.dither)
                diffused[i] = float(luma);
        }
    }
    if (s.dither && s.bits == 1) {
        // Floyd and Steinberg's error diffusion, row by row.
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                size_t i = size_t(y) * w + x;
                float old = diffused[i], set = old >= 128 ? 255.f : 0.f, error = old - set;
                pixels[i] = uint8_t(set);
                if (x + 1 < w)
                    diffused[i + 1] += error * 7 / 16;
                if (y + 1 < h) {
                    if (x > 0)
                        diffused[i + w - 1] += error * 3 / 16;
                    diffused[i + w] += error * 5 / 16;
                    if (x + 1 < w)
                        diffused[i + w + 1] += error * 1 / 16;
                }
            }
    }
    return ProductBitmap(w, h, s.bits, s.dpi, pixels);
}

std::vector<uint8_t> ProductBitmap(int width, int height, int bits, double dpi, const std::vector<uint8_t> &topDown)
{
    using namespace bitmap_layout;
    uint32_t header = bits == 24 ? PIXELS_OFFSET_NO_PALETTE : bits == 8 ? GREY_HEADER_BYTES : LINE_ART_HEADER_BYTES;
    uint32_t rowBytes = uint32_t(RowBytes(uint32_t(width), uint32_t(bits)));
    std::vector<uint8_t> f(header + size_t(rowBytes) * height, 0);
    f[0] = 'B';
    f[1] = 'M';
    WriteLe32(&f[OFFSET_FILE_SIZE], uint32_t(f.size()));
    WriteLe32(&f[OFFSET_PIXELS], header);
    WriteLe32(&f[OFFSET_INFO_SIZE], INFO_HEADER_BYTES);
    WriteLe32(&f[OFFSET_WIDTH], uint32_t(width));
    WriteLe32(&f[OFFSET_HEIGHT], uint32_t(height));
    WriteLe16(&f[OFFSET_PLANES], 1);
    WriteLe16(&f[OFFSET_BIT_COUNT], uint16_t(bits));
    WriteLe32(&f[OFFSET_IMAGE_SIZE], rowBytes * uint32_t(height));
    uint32_t ppm = uint32_t(dpi * 39.37007933143675 + 0.5);
    WriteLe32(&f[OFFSET_X_PELS_PER_METRE], ppm);
    WriteLe32(&f[OFFSET_Y_PELS_PER_METRE], ppm);
    WriteLe32(&f[OFFSET_COLOURS_USED], bits == 8 ? 256 : 0);
    if (bits == 8)
        for (int i = 0; i < 256; i++) {
            f[OFFSET_PALETTE + 4 * i] = f[OFFSET_PALETTE + 4 * i + 1] = f[OFFSET_PALETTE + 4 * i + 2] = uint8_t(i);
        }
    if (bits == 1) {
        f[OFFSET_PALETTE + 4] = f[OFFSET_PALETTE + 5] = f[OFFSET_PALETTE + 6] = 255;
    }
    for (int y = 0; y < height; y++) {
        uint8_t *row = &f[header + size_t(height - 1 - y) * rowBytes];
        if (bits == 24)
            std::copy_n(&topDown[size_t(y) * width * 3], size_t(width) * 3, row);
        else if (bits == 8)
            std::copy_n(&topDown[size_t(y) * width], width, row);
        else
            for (int x = 0; x < width; x++)
                if (topDown[size_t(y) * width + x] >= 128)
                    row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    return f;
}

std::vector<uint8_t> LumaOf(const std::vector<uint8_t> &file, int *width, int *height)
{
    pagefit::Bitmap b;
    if (!pagefit::ParseBitmap(file.data(), file.size(), &b, nullptr))
        return {};
    *width = b.width;
    *height = b.height;
    std::vector<uint8_t> out(size_t(b.width) * b.height);
    for (int y = 0; y < b.height; y++) {
        const uint8_t *row = b.Row(y);
        for (int x = 0; x < b.width; x++)
            out[size_t(y) * b.width + x] = b.bits == 24  ? uint8_t(luma::OfBgr(row + 3 * x))
                                           : b.bits == 8 ? b.paletteLuma[row[x]]
                                                         : b.paletteLuma[(row[x >> 3] >> (7 - (x & 7))) & 1];
    }
    return out;
}

bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool ReadFile(const std::string &path, std::vector<uint8_t> *bytes)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bool ok = fseek(f, 0, SEEK_END) == 0;
    long size = ok ? ftell(f) : -1;
    ok = size >= 0 && fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        bytes->resize(size_t(size));
        ok = fread(bytes->data(), 1, bytes->size(), f) == bytes->size();
    }
    fclose(f);
    return ok;
}

} // namespace synth
