// PSNR in dB between two binary PPM files of the same size, for pictures
// too large for ImageMagick's resource limits.
//   ppm_psnr A.ppm B.ppm
#include <cmath>
#include <cstdio>
#include <vector>

static bool ReadPpm(const char *path, std::vector<unsigned char> *pixels, int *width, int *height)
{
    FILE *file = fopen(path, "rb");
    int maximum = 0;
    if (!file || fscanf(file, "P6 %d %d %d", width, height, &maximum) != 3 || maximum != 255) {
        if (file)
            fclose(file);
        return false;
    }
    fgetc(file);
    pixels->resize(size_t(*width) * *height * 3);
    bool ok = fread(pixels->data(), 1, pixels->size(), file) == pixels->size();
    fclose(file);
    return ok;
}

int main(int argc, char **argv)
{
    std::vector<unsigned char> a, b;
    int wa, ha, wb, hb;
    if (argc != 3 || !ReadPpm(argv[1], &a, &wa, &ha) || !ReadPpm(argv[2], &b, &wb, &hb) || wa != wb || ha != hb) {
        fprintf(stderr, "usage: ppm_psnr A.ppm B.ppm (same size, 8-bit)\n");
        return 2;
    }
    double squared = 0;
    for (size_t i = 0; i < a.size(); ++i)
        squared += double(a[i] - b[i]) * (a[i] - b[i]);
    double mse = squared / a.size();
    printf("%.2f\n", mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse));
    return 0;
}
