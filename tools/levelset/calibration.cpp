// The calibration run: read the sensor's dark level and the white strip
// across every element, turn each element's two readings into its
// correction, and hand the correction to the device and to the data file.
#include "levelset.h"

#include <cstring>
#include <vector>

#include "calibration_data.h"
#include "data_file.h"
#include "scan_types.h"
#include "scanner.h"
#include "settings.h"

namespace {

// Lines averaged per reference: the converter's noise averages out to a
// small fraction of a level over this many.
const uint32_t REFERENCE_LINES = 64;
// Read blocks the device prefers may be huge; a few lines per read keep the
// progress bar moving and Cancel answering.
const uint32_t MAX_LINES_PER_READ = 8;

struct Sensor {
    SensorInfo Info;
    uint32_t LineBytes;
    uint32_t Lines;
};

// Sets up a reference scan across the whole sensor at its own resolution.
bool PlanReferenceScan(Sensor *sensor)
{
    ScanParameters image = {};
    image.ParameterBytes = SC_PARAMETER_BYTES;
    image.PaperArea[2] = uint16_t((uint32_t)sensor->Info.Elements * 300 / sensor->Info.Dpi);
    image.PaperArea[3] = uint16_t((REFERENCE_LINES * 300 + sensor->Info.Dpi - 1) / sensor->Info.Dpi);
    image.XResolution = image.YResolution = sensor->Info.Dpi;
    image.ImageType = SCAN_TYPE_COLOUR;
    image.TableUse = 1;
    image.Constant32 = 2;
    ScanGeometry geometry = {};
    geometry.Image = image;
    if (!ScannerCommand(SC_GET_GEOMETRY, &geometry) || geometry.Lines == 0 ||
        geometry.LineBytes < (uint32_t)sensor->Info.Elements * 3)
        return false;
    sensor->LineBytes = geometry.LineBytes;
    sensor->Lines = geometry.Lines;
    return ScannerCommand(SC_SET_PARAMS, &image);
}

// Reads one reference and leaves each element's mean per channel (red,
// green, blue) in `means`. 0 on success, else a LevelsetExit.
int ReadReference(RunContext *run, const Sensor &sensor, uint16_t target, int fromPercent, int toPercent,
                  std::vector<double> *means)
{
    ReferenceRequest request = {target, 0};
    if (!ScannerCommand(SC_SET_REFERENCE, &request) || !ScannerCommand(SC_START, nullptr))
        return LEVELSET_FAILED;
    ScannerCommand(SC_PREPARE_READ, nullptr);
    uint32_t blockLines = ScannerBlock.TransferCount / sensor.LineBytes;
    blockLines = blockLines == 0 ? 1 : blockLines > MAX_LINES_PER_READ ? MAX_LINES_PER_READ : blockLines;
    std::vector<uint8_t> block((size_t)blockLines * sensor.LineBytes);
    const uint32_t elements = sensor.Info.Elements;
    std::vector<uint32_t> sums((size_t)elements * 3, 0);
    uint32_t received = 0;
    for (;;) {
        if (CancelRequested(run))
            return LEVELSET_CANCELLED;
        ScannerBlock.TransferSize = (uint32_t)block.size();
        SendScannerCommand(SC_READ, block.data());
        const int16_t status = ScannerBlock.Status;
        const uint32_t lines = status == 0 || status == SC_STATUS_END_OF_PAGE ? ScannerBlock.TransferCount : 0;
        if (lines > blockLines || (status != 0 && status != SC_STATUS_END_OF_PAGE))
            return LEVELSET_FAILED;
        for (uint32_t line = 0; line < lines; ++line) {
            const uint8_t *row = block.data() + (size_t)line * sensor.LineBytes;
            for (uint32_t e = 0; e < elements; ++e) {
                sums[3 * e] += row[3 * e + 2];
                sums[3 * e + 1] += row[3 * e + 1];
                sums[3 * e + 2] += row[3 * e];
            }
        }
        received += lines;
        ReportStep(run, nullptr, fromPercent + (int)((toPercent - fromPercent) * (uint64_t)received / sensor.Lines));
        if (status == SC_STATUS_END_OF_PAGE || received >= sensor.Lines)
            break;
        if (lines == 0)
            return LEVELSET_FAILED;
    }
    ScannerCommand(SC_STOP, nullptr);
    if (received == 0)
        return LEVELSET_FAILED;
    means->resize(sums.size());
    for (size_t i = 0; i < sums.size(); ++i)
        (*means)[i] = (double)sums[i] / received;
    return LEVELSET_DONE;
}

int Measure(RunContext *run, CalibrationData *data, const char **failure)
{
    Sensor sensor = {};
    if (!ScannerCommand(SC_GET_SENSOR, &sensor.Info) || sensor.Info.Channels != 3 || sensor.Info.Dpi == 0 ||
        sensor.Info.Elements == 0 || sensor.Info.Elements > CALIBRATION_MAX_ELEMENTS || !PlanReferenceScan(&sensor)) {
        *failure = "This scanner offers no calibration.";
        return LEVELSET_FAILED;
    }
    std::vector<double> dark, white;
    ReportStep(run, "Reading the sensor's dark level...", 5);
    int result = ReadReference(run, sensor, REFERENCE_DARK, 5, 40, &dark);
    if (result == LEVELSET_DONE) {
        ReportStep(run, "Reading the white reference strip...", 40);
        result = ReadReference(run, sensor, REFERENCE_WHITE, 40, 80, &white);
    }
    if (result != LEVELSET_DONE) {
        *failure = "The scanner stopped while reading its reference.";
        return result;
    }
    ReportStep(run, "Computing the correction...", 85);
    data->Dpi = sensor.Info.Dpi;
    data->Elements = sensor.Info.Elements;
    data->Channels = sensor.Info.Channels;
    data->Entries.resize(dark.size());
    for (size_t i = 0; i < dark.size(); ++i) {
        if (!CorrectionFor(dark[i], white[i], &data->Entries[i])) {
            *failure = "The white reference reads too dark: the lamp or the strip needs service.";
            return LEVELSET_FAILED;
        }
    }
    return LEVELSET_DONE;
}

} // namespace

int CalibrateScanner(RunContext *run, const char **failure)
{
    DataFilePlace place;
    if (!FindDataFilePlace(&place)) {
        *failure = "The calibration data has no place: Module.ini names no scanner model, or the "
                   "calibration file name in the settings is not a plain file name.";
        return LEVELSET_FAILED;
    }
    int result = LEVELSET_DONE;
    if (!TakeScanner(run, &result, failure))
        return result;
    CalibrationData data;
    char model[MODEL_NAME_CAPACITY];
    ReadModuleModelName(model);
    data.Model = model;
    result = Measure(run, &data, failure);
    std::string temporary;
    if (result == LEVELSET_DONE && CancelRequested(run))
        result = LEVELSET_CANCELLED;
    if (result == LEVELSET_DONE) {
        // From here the run finishes what it started: the device and the
        // file receive the same correction, or neither does.
        InterlockedExchange(&run->PastCancelling, 1);
        ReportStep(run, "Saving the calibration...", 90);
        CorrectionDownload download = {data.Elements, data.Channels, data.Entries.data()};
        if (!WriteTemporaryDataFile(place, EncodeCalibrationData(data), &temporary)) {
            *failure = "The calibration data file cannot be written.";
            result = LEVELSET_FAILED;
        } else if (!ScannerCommand(SC_SET_CORRECTION, &download)) {
            *failure = "The scanner refused the correction.";
            result = LEVELSET_FAILED;
        } else if (!CommitDataFile(place, temporary)) {
            *failure = "The calibration data file cannot be written.";
            result = LEVELSET_FAILED;
        }
        DiscardTemporaryDataFile(&temporary);
    }
    GiveBackScanner();
    if (result != LEVELSET_DONE)
        SettleFailedCalibration(place, run->Verb == VERB_FORCE_CALIBRATION);
    else
        ReportStep(run, "The scanner is calibrated.", 100);
    return result;
}
