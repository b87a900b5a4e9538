// The Windows builds do not carry HDF5 yet: an EMD file is refused by name.
#include "image/emd.h"
#include "image/import_detail.h"

namespace image {

namespace {
constexpr core::Localized kNoEmd{
    "EMD files (HDF5) cannot be opened by this Windows build; the Linux command-line tool opens "
    "them.",
    "この Windows 版では EMD ファイル（HDF5）を開けません。Linux 版のコマンドラインツールで"
    "開けます。"};
}  // namespace

std::optional<GreyImage> readEmdFile(const std::string&, const ImportChoice&,
                                     core::MessageSink& sink) {
    return detail::refuse(sink, kNoEmd);
}

std::optional<GreyImage> readEmd(std::span<const std::uint8_t>, core::MessageSink& sink,
                                 const ImportChoice&) {
    return detail::refuse(sink, kNoEmd);
}

}  // namespace image
