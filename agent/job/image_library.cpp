// Finding, loading and driving the image library.
#include "image_library.h"

#include "scan_types.h"
#include "settings.h"
#include "shared.h"

ImageLibraryState ImageLibrary;

namespace {

template <typename T>
T Op(int slot)
{
    return reinterpret_cast<T>(ImageLibrary.Ops[slot]);
}

// A table may leave slots empty; calling one would take the agent down with
// the page. Without these three no page can be loaded, saved and released.
bool HasPageOperations(void)
{
    return ImageLibrary.Ops[PIXKIT_SLOT_LOAD_IMAGE] && ImageLibrary.Ops[PIXKIT_SLOT_FREE_IMAGE] &&
           ImageLibrary.Ops[PIXKIT_SLOT_SAVE_IMAGE];
}

const uint16_t INIT_RECORD[4] = {2, 3, 0, 0};
const uint32_t LOAD_FLAGS = 0x7;

// The single-precision value nearest 1/3: the reduction from a 300 dpi scan.
const float ONE_THIRD = 0.33333334f;

double AngleForRotateCode(uint16_t rotate)
{
    switch (rotate) {
    case ROTATE_90: return 90.0;
    case ROTATE_270: return 270.0;
    case ROTATE_180: return 180.0;
    default: return 0.0;
    }
}

HKEY OpenLibraryKey(void)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, COMMON_FILES_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS)
        return key;
    if (UseCurrentUserLibraryKey() &&
        RegOpenKeyExA(HKEY_CURRENT_USER, COMMON_FILES_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS)
        return key;
    return nullptr;
}

void ForgetLibrary(void)
{
    if (ImageLibrary.Module)
        FreeLibrary(ImageLibrary.Module);
    ImageLibrary.Module = nullptr;
    ImageLibrary.Entry = nullptr;
    ImageLibrary.Ops = nullptr;
}

} // namespace

int LoadImageLibrary(void)
{
    HKEY key = OpenLibraryKey();
    if (!key)
        return 0;
    char path[260];
    ReadTextSetting(key, SETTING_ImageLibrary, path);
    int loaded = 0;
    // The library's own companions are looked for beside it, not beside us.
    ImageLibrary.Module = path[0] ? LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
    if (ImageLibrary.Module) {
        ImageLibrary.Entry = reinterpret_cast<PixkitOpsFn>(GetProcAddress(ImageLibrary.Module, PIXKIT_ENTRY_NAME));
        ImageLibrary.Ops = ImageLibrary.Entry ? ImageLibrary.Entry() : nullptr;
        PixkitInitFn init = ImageLibrary.Ops ? Op<PixkitInitFn>(PIXKIT_SLOT_INIT) : nullptr;
        if (init && init(INIT_RECORD) == 0)
            loaded = 1;
        else
            ForgetLibrary();
    }
    RegCloseKey(key);
    return loaded;
}

void UnloadImageLibrary(void)
{
    if (!ImageLibrary.Module || !ImageLibrary.Ops)
        return;
    PixkitShutdownFn shutdown = Op<PixkitShutdownFn>(PIXKIT_SLOT_SHUTDOWN);
    // A library without Shutdown may still hold state it cannot release, so
    // it stays loaded.
    if (!shutdown)
        return;
    shutdown();
    ForgetLibrary();
}

int ConvertAndSave(uint16_t format, uint16_t rotate, const char *source, const char *destination, uint16_t resolution)
{
    if (!ImageLibrary.Module || !ImageLibrary.Ops || !HasPageOperations())
        return 0;
    // BMP and PNG are told by the destination's extension alone, which the
    // caller's picture name always carries.
    uint32_t kind = PIXKIT_SAVE_BY_EXTENSION;
    uint32_t options[2] = {0, 0};
    if (format == OUTPUT_JPEG) {
        kind = PIXKIT_SAVE_JPEG;
        options[1] = uint32_t(ReadNumberSetting(SettingsKey, SETTING_JpegCompressionRatio));
    } else if (format == OUTPUT_TIFF) {
        kind = PIXKIT_SAVE_TIFF;
    }

    PixkitImage image = nullptr;
    uint32_t scratch = 0;
    if (Op<PixkitLoadImageFn>(PIXKIT_SLOT_LOAD_IMAGE)(&image, source, &scratch, 0, LOAD_FLAGS, 0, 0, 0) != 0 || !image)
        return 0;

    // A turn or a reduction that fails (or that the library lacks) leaves its
    // previous picture in place: saving the page unturned or at full size
    // keeps the photograph, where giving up would lose it (the scan is
    // deleted after this call).
    if (rotate != ROTATE_NONE) {
        PixkitRotateImageFn turn = Op<PixkitRotateImageFn>(PIXKIT_SLOT_ROTATE_IMAGE);
        PixkitRotateOptions unused = {};
        PixkitImage turned = turn ? turn(image, AngleForRotateCode(rotate), unused, 0, 0, 0) : nullptr;
        if (turned)
            image = turned;
    }
    if (resolution == 100) {
        uint32_t scannedXDpi = (*image)->xDpi;
        uint32_t scannedYDpi = (*image)->yDpi;
        (*image)->xDpi = 100;
        (*image)->yDpi = 100;
        int32_t width = int32_t(double((*image)->width) * double(ONE_THIRD));
        int32_t height = int32_t(double((*image)->height) * double(ONE_THIRD));
        PixkitResizeImageFn resize = Op<PixkitResizeImageFn>(PIXKIT_SLOT_RESIZE_IMAGE);
        PixkitImage reduced = resize ? resize(image, width, height, 0, 0, 0) : nullptr;
        if (reduced) {
            image = reduced;
        } else {
            // Still the full 300 dpi pixels: labelled 100 dpi, the picture
            // would print three times its real size.
            (*image)->xDpi = scannedXDpi;
            (*image)->yDpi = scannedYDpi;
        }
    }

    int saved = Op<PixkitSaveImageFn>(PIXKIT_SLOT_SAVE_IMAGE)(destination, kind, options, image, 0, 0);
    Op<PixkitFreeImageFn>(PIXKIT_SLOT_FREE_IMAGE)(image);
    return saved == 0 ? 1 : 0;
}

bool UseCurrentUserLibraryKey(void)
{
    OSVERSIONINFOEXA extended = {};
    extended.dwOSVersionInfoSize = sizeof extended;
    DWORD major = 0;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&extended))) {
        major = extended.dwMajorVersion;
    } else {
        OSVERSIONINFOA plain = {};
        plain.dwOSVersionInfoSize = sizeof plain;
        if (!GetVersionExA(&plain))
            return false;
        major = plain.dwMajorVersion;
    }
    if (major < 5)
        return false;
    return !IsUserAdministrator();
}

bool IsUserAdministrator(void)
{
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        if (GetLastError() != ERROR_NO_TOKEN || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return false;
    }
    // The group list is read into a fixed 1024-byte buffer: a token with
    // more groups than fit counts as not an administrator.
    DWORD groupBuffer[1024 / sizeof(DWORD)];
    DWORD needed = 0;
    BOOL read = GetTokenInformation(token, TokenGroups, groupBuffer, sizeof groupBuffer, &needed);
    CloseHandle(token);
    if (!read)
        return false;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators))
        return false;
    const TOKEN_GROUPS *groups = reinterpret_cast<const TOKEN_GROUPS *>(groupBuffer);
    bool found = false;
    for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
        found = EqualSid(groups->Groups[i].Sid, administrators) != 0;
    FreeSid(administrators);
    return found;
}
