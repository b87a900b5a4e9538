#include "image/packed_dib.h"

namespace image {

void freeBitmap(CurrentImage& image) {
    image.dib.block.clear();
    image.dib.block.shrink_to_fit();
    image.fileHeader = BmpFileHeader{};
}

int viewReduction(PictureArea area, std::int32_t biWidth, std::int32_t biHeight) {
    // Doubling stops at 2^30 so that a hostile header cannot loop forever.
    int byWidth = 1;
    while (byWidth < (1 << 30) && area.width < biWidth / byWidth) byWidth *= 2;
    int byHeight = 1;
    while (byHeight < (1 << 30) && area.height < biHeight / byHeight) byHeight *= 2;
    return byWidth > byHeight ? byWidth : byHeight;
}

}  // namespace image
