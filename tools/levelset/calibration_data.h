// The calibration data file and the arithmetic that fills it: what one
// calibration measured, kept beside the agent's settings so the agent knows
// the scanner was calibrated and a later run can tell a sound file from a
// damaged one. Portable: no Windows header.
//
// Layout, little-endian:
//    0  char[4]   "VLSC"
//    4  uint16    format version
//    6  uint16    channels
//    8  uint16    sensor dpi
//   10  uint16    sensor elements
//   12  char[20]  model name, zero padded
//   32  entries   elements x channels ShadingCorrection (Dark, Gain), element by element
//  end  uint32    CRC-32 of every byte before it
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "feedlink_protocol.h"

const uint16_t CALIBRATION_FORMAT_VERSION = 1;
const uint32_t CALIBRATION_MODEL_BYTES = 20;
// Sensors wider than this are not believed, so a damaged size cannot ask for
// a huge allocation.
const uint32_t CALIBRATION_MAX_ELEMENTS = 16384;

struct CalibrationData {
    uint16_t Dpi = 0;
    uint16_t Elements = 0;
    uint16_t Channels = 0;
    std::string Model;                      // at most CALIBRATION_MODEL_BYTES - 1 characters are kept
    std::vector<ShadingCorrection> Entries; // Elements x Channels
};

std::string EncodeCalibrationData(const CalibrationData &data);
// False for anything but an intact file of this format: wrong magic or
// version, sizes that disagree, a checksum that does not match.
bool DecodeCalibrationData(const std::string &bytes, CalibrationData *data);

// CRC-32 (the common reflected polynomial 0xEDB88320).
uint32_t Crc32(const void *bytes, size_t count);

// Reference readings shorter than this between dark and white leave too
// little signal to correct: the lamp or the strip is at fault.
const double CALIBRATION_MIN_SPAN = 64.0;

// The correction that maps an element's mean dark reading to 0 and its mean
// white reading to 255. False when the span is too small to trust.
bool CorrectionFor(double dark, double white, ShadingCorrection *entry);
