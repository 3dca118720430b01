// Sheet pictures through the Windows Imaging Component.
#include "sheet_decode.h"

#include <windows.h>
#include <wincodec.h>

#include <new>

#include "bitmap_layout.h"
#include "product_files.h"

namespace feeder {

namespace {

// COM for the length of one decode, on whatever thread the caller runs:
// the agent's own thread may already have chosen its apartment.
class ComScope {
public:
    ComScope() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope()
    {
        if (initialised_)
            CoUninitialize();
    }

private:
    bool initialised_;
};

template <class T>
void Release(T *&object)
{
    if (object)
        object->Release();
    object = nullptr;
}

// Opens the first frame; the caller releases both objects.
bool OpenFrame(const std::string &path, IWICImagingFactory **factory, IWICBitmapFrameDecode **frame, UINT *width,
               UINT *height)
{
    *factory = nullptr;
    *frame = nullptr;
    wchar_t widePath[PATH_CAPACITY];
    if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, PATH_CAPACITY))
        return false;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void **>(factory))))
        return false;
    IWICBitmapDecoder *decoder = nullptr;
    HRESULT result = (*factory)->CreateDecoderFromFilename(widePath, nullptr, GENERIC_READ,
                                                           WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(result))
        result = decoder->GetFrame(0, frame);
    Release(decoder);
    if (SUCCEEDED(result))
        result = (*frame)->GetSize(width, height);
    if (FAILED(result) || *width == 0 || *height == 0 || (uint64_t)*width * *height > MAX_SHEET_PIXELS) {
        Release(*frame);
        Release(*factory);
        return false;
    }
    return true;
}

} // namespace

bool CanDecodeSheet(const std::string &path)
{
    ComScope com;
    IWICImagingFactory *factory;
    IWICBitmapFrameDecode *frame;
    UINT width, height;
    if (!OpenFrame(path, &factory, &frame, &width, &height))
        return false;
    Release(frame);
    Release(factory);
    return true;
}

bool DecodeSheet(const std::string &path, SheetImage *sheet)
{
    ComScope com;
    IWICImagingFactory *factory;
    IWICBitmapFrameDecode *frame;
    UINT width, height;
    if (!OpenFrame(path, &factory, &frame, &width, &height))
        return false;
    double dpiX = 0, dpiY = 0;
    if (FAILED(frame->GetResolution(&dpiX, &dpiY)))
        dpiX = 0;
    IWICBitmapSource *converted = nullptr;
    HRESULT result = WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame, &converted);
    const UINT stride = UINT(bitmap_layout::RowBytes(width, 24));
    std::vector<uint8_t> bgr;
    if (SUCCEEDED(result)) {
        try {
            bgr.resize((size_t)stride * height);
        } catch (const std::bad_alloc &) {
            result = E_OUTOFMEMORY;
        }
    }
    if (SUCCEEDED(result))
        result = converted->CopyPixels(nullptr, stride, (UINT)bgr.size(), bgr.data());
    Release(converted);
    Release(frame);
    Release(factory);
    if (FAILED(result))
        return false;
    try {
        sheet->Rgb.resize((size_t)width * height * 3);
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (UINT y = 0; y < height; ++y) {
        const uint8_t *source = bgr.data() + (size_t)y * stride;
        uint8_t *target = sheet->Rgb.data() + (size_t)y * width * 3;
        for (UINT x = 0; x < width; ++x) {
            target[3 * x] = source[3 * x + 2];
            target[3 * x + 1] = source[3 * x + 1];
            target[3 * x + 2] = source[3 * x];
        }
    }
    sheet->Width = width;
    sheet->Height = height;
    sheet->FileDpi = dpiX;
    return true;
}

} // namespace feeder
