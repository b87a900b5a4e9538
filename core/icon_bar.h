// The icon bar across the top of both programs' main windows is 21 pixels high (a separator line
// and 20-pixel buttons); pictures start at client y = kIconBarHeight below it. Portable, so the
// engines that place things in client coordinates (view reduction, overlays, mask circles, pages)
// use the same number as the Win32 frame.
#pragma once

namespace core {

inline constexpr int kIconBarHeight = 21;

}  // namespace core
