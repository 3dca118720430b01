// The virtual scanner's page: geometry checks, tone shaping and the sheet
// composed onto the backing, line by line.
#include "page_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bitmap_layout.h"
#include "luma.h"

namespace feeder {

namespace {

const float INCH_PER_300 = 0.0033333334f;
const int FIX_BITS = 32;
const double FIX_ONE = 4294967296.0;

int64_t ToFixed(double value)
{
    return (int64_t)std::llround(value * FIX_ONE);
}

uint8_t Grey(const uint8_t *rgb)
{
    return uint8_t(luma::OfRgb(rgb));
}

uint32_t TableEntry(const uint8_t *table, const FeederTableShape &shape, uint32_t index)
{
    if (shape.EntryBytes == 1)
        return table[index];
    return uint32_t(table[2 * index] | (table[2 * index + 1] << 8));
}

// One 256-entry map per output channel: shaping and table in one lookup.
void BuildLut(const FeederScanSetup &setup, uint8_t lut[3][256])
{
    const uint32_t tableSize = TableBytes(setup.TableShape);
    for (int channel = 0; channel < 3; ++channel) {
        const uint8_t *table = nullptr;
        if (setup.TableCount == 1)
            table = setup.Tables;
        else if (setup.TableCount == 3)
            table = setup.Tables + channel * tableSize;
        for (int value = 0; value < 256; ++value) {
            uint32_t out = ShapeSample(value, setup.Brightness, setup.Contrast);
            if (table) {
                const uint32_t entries = setup.TableShape.Entries;
                const uint32_t maxValue = setup.TableShape.MaxValue;
                const uint32_t index = (out * (entries - 1) + 127) / 255;
                const uint32_t entry = TableEntry(table, setup.TableShape, index);
                out = std::min<uint32_t>(255, (entry * 255 + maxValue / 2) / maxValue);
            }
            lut[channel][value] = uint8_t(out);
        }
    }
}

bool TablesUsable(const FeederScanSetup &setup)
{
    if (setup.TableCount == 0)
        return true;
    const FeederTableShape &shape = setup.TableShape;
    return (setup.TableCount == 1 || setup.TableCount == 3) && shape.Entries >= 2 &&
           shape.Entries <= FEEDER_MAX_TABLE_ENTRIES && shape.MaxValue >= 1 &&
           setup.TableCount * TableBytes(shape) <= FEEDER_TABLE_STORE_BYTES;
}

} // namespace

uint32_t PixelsFor(uint16_t dpi, uint32_t units300)
{
    return (uint32_t)((double)dpi * (double)INCH_PER_300 * (double)units300);
}

uint32_t LineBytesFor(uint16_t imageType, uint32_t pixels)
{
    const uint64_t bits = imageType == IMAGE_LINE_ART ? 1 : imageType == IMAGE_GREY ? 8 : 24;
    return (uint32_t)bitmap_layout::RowBytes(pixels, uint32_t(bits));
}

int16_t PlanScan(const ScanRequest &request, uint16_t maxWidth300, uint16_t maxHeight300, FeederScanSetup *setup)
{
    const uint16_t type = request.ImageType;
    if (type != IMAGE_LINE_ART && type != IMAGE_GREY && type != IMAGE_COLOUR)
        return FEED_STATUS_BAD_REQUEST;
    const uint16_t dpis[2] = {request.XResolution, request.YResolution};
    for (uint16_t dpi : dpis)
        if (dpi < MIN_DPI || dpi > MAX_DPI)
            return FEED_STATUS_BAD_REQUEST;
    const uint32_t left = request.PaperArea[0], top = request.PaperArea[1];
    uint32_t width = request.PaperArea[2], height = request.PaperArea[3];
    if (width == 0 || height == 0 || left >= maxWidth300 || top >= maxHeight300)
        return FEED_STATUS_BAD_REQUEST;
    if (width > 2u * maxWidth300 || height > 2u * maxHeight300)
        return FEED_STATUS_BAD_REQUEST;
    // Within reason, the device scans what its glass covers, as a driver
    // trims an area a little too large; the caller reads the trimmed area back.
    width = std::min(width, maxWidth300 - left);
    height = std::min(height, maxHeight300 - top);
    const uint32_t pixels = PixelsFor(request.XResolution, width);
    const uint32_t lines = PixelsFor(request.YResolution, height);
    if (pixels == 0 || lines == 0)
        return FEED_STATUS_BAD_REQUEST;
    setup->PaperArea[0] = uint16_t(left);
    setup->PaperArea[1] = uint16_t(top);
    setup->PaperArea[2] = uint16_t(width);
    setup->PaperArea[3] = uint16_t(height);
    setup->XResolution = request.XResolution;
    setup->YResolution = request.YResolution;
    setup->ImageType = type;
    setup->PixelsPerLine = pixels;
    setup->Lines = lines;
    setup->LineBytes = LineBytesFor(type, pixels);
    return FEED_STATUS_OK;
}

uint8_t ShapeSample(int value, int brightness, int contrast)
{
    brightness = std::max(-127, std::min(127, brightness));
    contrast = std::max(-127, std::min(127, contrast));
    int distance = value - 128;
    if (contrast >= 0)
        distance = distance * 128 / (128 - contrast);
    else
        distance = distance * (128 + contrast) / 128;
    const int shaped = 128 + distance + brightness;
    return uint8_t(std::max(0, std::min(255, shaped)));
}

uint32_t TableBytes(const FeederTableShape &shape)
{
    return uint32_t(shape.Entries) * (shape.EntryBytes == 1 ? 1u : 2u);
}

uint32_t Checksum32(const void *bytes, uint32_t count)
{
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < count; ++i) {
        hash ^= p[i];
        hash *= 16777619u;
    }
    return hash;
}

void PageRenderer::PrepareSensor(const FeederScanSetup &setup, const FeederSensorState *sensor)
{
    columns_.clear();
    noisy_ = false;
    const bool shaded = sensor && sensor->Model == FEEDER_SENSOR_SHADED;
    const bool reference = setup.Target != REFERENCE_SHEET;
    const bool corrected = sensor && sensor->CorrectionValid && !reference;
    const bool streak = setup.Streak && !reference;
    if (!shaded && !corrected && !streak)
        return;
    sensorSeed_ = sensor ? sensor->Seed : 0;
    noisy_ = shaded;
    const uint32_t streakFirst = StreakFirstElement(sensorSeed_);
    columns_.resize(pixels_);
    for (uint32_t px = 0; px < pixels_; ++px) {
        const uint32_t element = ElementUnder(setup.PaperArea[0], px, setup.XResolution);
        const bool dirty = streak && element >= streakFirst && element < streakFirst + STREAK_ELEMENTS;
        SensorColumn &column = columns_[px];
        for (uint32_t channel = 0; channel < 3; ++channel) {
            double gain = 1.0, offset = 0.0;
            if (shaded)
                ElementResponse(sensorSeed_, element, channel, &gain, &offset);
            if (dirty)
                gain *= STREAK_TRANSMISSION;
            column.Gain[channel] = (int32_t)std::lround(gain * 65536.0);
            column.Offset[channel] = (int32_t)std::lround(offset * 65536.0);
            const ShadingCorrection *entry =
                corrected ? &sensor->Correction[element * FEEDER_SENSOR_CHANNELS + channel] : nullptr;
            column.Dark[channel] = entry ? (int32_t)(entry->Dark * (65536 / SHADING_DARK_ONE)) : 0;
            column.Correct[channel] = entry ? entry->Gain : 0;
        }
    }
}

void PageRenderer::ReadThroughSensor(uint32_t line, uint8_t *rgb) const
{
    uint32_t noise = LineNoiseStart(sensorSeed_, line);
    for (uint32_t px = 0; px < pixels_; ++px) {
        const SensorColumn &column = columns_[px];
        uint8_t *sample = rgb + 3 * (size_t)px;
        for (int channel = 0; channel < 3; ++channel) {
            // An ideal converter adds no noise: 32768 is its middle, zero.
            sample[channel] = ReadSample(sample[channel], column, channel, noisy_ ? NextNoise(&noise) : 32768);
        }
    }
}

bool PageRenderer::PrepareCommon(const FeederScanSetup &setup, const FeederSensorState *sensor)
{
    if (!TablesUsable(setup) || setup.PixelsPerLine == 0 || setup.Lines == 0)
        return false;
    if (setup.LineBytes != LineBytesFor(setup.ImageType, setup.PixelsPerLine))
        return false;
    type_ = setup.ImageType;
    pixels_ = setup.PixelsPerLine;
    lineBytes_ = setup.LineBytes;
    lines_ = setup.Lines;
    reference_ = false;
    BuildLut(setup, lut_);
    PrepareSensor(setup, sensor);
    return true;
}

bool PageRenderer::PrepareSheet(const SheetImage *sheet, const FeederPlacement &placement, const FeederScanSetup &setup,
                                const FeederSensorState *sensor)
{
    synthetic_.clear();
    if (!sheet || sheet->Width == 0 || sheet->Height == 0 ||
        sheet->Rgb.size() != (size_t)sheet->Width * sheet->Height * 3)
        return false;
    if (!PrepareCommon(setup, sensor))
        return false;
    sheet_ = sheet;
    backing_[0] = uint8_t(placement.BackingRgb >> 16);
    backing_[1] = uint8_t(placement.BackingRgb >> 8);
    backing_[2] = uint8_t(placement.BackingRgb);

    double dpi = placement.SheetDpi;
    if (dpi == 0)
        dpi = sheet->FileDpi >= MIN_DPI && sheet->FileDpi <= 4 * MAX_DPI ? sheet->FileDpi : 300.0;
    // Device coordinates (1/300 inch) of line pixel centres, turned back by
    // the skew about the sheet's centre, then scaled to sheet pixels whose
    // centres sit on whole numbers. Affine in (px, line), so the steps are
    // computed once and every pixel costs two integer additions.
    const double k = dpi / 300.0;
    const double sheetWidth = sheet->Width / k, sheetHeight = sheet->Height / k;
    const double centreX = placement.X300 + sheetWidth / 2, centreY = placement.Y300 + sheetHeight / 2;
    const double angle = (placement.SkewMilliDegrees % 360000) / 1000.0 * 3.14159265358979323846 / 180.0;
    const double c = std::cos(angle), s = std::sin(angle);
    const double stepX = 300.0 / setup.XResolution, stepY = 300.0 / setup.YResolution;
    const double rx = setup.PaperArea[0] + stepX / 2 - centreX;
    const double ry = setup.PaperArea[1] + stepY / 2 - centreY;
    uStepX_ = ToFixed(k * c * stepX);
    uStepY_ = ToFixed(k * s * stepY);
    uOrigin_ = ToFixed(k * (c * rx + s * ry) + sheet->Width / 2.0 - 0.5);
    vStepX_ = ToFixed(-k * s * stepX);
    vStepY_ = ToFixed(k * c * stepY);
    vOrigin_ = ToFixed(k * (-s * rx + c * ry) + sheet->Height / 2.0 - 0.5);
    return true;
}

bool PageRenderer::PrepareReference(const FeederScanSetup &setup, const FeederSensorState *sensor)
{
    synthetic_.clear();
    sheet_ = nullptr;
    if (setup.Target != REFERENCE_WHITE && setup.Target != REFERENCE_DARK)
        return false;
    if (!PrepareCommon(setup, sensor))
        return false;
    reference_ = true;
    // The white strip reflects all the lamp gives; with the lamp off only
    // the elements' own offsets remain.
    referenceValue_ = setup.Target == REFERENCE_WHITE ? 255 : 0;
    return true;
}

bool PageRenderer::PrepareSynthetic(const FeederScanSetup &setup, const FeederSensorState *sensor)
{
    sheet_ = nullptr;
    if (!PrepareCommon(setup, sensor))
        return false;
    const uint32_t period = std::min(SYNTHETIC_PERIOD, lines_);
    synthetic_.assign((size_t)period * lineBytes_, 0);
    std::vector<uint8_t> rgb((size_t)pixels_ * 3);
    for (uint32_t line = 0; line < period; ++line) {
        for (uint32_t x = 0; x < pixels_; ++x) {
            rgb[3 * x] = uint8_t(x);
            rgb[3 * x + 1] = uint8_t(line * 4 + 2);
            rgb[3 * x + 2] = uint8_t((x >> 2) + line * 16);
        }
        if (!columns_.empty())
            ReadThroughSensor(line, rgb.data());
        PackLine(rgb.data(), synthetic_.data() + (size_t)line * lineBytes_);
    }
    return true;
}

void PageRenderer::Render(uint32_t first, uint32_t count, uint8_t *out) const
{
    std::vector<uint8_t> rgb;
    if (synthetic_.empty())
        rgb.resize((size_t)pixels_ * 3);
    for (uint32_t i = 0; i < count && first + i < lines_; ++i) {
        const uint32_t line = first + i;
        uint8_t *target = out + (size_t)i * lineBytes_;
        if (!synthetic_.empty()) {
            const uint32_t period = (uint32_t)(synthetic_.size() / lineBytes_);
            memcpy(target, synthetic_.data() + (size_t)(line % period) * lineBytes_, lineBytes_);
        } else {
            if (reference_)
                memset(rgb.data(), referenceValue_, rgb.size());
            else
                SampleSheetLine(line, rgb.data());
            if (!columns_.empty())
                ReadThroughSensor(line, rgb.data());
            PackLine(rgb.data(), target);
        }
    }
}

void PageRenderer::SampleSheetLine(uint32_t line, uint8_t *rgb) const
{
    const int32_t width = (int32_t)sheet_->Width, height = (int32_t)sheet_->Height;
    const size_t stride = (size_t)width * 3;
    const uint8_t *pixels = sheet_->Rgb.data();
    int64_t u = uOrigin_ + (int64_t)line * uStepY_;
    int64_t v = vOrigin_ + (int64_t)line * vStepY_;
    for (uint32_t px = 0; px < pixels_; ++px, u += uStepX_, v += vStepX_) {
        const int32_t ix = (int32_t)(u >> FIX_BITS), iy = (int32_t)(v >> FIX_BITS);
        uint8_t *target = rgb + 3 * (size_t)px;
        if (ix < -1 || iy < -1 || ix >= width || iy >= height) {
            memcpy(target, backing_, 3);
            continue;
        }
        // Bilinear between the four nearest sheet pixels; neighbours off the
        // sheet are backing, so the sheet's edge blends as a real one does.
        const uint32_t wx = (uint32_t)(u >> (FIX_BITS - 8)) & 255u;
        const uint32_t wy = (uint32_t)(v >> (FIX_BITS - 8)) & 255u;
        const uint8_t *corner[4];
        if ((uint32_t)ix < (uint32_t)(width - 1) && (uint32_t)iy < (uint32_t)(height - 1)) {
            corner[0] = pixels + (size_t)iy * stride + 3 * (size_t)ix;
            corner[1] = corner[0] + 3;
            corner[2] = corner[0] + stride;
            corner[3] = corner[2] + 3;
        } else {
            for (int n = 0; n < 4; ++n) {
                const int32_t x = ix + (n & 1), y = iy + (n >> 1);
                corner[n] = (x >= 0 && y >= 0 && x < width && y < height) ? pixels + (size_t)y * stride + 3 * (size_t)x
                                                                          : backing_;
            }
        }
        const uint32_t w00 = (256 - wx) * (256 - wy), w10 = wx * (256 - wy);
        const uint32_t w01 = (256 - wx) * wy, w11 = wx * wy;
        for (int channel = 0; channel < 3; ++channel)
            target[channel] = uint8_t((corner[0][channel] * w00 + corner[1][channel] * w10 + corner[2][channel] * w01 +
                                       corner[3][channel] * w11 + 32768) >>
                                      16);
    }
}

void PageRenderer::PackLine(const uint8_t *rgb, uint8_t *out) const
{
    memset(out, 0, lineBytes_);
    if (type_ == IMAGE_COLOUR) {
        for (uint32_t px = 0; px < pixels_; ++px) {
            out[3 * px] = lut_[2][rgb[3 * px + 2]];
            out[3 * px + 1] = lut_[1][rgb[3 * px + 1]];
            out[3 * px + 2] = lut_[0][rgb[3 * px]];
        }
    } else if (type_ == IMAGE_GREY) {
        for (uint32_t px = 0; px < pixels_; ++px)
            out[px] = lut_[0][Grey(rgb + 3 * px)];
    } else {
        for (uint32_t px = 0; px < pixels_; ++px)
            if (lut_[0][Grey(rgb + 3 * px)] >= 128)
                out[px >> 3] |= uint8_t(0x80 >> (px & 7));
    }
}

} // namespace feeder
