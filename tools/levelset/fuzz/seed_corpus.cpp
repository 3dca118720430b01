// Writes the calibration data fuzzer's seed corpus: intact files of a few
// sensor shapes, into the folder given.
#include <cstdio>
#include <string>

#include "calibration_data.h"

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const uint16_t shapes[][2] = {{1, 1}, {7, 3}, {64, 3}, {300, 1}};
    int n = 0;
    for (const auto &shape : shapes) {
        CalibrationData data;
        data.Dpi = 600;
        data.Elements = shape[0];
        data.Channels = shape[1];
        data.Model = n % 2 ? "VF-600" : "";
        for (uint32_t i = 0; i < (uint32_t)shape[0] * shape[1]; ++i)
            data.Entries.push_back(ShadingCorrection{uint16_t(i * 37), uint16_t(16384 + i)});
        const std::string bytes = EncodeCalibrationData(data);
        const std::string path = std::string(argv[1]) + "/seed" + std::to_string(n++) + ".bin";
        FILE *file = fopen(path.c_str(), "wb");
        if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
            return 1;
        fclose(file);
    }
    return 0;
}
