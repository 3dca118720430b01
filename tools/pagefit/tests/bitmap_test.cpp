// Bitmap parsing and writing: round trips at every depth and width, foreign
// palettes, and files that lie about themselves.
#include "bitmap.h"
#include "bitmap_layout.h"
#include "render.h"
#include "synth.h"

#include <gtest/gtest.h>

namespace {

using namespace bitmap_layout;

std::vector<uint8_t> Pattern(int width, int height, int bits) {
  std::vector<uint8_t> px(size_t(width) * height * (bits == 24 ? 3 : 1));
  for (size_t i = 0; i < px.size(); i++) px[i] = bits == 1 ? ((i * 7 + i / 3) % 5 < 2 ? 0 : 255) : uint8_t(i * 37 + 11);
  return px;
}

TEST(Bitmap, CopyOfTheWholePageIsByteIdenticalAtEveryDepthAndWidth) {
  for (int bits : {1, 8, 24})
    for (int width : {1, 2, 3, 5, 7, 8, 9, 13, 31, 32, 33}) {
      std::vector<uint8_t> file = synth::ProductBitmap(width, 5, bits, 300, Pattern(width, 5, bits));
      // Padding bytes the scanner may leave non-zero are not pixels; a copy
      // writes zeros there, so start from zeros to compare whole files.
      pagefit::Bitmap b;
      std::string why;
      ASSERT_TRUE(pagefit::ParseBitmap(file.data(), file.size(), &b, &why)) << bits << " bits, width " << width << ": " << why;
      std::vector<uint8_t> copy = pagefit::CopyBox(b, 0, 0, width, 5);
      EXPECT_EQ(copy, file) << bits << " bits, width " << width;
    }
}

TEST(Bitmap, CroppedRowsKeepTheirPixelsAndThePaddingIsRecomputed) {
  for (int bits : {1, 8, 24}) {
    int width = 29, height = 11;
    std::vector<uint8_t> px = Pattern(width, height, bits);
    std::vector<uint8_t> file = synth::ProductBitmap(width, height, bits, 300, px);
    pagefit::Bitmap b;
    ASSERT_TRUE(pagefit::ParseBitmap(file.data(), file.size(), &b, nullptr));
    std::vector<uint8_t> crop = pagefit::CopyBox(b, 3, 2, 17, 6);
    int w, h;
    std::vector<uint8_t> luma = synth::LumaOf(crop, &w, &h), whole = synth::LumaOf(file, &width, &height);
    ASSERT_EQ(w, 17);
    ASSERT_EQ(h, 6);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) ASSERT_EQ(luma[y * w + x], whole[(y + 2) * width + x + 3]) << bits << " bits at " << x << "," << y;
    EXPECT_EQ(ReadLe32(&crop[OFFSET_FILE_SIZE]), crop.size());
    EXPECT_EQ(ReadLe32(&crop[OFFSET_IMAGE_SIZE]), RowBytes(17, bits) * 6);
    // Depth, palette and resolution come from the source header.
    EXPECT_TRUE(std::equal(file.begin() + OFFSET_BIT_COUNT, file.begin() + OFFSET_IMAGE_SIZE, crop.begin() + OFFSET_BIT_COUNT));
    EXPECT_TRUE(std::equal(file.begin() + OFFSET_X_PELS_PER_METRE, file.begin() + b.pixelOffset, crop.begin() + OFFSET_X_PELS_PER_METRE));
  }
}

TEST(Bitmap, ForeignPalettesAreReadThroughTheirEntries) {
  // Line art whose entry 0 is white and a grey file with a 16-entry palette.
  std::vector<uint8_t> art = synth::ProductBitmap(8, 1, 1, 300, {0, 0, 0, 0, 255, 255, 255, 255});
  for (int k = 0; k < 3; k++) { art[OFFSET_PALETTE + k] = 255; art[OFFSET_PALETTE + 4 + k] = 0; }
  int w, h;
  std::vector<uint8_t> luma = synth::LumaOf(art, &w, &h);
  EXPECT_EQ(luma[0], 255);
  EXPECT_EQ(luma[7], 0);

  std::vector<uint8_t> grey = synth::ProductBitmap(4, 1, 8, 300, {0, 1, 2, 15});
  WriteLe32(&grey[OFFSET_COLOURS_USED], 16);
  for (int i = 0; i < 16; i++) grey[OFFSET_PALETTE + 4 * i] = grey[OFFSET_PALETTE + 4 * i + 1] = grey[OFFSET_PALETTE + 4 * i + 2] = uint8_t(i * 17);
  // The palette shrank: move the rows up so the header still tells the truth.
  std::vector<uint8_t> compact(OFFSET_PALETTE + 64 + (grey.size() - GREY_HEADER_BYTES));
  std::copy(grey.begin(), grey.begin() + OFFSET_PALETTE + 64, compact.begin());
  std::copy(grey.begin() + GREY_HEADER_BYTES, grey.end(), compact.begin() + OFFSET_PALETTE + 64);
  WriteLe32(&compact[OFFSET_PIXELS], OFFSET_PALETTE + 64);
  WriteLe32(&compact[OFFSET_FILE_SIZE], uint32_t(compact.size()));
  pagefit::Bitmap b;
  std::string why;
  ASSERT_TRUE(pagefit::ParseBitmap(compact.data(), compact.size(), &b, &why)) << why;
  EXPECT_FALSE(b.greyPalette);
  luma = synth::LumaOf(compact, &w, &h);
  EXPECT_EQ(luma[1], 17);
  EXPECT_EQ(luma[3], 255);
}

TEST(Bitmap, ResolutionComesFromPixelsPerMetre) {
  std::vector<uint8_t> file = synth::ProductBitmap(4, 4, 8, 600, std::vector<uint8_t>(16, 9));
  pagefit::Bitmap b;
  ASSERT_TRUE(pagefit::ParseBitmap(file.data(), file.size(), &b, nullptr));
  EXPECT_NEAR(b.Dpi(), 600, 0.1);
}

struct Damage {
  const char *name;
  void (*apply)(std::vector<uint8_t> &f);
  const char *reason; // part of the log's explanation
};

const Damage DAMAGES[] = {
    {"empty", [](std::vector<uint8_t> &f) { f.clear(); }, "shorter than a bitmap header"},
    {"not BM", [](std::vector<uint8_t> &f) { f[0] = 'P'; }, "does not start with BM"},
    {"cut short", [](std::vector<uint8_t> &f) { f.resize(f.size() - 7); WriteLe32(&f[OFFSET_FILE_SIZE], uint32_t(f.size())); }, "truncated"},
    {"cut, header unchanged", [](std::vector<uint8_t> &f) { f.resize(f.size() - 100); }, "truncated"},
    {"size field lies", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_FILE_SIZE], uint32_t(f.size() + 4)); }, "header says"},
    {"height lies", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_HEIGHT], 1000000); }, "truncated"},
    {"width lies", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_WIDTH], 0x7fffffff); }, "too large"},
    {"zero width", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_WIDTH], 0); }, "width 0"},
    {"top-down", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_HEIGHT], uint32_t(-40)); }, "not a bottom-up"},
    {"core header", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_INFO_SIZE], 12); }, "information header"},
    {"16 bits", [](std::vector<uint8_t> &f) { WriteLe16(&f[OFFSET_BIT_COUNT], 16); }, "bits per pixel"},
    {"compressed", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_COMPRESSION], 1); }, "compressed"},
    {"two planes", [](std::vector<uint8_t> &f) { WriteLe16(&f[OFFSET_PLANES], 2); }, "planes"},
    {"palette too big", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_COLOURS_USED], 300); }, "colours used"},
    {"pixels inside palette", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_PIXELS], 60); }, "overlaps"},
    {"image size lies", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_IMAGE_SIZE], 12); }, "image size"},
    {"trailing bytes", [](std::vector<uint8_t> &f) { f.resize(f.size() + 8); WriteLe32(&f[OFFSET_FILE_SIZE], uint32_t(f.size())); }, "after the last row"},
};

TEST(Bitmap, EveryLieIsRefusedWithItsReason) {
  for (const Damage &d : DAMAGES) {
    std::vector<uint8_t> file = synth::ProductBitmap(40, 40, 8, 300, std::vector<uint8_t>(1600, 128));
    d.apply(file);
    pagefit::Bitmap b;
    std::string why;
    EXPECT_FALSE(pagefit::ParseBitmap(file.data(), file.size(), &b, &why)) << d.name;
    EXPECT_NE(why.find(d.reason), std::string::npos) << d.name << ": " << why;
  }
}

} // namespace
