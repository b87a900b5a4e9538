// Placeholder replaced by the Windows Imaging Component reader.
#include "image/import.h"
#include "image/import_detail.h"

namespace image {
std::optional<GreyImage> readTiff(std::span<const std::uint8_t>, core::MessageSink& sink) {
    return detail::refuse(sink, detail::kUnsupportedType, "TIFF");
}
}  // namespace image
