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

#include "pixkit.h"

namespace {

// The handle points at `descriptor`, which points at `fields`.
struct Picture {
    PixkitDescriptor *descriptor;
    PixkitDescriptor fields;
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
    p->descriptor = &p->fields;
    p->fields.width = width;
    p->fields.height = height;
    p->fields.xDpi = xDpi;
    p->fields.yDpi = yDpi;
    p->number = NextNumber++;
    return p;
}

// A handle is the address of a picture's first member.
Picture *PictureOf(PixkitImage handle) { return reinterpret_cast<Picture *>(handle); }

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

int __cdecl FakeLoadImage(PixkitImage *image, const char *path, uint32_t *scratch, uint32_t zero, uint32_t flags,
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
    *image = &p->descriptor;
    return 0;
}

void __cdecl FakeFreeImage(PixkitImage image)
{
    Log("free #%d", PictureOf(image)->number);
    delete PictureOf(image);
}

int __cdecl FakeSaveImage(const char *path, uint32_t kind, const uint32_t *options, PixkitImage image, uint32_t zero,
                      uint32_t zero2)
{
    Picture *p = PictureOf(image);
    Log("save #%d %s kind=%u options=%u,%u size=%ux%u dpi=%u,%u zeros=%u%u", p->number, path, kind, options[0],
        options[1], p->fields.width, p->fields.height, p->fields.xDpi, p->fields.yDpi, zero, zero2);
    return Setting("FAKE_IMAGE_LIBRARY_SAVE", 0);
}

PixkitImage __cdecl FakeResizeImage(PixkitImage image, int32_t width, int32_t height, uint32_t zero, uint32_t zero2, uint32_t zero3)
{
    Picture *p = PictureOf(image);
    Log("resize #%d to %dx%d dpi=%u,%u zeros=%u%u%u", p->number, width, height, p->fields.xDpi, p->fields.yDpi, zero,
        zero2, zero3);
    if (Setting("FAKE_IMAGE_LIBRARY_NO_RESIZE", 0))
        return nullptr;
    Picture *result = NewPicture(uint32_t(width), uint32_t(height), p->fields.xDpi, p->fields.yDpi);
    delete p;
    return &result->descriptor;
}

PixkitImage __cdecl FakeRotateImage(PixkitImage image, double degrees, PixkitRotateOptions options, uint32_t zero, uint32_t zero2,
                          uint32_t zero3)
{
    Picture *p = PictureOf(image);
    Log("rotate #%d by %g bytes=%u%u%u zeros=%u%u%u", p->number, degrees, options.bytes[0], options.bytes[1],
        options.bytes[2], zero, zero2, zero3);
    if (Setting("FAKE_IMAGE_LIBRARY_NO_TURN", 0))
        return nullptr;
    bool sideways = degrees == 90.0 || degrees == 270.0;
    Picture *result = NewPicture(sideways ? p->fields.height : p->fields.width, sideways ? p->fields.width : p->fields.height,
                                 p->fields.xDpi, p->fields.yDpi);
    delete p;
    return &result->descriptor;
}

void *Table[PIXKIT_SLOT_COUNT];

// Each operation goes in as the interface's own type, so a stand-in whose
// signature drifted from the library's does not build.
template <typename Fn>
void *Slot(Fn operation)
{
    return reinterpret_cast<void *>(operation);
}

} // namespace

extern "C" __declspec(dllexport) void *const *__cdecl PixkitOps(void)
{
    Log("entry");
    if (Setting("FAKE_IMAGE_LIBRARY_NO_TABLE", 0))
        return nullptr;
    memset(Table, 0, sizeof Table);
    Table[PIXKIT_SLOT_INIT] = Slot<PixkitInitFn>(&FakeInit);
    Table[PIXKIT_SLOT_SHUTDOWN] = Setting("FAKE_IMAGE_LIBRARY_NO_SHUTDOWN", 0) ? nullptr : Slot<PixkitShutdownFn>(&FakeShutdown);
    Table[PIXKIT_SLOT_LOAD_IMAGE] = Slot<PixkitLoadImageFn>(&FakeLoadImage);
    Table[PIXKIT_SLOT_FREE_IMAGE] = Slot<PixkitFreeImageFn>(&FakeFreeImage);
    Table[PIXKIT_SLOT_SAVE_IMAGE] = Slot<PixkitSaveImageFn>(&FakeSaveImage);
    Table[PIXKIT_SLOT_RESIZE_IMAGE] = Slot<PixkitResizeImageFn>(&FakeResizeImage);
    Table[PIXKIT_SLOT_ROTATE_IMAGE] = Slot<PixkitRotateImageFn>(&FakeRotateImage);
    char empty[64] = "";
    GetEnvironmentVariableA("FAKE_IMAGE_LIBRARY_EMPTY_SLOTS", empty, sizeof empty);
    for (char *slot = strtok(empty, ","); slot; slot = strtok(nullptr, ",")) {
        int index = atoi(slot);
        if (index >= 0 && index < int(sizeof Table / sizeof Table[0]))
            Table[index] = nullptr;
    }
    return Table;
}
