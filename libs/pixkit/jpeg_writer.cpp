// Baseline JPEG encoding: headers, colour conversion with halved chroma, a
// floating-point forward DCT of the separable kind with the scale folded into
// the quantiser, and Huffman coding with the standard's example tables.
#include "jpeg_writer.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace pixkit {

namespace {

const uint8_t ZIGZAG[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                            41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                            30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The example tables of the JPEG standard, natural order.
const uint8_t BASE_LUMA[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                               14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                               18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                               49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const uint8_t BASE_CHROMA[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
                                 99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Example Huffman tables: code counts per length 1..16, then the symbols.
const uint8_t DC_LUMA_BITS[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t DC_CHROMA_BITS[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t DC_VALUES[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const uint8_t AC_LUMA_BITS[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const uint8_t AC_LUMA_VALUES[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
const uint8_t AC_CHROMA_BITS[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t AC_CHROMA_VALUES[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

struct HuffmanTable {
    const uint8_t *bits;
    const uint8_t *values;
    int valueCount;
};
const HuffmanTable HUFFMAN_TABLES[4] = {{DC_LUMA_BITS, DC_VALUES, 12},
                                        {AC_LUMA_BITS, AC_LUMA_VALUES, 162},
                                        {DC_CHROMA_BITS, DC_VALUES, 12},
                                        {AC_CHROMA_BITS, AC_CHROMA_VALUES, 162}};

struct HuffmanCodes {
    uint16_t code[256];
    uint8_t length[256];
};

void BuildCodes(const HuffmanTable &table, HuffmanCodes *codes)
{
    memset(codes, 0, sizeof *codes);
    uint16_t code = 0;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.bits[length - 1]; ++i, ++k) {
            codes->code[table.values[k]] = code++;
            codes->length[table.values[k]] = uint8_t(length);
        }
        code <<= 1;
    }
}

// Scale factors of the separable DCT below, one per frequency.
const double AAN_SCALE[8] = {1.0, 1.387039845, 1.306562965, 1.175875602, 1.0, 0.785694958, 0.541196100, 0.275899379};

void ForwardDct8(float *d, int step)
{
    float t0 = d[0] + d[7 * step], t7 = d[0] - d[7 * step];
    float t1 = d[step] + d[6 * step], t6 = d[step] - d[6 * step];
    float t2 = d[2 * step] + d[5 * step], t5 = d[2 * step] - d[5 * step];
    float t3 = d[3 * step] + d[4 * step], t4 = d[3 * step] - d[4 * step];

    float t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
    d[0] = t10 + t11;
    d[4 * step] = t10 - t11;
    float z1 = (t12 + t13) * 0.707106781f;
    d[2 * step] = t13 + z1;
    d[6 * step] = t13 - z1;

    t10 = t4 + t5;
    t11 = t5 + t6;
    t12 = t6 + t7;
    float z5 = (t10 - t12) * 0.382683433f;
    float z2 = 0.541196100f * t10 + z5;
    float z4 = 1.306562965f * t12 + z5;
    float z3 = t11 * 0.707106781f;
    float z11 = t7 + z3, z13 = t7 - z3;
    d[5 * step] = z13 + z2;
    d[3 * step] = z13 - z2;
    d[step] = z11 + z4;
    d[7 * step] = z11 - z4;
}

class Encoder {
public:
    Encoder(ByteSink *sink) : sink_(sink)
    {
        buffer_.reserve(BUFFER_BYTES);
    }

    void Byte(uint8_t b)
    {
        buffer_.push_back(b);
        if (buffer_.size() >= BUFFER_BYTES)
            Flush();
    }
    void Word(uint16_t w)
    {
        Byte(uint8_t(w >> 8));
        Byte(uint8_t(w));
    }
    bool Flush()
    {
        if (!buffer_.empty() && ok_)
            ok_ = sink_->Write(buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok_;
    }
    bool ok() const
    {
        return ok_;
    }

    void Bits(uint32_t value, int count)
    {
        bitBuffer_ = (bitBuffer_ << count) | (value & ((1u << count) - 1));
        bitCount_ += count;
        while (bitCount_ >= 8) {
            uint8_t b = uint8_t(bitBuffer_ >> (bitCount_ - 8));
            Byte(b);
            if (b == 0xFF)
                Byte(0); // a data byte that looks like a marker is stuffed
            bitCount_ -= 8;
        }
    }
    void PadBits()
    {
        if (bitCount_ > 0)
            Bits(0x7F, 8 - bitCount_);
        bitBuffer_ = 0;
    }

private:
    static const size_t BUFFER_BYTES = 1 << 16;
    ByteSink *sink_;
    std::vector<uint8_t> buffer_;
    uint32_t bitBuffer_ = 0;
    int bitCount_ = 0;
    bool ok_ = true;
};

struct Component {
    int quantTable; // 0 or 1
    const HuffmanCodes *dc;
    const HuffmanCodes *ac;
    float divisors[64]; // natural order
    int previousDc = 0;
};

int Magnitude(int value)
{
    int bits = 0;
    for (unsigned v = unsigned(value < 0 ? -value : value); v; v >>= 1)
        ++bits;
    return bits;
}

void EncodeBlock(Encoder *out, float block[64], Component *component)
{
    for (int row = 0; row < 8; ++row)
        ForwardDct8(block + row * 8, 1);
    for (int column = 0; column < 8; ++column)
        ForwardDct8(block + column, 8);
    int coefficients[64];
    for (int k = 0; k < 64; ++k) {
        int natural = ZIGZAG[k];
        // Round half away from zero; a library call per coefficient would
        // cost more than the transform.
        float scaled = block[natural] * component->divisors[natural];
        int value = int(scaled + (scaled >= 0 ? 0.5f : -0.5f));
        // Baseline coding has room for 11-bit DC and 10-bit AC magnitudes.
        int limit = k == 0 ? 2047 : 1023;
        coefficients[k] = value > limit ? limit : value < -limit ? -limit : value;
    }
    int diff = coefficients[0] - component->previousDc;
    if (diff > 2047)
        diff = 2047;
    if (diff < -2047)
        diff = -2047;
    component->previousDc += diff;
    int size = Magnitude(diff);
    out->Bits(component->dc->code[size], component->dc->length[size]);
    if (size)
        out->Bits(uint32_t(diff < 0 ? diff - 1 : diff), size);
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        int value = coefficients[k];
        if (value == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            out->Bits(component->ac->code[0xF0], component->ac->length[0xF0]);
            run -= 16;
        }
        size = Magnitude(value);
        int symbol = (run << 4) | size;
        out->Bits(component->ac->code[symbol], component->ac->length[symbol]);
        out->Bits(uint32_t(value < 0 ? value - 1 : value), size);
        run = 0;
    }
    if (run > 0)
        out->Bits(component->ac->code[0], component->ac->length[0]);
}

void WriteHeaders(Encoder *out, const Raster &raster, bool colour, int quality, uint32_t xDpi, uint32_t yDpi)
{
    out->Word(0xFFD8);
    // JFIF 1.01 with the density in dots per inch and no thumbnail.
    out->Word(0xFFE0);
    out->Word(16);
    const char jfif[5] = {'J', 'F', 'I', 'F', 0};
    for (char c : jfif)
        out->Byte(uint8_t(c));
    out->Word(0x0101);
    // A picture of unknown resolution says only that its pixels are square.
    bool known = xDpi && yDpi;
    out->Byte(known ? 1 : 0);
    out->Word(uint16_t(!known ? 1 : xDpi > 65535 ? 65535 : xDpi));
    out->Word(uint16_t(!known ? 1 : yDpi > 65535 ? 65535 : yDpi));
    out->Byte(0);
    out->Byte(0);

    for (int table = 0; table < (colour ? 2 : 1); ++table) {
        uint16_t values[64];
        JpegQuantTable(quality, table, values);
        out->Word(0xFFDB);
        out->Word(67);
        out->Byte(uint8_t(table));
        for (int k = 0; k < 64; ++k)
            out->Byte(uint8_t(values[ZIGZAG[k]]));
    }

    out->Word(0xFFC0);
    out->Word(uint16_t(8 + 3 * (colour ? 3 : 1)));
    out->Byte(8);
    out->Word(uint16_t(raster.height));
    out->Word(uint16_t(raster.width));
    out->Byte(colour ? 3 : 1);
    out->Byte(1);
    out->Byte(colour ? 0x22 : 0x11);
    out->Byte(0);
    if (colour) {
        for (uint8_t id = 2; id <= 3; ++id) {
            out->Byte(id);
            out->Byte(0x11);
            out->Byte(1);
        }
    }

    for (int t = 0; t < (colour ? 4 : 2); ++t) {
        const HuffmanTable &table = HUFFMAN_TABLES[t];
        out->Word(0xFFC4);
        out->Word(uint16_t(2 + 1 + 16 + table.valueCount));
        out->Byte(uint8_t(((t & 1) << 4) | (t >> 1))); // class (DC 0, AC 1), table id
        for (int i = 0; i < 16; ++i)
            out->Byte(table.bits[i]);
        for (int i = 0; i < table.valueCount; ++i)
            out->Byte(table.values[i]);
    }

    out->Word(0xFFDA);
    out->Word(uint16_t(6 + 2 * (colour ? 3 : 1)));
    out->Byte(colour ? 3 : 1);
    out->Byte(1);
    out->Byte(0x00);
    if (colour) {
        out->Byte(2);
        out->Byte(0x11);
        out->Byte(3);
        out->Byte(0x11);
    }
    out->Byte(0);
    out->Byte(63);
    out->Byte(0);
}

// Fixed-point colour conversion, 16 fraction bits.
struct ColourTables {
    int32_t yr[256], yg[256], yb[256];
    int32_t cbr[256], cbg[256], cbb[256];
    int32_t crr[256], crg[256], crb[256];
    ColourTables()
    {
        for (int i = 0; i < 256; ++i) {
            yr[i] = int32_t(lround(0.299 * 65536 * i));
            yg[i] = int32_t(lround(0.587 * 65536 * i));
            yb[i] = int32_t(lround(0.114 * 65536 * i));
            cbr[i] = int32_t(lround(-0.168736 * 65536 * i));
            cbg[i] = int32_t(lround(-0.331264 * 65536 * i));
            cbb[i] = int32_t(lround(0.5 * 65536 * i));
            crr[i] = int32_t(lround(0.5 * 65536 * i));
            crg[i] = int32_t(lround(-0.418688 * 65536 * i));
            crb[i] = int32_t(lround(-0.081312 * 65536 * i));
        }
    }
};

// Brightness (and chroma) of one band of rows, padded to whole blocks by
// repeating the last column and row; values already shifted to centre on 0.
struct Band {
    uint32_t width = 0;        // padded
    std::vector<float> luma;   // 16 (colour) or 8 (grey) rows
    std::vector<float> cb, cr; // 8 rows of width / 2, full-resolution sums
};

void FillGreyBand(const Raster &raster, uint32_t top, Band *band)
{
    for (uint32_t r = 0; r < 8; ++r) {
        uint32_t y = top + r < raster.height ? top + r : raster.height - 1;
        const uint8_t *row = raster.Row(y);
        float *out = &band->luma[size_t(r) * band->width];
        for (uint32_t x = 0; x < band->width; ++x) {
            uint32_t sx = x < raster.width ? x : raster.width - 1;
            int value = raster.layout == LAYOUT_BILEVEL ? (((row[sx >> 3] >> (7 - (sx & 7))) & 1) ? 255 : 0) : row[sx];
            out[x] = float(value - 128);
        }
    }
}

void FillColourBand(const Raster &raster, uint32_t top, const ColourTables &t, Band *band)
{
    const uint32_t halfWidth = band->width / 2;
    std::fill(band->cb.begin(), band->cb.end(), 0.0f);
    std::fill(band->cr.begin(), band->cr.end(), 0.0f);
    for (uint32_t r = 0; r < 16; ++r) {
        uint32_t y = top + r < raster.height ? top + r : raster.height - 1;
        const uint8_t *row = raster.Row(y);
        float *luma = &band->luma[size_t(r) * band->width];
        float *cb = &band->cb[size_t(r / 2) * halfWidth];
        float *cr = &band->cr[size_t(r / 2) * halfWidth];
        for (uint32_t x = 0; x < band->width; ++x) {
            uint32_t sx = x < raster.width ? x : raster.width - 1;
            const uint8_t *p = row + size_t(sx) * 3;
            int b = p[0], g = p[1], red = p[2];
            luma[x] = float((t.yr[red] + t.yg[g] + t.yb[b] + 32768) >> 16) - 128.0f;
            cb[x / 2] += float(t.cbr[red] + t.cbg[g] + t.cbb[b]) * (1.0f / 65536.0f);
            cr[x / 2] += float(t.crr[red] + t.crg[g] + t.crb[b]) * (1.0f / 65536.0f);
        }
    }
    // Each chroma sample is the mean of its 2 × 2 full-resolution samples;
    // both are already centred on 0.
    for (float &v : band->cb)
        v *= 0.25f;
    for (float &v : band->cr)
        v *= 0.25f;
}

void CopyBlock(const std::vector<float> &plane, uint32_t planeWidth, uint32_t x, uint32_t y, float block[64])
{
    for (int r = 0; r < 8; ++r)
        memcpy(block + r * 8, &plane[size_t(y + r) * planeWidth + x], 8 * sizeof(float));
}

void PrepareDivisors(int quality, int table, Component *component)
{
    uint16_t q[64];
    JpegQuantTable(quality, table, q);
    for (int i = 0; i < 64; ++i)
        component->divisors[i] = float(1.0 / (q[i] * AAN_SCALE[i / 8] * AAN_SCALE[i % 8] * 8.0));
}

} // namespace

void JpegQuantTable(int quality, int table, uint16_t out[64])
{
    if (quality < 1)
        quality = 1;
    if (quality > 100)
        quality = 100;
    int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    const uint8_t *base = table == 0 ? BASE_LUMA : BASE_CHROMA;
    for (int i = 0; i < 64; ++i) {
        long value = (long(base[i]) * scale + 50) / 100;
        out[i] = uint16_t(value < 1 ? 1 : value > 255 ? 255 : value);
    }
}

bool WriteJpeg(const Raster &raster, int quality, uint32_t xDpi, uint32_t yDpi, ByteSink *sink)
{
    if (!raster.pixels || raster.width > 65535 || raster.height > 65535)
        return false;
    const bool colour = raster.layout == LAYOUT_BGR;
    static const ColourTables tables;
    HuffmanCodes codes[4];
    for (int t = 0; t < 4; ++t)
        BuildCodes(HUFFMAN_TABLES[t], &codes[t]);

    Encoder out(sink);
    WriteHeaders(&out, raster, colour, quality, xDpi, yDpi);

    Component luma, cb, cr;
    luma.dc = &codes[0];
    luma.ac = &codes[1];
    cb.dc = cr.dc = &codes[2];
    cb.ac = cr.ac = &codes[3];
    PrepareDivisors(quality, 0, &luma);
    PrepareDivisors(quality, 1, &cb);
    PrepareDivisors(quality, 1, &cr);

    const uint32_t mcu = colour ? 16 : 8;
    Band band;
    band.width = (raster.width + mcu - 1) / mcu * mcu;
    band.luma.resize(size_t(band.width) * mcu);
    if (colour) {
        band.cb.resize(size_t(band.width / 2) * 8);
        band.cr.resize(size_t(band.width / 2) * 8);
    }
    float block[64];
    for (uint32_t top = 0; top < raster.height && out.ok(); top += mcu) {
        if (!colour) {
            FillGreyBand(raster, top, &band);
            for (uint32_t x = 0; x < band.width; x += 8) {
                CopyBlock(band.luma, band.width, x, 0, block);
                EncodeBlock(&out, block, &luma);
            }
            continue;
        }
        FillColourBand(raster, top, tables, &band);
        for (uint32_t x = 0; x < band.width; x += 16) {
            for (uint32_t by = 0; by < 16; by += 8) {
                for (uint32_t bx = 0; bx < 16; bx += 8) {
                    CopyBlock(band.luma, band.width, x + bx, by, block);
                    EncodeBlock(&out, block, &luma);
                }
            }
            CopyBlock(band.cb, band.width / 2, x / 2, 0, block);
            EncodeBlock(&out, block, &cb);
            CopyBlock(band.cr, band.width / 2, x / 2, 0, block);
            EncodeBlock(&out, block, &cr);
        }
    }
    out.PadBits();
    out.Word(0xFFD9);
    return out.Flush();
}

} // namespace pixkit
