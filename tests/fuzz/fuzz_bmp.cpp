// Feeds arbitrary bytes to the BMP reader and access step (both programs' forms) and to the grey
// bitmap normaliser, then reads the normaliser's output back. Besides the sanitizers' findings,
// it traps when an invariant breaks: an accepted block whose parts lie outside it, or a
// normalised file longer than its own bfSize.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/busy.h"
#include "core/message_sink.h"
#include "image/bmp_file.h"
#include "image/normalise.h"

namespace {

class QuietSink final : public core::MessageSink {
  public:
    int ask(std::string_view, std::string_view, unsigned) override { return core::kAnswerOk; }
};

void touch(image::CurrentImage& img, image::BitmapFlavour flavour, core::MessageSink& sink) {
    const auto a = image::accessBitmap(img, flavour, sink);
    if (!a) return;
    const std::uint8_t* begin = img.dib.block.data();
    const std::uint8_t* end = begin + img.dib.block.size();
    if (a->colourTable + 4 * std::size_t{a->colourCount} > end) __builtin_trap();
    if (a->pixels < begin || a->pixels + a->pixelBytes > end) __builtin_trap();
    volatile unsigned sum = 0;
    for (std::size_t i = 0; i < 4 * std::size_t{a->colourCount}; ++i) sum = sum + a->colourTable[i];
    if (!a->compressed && img.dib.bitCount() == 8) {
        sum = sum + a->at(0, 0) + a->at(a->width - 1, a->height - 1);
        a->at(a->width - 1, 0) = 1;
    } else if (a->pixelBytes > 0) {
        sum = sum + a->pixels[a->pixelBytes - 1];
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QuietSink sink;
    const std::span<const std::uint8_t> bytes(data, size);
    for (auto flavour : {image::BitmapFlavour::Voralin00, image::BitmapFlavour::Kestral}) {
        image::CurrentImage img;
        if (image::readBitmapBytes(bytes, img, flavour, sink, {1024, 747})) {
            touch(img, flavour, sink);
            const auto encoded = image::encodeBitmap(img, flavour);
            if (encoded.size() != img.dib.block.size() + 14) __builtin_trap();
        }
    }

    // Pictures whose normalised size runs to gigabytes are only checked: writing that many zero
    // rows would take seconds per input and teach the fuzzer nothing new.
    const auto checked = image::checkGreyBitmap(
        bytes.first(std::min<std::size_t>(size, image::kGreyHeadBytes)), size, sink);
    if (!checked || checked->geometry.fileSize > (8u << 20)) return 0;

    core::NoBusyIndicator indicator;
    std::optional<core::BusyScope> busy;
    image::VectorSink out;
    const auto geometry = image::normaliseGreyBytes(bytes, out, sink, indicator, busy);
    if (!geometry) return 0;
    if (out.bytes.size() > geometry->fileSize) __builtin_trap();
    image::CurrentImage img;
    const bool loaded =
        image::readBitmapBytes(out.bytes, img, image::BitmapFlavour::Voralin00, sink, {1024, 747});
    // A complete normalised file always loads; a short one (RLE8 ended early) never does.
    if (loaded != (out.bytes.size() == geometry->fileSize)) __builtin_trap();
    if (loaded) touch(img, image::BitmapFlavour::Voralin00, sink);
    return 0;
}
