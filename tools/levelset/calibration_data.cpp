// The calibration data file's bytes and the correction arithmetic.
#include "calibration_data.h"

#include <cmath>
#include <cstring>

namespace {

const char MAGIC[4] = {'V', 'L', 'S', 'C'};
const size_t HEADER_BYTES = 12 + CALIBRATION_MODEL_BYTES;

void PutWord(std::string *out, uint16_t value)
{
    out->push_back(char(value & 0xFF));
    out->push_back(char(value >> 8));
}

uint16_t Word(const std::string &bytes, size_t at)
{
    return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
}

uint32_t Long(const std::string &bytes, size_t at)
{
    return uint32_t(Word(bytes, at)) | uint32_t(Word(bytes, at + 2)) << 16;
}

} // namespace

uint32_t Crc32(const void *bytes, size_t count)
{
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string EncodeCalibrationData(const CalibrationData &data)
{
    std::string out(MAGIC, sizeof MAGIC);
    PutWord(&out, CALIBRATION_FORMAT_VERSION);
    PutWord(&out, data.Channels);
    PutWord(&out, data.Dpi);
    PutWord(&out, data.Elements);
    std::string model = data.Model.substr(0, CALIBRATION_MODEL_BYTES - 1);
    model.resize(CALIBRATION_MODEL_BYTES, '\0');
    out += model;
    for (const ShadingCorrection &entry : data.Entries) {
        PutWord(&out, entry.Dark);
        PutWord(&out, entry.Gain);
    }
    const uint32_t crc = Crc32(out.data(), out.size());
    PutWord(&out, uint16_t(crc & 0xFFFF));
    PutWord(&out, uint16_t(crc >> 16));
    return out;
}

bool DecodeCalibrationData(const std::string &bytes, CalibrationData *data)
{
    if (bytes.size() < HEADER_BYTES + 4 || memcmp(bytes.data(), MAGIC, sizeof MAGIC) != 0 ||
        Word(bytes, 4) != CALIBRATION_FORMAT_VERSION)
        return false;
    const uint32_t channels = Word(bytes, 6), elements = Word(bytes, 10);
    if (channels == 0 || elements == 0 || elements > CALIBRATION_MAX_ELEMENTS ||
        bytes.size() != HEADER_BYTES + (size_t)elements * channels * 4 + 4)
        return false;
    const size_t body = bytes.size() - 4;
    if (Long(bytes, body) != Crc32(bytes.data(), body))
        return false;
    data->Channels = uint16_t(channels);
    data->Dpi = Word(bytes, 8);
    data->Elements = uint16_t(elements);
    const std::string model = bytes.substr(12, CALIBRATION_MODEL_BYTES);
    data->Model = model.substr(0, model.find('\0'));
    data->Entries.resize((size_t)elements * channels);
    for (size_t i = 0; i < data->Entries.size(); ++i) {
        data->Entries[i].Dark = Word(bytes, HEADER_BYTES + 4 * i);
        data->Entries[i].Gain = Word(bytes, HEADER_BYTES + 4 * i + 2);
    }
    return true;
}

bool CorrectionFor(double dark, double white, ShadingCorrection *entry)
{
    const double span = white - dark;
    if (!(span >= CALIBRATION_MIN_SPAN) || dark < 0 || white > 255.0)
        return false;
    const double gain = std::lround(255.0 / span * SHADING_GAIN_ONE);
    // The span's lower bound keeps the gain well inside 16 bits.
    entry->Dark = uint16_t(std::lround(dark * SHADING_DARK_ONE));
    entry->Gain = uint16_t(gain);
    return true;
}
