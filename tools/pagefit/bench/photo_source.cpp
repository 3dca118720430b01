// JPEG decoding through libjpeg.
#include "photo_source.h"

#include "bitmap.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <dirent.h>

#include <jpeglib.h>

namespace synth {

namespace {

struct ErrorExit {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void OnError(j_common_ptr info)
{
    longjmp(reinterpret_cast<ErrorExit *>(info->err)->jump, 1);
}

bool Decode(const std::string &path, int maxSide, RgbImage *img)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    jpeg_decompress_struct info;
    ErrorExit error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = OnError;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        fclose(f);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, f);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    unsigned longest = std::max(info.image_width, info.image_height);
    info.scale_num = 1;
    info.scale_denom = 1;
    while (info.scale_denom < 8 && longest / (info.scale_denom * 2) >= unsigned(maxSide))
        info.scale_denom *= 2;
    jpeg_start_decompress(&info);
    img->width = int(info.output_width);
    img->height = int(info.output_height);
    img->rgb.resize(size_t(img->width) * img->height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &img->rgb[size_t(info.output_scanline) * img->width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    fclose(f);
    return true;
}

} // namespace

std::vector<uint8_t> ThroughJpeg(const std::vector<uint8_t> &scan, int quality)
{
    pagefit::Bitmap b;
    if (!pagefit::ParseBitmap(scan.data(), scan.size(), &b, nullptr) || b.bits != 24)
        return {};
    jpeg_compress_struct out;
    jpeg_error_mgr outError;
    out.err = jpeg_std_error(&outError);
    jpeg_create_compress(&out);
    unsigned char *packed = nullptr;
    unsigned long packedSize = 0;
    jpeg_mem_dest(&out, &packed, &packedSize);
    out.image_width = JDIMENSION(b.width);
    out.image_height = JDIMENSION(b.height);
    out.input_components = 3;
    out.in_color_space = JCS_RGB;
    jpeg_set_defaults(&out);
    jpeg_set_quality(&out, quality, TRUE);
    jpeg_start_compress(&out, TRUE);
    std::vector<uint8_t> row(size_t(b.width) * 3);
    for (int y = 0; y < b.height; y++) {
        const uint8_t *bgr = b.Row(y);
        for (int x = 0; x < b.width; x++) {
            row[3 * x] = bgr[3 * x + 2];
            row[3 * x + 1] = bgr[3 * x + 1];
            row[3 * x + 2] = bgr[3 * x];
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&out, &r, 1);
    }
    jpeg_finish_compress(&out);
    jpeg_destroy_compress(&out);

    jpeg_decompress_struct in;
    jpeg_error_mgr inError;
    in.err = jpeg_std_error(&inError);
    jpeg_create_decompress(&in);
    jpeg_mem_src(&in, packed, packedSize);
    jpeg_read_header(&in, TRUE);
    in.out_color_space = JCS_RGB;
    jpeg_start_decompress(&in);
    std::vector<uint8_t> topDown(size_t(b.width) * b.height * 3);
    while (in.output_scanline < in.output_height) {
        size_t y = in.output_scanline;
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&in, &r, 1);
        for (int x = 0; x < b.width; x++) {
            topDown[(y * b.width + x) * 3] = row[3 * x + 2];
            topDown[(y * b.width + x) * 3 + 1] = row[3 * x + 1];
            topDown[(y * b.width + x) * 3 + 2] = row[3 * x];
        }
    }
    jpeg_finish_decompress(&in);
    jpeg_destroy_decompress(&in);
    free(packed);
    return ProductBitmap(b.width, b.height, 24, b.Dpi(), topDown);
}

std::vector<RgbImage> LoadPhotos(const std::vector<std::string> &folders, int maxSide, std::vector<std::string> *names)
{
    std::vector<std::string> files;
    for (const std::string &folder : folders) {
        DIR *d = opendir(folder.c_str());
        if (!d)
            continue;
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.substr(n.size() - 4) == ".jpg")
                files.push_back(folder + "/" + n);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    std::vector<RgbImage> photos;
    for (const std::string &f : files) {
        RgbImage img;
        if (Decode(f, maxSide, &img)) {
            photos.push_back(std::move(img));
            if (names)
                names->push_back(f);
        }
    }
    return photos;
}

} // namespace synth
