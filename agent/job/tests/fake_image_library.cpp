// A stand-in image library for the adapter's tests. It keeps no pixels: each
// operation appends one line to the log file named by the environment
// variable FAKE_IMAGE_LIBRARY_LOG, so a test sees every call, in order, with
// its arguments, even after the library was unloaded. Behaviour is chosen
// through the environment too:
//   FAKE_IMAGE_LIBRARY_INIT=n       Init answers n (default 0)
//   FAKE_IMAGE_LIBRARY_NO_TABLE=1   PixkitOps answers null
//   FAKE_IMAGE_LIBRARY_NO_SHUTDOWN=1  the table has no Shutdown
//   FAKE_IMAGE_LIBRARY_SIZE=WxH     size of every loaded picture (default 301x600)
//   FAKE_IMAGE_LIBRARY_LOAD=n       LoadImage answers n (default 0)
//   FAKE_IMAGE_LIBRARY_SAVE=n       SaveImage answers n (default 0)
//   FAKE_IMAGE_LIBRARY_NO_TURN=1    RotateImage answers null
//   FAKE_IMAGE_LIBRARY_NO_RESIZE=1  ResizeImage answers null
//   FAKE_IMAGE_LIBRARY_EMPTY_SLOTS=a,b,...  these slots of the table are null
// Turned and reduced pictures are new handles (the old one is released), so
// a test can tell which handle the agent went on with.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Picture {
    uint32_t *descriptor;
    uint32_t words[6]; // 4: width, 12: height, 16/20: resolution
    int number;
};

int NextNumber = 1;

int Setting(const char *name, int fallback)
{
    char text[32];
    DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    return length > 0 && length < sizeof text ? atoi(text) : fallback;
}

void Log(const char *format, ...)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("FAKE_IMAGE_LIBRARY_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    char line[600];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    FILE *file = fopen(path, "ab");
    if (file) {
        fprintf(file, "%s\n", line);
        fclose(file);
    }
}

Picture *NewPicture(uint32_t width, uint32_t height, uint32_t xDpi, uint32_t yDpi)
{
    Picture *p = new Picture();
    p->descriptor = p->words;
    p->words[1] = width;
    p->words[3] = height;
    p->words[4] = xDpi;
    p->words[5] = yDpi;
    p->number = NextNumber++;
    return p;
}

Picture *PictureOf(void *handle) { return static_cast<Picture *>(handle); }

int __cdecl FakeInit(const uint16_t *record)
{
    Log("init %u %u %u %u", record[0], record[1], record[2], record[3]);
    return Setting("FAKE_IMAGE_LIBRARY_INIT", 0);
}

int __cdecl FakeShutdown(void)
{
    Log("shutdown");
    return 0;
}

int __cdecl FakeLoadImage(void **image, const char *path, uint32_t *scratch, uint32_t zero, uint32_t flags,
                      uint32_t zero2, uint32_t zero3, uint32_t zero4)
{
    Log("load %s scratch=%u flags=%x zeros=%u%u%u%u", path, *scratch, flags & 0xF, zero, zero2, zero3, zero4);
    *scratch = 0xDEADBEEF; // the agent must never read it
    int result = Setting("FAKE_IMAGE_LIBRARY_LOAD", 0);
    if (result != 0)
        return result;
    char size[32] = "301x600";
    GetEnvironmentVariableA("FAKE_IMAGE_LIBRARY_SIZE", size, sizeof size);
    unsigned width = 0, height = 0;
    sscanf(size, "%ux%u", &width, &height);
    Picture *p = NewPicture(width, height, 300, 300);
    Log("image #%d %ux%u", p->number, width, height);
    *image = p;
    return 0;
}

void __cdecl FakeFreeImage(void *image)
{
    Log("free #%d", PictureOf(image)->number);
    delete PictureOf(image);
}

int __cdecl FakeSaveImage(const char *path, uint32_t kind, const uint32_t *options, void *image, uint32_t zero,
                      uint32_t zero2)
{
    Picture *p = PictureOf(image);
    Log("save #%d %s kind=%u options=%u,%u size=%ux%u dpi=%u,%u zeros=%u%u", p->number, path, kind, options[0],
        options[1], p->words[1], p->words[3], p->words[4], p->words[5], zero, zero2);
    return Setting("FAKE_IMAGE_LIBRARY_SAVE", 0);
}

void *__cdecl FakeResizeImage(void *image, int32_t width, int32_t height, uint32_t zero, uint32_t zero2, uint32_t zero3)
{
    Picture *p = PictureOf(image);
    Log("resize #%d to %dx%d dpi=%u,%u zeros=%u%u%u", p->number, width, height, p->words[4], p->words[5], zero,
        zero2, zero3);
    if (Setting("FAKE_IMAGE_LIBRARY_NO_RESIZE", 0))
        return nullptr;
    Picture *result = NewPicture(uint32_t(width), uint32_t(height), p->words[4], p->words[5]);
    delete p;
    return result;
}

struct EightBytes {
    uint8_t bytes[8];
};

void *__cdecl FakeRotateImage(void *image, double degrees, EightBytes options, uint32_t zero, uint32_t zero2,
                          uint32_t zero3)
{
    Picture *p = PictureOf(image);
    Log("rotate #%d by %g bytes=%u%u%u zeros=%u%u%u", p->number, degrees, options.bytes[0], options.bytes[1],
        options.bytes[2], zero, zero2, zero3);
    if (Setting("FAKE_IMAGE_LIBRARY_NO_TURN", 0))
        return nullptr;
    bool sideways = degrees == 90.0 || degrees == 270.0;
    Picture *result = NewPicture(sideways ? p->words[3] : p->words[1], sideways ? p->words[1] : p->words[3],
                                 p->words[4], p->words[5]);
    delete p;
    return result;
}

void *Table[14];

} // namespace

extern "C" __declspec(dllexport) void *const *__cdecl PixkitOps(void)
{
    Log("entry");
    if (Setting("FAKE_IMAGE_LIBRARY_NO_TABLE", 0))
        return nullptr;
    memset(Table, 0, sizeof Table);
    Table[0] = reinterpret_cast<void *>(&FakeInit);
    Table[1] = Setting("FAKE_IMAGE_LIBRARY_NO_SHUTDOWN", 0) ? nullptr : reinterpret_cast<void *>(&FakeShutdown);
    Table[6] = reinterpret_cast<void *>(&FakeLoadImage);
    Table[7] = reinterpret_cast<void *>(&FakeFreeImage);
    Table[8] = reinterpret_cast<void *>(&FakeSaveImage);
    Table[11] = reinterpret_cast<void *>(&FakeResizeImage);
    Table[13] = reinterpret_cast<void *>(&FakeRotateImage);
    char empty[64] = "";
    GetEnvironmentVariableA("FAKE_IMAGE_LIBRARY_EMPTY_SLOTS", empty, sizeof empty);
    for (char *slot = strtok(empty, ","); slot; slot = strtok(nullptr, ",")) {
        int index = atoi(slot);
        if (index >= 0 && index < int(sizeof Table / sizeof Table[0]))
            Table[index] = nullptr;
    }
    return Table;
}
