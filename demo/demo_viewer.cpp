// The picture viewer of the demo's Wine prefix, which has none of its own:
// registered there as the program that opens .jpg files, it shows the picture
// the agent just saved, scaled to fit, with its file name as the caption.
// Part of the demo only; it never ships.
#include <windows.h>
#include <wincodec.h>

#include <stdio.h>
#include <string.h>

namespace {

const char VIEWER_CLASS[] = "VelmoraDemoViewer";
const int MAX_VIEW_WIDTH = 560;
const int MAX_VIEW_HEIGHT = 600;

struct ViewerState {
    HBITMAP picture = nullptr;
    int width = 0;
    int height = 0;
};
ViewerState Viewer;

// Decodes the file's first frame into a top-down 32-bit DIB section.
HBITMAP LoadPicture(const char *path, int *width, int *height)
{
    wchar_t widePath[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH))
        return nullptr;
    HBITMAP bitmap = nullptr;
    IWICImagingFactory *factory = nullptr;
    IWICBitmapDecoder *decoder = nullptr;
    IWICBitmapFrameDecode *frame = nullptr;
    IWICFormatConverter *converter = nullptr;
    UINT w = 0, h = 0;
    void *bits = nullptr;
    BITMAPINFO info = {};
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                (void **)&factory)))
        goto out;
    if (FAILED(factory->CreateDecoderFromFilename(widePath, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->GetSize(&w, &h)))
        goto out;
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = (LONG)w;
    info.bmiHeader.biHeight = -(LONG)h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && FAILED(converter->CopyPixels(nullptr, w * 4, w * 4 * h, (BYTE *)bits))) {
        DeleteObject(bitmap);
        bitmap = nullptr;
    }
    *width = (int)w;
    *height = (int)h;
out:
    if (converter)
        converter->Release();
    if (frame)
        frame->Release();
    if (decoder)
        decoder->Release();
    if (factory)
        factory->Release();
    return bitmap;
}

void OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, Viewer.picture);
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, 0, 0, client.right, client.bottom, source, 0, 0, Viewer.width, Viewer.height, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
    EndPaint(window, &paint);
}

LRESULT CALLBACK ViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: OnPaint(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The path as the shell passed it: one argument, quoted or not.
void PathFromCommandLine(const char *commandLine, char *path, size_t capacity)
{
    while (*commandLine == ' ')
        commandLine++;
    if (*commandLine == '"') {
        commandLine++;
        snprintf(path, capacity, "%s", commandLine);
        char *closing = strchr(path, '"');
        if (closing)
            *closing = 0;
    } else {
        snprintf(path, capacity, "%s", commandLine);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    char path[MAX_PATH];
    PathFromCommandLine(commandLine, path, sizeof path);
    CoInitialize(nullptr);
    Viewer.picture = LoadPicture(path, &Viewer.width, &Viewer.height);
    if (!Viewer.picture || Viewer.width <= 0 || Viewer.height <= 0) {
        CoUninitialize();
        return 1;
    }

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ViewerProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = VIEWER_CLASS;
    RegisterClassA(&windowClass);

    // Fit the picture into the view, keeping its proportions.
    int viewWidth = MAX_VIEW_WIDTH;
    int viewHeight = MulDiv(Viewer.height, viewWidth, Viewer.width);
    if (viewHeight > MAX_VIEW_HEIGHT) {
        viewHeight = MAX_VIEW_HEIGHT;
        viewWidth = MulDiv(Viewer.width, viewHeight, Viewer.height);
    }
    RECT frame = {0, 0, viewWidth, viewHeight};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    const char *name = strrchr(path, '\\');
    char title[MAX_PATH + 32];
    snprintf(title, sizeof title, "%s - picture viewer", name ? name + 1 : path);
    HWND window = CreateWindowA(VIEWER_CLASS, title, WS_OVERLAPPEDWINDOW, 420, 40, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!window) {
        DeleteObject(Viewer.picture);
        CoUninitialize();
        return 1;
    }
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DeleteObject(Viewer.picture);
    CoUninitialize();
    return 0;
}
