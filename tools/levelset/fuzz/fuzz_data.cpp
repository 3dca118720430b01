// Fuzz target: any bytes as a calibration data file. Whatever is refused is
// refused without harm; whatever is accepted writes back to a file that
// reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "calibration_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CalibrationData decoded;
    if (!DecodeCalibrationData(std::string(reinterpret_cast<const char *>(data), size), &decoded))
        return 0;
    if (decoded.Entries.size() != (size_t)decoded.Elements * decoded.Channels)
        abort();
    CalibrationData again;
    if (!DecodeCalibrationData(EncodeCalibrationData(decoded), &again) || again.Model != decoded.Model ||
        again.Dpi != decoded.Dpi || again.Entries.size() != decoded.Entries.size())
        abort();
    for (size_t i = 0; i < again.Entries.size(); ++i)
        if (again.Entries[i].Dark != decoded.Entries[i].Dark || again.Entries[i].Gain != decoded.Entries[i].Gain)
            abort();
    return 0;
}
