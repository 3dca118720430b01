// Fuzz target: any bytes as a sheet's placement file. A parse either fails
// and leaves the placement alone, or its result formats and reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "placement_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FeederPlacement defaults = {150, 150, 0, 0x202020, 0};
    FeederPlacement placement = defaults;
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (!feeder::ParsePlacement(text, &placement)) {
        if (placement.X300 != defaults.X300 || placement.SkewMilliDegrees != defaults.SkewMilliDegrees)
            abort();
        return 0;
    }
    FeederPlacement again = defaults;
    if (!feeder::ParsePlacement(feeder::FormatPlacement(placement), &again))
        abort();
    if (again.X300 != placement.X300 || again.Y300 != placement.Y300 ||
        again.SkewMilliDegrees != placement.SkewMilliDegrees || again.BackingRgb != placement.BackingRgb ||
        again.SheetDpi != placement.SheetDpi)
        abort();
    return 0;
}
