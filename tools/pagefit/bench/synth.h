// Synthetic scans with known answers, for the tests, the fuzzers' seeds and
// the benchmark: a print (photo content, optional border, rounded corners)
// laid on a scanner backing and passed through what a scanner's optics and
// sensor do to it (falloff, column patterns, dust streaks, blur, noise).
#pragma once

#include "geometry.h"

#include <cstdint>
#include <string>
#include <vector>

namespace synth {

// Deterministic random numbers, identical on every platform and library.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint64_t Next();
    double Uniform(double lo = 0, double hi = 1)
    {
        return lo + (hi - lo) * double(Next() >> 11) * (1.0 / 9007199254740992.0);
    }
    int Int(int lo, int hi)
    {
        return lo + int(Next() % uint64_t(hi - lo + 1));
    } // inclusive
    double Normal();

private:
    uint64_t state_;
};

struct RgbImage {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // top-down, 3 bytes a pixel, red first
};

// Picture content made of shapes, gradients and strong straight lines at
// odd angles (the lines a projection-profile deskew would lock onto).
RgbImage ProceduralPhoto(int width, int height, uint64_t seed);

// Muted: the picture's tones squeezed around `mutedCentre` by `mutedContrast`
// (a faded, low-contrast print).
enum class Tone { Normal, Dark, Light, Faded, Muted };

struct Scene {
    int width = 600, height = 800; // page in pixels
    double dpi = 300;
    int bits = 24;                       // 1, 8 or 24
    double backing[3] = {230, 230, 230}; // red, green, blue reflectance 0..255
    double texture = 0;                  // amplitude of the backing's blotchy texture
    double falloff = 0;                  // brightness lost at the page's left and right ends (fraction)
    double columnPattern = 0;            // amplitude of fixed per-column offsets
    int streaks = 0;                     // dust streaks down the page
    int specks = 0;                      // dust specks
    double blur = 0.6;                   // optical blur, sigma in pixels
    double noise = 2;                    // sensor noise, sigma
    double lineArtThreshold = 128;       // where 1-bit scans cut
    bool dither = false;                 // 1-bit scans by error diffusion instead of a cut

    bool hasPhoto = true;
    pagefit::RotatedRect photo; // the print's outline in page pixels
    double cornerRadius = 0;    // pixels
    double borderWidth = 0;     // pixels of plain border inside the outline
    double border[3] = {248, 248, 246};
    Tone tone = Tone::Normal;
    double mutedCentre = 128, mutedContrast = 0.3;
    double shadow = 0; // depth (fraction) of the shadow the print casts
    double shadowOffset[2] = {1.5, 2.0};
    const RgbImage *content = nullptr; // the picture; procedural when null
    uint64_t seed = 1;
};

// The scan as the scanner writes it: bottom-up rows, the product's header,
// palette and pixels per metre.
std::vector<uint8_t> RenderScan(const Scene &scene);

// A file in the product's layout from top-down 8-bit values (grey, or line
// art as 0/255) or BGR triples; `bits` says which.
std::vector<uint8_t> ProductBitmap(int width, int height, int bits, double dpi, const std::vector<uint8_t> &topDown);

// Pixels of a product bitmap as top-down luma, for checks; empty when the
// file does not parse.
std::vector<uint8_t> LumaOf(const std::vector<uint8_t> &file, int *width, int *height);

bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes);
bool ReadFile(const std::string &path, std::vector<uint8_t> *bytes);

} // namespace synth
