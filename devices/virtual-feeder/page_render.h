// How the virtual scanner turns a sheet into the lines it delivers: the scan
// geometry it accepts, the tone shaping it applies and the composition of
// the sheet onto its backing. Portable, so every rule here is tested natively
// and the DLL and a test rendering the same page agree to the byte.
//
// Tone shaping, as the device applies it to each 8-bit sample:
//   1. contrast C (-127..127) about mid-grey 128: for C >= 0 the distance
//      from 128 is multiplied by 128 / (128 - C), for C < 0 by (128 + C) / 128,
//      truncated toward zero; then brightness B (-127..127) is added and the
//      result limited to 0..255;
//   2. the downloaded table: index = round(value × (Entries - 1) / 255),
//      output = round(entry × 255 / MaxValue), limited to 255. Colour uses
//      the first, second and third table for red, green and blue (one table
//      for all three when the device has one); grey uses its one table; no
//      table pointer leaves the value as it is.
// Grey is (77 R + 150 G + 29 B + 128) / 256 of the sheet's colour; line art is
// that grey, shaped, and white (bit 1) from 128 up.
//
// Before the shaping, the sensor reads the composed sheet (sensor_model.h):
// an ideal sensor without dirt passes it on unchanged.
#pragma once

#include <cstdint>
#include <vector>

#include "feeder_state.h"
#include "sensor_model.h"

namespace feeder {

// Image type codes the device knows.
const uint16_t IMAGE_LINE_ART = 0;
const uint16_t IMAGE_GREY = 2;
const uint16_t IMAGE_COLOUR = 3;

const uint16_t MIN_DPI = 50;
const uint16_t MAX_DPI = 1200;
// Largest area the glass covers unless configured: 8.5 by 14 inches.
const uint16_t DEFAULT_MAX_WIDTH300 = 2550;
const uint16_t DEFAULT_MAX_HEIGHT300 = 4200;
// Lines of the synthetic test card before its pattern repeats.
const uint32_t SYNTHETIC_PERIOD = 64;

// A decoded sheet: Width × Height pixels of red, green, blue bytes.
struct SheetImage {
    uint32_t Width = 0;
    uint32_t Height = 0;
    double FileDpi = 0.0; // resolution the file states, 0 when none
    std::vector<uint8_t> Rgb;
};

// Requested scan, as SC_GET_GEOMETRY and SC_SET_PARAMS carry it.
struct ScanRequest {
    uint16_t PaperArea[4];
    uint16_t XResolution;
    uint16_t YResolution;
    uint16_t ImageType;
};

// Pixels across `units300` at `dpi`: the same truncated product the bitmap
// writer uses for the header's width and height (1/300 rounded to single
// precision, multiplied in double), so the device's lines and the file's
// declared size always agree.
uint32_t PixelsFor(uint16_t dpi, uint32_t units300);
// Bytes of one delivered line: a bitmap row, padded to 4 bytes.
uint32_t LineBytesFor(uint16_t imageType, uint32_t pixels);

// Checks a request and writes into `setup` the area the device will scan
// (clipped to the glass), resolutions, type, line size, lines and pixels per
// line. Returns FEED_STATUS_OK or FEED_STATUS_BAD_REQUEST: unknown type,
// resolution outside MIN_DPI..MAX_DPI, zero width or height, an area that
// starts off the glass or is more than twice the glass, or a page with no pixel.
int16_t PlanScan(const ScanRequest &request, uint16_t maxWidth300, uint16_t maxHeight300, FeederScanSetup *setup);

// Contrast then brightness on one sample (rule 1 above).
uint8_t ShapeSample(int value, int brightness, int contrast);

// Byte size of one table of `shape`.
uint32_t TableBytes(const FeederTableShape &shape);

// FNV-1a (32 bit).
uint32_t Checksum32(const void *bytes, uint32_t count);

// Renders the lines of one page. Prepare once per page; then Render any run
// of lines, in any order.
class PageRenderer {
public:
    // A sheet file's picture at `placement`. `sheet` must outlive the renderer.
    // `sensor` is the device's (null: an ideal sensor, no correction); the
    // setup's Target and Streak say what this page reads and whether the
    // roller streaks it. The sensor's fields are copied.
    bool PrepareSheet(const SheetImage *sheet, const FeederPlacement &placement, const FeederScanSetup &setup,
                      const FeederSensorState *sensor = nullptr);
    // The synthetic test card filling the whole area: its SYNTHETIC_PERIOD
    // distinct lines are rendered here, later lines are copies.
    bool PrepareSynthetic(const FeederScanSetup &setup, const FeederSensorState *sensor = nullptr);
    // The white strip or the dark reading the setup's Target names, as the
    // raw sensor reads it.
    bool PrepareReference(const FeederScanSetup &setup, const FeederSensorState *sensor);

    // Writes `count` lines from page line `first` into `out`
    // (count × LineBytes bytes). Lines past the page are not written.
    void Render(uint32_t first, uint32_t count, uint8_t *out) const;

    uint32_t LineBytes() const
    {
        return lineBytes_;
    }
    uint32_t Lines() const
    {
        return lines_;
    }

private:
    bool PrepareCommon(const FeederScanSetup &setup, const FeederSensorState *sensor);
    void PrepareSensor(const FeederScanSetup &setup, const FeederSensorState *sensor);
    void ReadThroughSensor(uint32_t line, uint8_t *rgb) const;
    // Red, green, blue of every pixel of one line of the composed page.
    void SampleSheetLine(uint32_t line, uint8_t *rgb) const;
    void PackLine(const uint8_t *rgb, uint8_t *out) const;

    const SheetImage *sheet_ = nullptr;
    uint16_t type_ = 0;
    uint32_t pixels_ = 0;
    uint32_t lineBytes_ = 0;
    uint32_t lines_ = 0;
    uint8_t backing_[3] = {0, 0, 0};
    uint8_t lut_[3][256];
    // Sheet pixel coordinates of line pixels as 32.32 fixed point:
    // u = uOrigin + px × uStepX + line × uStepY, likewise v.
    int64_t uOrigin_ = 0, uStepX_ = 0, uStepY_ = 0;
    int64_t vOrigin_ = 0, vStepX_ = 0, vStepY_ = 0;
    std::vector<uint8_t> synthetic_; // SYNTHETIC_PERIOD packed lines, when synthetic
    // The sensor element under each line pixel, in fixed point; empty when
    // the sensor changes nothing.
    std::vector<SensorColumn> columns_;
    uint32_t sensorSeed_ = 0;
    bool noisy_ = false;
    bool reference_ = false;
    uint8_t referenceValue_ = 0;
};

} // namespace feeder
