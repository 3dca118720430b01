// Records that travel between the agent's subsystems: the scan type codes and
// the scan job's settings. Portable: no Windows header.
#pragma once

#include <cstdint>

// Image type of a scan, as the device and the bitmap files know it.
enum ScanType : uint16_t {
    SCAN_TYPE_LINE_ART = 0, // 1 bit per pixel
    SCAN_TYPE_GREY = 2,     // 8 bits per pixel
    SCAN_TYPE_COLOUR = 3,   // 24 bits per pixel, blue green red
};

// Rotation codes of the saved picture.
enum RotateCode : uint16_t {
    ROTATE_NONE = 0,
    ROTATE_90 = 1,
    ROTATE_270 = 2,
    ROTATE_180 = 3,
};

// The scan job's settings, read once per job and handed on by value to
// acquisition and post-processing.
struct ScanJobSettings {
    uint16_t PaperArea[4];      // 1/300 inch; [2] is the width and [3] the height
    uint16_t DeviceXResolution; // what the device scans at: 300 when 100 is asked for
    uint16_t DeviceYResolution;
    uint16_t XResolution; // what the user asked for
    uint16_t YResolution;
    uint16_t AcquireType;        // ScanType the device scans with
    uint16_t OutputType;         // ScanType the saved picture has
    uint16_t DeviceOption;       // always 0
    uint32_t GeometryScratch[3]; // filled by acquisition in its own copy only
    int16_t Brightness;          // -127..127
    int16_t Contrast;            // -127..127
    uint16_t Gamma;              // hundredths: 100 is 1.0
    uint32_t ContinuousScan;
    uint32_t AutoCrop;
    uint32_t AutoDeskew;
    uint16_t Rotate; // RotateCode
};

// Output format codes of saved pictures.
enum OutputFormat : uint16_t {
    OUTPUT_BMP = 0,
    OUTPUT_JPEG = 1,
    OUTPUT_TIFF = 2,
    OUTPUT_PNG = 3,
};
