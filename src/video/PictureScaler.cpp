#include "video/PictureScaler.h"

#include <cstring>
#include <vector>

namespace kevra {

namespace {
template <int B>
void copyRow(const uint8_t* in, const size_t* column, int width, uint8_t* out)
{
    for (int x = 0; x < width; ++x, out += B)
        std::memcpy(out, in + column[x], B);   // fixed size: one load and store
}
}   // namespace

void PictureScaler::scale(const uint8_t* source, int sourceWidth, int sourceHeight,
                          int bytesPerPixel, bool bottomUp, uint8_t* target, int targetWidth,
                          int targetHeight, int targetStride)
{
    if (!source || !target || sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 ||
        targetHeight <= 0 || (bytesPerPixel != 2 && bytesPerPixel != 3 && bytesPerPixel != 4) ||
        int64_t(targetStride) < int64_t(targetWidth) * bytesPerPixel)
        return;
    // Source column of every target column, sampled at the target pixel's centre.
    std::vector<size_t> column(static_cast<size_t>(targetWidth));
    for (int x = 0; x < targetWidth; ++x)
        column[size_t(x)] =
            size_t((int64_t(2 * x + 1) * sourceWidth) / (2 * int64_t(targetWidth))) *
            size_t(bytesPerPixel);
    const size_t sourceRow = size_t(sourceWidth) * size_t(bytesPerPixel);
    for (int y = 0; y < targetHeight; ++y) {
        int sy = int((int64_t(2 * y + 1) * sourceHeight) / (2 * int64_t(targetHeight)));
        if (bottomUp)
            sy = sourceHeight - 1 - sy;
        const uint8_t* in = source + size_t(sy) * sourceRow;
        uint8_t* out = target + size_t(y) * size_t(targetStride);
        if (bytesPerPixel == 4)
            copyRow<4>(in, column.data(), targetWidth, out);
        else if (bytesPerPixel == 3)
            copyRow<3>(in, column.data(), targetWidth, out);
        else
            copyRow<2>(in, column.data(), targetWidth, out);
    }
}

}   // namespace kevra
