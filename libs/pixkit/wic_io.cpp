// WIC decoding of the source bitmaps and encoding of PNG and TIFF.
#include "wic_io.h"

#include <cmath>
#include <cstring>

#include "pixkit.h"

namespace pixkit {

namespace {

// Releases a COM interface when the holder goes out of scope.
template <typename T>
class ComHolder {
public:
    ComHolder() = default;
    ComHolder(const ComHolder &) = delete;
    ComHolder &operator=(const ComHolder &) = delete;
    ~ComHolder()
    {
        if (p_)
            p_->Release();
    }
    T **Out()
    {
        return &p_;
    }
    T *operator->() const
    {
        return p_;
    }
    T *get() const
    {
        return p_;
    }

private:
    T *p_ = nullptr;
};

uint32_t RoundDpi(double dpi)
{
    if (!(dpi > 0.0) || dpi > 1000000.0)
        return 0;
    return uint32_t(lround(dpi));
}

bool IsGrey(WICColor c)
{
    return ((c >> 16) & 0xFF) == ((c >> 8) & 0xFF) && ((c >> 8) & 0xFF) == (c & 0xFF);
}
uint8_t GreyLevel(WICColor c)
{
    return uint8_t(c & 0xFF);
}

// Copies the frame's pixels in the format they already have.
int CopyRows(IWICBitmapSource *source, PixelLayout layout, uint32_t width, uint32_t height, Raster *raster)
{
    if (!AllocateRaster(raster, layout, width, height))
        return PIXKIT_ERROR_MEMORY;
    uint64_t bytes = uint64_t(raster->stride) * height;
    HRESULT hr = source->CopyPixels(nullptr, UINT(raster->stride), UINT(bytes), raster->pixels.get());
    return SUCCEEDED(hr) ? PIXKIT_OK : PIXKIT_ERROR_READ;
}

int ConvertToColour(IWICImagingFactory *factory, IWICBitmapSource *source, uint32_t width, uint32_t height,
                    Raster *raster)
{
    ComHolder<IWICFormatConverter> converter;
    if (FAILED(factory->CreateFormatConverter(converter.Out())) ||
        FAILED(converter->Initialize(source, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return PIXKIT_ERROR_READ;
    return CopyRows(converter.get(), LAYOUT_BGR, width, height, raster);
}

// Indexed pictures: line art when the palette is exactly black and white,
// grey when every entry is grey (each index mapped through its entry),
// colour otherwise.
int DecodeIndexed(IWICImagingFactory *factory, IWICBitmapFrameDecode *frame, UINT bits, uint32_t width, uint32_t height,
                  Raster *raster)
{
    ComHolder<IWICPalette> palette;
    WICColor colours[256];
    UINT count = 0;
    if (FAILED(factory->CreatePalette(palette.Out())) || FAILED(frame->CopyPalette(palette.get())) ||
        FAILED(palette->GetColors(256, colours, &count)) || count == 0)
        return ConvertToColour(factory, frame, width, height, raster);
    bool allGrey = true;
    for (UINT i = 0; i < count; ++i)
        allGrey = allGrey && IsGrey(colours[i]);
    if (!allGrey)
        return ConvertToColour(factory, frame, width, height, raster);

    if (bits == 1 && count == 2 && GreyLevel(colours[0]) != GreyLevel(colours[1])) {
        int status = CopyRows(frame, LAYOUT_BILEVEL, width, height, raster);
        if (status == PIXKIT_OK && GreyLevel(colours[0]) > GreyLevel(colours[1])) {
            // Index 0 is the lighter colour: turn the bits so that 1 is white.
            for (uint32_t y = 0; y < height; ++y) {
                uint8_t *row = raster->Row(y);
                for (size_t i = 0; i < raster->stride; ++i)
                    row[i] = uint8_t(~row[i]);
            }
        }
        return status;
    }
    if (bits != 8) {
        ComHolder<IWICFormatConverter> converter;
        if (FAILED(factory->CreateFormatConverter(converter.Out())) ||
            FAILED(converter->Initialize(frame, GUID_WICPixelFormat8bppGray, WICBitmapDitherTypeNone, nullptr, 0.0,
                                         WICBitmapPaletteTypeCustom)))
            return PIXKIT_ERROR_READ;
        return CopyRows(converter.get(), LAYOUT_GREY, width, height, raster);
    }
    int status = CopyRows(frame, LAYOUT_GREY, width, height, raster);
    if (status != PIXKIT_OK)
        return status;
    uint8_t levels[256];
    for (UINT i = 0; i < 256; ++i)
        levels[i] = i < count ? GreyLevel(colours[i]) : 0;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = raster->Row(y);
        for (uint32_t x = 0; x < width; ++x)
            row[x] = levels[row[x]];
    }
    return PIXKIT_OK;
}

} // namespace

int DecodeFile(IWICImagingFactory *factory, const wchar_t *path, DecodedPicture *picture)
{
    ComHolder<IWICBitmapDecoder> decoder;
    ComHolder<IWICBitmapFrameDecode> frame;
    if (FAILED(factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  decoder.Out())) ||
        FAILED(decoder->GetFrame(0, frame.Out())))
        return PIXKIT_ERROR_READ;
    UINT width = 0, height = 0;
    double xDpi = 0, yDpi = 0;
    WICPixelFormatGUID format;
    if (FAILED(frame->GetSize(&width, &height)) || FAILED(frame->GetPixelFormat(&format)) || width == 0 || height == 0)
        return PIXKIT_ERROR_READ;
    if (FAILED(frame->GetResolution(&xDpi, &yDpi)))
        xDpi = yDpi = 0;
    picture->xDpi = RoundDpi(xDpi);
    picture->yDpi = RoundDpi(yDpi);

    ComHolder<IWICComponentInfo> info;
    ComHolder<IWICPixelFormatInfo> formatInfo;
    UINT bits = 0;
    if (SUCCEEDED(factory->CreateComponentInfo(format, info.Out())) &&
        SUCCEEDED(info->QueryInterface(IID_IWICPixelFormatInfo, reinterpret_cast<void **>(formatInfo.Out()))))
        formatInfo->GetBitsPerPixel(&bits);
    picture->sourceBits = bits;

    if (IsEqualGUID(format, GUID_WICPixelFormatBlackWhite))
        return CopyRows(frame.get(), LAYOUT_BILEVEL, width, height, &picture->raster);
    if (IsEqualGUID(format, GUID_WICPixelFormat8bppGray))
        return CopyRows(frame.get(), LAYOUT_GREY, width, height, &picture->raster);
    if (IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        return CopyRows(frame.get(), LAYOUT_BGR, width, height, &picture->raster);
    if (IsEqualGUID(format, GUID_WICPixelFormat1bppIndexed) || IsEqualGUID(format, GUID_WICPixelFormat2bppIndexed) ||
        IsEqualGUID(format, GUID_WICPixelFormat4bppIndexed) || IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed))
        return DecodeIndexed(factory, frame.get(), bits, width, height, &picture->raster);
    return ConvertToColour(factory, frame.get(), width, height, &picture->raster);
}

int EncodeFile(IWICImagingFactory *factory, REFGUID container, const Raster &raster, uint32_t xDpi, uint32_t yDpi,
               const wchar_t *path)
{
    ComHolder<IWICStream> stream;
    ComHolder<IWICBitmapEncoder> encoder;
    ComHolder<IWICBitmapFrameEncode> frame;
    ComHolder<IPropertyBag2> options;
    if (FAILED(factory->CreateStream(stream.Out())) || FAILED(stream->InitializeFromFilename(path, GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(container, nullptr, encoder.Out())) ||
        FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.Out(), options.Out())))
        return PIXKIT_ERROR_WRITE;
    if (IsEqualGUID(container, GUID_ContainerFormatTiff)) {
        // Lossless compression where the platform offers it; Wine's encoder
        // ignores the option and writes the strips uncompressed, which is
        // lossless as well.
        PROPBAG2 name = {};
        name.pstrName = const_cast<LPOLESTR>(L"TiffCompressionMethod");
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_UI1;
        value.bVal = WICTiffCompressionZIP;
        options->Write(1, &name, &value);
    }
    WICPixelFormatGUID format = raster.layout == LAYOUT_BILEVEL ? GUID_WICPixelFormatBlackWhite
                                : raster.layout == LAYOUT_GREY  ? GUID_WICPixelFormat8bppGray
                                                                : GUID_WICPixelFormat24bppBGR;
    const WICPixelFormatGUID wanted = format;
    if (FAILED(frame->Initialize(options.get())) || FAILED(frame->SetSize(raster.width, raster.height)) ||
        FAILED(frame->SetResolution(xDpi ? xDpi : 96, yDpi ? yDpi : 96)) || FAILED(frame->SetPixelFormat(&format)))
        return PIXKIT_ERROR_WRITE;
    // An encoder that would change the depth would silently give another
    // picture than the one asked for: refuse instead.
    if (!IsEqualGUID(format, wanted))
        return PIXKIT_ERROR_FORMAT;
    uint64_t bytes = uint64_t(raster.stride) * raster.height;
    if (FAILED(frame->WritePixels(raster.height, UINT(raster.stride), UINT(bytes), raster.pixels.get())) ||
        FAILED(frame->Commit()) || FAILED(encoder->Commit()))
        return PIXKIT_ERROR_WRITE;
    return PIXKIT_OK;
}

} // namespace pixkit
