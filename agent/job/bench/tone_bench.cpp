// Times the tone pass with the reduction to 1 bit on a 600 dpi A4 grey page
// (4960 x 7016) against a plain copy of the same file and against
// ImageMagick doing a comparable level and threshold. The pass runs as the
// agent runs it: in place, through a shared mapping of the whole file, then
// the file is cut to its new size.
//   tone_bench [WORK-FOLDER] [RUNS] [GREY-SAMPLES]
// GREY-SAMPLES is a raw file of 4960 x 7016 8-bit samples, top row first (a
// photograph, say); without it the page is drawn here.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tone_core.h"
#include "tone_test_bitmaps.h"

namespace {

const uint32_t PAGE_WIDTH = 4960;  // 8.27 in at 600 dpi
const uint32_t PAGE_HEIGHT = 7016; // 11.69 in at 600 dpi

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool WriteFile(const std::string &path, const std::string &bytes)
{
    FILE *out = fopen(path.c_str(), "wb");
    if (!out)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return fclose(out) == 0 && ok;
}

bool ReadFile(const char *path, std::string *bytes, size_t expected)
{
    FILE *in = fopen(path, "rb");
    if (!in)
        return false;
    bytes->assign(expected + 1, '\0');
    size_t got = fread(&(*bytes)[0], 1, expected + 1, in);
    fclose(in);
    bytes->resize(got);
    return got == expected;
}

// What a file copy costs: read everything, write everything, in 1 MiB pieces.
bool CopyFile(const std::string &from, const std::string &to)
{
    int in = open(from.c_str(), O_RDONLY);
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buffer(1 << 20);
    bool ok = in >= 0 && out >= 0;
    while (ok) {
        ssize_t got = read(in, buffer.data(), buffer.size());
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ok = write(out, buffer.data(), size_t(got)) == got;
    }
    if (in >= 0)
        close(in);
    if (out >= 0)
        ok = close(out) == 0 && ok;
    return ok;
}

bool TonePass(const std::string &path, const uint8_t table[256])
{
    int fd = open(path.c_str(), O_RDWR);
    if (fd < 0)
        return false;
    struct stat info;
    fstat(fd, &info);
    size_t size = size_t(info.st_size);
    uint8_t *view = (uint8_t *)mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    bool ok = view != MAP_FAILED;
    if (ok) {
        TonePassPlan plan;
        ok = PlanTonePass(view, size, size, PAGE_WIDTH, PAGE_HEIGHT, false, true, true, &plan) == TONE_PLAN_OK;
        if (ok) {
            WriteLineArtHeader(view, plan);
            for (uint32_t row = 0; row < plan.height; row += 100)
                RunToneRows(view, plan, table, row, 100);
        }
        munmap(view, size);
        ok = ok && ftruncate(fd, off_t(plan.finalFileSize)) == 0;
    }
    close(fd);
    return ok;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    std::string folder = argc > 1 ? argv[1] : "/tmp";
    int runs = argc > 2 ? atoi(argv[2]) : 5;
    std::string page = folder + "/tone-bench-page.bmp";
    std::string work = folder + "/tone-bench-work.bmp";
    std::string copy = folder + "/tone-bench-copy.bmp";
    std::string magick = folder + "/tone-bench-magick.bmp";

    std::string samples;
    if (argc > 3 && !ReadFile(argv[3], &samples, size_t(PAGE_WIDTH) * PAGE_HEIGHT)) {
        fprintf(stderr, "%s does not hold %u x %u grey samples\n", argv[3], PAGE_WIDTH, PAGE_HEIGHT);
        return 1;
    }
    // Without a photograph: broad gradients with fine texture, so neither
    // the threshold nor the caches see a uniform picture.
    std::string bytes = tonetest::MakeBitmap(PAGE_WIDTH, PAGE_HEIGHT, 8, [&](uint32_t r, uint32_t b) {
        if (!samples.empty()) // bottom-up file, top-down samples
            return uint32_t(uint8_t(samples[size_t(PAGE_HEIGHT - 1 - r) * PAGE_WIDTH + b]));
        uint32_t noise = (r * 2654435761u ^ b * 2246822519u) >> 27;
        return (b * 255 / PAGE_WIDTH + r * 255 / PAGE_HEIGHT) / 2 + noise;
    });
    if (!WriteFile(page, bytes)) {
        fprintf(stderr, "cannot write %s\n", page.c_str());
        return 1;
    }
    // Brightness +10, contrast +20, gamma 1.2: a typical correction.
    uint8_t table[256];
    BuildToneCurve(10, 20, 120, table);

    std::vector<double> copyTimes, passTimes, magickTimes;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        if (!CopyFile(page, copy))
            return 1;
        copyTimes.push_back(Seconds(start));

        if (!CopyFile(page, work)) // untimed: the pass works on its own copy
            return 1;
        start = std::chrono::steady_clock::now();
        if (!TonePass(work, table)) {
            fprintf(stderr, "tone pass failed\n");
            return 1;
        }
        passTimes.push_back(Seconds(start));

        std::string command =
            "convert " + page + " -level 4%,88%,1.2 -threshold 50% +dither -type bilevel BMP3:" + magick;
        start = std::chrono::steady_clock::now();
        if (system(command.c_str()) != 0) {
            fprintf(stderr, "ImageMagick failed: %s\n", command.c_str());
            return 1;
        }
        magickTimes.push_back(Seconds(start));
    }
    double copyTime = Median(copyTimes), passTime = Median(passTimes), magickTime = Median(magickTimes);
    printf("page: %u x %u grey, %zu bytes; median of %d runs\n", PAGE_WIDTH, PAGE_HEIGHT, bytes.size(), runs);
    printf("plain copy of the file:        %8.1f ms\n", copyTime * 1000);
    printf("tone pass with 1-bit reduction: %8.1f ms  (%.2f x the copy)\n", passTime * 1000, passTime / copyTime);
    printf("ImageMagick level + threshold: %8.1f ms  (pass is %.1f x faster)\n", magickTime * 1000,
           magickTime / passTime);
    for (const std::string &path : {page, work, copy, magick})
        unlink(path.c_str());
    return 0;
}
