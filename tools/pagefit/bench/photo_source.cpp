// JPEG decoding through libjpeg.
#include "photo_source.h"

#include <algorithm>
#include <csetjmp>
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
