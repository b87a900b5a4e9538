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

}  // namespace spectrum
