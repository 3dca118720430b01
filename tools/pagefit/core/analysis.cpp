// Photo detection and border fitting: the four stages in order. The page is
// summarised on a coarse grid, the backing is modelled from it, the cells
// that differ from the backing give the photo's outline, and the outline's
// rectangle is refined by measuring the border at full resolution.
#include "analysis.h"

#include "analysis_stages.h"

namespace pagefit {

PhotoSearch FindPhoto(const Bitmap &page)
{
    using namespace stages;
    std::vector<uint8_t> smoothed;
    Bitmap grey;
    if (page.bits == 1)
        SmoothLineArt(page, &smoothed, &grey);
    const Bitmap &b = page.bits == 1 ? grey : page;
    PhotoSearch result;
    Scale sc{b.Dpi()};
    CellGrid g;
    bool jpegBlocks = b.bits != 1 && ShowsJpegBlocks(b);
    BuildCells(b, CellSizeFor(sc.dpi, jpegBlocks), &g);
    g.jpegBlocks = jpegBlocks;
    BackingEstimate backing;
    ModelBacking(g, sc.dpi / g.cell, &result.backing, &backing);
    RotatedRect outline;
    double fill = 0;
    if (!FindOutline(g, backing.mask, sc, &result, &outline, &fill))
        return result;
    result.photoFound = true;
    Residual res;
    BuildResidual(b, g, backing.forColumns, result.backing.luma, backing.profiles, &res, &result.backing.pixelNoise);
    FitBorder(b, res, sc, outline, fill, page.bits == 1 ? &page : nullptr, &result);
    return result;
}

} // namespace pagefit
