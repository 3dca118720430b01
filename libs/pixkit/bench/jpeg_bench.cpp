// Times Pixkit.dll saving one picture as JPEG, inside Windows, the way the
// agent calls it. Prints the best of several runs and the file's size.
//   pixkit_jpeg_bench SOURCE.bmp OUTPUT_FOLDER [QUALITY] [RUNS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "pixkit.h"
#include "product_files.h"

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: pixkit_jpeg_bench SOURCE.bmp OUTPUT_FOLDER [QUALITY] [RUNS]\n");
        return 2;
    }
    uint32_t quality = argc > 3 ? uint32_t(atoi(argv[3])) : 80;
    int runs = argc > 4 ? atoi(argv[4]) : 3;
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    std::string folder(program, length);
    folder = folder.substr(0, folder.rfind('\\') + 1);
    HMODULE module = LoadLibraryA((folder + IMAGE_LIBRARY_FILE).c_str());
    PixkitOpsFn entry = module ? reinterpret_cast<PixkitOpsFn>(GetProcAddress(module, "PixkitOps")) : nullptr;
    if (!entry) {
        fprintf(stderr, "Pixkit.dll not found beside the program\n");
        return 1;
    }
    void *const *ops = entry();
    const uint16_t record[4] = {2, 3, 0, 0};
    auto init = reinterpret_cast<PixkitInitFn>(ops[PIXKIT_SLOT_INIT]);
    auto load = reinterpret_cast<PixkitLoadImageFn>(ops[PIXKIT_SLOT_LOAD_IMAGE]);
    auto save = reinterpret_cast<PixkitSaveImageFn>(ops[PIXKIT_SLOT_SAVE_IMAGE]);
    auto release = reinterpret_cast<PixkitFreeImageFn>(ops[PIXKIT_SLOT_FREE_IMAGE]);
    PixkitImage image = nullptr;
    uint32_t unused = 0;
    if (init(record) != PIXKIT_OK || load(&image, argv[1], &unused, 0, 7, 0, 0, 0) != PIXKIT_OK) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double best = 1e30;
    std::string output;
    for (int run = 0; run < runs; ++run) {
        output = std::string(argv[2]) + "\\pixkit-bench-" + std::to_string(run) + ".jpg";
        DeleteFileA(output.c_str());
        const uint32_t options[2] = {0, quality};
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        int status = save(output.c_str(), PIXKIT_SAVE_JPEG, options, image, 0, 0);
        QueryPerformanceCounter(&end);
        if (status != PIXKIT_OK) {
            fprintf(stderr, "save failed: %d\n", status);
            return 1;
        }
        double ms = 1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
        if (ms < best)
            best = ms;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExA(output.c_str(), GetFileExInfoStandard, &data);
    printf("pixkit_jpeg_ms %.0f\npixkit_jpeg_bytes %lu\npixkit_jpeg_file %s\n", best,
           static_cast<unsigned long>(data.nFileSizeLow), output.c_str());
    release(image);
    return 0;
}
