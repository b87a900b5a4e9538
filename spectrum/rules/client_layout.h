// Where the image program's main window shows its picture: below the icon bar, its top-left pixel
// at client (0, kPictureTop), picture coordinates divided by the view reduction. The engine takes
// this as a PictureView and a PictureArea; the paint, the mouse and the readout use it here.
#pragma once

#include "frame/frame_rules.h"
#include "image/packed_dib.h"
#include "spectrum/engine/overlays.h"

namespace spectrum {

inline constexpr int kPictureTop = frame::kIconBarHeight;

// The room for the picture in a client area of the given size.
inline image::PictureArea pictureAreaOf(int clientWidth, int clientHeight) {
    return {clientWidth, clientHeight - kPictureTop};
}

// The picture as shown in the client area at a view reduction (below 1 counts as 1).
inline PictureView clientView(int viewReduction) {
    return {viewReduction > 0 ? viewReduction : 1, kPictureTop};
}

// The readout strip under the shown spectrum: right below the picture and 400 pixels wider than
// it, but always inside the client area. A picture that fills the client's rows (the view
// reduction fits it below the icon bar, not the strip too) gets the strip over its last rows.
inline constexpr int kReadoutStripHeight = 20;
struct StripBox {
    int left = 0, top = 0, right = 0, bottom = 0;
};
inline StripBox readoutStrip(int clientWidth, int clientHeight, int shownWidth, int shownHeight) {
    int top = kPictureTop + shownHeight;
    if (top + kReadoutStripHeight > clientHeight) top = clientHeight - kReadoutStripHeight;
    if (top < kPictureTop) top = kPictureTop;
    int right = shownWidth + 400;
    if (right > clientWidth) right = clientWidth;
    return {0, top, right, top + kReadoutStripHeight};
}

}  // namespace spectrum
