// Drawings of the scanner, its sheet and the warning's pictures.
#include "artwork.h"

#include <algorithm>
#include <cmath>

#include "image_files.h"

namespace art {

namespace {

struct Rect {
    double left, top, right, bottom;
    double Width() const
    {
        return right - left;
    }
    double Height() const
    {
        return bottom - top;
    }
};

// The product's palette.
const Colour BODY_LIGHT = Rgb(0x5b, 0x66, 0x72);
const Colour BODY_DARK = Rgb(0x2a, 0x30, 0x37);
const Colour TOP_LIGHT = Rgb(0xe9, 0xed, 0xf1);
const Colour TOP_DARK = Rgb(0xb4, 0xbd, 0xc6);
const Colour SLOT = Rgb(0x1a, 0x1f, 0x24);
const Colour ACCENT = Rgb(0x1c, 0xa5, 0xb8);
const Colour LED_ON = Rgb(0x3d, 0xe0, 0x6b);
const Colour LED_OFF = Rgb(0x7c, 0x84, 0x8c);
const Colour PAPER = Rgb(0xfa, 0xfa, 0xf7);
const Colour ARROW = Rgb(0x2f, 0xa8, 0x4f);
const Colour FACE = Rgb(0xf0, 0xf0, 0xf0);

Shape Box(double left, double top, double right, double bottom)
{
    return RoundRect(left, top, right, bottom, 0);
}

// A family snapshot: sky, sun and hills inside a white border.
void DrawPhoto(Canvas &canvas, Rect photo, double border, const Shape &clip)
{
    canvas.Fill(Intersect(Box(photo.left, photo.top, photo.right, photo.bottom), clip), PAPER);
    Rect inner = {photo.left + border, photo.top + border, photo.right - border, photo.bottom - border};
    Shape picture = Intersect(Box(inner.left, inner.top, inner.right, inner.bottom), clip);
    canvas.Fill(picture, Linear({0, inner.top}, Rgb(0x3f, 0x93, 0xdb), {0, inner.bottom}, Rgb(0xc9, 0xe6, 0xf7)));
    double w = inner.Width(), h = inner.Height();
    canvas.Fill(Intersect(Ellipse(inner.left + w * 0.72, inner.top + h * 0.3, w * 0.11, w * 0.11), picture),
                Rgb(0xff, 0xcf, 0x3f));
    canvas.Fill(Intersect(Ellipse(inner.left + w * 0.2, inner.bottom + h * 0.25, w * 0.65, h * 0.6), picture),
                Rgb(0x6d, 0xb8, 0x4f));
    canvas.Fill(Intersect(Ellipse(inner.left + w * 0.9, inner.bottom + h * 0.35, w * 0.6, h * 0.6), picture),
                Rgb(0x3b, 0x8a, 0x3e));
}

// The sheet-fed scanner seen from the front: a flat body with a light top
// face, the feed slot in it and the photo standing in the slot.
// `photoHeight` 0 leaves the slot empty.
void DrawScanner(Canvas &canvas, Rect body, double topDepth, double photoHeight, bool ledOn, bool small)
{
    double w = body.Width(), h = body.Height();
    double radius = std::max(1.0, h * 0.18);
    canvas.Shadow(Ellipse(body.left + w / 2, body.bottom, w * 0.52, std::max(1.0, h * 0.12)), 0, 0,
                  std::max(1.0, h * 0.15), 0.35);

    double inset = topDepth * 0.9;
    canvas.Fill(Polygon({{body.left + inset, body.top - topDepth},
                         {body.right - inset, body.top - topDepth},
                         {body.right, body.top + 0.5},
                         {body.left, body.top + 0.5}}),
                Linear({0, body.top - topDepth}, TOP_LIGHT, {0, body.top}, TOP_DARK));

    double slotY = body.top - topDepth * 0.5;
    double slotHalf = std::max(small ? 0.7 : 0.9, topDepth * 0.14);
    double slotLeft = body.left + w * 0.2, slotRight = body.right - w * 0.2;
    if (photoHeight > 0) {
        double margin = w * 0.05;
        Shape aboveSlot = Box(0, -1e4, 1e4, slotY);
        DrawPhoto(canvas, {slotLeft + margin, slotY - photoHeight, slotRight - margin, slotY + 1},
                  std::max(1.0, photoHeight * 0.07), aboveSlot);
    }
    canvas.Fill(RoundRect(slotLeft, slotY - slotHalf, slotRight, slotY + slotHalf, slotHalf), SLOT);

    Shape front = Union(RoundRect(body.left, body.top, body.right, body.bottom, radius),
                        Box(body.left, body.top, body.right, body.top + radius));
    canvas.Fill(front, Linear({0, body.top}, BODY_LIGHT, {0, body.bottom}, BODY_DARK));
    if (!small)
        canvas.Fill(Box(body.left + radius, body.top, body.right - radius, body.top + std::max(1.0, h * 0.05)),
                    Rgb(0xff, 0xff, 0xff, 0.22));

    double stripeTop = body.top + h * 0.56, stripeHeight = std::max(small ? 1.0 : 1.2, h * 0.09);
    canvas.Fill(Intersect(Box(body.left, stripeTop, body.right, stripeTop + stripeHeight), front), ACCENT);

    double buttonRadius = std::max(small ? 1.1 : 1.5, h * 0.11);
    double buttonX = body.right - std::max(radius, w * 0.1), buttonY = body.top + h * 0.3;
    canvas.Fill(Ellipse(buttonX, buttonY, buttonRadius, buttonRadius),
                Linear({buttonX, buttonY - buttonRadius}, TOP_LIGHT, {buttonX, buttonY + buttonRadius}, TOP_DARK));
    if (!small) {
        double ledRadius = std::max(0.8, buttonRadius * 0.45);
        canvas.Fill(Ellipse(buttonX - buttonRadius * 2.6, buttonY, ledRadius, ledRadius), ledOn ? LED_ON : LED_OFF);
    }
}

void DrawArrow(Canvas &canvas, Point from, Point to, double halfWidth, double headLength, Colour colour)
{
    double dx = to.x - from.x, dy = to.y - from.y, length = std::sqrt(dx * dx + dy * dy);
    double ux = dx / length, uy = dy / length;
    Point base = {to.x - ux * headLength, to.y - uy * headLength};
    double headHalf = headLength * 0.75;
    canvas.Fill(Stroke({from, {base.x + ux, base.y + uy}}, halfWidth), colour);
    canvas.Fill(
        Polygon(
            {to, {base.x - uy * headHalf, base.y + ux * headHalf}, {base.x + uy * headHalf, base.y - ux * headHalf}}),
        colour);
}

// A round badge in the lower right of an icon: red with a white cross.
void DrawNotConnectedBadge(Canvas &canvas, double cx, double cy, double radius, bool small)
{
    canvas.Fill(Ellipse(cx, cy, radius, radius), Rgb(0xff, 0xff, 0xff));
    double inner = radius - (small ? 0.6 : std::max(1.0, radius * 0.16));
    canvas.Fill(Ellipse(cx, cy, inner, inner),
                Linear({cx, cy - inner}, Rgb(0xf0, 0x56, 0x5a), {cx, cy + inner}, Rgb(0xb9, 0x1f, 0x27)));
    double arm = inner * 0.48, half = std::max(0.7, inner * 0.16);
    canvas.Fill(Stroke({{cx - arm, cy - arm}, {cx + arm, cy + arm}}, half), Rgb(0xff, 0xff, 0xff));
    canvas.Fill(Stroke({{cx + arm, cy - arm}, {cx - arm, cy + arm}}, half), Rgb(0xff, 0xff, 0xff));
}

void Greyscale(Canvas &canvas, Canvas &grey)
{
    for (int y = 0; y < canvas.Height(); y++)
        for (int x = 0; x < canvas.Width(); x++) {
            Colour c = canvas.At(x, y);
            double luma = 0.3 * c.r + 0.59 * c.g + 0.11 * c.b;
            Colour flat = {0.2 + luma * 0.68, 0.2 + luma * 0.68, 0.22 + luma * 0.68, c.a};
            grey.Fill(Box(x, y, x + 1, y + 1), flat);
        }
}

// A card the opaque pictures are drawn on, so they sit in the dialog as
// illustrations rather than as loose shapes.
void DrawCard(Canvas &canvas)
{
    double w = canvas.Width(), h = canvas.Height();
    canvas.Fill(Box(0, 0, w, h), Rgb(0xc3, 0xcc, 0xd5));
    canvas.Fill(Box(1, 1, w - 1, h - 1), Linear({0, 0}, Rgb(0xff, 0xff, 0xff), {0, h}, Rgb(0xe6, 0xee, 0xf5)));
}

std::vector<uint8_t> IconFile(bool connected, int bits)
{
    std::vector<IconImage> images;
    for (int size : {16, 32})
        images.push_back({size, bits, DrawScannerIcon(size, connected).Rgba8()});
    return EncodeIco(images);
}

std::vector<uint8_t> BmpOf(const Canvas &canvas, const std::vector<uint8_t> &rgb)
{
    return EncodeBmp24(canvas.Width(), canvas.Height(), rgb);
}

std::vector<uint8_t> ProgramIconFile()
{
    return IconFile(true, 4);
}
std::vector<uint8_t> ConnectedIconFile()
{
    return IconFile(true, 32);
}
std::vector<uint8_t> NotConnectedIconFile()
{
    return IconFile(false, 32);
}
std::vector<uint8_t> WarningScannerFile()
{
    Canvas canvas = DrawWarningScanner();
    return BmpOf(canvas, FlattenForWhiteKey(canvas));
}
std::vector<uint8_t> CableFile()
{
    Canvas canvas = DrawCablePicture();
    return BmpOf(canvas, canvas.Rgb8Over(FACE));
}
std::vector<uint8_t> PowerFile()
{
    Canvas canvas = DrawPowerPicture();
    return BmpOf(canvas, canvas.Rgb8Over(FACE));
}
std::vector<uint8_t> InsertPaperFile()
{
    Canvas canvas = DrawInsertPaperPicture();
    return BmpOf(canvas, canvas.Rgb8Over(FACE));
}

} // namespace

Canvas DrawScannerIcon(int size, bool connected)
{
    // Designed on a 32-unit grid; the 16-pixel form drops the finest details.
    double s = size / 32.0;
    bool small = size < 24;
    Canvas colour(size, size);
    DrawScanner(colour, {2 * s, 17 * s, 30 * s, 28 * s}, 5 * s, 13 * s, connected, small);
    if (connected)
        return colour;
    Canvas grey(size, size);
    Greyscale(colour, grey);
    DrawNotConnectedBadge(grey, 24.5 * s, 24.5 * s, small ? 8 * s : 7 * s, small);
    return grey;
}

Canvas DrawWarningScanner()
{
    const int size = WARNING_BADGE_SIZE;
    Canvas canvas(size, size);
    DrawScanner(canvas, {2, 22, 40, 38}, 7, 16, false, false);
    // The warning sign in front of the scanner's lower right corner.
    Shape sign = Polygon({{35, 24}, {46.5, 45}, {23.5, 45}});
    canvas.Shadow(sign, 0.8, 1.2, 2, 0.35);
    canvas.Fill(Stroke({{35, 24}, {46.5, 45}, {23.5, 45}, {35, 24}}, 1.6), Rgb(0x8a, 0x62, 0x00));
    canvas.Fill(sign, Linear({35, 24}, Rgb(0xff, 0xdc, 0x4a), {35, 45}, Rgb(0xf2, 0xb1, 0x10)));
    canvas.Fill(Stroke({{35, 31}, {35, 38}}, 1.4), Rgb(0x3a, 0x2a, 0x00));
    canvas.Fill(Ellipse(35, 41.6, 1.45, 1.45), Rgb(0x3a, 0x2a, 0x00));
    return canvas;
}

Canvas DrawCablePicture()
{
    Canvas canvas(CABLE_PICTURE_WIDTH, CABLE_PICTURE_HEIGHT);
    DrawCard(canvas);

    // The computer: a monitor on a stand, its USB port in the base.
    Rect screen = {168, 14, 246, 66};
    canvas.Shadow(Box(screen.left, screen.top, screen.right, screen.bottom), 2, 3, 5, 0.25);
    canvas.Fill(RoundRect(screen.left, screen.top, screen.right, screen.bottom, 4),
                Linear({0, screen.top}, Rgb(0x4a, 0x52, 0x5c), {0, screen.bottom}, Rgb(0x23, 0x28, 0x2e)));
    canvas.Fill(
        Box(screen.left + 4, screen.top + 4, screen.right - 4, screen.bottom - 5),
        Linear({screen.left, screen.top}, Rgb(0x6c, 0xc4, 0xf0), {screen.right, screen.bottom}, Rgb(0x1f, 0x6f, 0xb8)));
    canvas.Fill(Polygon({{200, 66}, {214, 66}, {218, 82}, {196, 82}}), Rgb(0x8d, 0x96, 0xa0));
    canvas.Fill(RoundRect(180, 81, 234, 90, 3), Linear({0, 81}, Rgb(0xb9, 0xc1, 0xc9), {0, 90}, Rgb(0x83, 0x8c, 0x96)));
    canvas.Fill(RoundRect(184, 83.5, 194, 87.5, 0.8), SLOT);

    // The scanner on the left, its cable ending in a plug that is not in.
    DrawScanner(canvas, {12, 58, 104, 88}, 12, 30, false, false);
    Colour cable = Rgb(0x3a, 0x3f, 0x45);
    canvas.Fill(Cubic({103, 76}, {130, 76}, {124, 100}, {146, 98}, 2.2), cable);
    canvas.Fill(RoundRect(144, 94, 156, 102, 1.5), Rgb(0x2b, 0x30, 0x36));
    canvas.Fill(Box(156, 95.5, 163, 100.5),
                Linear({0, 95.5}, Rgb(0xe0, 0xe4, 0xe8), {0, 100.5}, Rgb(0x9a, 0xa2, 0xaa)));

    // The way the plug goes: up into the port.
    canvas.Fill(Cubic({167, 96}, {177, 96}, {186, 96}, {189, 91.5}, 1.6), ARROW);
    canvas.Fill(Polygon({{189, 86.5}, {184.5, 93}, {193.5, 93}}), ARROW);
    return canvas;
}

Canvas DrawPowerPicture()
{
    Canvas canvas(POWER_PICTURE_WIDTH, POWER_PICTURE_HEIGHT);
    DrawCard(canvas);

    // The power sign in a green disc.
    canvas.Shadow(Ellipse(28, 28, 19, 19), 1, 2, 4, 0.25);
    canvas.Fill(Ellipse(28, 28, 19, 19), Linear({28, 9}, Rgb(0x5c, 0xcf, 0x78), {28, 47}, Rgb(0x1e, 0x8f, 0x3f)));
    canvas.Fill(Ring(28, 29.5, 8.5, 11.5, 0.62), Rgb(0xff, 0xff, 0xff));
    canvas.Fill(Stroke({{28, 15.5}, {28, 27}}, 1.6), Rgb(0xff, 0xff, 0xff));

    // The adapter's cable and plug, then the wall socket it belongs in.
    Colour cable = Rgb(0x3a, 0x3f, 0x45);
    canvas.Fill(Cubic({54, 44}, {78, 46}, {84, 28}, {104, 28}, 2.2), cable);
    canvas.Fill(RoundRect(102, 19, 124, 37, 4), Linear({0, 19}, Rgb(0x50, 0x57, 0x5f), {0, 37}, Rgb(0x25, 0x2a, 0x30)));
    canvas.Fill(Box(124, 22.5, 133, 25.5), Rgb(0xc8, 0xcd, 0xd2));
    canvas.Fill(Box(124, 30.5, 133, 33.5), Rgb(0xc8, 0xcd, 0xd2));
    DrawArrow(canvas, {137, 28}, {152, 28}, 1.6, 7, ARROW);

    Rect socket = {158, 8, 192, 48};
    canvas.Shadow(Box(socket.left, socket.top, socket.right, socket.bottom), 1, 2, 4, 0.25);
    canvas.Fill(RoundRect(socket.left, socket.top, socket.right, socket.bottom, 5),
                Linear({0, socket.top}, Rgb(0xff, 0xff, 0xff), {0, socket.bottom}, Rgb(0xd5, 0xdb, 0xe1)));
    canvas.Fill(Ring(175, 28, 11, 12, 0), Rgb(0xa9, 0xb2, 0xbb));
    canvas.Fill(RoundRect(169, 22, 172, 34, 1.2), SLOT);
    canvas.Fill(RoundRect(178, 22, 181, 34, 1.2), SLOT);
    return canvas;
}

Canvas DrawInsertPaperPicture()
{
    Canvas canvas(INSERT_PAPER_WIDTH, INSERT_PAPER_HEIGHT);
    DrawCard(canvas);
    // The photo waits above the feeder; the scanner takes it from here.
    DrawScanner(canvas, {84, 60, 256, 88}, 14, 40, true, false);
    DrawArrow(canvas, {60, 18}, {60, 54}, 3, 12, ARROW);
    DrawArrow(canvas, {279, 18}, {279, 54}, 3, 12, ARROW);
    return canvas;
}

std::vector<uint8_t> FlattenForWhiteKey(const Canvas &canvas)
{
    std::vector<uint8_t> rgb = canvas.Rgb8Over(FACE);
    for (int y = 0; y < canvas.Height(); y++)
        for (int x = 0; x < canvas.Width(); x++) {
            uint8_t *p = &rgb[(size_t(y) * canvas.Width() + x) * 3];
            bool faint = canvas.At(x, y).a < 0.25;
            for (int k = 0; k < 3; k++)
                p[k] = faint ? 0xFF : std::min(p[k], NEAR_WHITE);
        }
    return rgb;
}

const std::vector<GeneratedFile> &GeneratedFiles()
{
    static const std::vector<GeneratedFile> files = {
        {"program.ico", ProgramIconFile},
        {"connected.ico", ConnectedIconFile},
        {"not_connected.ico", NotConnectedIconFile},
        {"warning_scanner.bmp", WarningScannerFile},
        {"warning_cable.bmp", CableFile},
        {"warning_power.bmp", PowerFile},
        {"insert_paper.bmp", InsertPaperFile},
    };
    return files;
}

} // namespace art
