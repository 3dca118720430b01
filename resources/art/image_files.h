// File formats the resource compiler takes pictures in: 24-bit BMP and ICO
// with several sizes, 32-bit with alpha or 16-colour. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace art {

// A 24-bit bottom-up BMP of `rgb` (3 bytes a pixel, rows top first).
std::vector<uint8_t> EncodeBmp24(int width, int height, const std::vector<uint8_t> &rgb);

struct IconImage {
    int size;                  // width and height
    int bits;                  // 32 (alpha) or 4 (16 colours)
    std::vector<uint8_t> rgba; // straight RGBA, rows top first
};

// An ICO file holding every image in order. Pixels with alpha below one half
// are transparent in the AND mask; 16-colour images are quantised to a palette
// whose entry 0 is black, which is what transparent pixels point at.
std::vector<uint8_t> EncodeIco(const std::vector<IconImage> &images);

// Reduces RGBA to a palette of at most `colours` entries (entry 0 black) and
// one index a pixel; transparent pixels get index 0.
void Quantise(const std::vector<uint8_t> &rgba, int colours, std::vector<uint32_t> *palette,
              std::vector<uint8_t> *indices);

bool WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes);

} // namespace art
