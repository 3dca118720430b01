// The library's entry point and its seven operations: pictures are loaded
// through WIC, turned and reduced by the portable raster code, and saved by
// our own BMP and JPEG writers or WIC's PNG and TIFF encoders.
#include <windows.h>
#include <wincodec.h>

#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "bmp_writer.h"
#include "jpeg_writer.h"
#include "pixkit.h"
#include "raster.h"
#include "safe_output.h"
#include "wic_io.h"

namespace pixkit {
namespace {

// A picture as callers see it: the handle is the address of `descriptor`,
// which points at `view`.
struct ImageRecord {
    PixkitDescriptor *descriptor;
    PixkitDescriptor view;
    Raster raster;
};
static_assert(offsetof(ImageRecord, descriptor) == 0, "a handle is the record's address");

// Process-wide state between Init and Shutdown.
struct LibraryState {
    IWICImagingFactory *factory;
    bool comStarted; // our CoInitializeEx succeeded and must be balanced
};
LibraryState Library;

ImageRecord *RecordOf(PixkitImage image)
{
    ImageRecord *record = reinterpret_cast<ImageRecord *>(image);
    if (!record || record->descriptor != &record->view || record->view.signature != PIXKIT_SIGNATURE)
        return nullptr;
    return record;
}

void DescribeRaster(ImageRecord *record)
{
    record->view.width = record->raster.width;
    record->view.height = record->raster.height;
    record->view.bitsPerPixel = BitsPerPixel(record->raster.layout);
}

std::wstring Wide(const char *text)
{
    int count = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring wide(size_t(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], count);
    wide.resize(size_t(count - 1));
    return wide;
}

// Writes encoder output straight into a file.
class FileSink : public ByteSink {
public:
    explicit FileSink(HANDLE file) : file_(file) {}
    bool Write(const uint8_t *bytes, size_t count) override
    {
        while (count > 0) {
            DWORD chunk = count > (1u << 30) ? (1u << 30) : DWORD(count), written = 0;
            if (!WriteFile(file_, bytes, chunk, &written, nullptr) || written != chunk)
                return false;
            bytes += chunk;
            count -= chunk;
        }
        return true;
    }

private:
    HANDLE file_;
};

enum OutputKind { OUTPUT_KIND_NONE, OUTPUT_KIND_BMP, OUTPUT_KIND_JPEG, OUTPUT_KIND_TIFF, OUTPUT_KIND_PNG };

OutputKind KindFromExtension(const char *path)
{
    const char *dot = strrchr(path, '.');
    const char *separator = strrchr(path, '\\');
    if (!dot || (separator && dot < separator))
        return OUTPUT_KIND_NONE;
    struct {
        const char *extension;
        OutputKind kind;
    } const table[] = {{".bmp", OUTPUT_KIND_BMP},  {".jpg", OUTPUT_KIND_JPEG},  {".jpeg", OUTPUT_KIND_JPEG},
                       {".tif", OUTPUT_KIND_TIFF}, {".tiff", OUTPUT_KIND_TIFF}, {".png", OUTPUT_KIND_PNG}};
    for (const auto &entry : table) {
        if (lstrcmpiA(dot, entry.extension) == 0)
            return entry.kind;
    }
    return OUTPUT_KIND_NONE;
}

struct SaveJob {
    const ImageRecord *record;
    OutputKind kind;
    int quality;
};

int FillWithOwnWriter(const char *temporaryPath, const SaveJob &job)
{
    HANDLE file =
        CreateFileA(temporaryPath, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return PIXKIT_ERROR_WRITE;
    FileSink sink(file);
    const PixkitDescriptor &view = job.record->view;
    bool written = job.kind == OUTPUT_KIND_JPEG
                       ? WriteJpeg(job.record->raster, job.quality, view.xDpi, view.yDpi, &sink)
                       : WriteBmp(job.record->raster, view.xDpi, view.yDpi, &sink);
    CloseHandle(file);
    return written ? PIXKIT_OK : PIXKIT_ERROR_WRITE;
}

int FillSaveJob(const char *temporaryPath, void *context)
{
    const SaveJob &job = *static_cast<const SaveJob *>(context);
    // Wine's WIC writes no one-bit or grey BMP (it widens them to colour or
    // writes a damaged file) and ignores the JPEG quality, so those two
    // formats have writers of our own on every platform.
    if (job.kind == OUTPUT_KIND_BMP || job.kind == OUTPUT_KIND_JPEG)
        return FillWithOwnWriter(temporaryPath, job);
    const GUID &container = job.kind == OUTPUT_KIND_TIFF ? GUID_ContainerFormatTiff : GUID_ContainerFormatPng;
    std::wstring path = Wide(temporaryPath);
    const PixkitDescriptor &view = job.record->view;
    return EncodeFile(Library.factory, container, job.record->raster, view.xDpi, view.yDpi, path.c_str());
}

int PIXKIT_CALL OpInit(const uint16_t *record)
{
    if (!record)
        return PIXKIT_ERROR_ARGUMENT;
    if (Library.factory)
        return PIXKIT_OK;
    // The agent's thread may already have COM in either model; any model will
    // do for the imaging factory, which is free-threaded.
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Library.comStarted = SUCCEEDED(hr);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE)
        return PIXKIT_ERROR_PLATFORM;
    hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                          reinterpret_cast<void **>(&Library.factory));
    if (FAILED(hr)) {
        Library.factory = nullptr;
        if (Library.comStarted)
            CoUninitialize();
        Library.comStarted = false;
        return PIXKIT_ERROR_PLATFORM;
    }
    return PIXKIT_OK;
}

int PIXKIT_CALL OpShutdown(void)
{
    if (Library.factory)
        Library.factory->Release();
    Library.factory = nullptr;
    if (Library.comStarted)
        CoUninitialize();
    Library.comStarted = false;
    return PIXKIT_OK;
}

int PIXKIT_CALL OpLoadImage(PixkitImage *image, const char *path, uint32_t *sourceBits, uint32_t, uint32_t, uint32_t,
                            uint32_t, uint32_t)
{
    if (!image)
        return PIXKIT_ERROR_ARGUMENT;
    *image = nullptr;
    if (!path || !*path)
        return PIXKIT_ERROR_ARGUMENT;
    if (!Library.factory)
        return PIXKIT_ERROR_NOT_READY;
    ImageRecord *record = new (std::nothrow) ImageRecord();
    if (!record)
        return PIXKIT_ERROR_MEMORY;
    DecodedPicture picture;
    int status = DecodeFile(Library.factory, Wide(path).c_str(), &picture);
    if (status != PIXKIT_OK) {
        delete record;
        return status;
    }
    record->raster = static_cast<Raster &&>(picture.raster);
    record->descriptor = &record->view;
    record->view.signature = PIXKIT_SIGNATURE;
    record->view.xDpi = picture.xDpi;
    record->view.yDpi = picture.yDpi;
    DescribeRaster(record);
    if (sourceBits)
        *sourceBits = picture.sourceBits;
    *image = &record->descriptor;
    return PIXKIT_OK;
}

void PIXKIT_CALL OpFreeImage(PixkitImage image)
{
    ImageRecord *record = RecordOf(image);
    if (!record)
        return;
    record->view.signature = 0; // a second free of the same handle is then ignored
    delete record;
}

int PIXKIT_CALL OpSaveImage(const char *path, uint32_t kind, const uint32_t *options, PixkitImage image, uint32_t,
                            uint32_t)
{
    const ImageRecord *record = RecordOf(image);
    if (!record || !path || !*path)
        return PIXKIT_ERROR_ARGUMENT;
    SaveJob job{record, OUTPUT_KIND_NONE, PIXKIT_DEFAULT_JPEG_QUALITY};
    if (kind == PIXKIT_SAVE_JPEG) {
        job.kind = OUTPUT_KIND_JPEG;
        if (options)
            job.quality = int(options[1] > 100 ? 100 : options[1]);
    } else if (kind == PIXKIT_SAVE_TIFF) {
        job.kind = OUTPUT_KIND_TIFF;
    } else {
        job.kind = KindFromExtension(path);
    }
    if (job.kind == OUTPUT_KIND_NONE)
        return PIXKIT_ERROR_FORMAT;
    if ((job.kind == OUTPUT_KIND_TIFF || job.kind == OUTPUT_KIND_PNG) && !Library.factory)
        return PIXKIT_ERROR_NOT_READY;
    return SaveWithoutReplacing(path, FillSaveJob, &job);
}

PixkitImage PIXKIT_CALL OpResizeImage(PixkitImage image, int32_t width, int32_t height, uint32_t, uint32_t, uint32_t)
{
    ImageRecord *record = RecordOf(image);
    if (!record || width <= 0 || height <= 0)
        return nullptr;
    Raster resized;
    if (!ResizeByAreaAverage(record->raster, uint32_t(width), uint32_t(height), &resized))
        return nullptr;
    record->raster = static_cast<Raster &&>(resized);
    DescribeRaster(record);
    return image;
}

PixkitImage PIXKIT_CALL OpRotateImage(PixkitImage image, double degrees, PixkitRotateOptions, uint32_t, uint32_t,
                                      uint32_t)
{
    ImageRecord *record = RecordOf(image);
    if (!record || !std::isfinite(degrees))
        return nullptr;
    // Only whole quarter turns are exact; any other angle would resample.
    double turns = degrees / 90.0;
    double whole = std::floor(turns + 0.5);
    if (std::fabs(turns - whole) > 1e-9)
        return nullptr;
    int quarterTurns = int(std::fmod(whole, 4.0));
    if (quarterTurns == 0)
        return image;
    Raster turned;
    if (!RotateQuarterTurns(record->raster, quarterTurns, &turned))
        return nullptr;
    record->raster = static_cast<Raster &&>(turned);
    uint32_t xDpi = record->view.xDpi;
    if (quarterTurns % 2) {
        record->view.xDpi = record->view.yDpi;
        record->view.yDpi = xDpi;
    }
    DescribeRaster(record);
    return image;
}

void *const OperationTable[PIXKIT_SLOT_COUNT] = {
    reinterpret_cast<void *>(&OpInit),
    reinterpret_cast<void *>(&OpShutdown),
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    reinterpret_cast<void *>(&OpLoadImage),
    reinterpret_cast<void *>(&OpFreeImage),
    reinterpret_cast<void *>(&OpSaveImage),
    nullptr,
    nullptr,
    reinterpret_cast<void *>(&OpResizeImage),
    nullptr,
    reinterpret_cast<void *>(&OpRotateImage),
};

} // namespace
} // namespace pixkit

extern "C" __declspec(dllexport) void *const *PIXKIT_CALL PixkitOps(void)
{
    return pixkit::OperationTable;
}
