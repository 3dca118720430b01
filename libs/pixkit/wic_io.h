// Decoding and encoding through the Windows Imaging Component.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include "raster.h"

namespace pixkit {

struct DecodedPicture {
    Raster raster;
    uint32_t xDpi = 0;
    uint32_t yDpi = 0;
    uint32_t sourceBits = 0; // bits per pixel of the file's own format
};

// Decodes the first frame of any file WIC reads. Two-colour black-and-white
// pictures become line art (1 = white, whatever the palette order), pictures
// whose every colour is a grey become grey, everything else colour.
// Returns a PixkitStatus.
int DecodeFile(IWICImagingFactory *factory, const wchar_t *path, DecodedPicture *picture);

// Encodes into an existing, empty file: line art as one bit, grey as eight,
// colour as 24, with the resolution. Returns a PixkitStatus.
int EncodeFile(IWICImagingFactory *factory, REFGUID container, const Raster &raster, uint32_t xDpi, uint32_t yDpi,
               const wchar_t *path);

} // namespace pixkit
