#include "image/normalise.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/localized.h"
#include "image/limits.h"

namespace image {
namespace {

constexpr std::size_t kBufferSize = 30000;
constexpr int kMaxTempAttempts = 99;  // B_1.bmp ... B_99.bmp

constexpr const char* kFormatText = kBitmapFormatText;
constexpr const char* kOpenText = kBitmapOpenText;
constexpr const char* kTempText = "Unable to create a temporary bitmap file.";
constexpr const char* kDiskText = "Not enough free diskspace to create a temporary bitmap file.";

bool refuse(core::MessageSink& sink, const char* text, const char* caption, unsigned style) {
    sink.ask(text, caption, style);
    return false;
}

// Buffered output that remembers the first failed write and counts what was written.
class Writer {
  public:
    explicit Writer(ByteSink& sink) : sink_(sink) {}
    void put(std::uint8_t b) {
        buffer_[used_++] = b;
        ++written_;
        if (used_ == kBufferSize) flush();
    }
    void zeros(std::uint64_t n) {
        while (n > 0) {
            const std::size_t room = kBufferSize - used_;
            const std::size_t chunk = n < room ? static_cast<std::size_t>(n) : room;
            std::memset(buffer_ + used_, 0, chunk);
            used_ += chunk;
            written_ += chunk;
            n -= chunk;
            if (used_ == kBufferSize && !flush()) return;
        }
    }
    void fillTo(std::uint64_t position) {
        if (position > written_) zeros(position - written_);
    }
    void bytes(const std::uint8_t* data, std::size_t n) {
        flush();
        if (ok_ && !sink_.write(data, n)) ok_ = false;
        written_ += n;
    }
    bool flush() {
        if (ok_ && used_ > 0 && !sink_.write(buffer_, used_)) ok_ = false;
        used_ = 0;
        return ok_;
    }
    std::uint64_t written() const { return written_; }
    bool ok() const { return ok_; }

  private:
    ByteSink& sink_;
    std::uint8_t buffer_[kBufferSize];
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
    bool ok_ = true;
};

// Passes bytes on and counts them.
class CountingSink final : public ByteSink {
  public:
    explicit CountingSink(ByteSink& inner) : inner_(inner) {}
    bool write(const std::uint8_t* data, std::size_t n) override {
        count += n;
        return inner_.write(data, n);
    }
    std::uint64_t count = 0;

  private:
    ByteSink& inner_;
};

// Buffered input limited to the coded data of an RLE8 source.
class Reader {
  public:
    Reader(ByteSource& source, std::uint64_t limit) : source_(source), remaining_(limit) {}
    bool next(std::uint8_t& b) {
        if (position_ == length_ && !refill()) return false;
        b = buffer_[position_++];
        return true;
    }
    bool failed() const { return failed_; }

  private:
    bool refill() {
        if (remaining_ == 0) return false;
        const std::size_t want =
            remaining_ < kBufferSize ? static_cast<std::size_t>(remaining_) : kBufferSize;
        const std::size_t got = source_.read(buffer_, want);
        if (got < want) failed_ = true;
        remaining_ = got < want ? 0 : remaining_ - got;
        position_ = 0;
        length_ = got;
        return got > 0;
    }
    ByteSource& source_;
    std::uint64_t remaining_;
    std::uint8_t buffer_[kBufferSize];
    std::size_t position_ = 0;
    std::size_t length_ = 0;
    bool failed_ = false;
};

void writeHeader(const GreySource& s, Writer& out) {
    std::uint8_t h[kNormalisedOffBits] = {};
    const ImageGeometry& g = s.geometry;
    h[0] = 'B';
    h[1] = 'M';
    storeU32(h + 2, g.fileSize);
    storeU32(h + 10, kNormalisedOffBits);
    // biWidth, biHeight, biPlanes, biBitCount as the source has them, in a 40-byte header
    // whatever the source's length.
    storeU32(h + 14, kInfoHeaderSize);
    std::memcpy(h + 18, s.header.data() + 18, 12);
    // Uncompressed rows of paddedWidth bytes. A valid uncompressed source has these values
    // already (or a biSizeImage of 0, which loading completes to the same); a hostile one must not
    // carry its own into a file the program then trusts.
    storeU32(h + 30, 0);
    storeU32(h + 34,
             static_cast<std::uint32_t>(g.paddedWidth) * static_cast<std::uint32_t>(g.height));
    storeU32(h + 46, 256);
    storeU32(h + 50, 256);
    for (int i = 0; i < 256; ++i) {
        std::uint8_t* e = h + 54 + 4 * i;
        e[0] = e[1] = e[2] = static_cast<std::uint8_t>(i);
    }
    out.bytes(h, sizeof h);
}

ConvertResult convertUncompressed(const GreySource& s, ByteSource& in, Writer& out) {
    const std::uint64_t width = static_cast<std::uint64_t>(s.geometry.width);
    const std::uint64_t height = static_cast<std::uint64_t>(s.geometry.height);
    const std::uint64_t padded = static_cast<std::uint64_t>(s.geometry.paddedWidth);
    const std::uint64_t stride = (s.fileSize - s.pixelStart) / height;
    std::uint8_t chunk[kBufferSize];

    if (s.identity && s.sourceColours == 256 && stride == padded) {
        // Already normalised pixels: copied unchanged.
        std::uint64_t left = padded * height;
        while (left > 0) {
            const std::size_t n = left < kBufferSize ? static_cast<std::size_t>(left) : kBufferSize;
            if (in.read(chunk, n) != n) return ConvertResult::ReadFailed;
            out.bytes(chunk, n);
            if (!out.ok()) return ConvertResult::WriteFailed;
            left -= n;
        }
        return ConvertResult::Ok;
    }

    // Row by row: the grey level of each pixel, then zeros up to the padded length. Output rows
    // are always paddedWidth long, whatever the source rows were, so the file matches its bfSize.
    for (std::uint64_t row = 0; row < height; ++row) {
        std::uint64_t left = width;
        while (left > 0) {
            const std::size_t n = left < kBufferSize ? static_cast<std::size_t>(left) : kBufferSize;
            if (in.read(chunk, n) != n) return ConvertResult::ReadFailed;
            for (std::size_t i = 0; i < n; ++i) out.put(s.grey[chunk[i]]);
            left -= n;
        }
        out.zeros(padded - width);
        std::uint64_t skip = stride - width;
        while (skip > 0) {
            const std::size_t n = skip < kBufferSize ? static_cast<std::size_t>(skip) : kBufferSize;
            if (in.read(chunk, n) != n) return ConvertResult::ReadFailed;
            skip -= n;
        }
        if (!out.ok()) return ConvertResult::WriteFailed;
    }
    return ConvertResult::Ok;
}

// RLE8 decoding with a cursor (x, y) in rows of paddedWidth bytes, y counted from the first row
// stored. The cursor only moves forward, so the output streams out; whatever would land past the
// row's end or past the last row is dropped.
ConvertResult convertRle8(const GreySource& s, ByteSource& in, Writer& out) {
    const std::uint64_t height = static_cast<std::uint64_t>(s.geometry.height);
    const std::uint64_t padded = static_cast<std::uint64_t>(s.geometry.paddedWidth);
    const std::uint64_t limit = padded * height;
    const std::uint64_t start = out.written();
    Reader reader(in, s.fileSize - s.pixelStart);
    std::uint64_t x = 0, y = 0;
    auto moveTo = [&](std::uint64_t newY, std::uint64_t newX) {
        y = newY;
        x = newX;
        out.fillTo(start + std::min(y * padded + x, limit));
    };
    auto pixel = [&](std::uint8_t index) {
        if (x < padded && y < height) {
            out.put(s.grey[index]);
            ++x;
        }
    };

    std::uint8_t a = 0, b = 0;
    while (out.ok() && reader.next(a) && reader.next(b)) {
        if (a > 0) {
            for (unsigned i = 0; i < a; ++i) pixel(b);
        } else if (b == 0) {  // end of line
            moveTo(std::min(y + 1, height), 0);
        } else if (b == 1) {  // end of bitmap
            break;
        } else if (b == 2) {  // delta: right dx, up dy rows
            std::uint8_t dx = 0, dy = 0;
            if (!reader.next(dx) || !reader.next(dy)) break;
            moveTo(std::min(y + dy, height), std::min(x + dx, padded));
        } else {  // absolute run of b indices, padded to an even count
            std::uint8_t v = 0;
            bool complete = true;
            for (unsigned i = 0; i < b && complete; ++i) {
                complete = reader.next(v);
                if (complete) pixel(v);
            }
            if (!complete) break;
            if ((b & 1) && !reader.next(v)) break;
        }
    }
    if (reader.failed()) return ConvertResult::ReadFailed;
    // Pad to a whole number of rows.
    const std::uint64_t done = out.written() - start;
    out.fillTo(start + std::min((done + padded - 1) / padded * padded, limit));
    return out.ok() ? ConvertResult::Ok : ConvertResult::WriteFailed;
}

// The last component of a path ("cell.bmp" of "D:\\img\\cell.bmp" or "/img/cell.bmp").
std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string lowerLastFour(const std::string& path) {
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return tail;
}

}  // namespace

bool isAcceptedInfoSize(std::uint32_t size) {
    return size == 40 || size == 108 || size == 124;
}

std::optional<GreySource> checkGreyBitmap(std::span<const std::uint8_t> head,
                                          std::uint64_t fileSize, core::MessageSink& sink) {
    using core::kIconError;
    using core::kIconWarning;
    // The header is copied into the normalised file, which must load: the whole biSize must be
    // one of the known sizes, not only its low byte.
    if (fileSize < 54 || head.size() < 54 || head[0] != 'B' || head[1] != 'M' ||
        !isAcceptedInfoSize(loadU32(head.data() + 14))) {
        refuse(sink, kFormatText, "Error", kIconError);
        return std::nullopt;
    }
    GreySource s;
    s.fileSize = fileSize;
    std::memcpy(s.header.data(), head.data(), 54);
    s.infoSize = loadU32(head.data() + 14);
    const std::int32_t width = loadI32(head.data() + 18);
    const std::int32_t height = loadI32(head.data() + 22);
    if (width < 64 || height < 64) {
        refuse(sink, "Too small bitmap (less than 64W or 64H)!", "Error", kIconWarning);
        return std::nullopt;
    }
    // The whole biBitCount, not its low byte: the value is copied into the normalised header.
    if (loadU16(head.data() + 28) != 8) {
        refuse(sink, "Not a 256 color bitmap file.", "Warning", kIconWarning);
        return std::nullopt;
    }
    s.rle = head[30] != 0;
    const std::uint32_t clrUsed = loadU32(head.data() + 46);
    s.sourceColours = (clrUsed == 0 || clrUsed > 256) ? 256 : clrUsed;
    const std::uint64_t tableStart = kFileHeaderSize + std::uint64_t{s.infoSize};
    const std::uint64_t tableEnd = tableStart + 4 * std::uint64_t{s.sourceColours};
    // The palette must be in the file before it can be judged.
    if (fileSize < tableEnd || head.size() < tableEnd) {
        refuse(sink, kFormatText, "Error", kIconError);
        return std::nullopt;
    }
    s.identity = true;
    for (std::uint32_t i = 0; i < s.sourceColours; ++i) {
        const std::uint8_t* e = head.data() + tableStart + 4 * i;
        if (e[0] != e[1] || e[1] != e[2] || e[2] != e[0]) {
            refuse(sink, "Not a gray-scale bitmap file.", "Warning", kIconWarning);
            return std::nullopt;
        }
        s.grey[i] = e[0];
        if (e[0] != i) s.identity = false;
    }
    // The pixels start where bfOffBits says, which writers may leave a gap before; an offset
    // inside the headers or the colour table, or past the end, is no bitmap.
    s.pixelStart = loadU32(head.data() + 10);
    if (s.pixelStart < tableEnd || s.pixelStart > fileSize) {
        refuse(sink, kFormatText, "Error", kIconError);
        return std::nullopt;
    }

    // A size no micrograph reaches (an RLE8 bomb of a few bytes claims gigabytes) is refused
    // before any memory or disk is spent on it.
    const std::uint64_t padded = (static_cast<std::uint64_t>(width) + 3) / 4 * 4;
    const std::uint64_t pixelBytes = padded * static_cast<std::uint64_t>(height);
    if (width > kMaxImageSide || height > kMaxImageSide || pixelBytes > kMaxNormalisedBytes) {
        refuse(sink, core::text(kTooLargeText), "Error", kIconWarning);
        return std::nullopt;
    }
    const std::uint64_t normalised = pixelBytes + kNormalisedOffBits;
    // Uncompressed rows must all be present.
    if (!s.rle && (fileSize - s.pixelStart) / static_cast<std::uint64_t>(height) <
                      static_cast<std::uint64_t>(width)) {
        refuse(sink, kFormatText, "Error", kIconError);
        return std::nullopt;
    }
    s.geometry = ImageGeometry{width, height, static_cast<std::int32_t>(padded),
                               static_cast<std::uint32_t>(normalised)};
    return s;
}

ConvertResult writeNormalised(const GreySource& source, ByteSource& pixels, ByteSink& sink) {
    // The buffers are large for a stack frame; keep them off it.
    auto out = std::make_unique<Writer>(sink);
    writeHeader(source, *out);
    if (!out->ok()) return ConvertResult::WriteFailed;
    const ConvertResult result =
        source.rle ? convertRle8(source, pixels, *out) : convertUncompressed(source, pixels, *out);
    if (result != ConvertResult::Ok) return result;
    return out->flush() ? ConvertResult::Ok : ConvertResult::WriteFailed;
}

std::optional<ImageGeometry> normaliseGreyBytes(std::span<const std::uint8_t> file, ByteSink& out,
                                                core::MessageSink& sink,
                                                core::BusyIndicator& indicator,
                                                std::optional<core::BusyScope>& busy) {
    const auto source = checkGreyBitmap(
        file.first(std::min<std::size_t>(file.size(), kGreyHeadBytes)), file.size(), sink);
    if (!source) return std::nullopt;
    busy.emplace(indicator);
    MemorySource pixels(file.subspan(static_cast<std::size_t>(source->pixelStart)));
    const ConvertResult result = writeNormalised(*source, pixels, out);
    if (result != ConvertResult::Ok) {
        busy.reset();
        refuse(sink, result == ConvertResult::ReadFailed ? kOpenText : kTempText, "Open Error",
               core::kIconError);
        return std::nullopt;
    }
    return source->geometry;
}

std::string temporaryBitmapName(const std::string& sourcePath, int attempt) {
    const std::string stem =
        sourcePath.size() >= 4 ? sourcePath.substr(0, sourcePath.size() - 4) : sourcePath;
    return stem + "B_" + std::to_string(attempt) + ".bmp";
}

std::optional<NormalisedFile> normaliseGreyBitmap(const std::string& sourcePath,
                                                  core::MessageSink& sink,
                                                  core::BusyIndicator& indicator,
                                                  core::DiskServices& disk,
                                                  std::optional<core::BusyScope>& busy) {
    FileHandle in(fopenUtf8(sourcePath, "rb"));
    return normaliseGreyBitmap(in.get(), sourcePath, sink, indicator, disk, busy);
}

std::optional<NormalisedFile> normaliseGreyBitmap(std::FILE* in, const std::string& sourcePath,
                                                  core::MessageSink& sink,
                                                  core::BusyIndicator& indicator,
                                                  core::DiskServices& disk,
                                                  std::optional<core::BusyScope>& busy) {
    using core::kIconError;
    // The size, which also rewinds the file to its start.
    const auto size = in ? fileSize(in) : std::nullopt;
    if (!size) {
        refuse(sink, kOpenText, "Open Error", kIconError);
        return std::nullopt;
    }
    // The temporary file goes beside the image or, where that folder cannot take it (a full
    // or read-only medium), into the system's temporary folder; free space is asked for the
    // folder the file goes to.
    const std::string besideName = temporaryBitmapName(sourcePath, 1);
    const std::string fallbackFolder = systemTemporaryFolder();
    const std::string fallbackName =
        fallbackFolder.empty() ? std::string()
                               : fallbackFolder + temporaryBitmapName(fileNameOf(sourcePath), 1);
    auto roomFor = [&](const std::string& name, std::uint64_t bytes) {
        return !name.empty() && disk.hasFreeDiskSpace(name, bytes + core::kFreeSpaceMargin);
    };
    if (!roomFor(besideName, 2 * *size) && !roomFor(fallbackName, 2 * *size)) {
        refuse(sink, kDiskText, "Error", kIconError);
        return std::nullopt;
    }
    std::uint8_t head[kGreyHeadBytes];
    const std::size_t headSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(*size, kGreyHeadBytes));
    if (std::fread(head, 1, headSize, in) != headSize) {
        refuse(sink, kOpenText, "Open Error", kIconError);
        return std::nullopt;
    }
    const auto source = checkGreyBitmap(std::span(head, headSize), *size, sink);
    if (!source) return std::nullopt;
    // An RLE8 source can expand far beyond twice its size; the normalised size is known now.
    const std::uint64_t needed = source->geometry.fileSize;
    const bool roomBeside = roomFor(besideName, needed);
    const bool roomFallback = roomFor(fallbackName, needed);
    if (!roomBeside && !roomFallback) {
        refuse(sink, kDiskText, "Error", kIconError);
        return std::nullopt;
    }

    // Never replace a file of the user's: take the first free name, created exclusively.
    NormalisedFile result{source->geometry, {}};
    FileHandle temp;
    auto createIn = [&](const std::string& stemPath) {
        for (int attempt = 1; attempt <= kMaxTempAttempts && !temp; ++attempt) {
            bool exists = false;
            result.tempPath = temporaryBitmapName(stemPath, attempt);
            InterruptionsHeld held;
            temp.reset(createExclusive(result.tempPath, exists));
            if (temp) registerTemporary(result.tempPath);
            if (!temp && !exists) break;
        }
    };
    if (roomBeside) createIn(sourcePath);
    if (!temp && roomFallback) createIn(fallbackFolder + fileNameOf(sourcePath));
    if (!temp) {
        refuse(sink, kTempText, "Open Error", kIconError);
        return std::nullopt;
    }

    busy.emplace(indicator);
    ConvertResult converted = ConvertResult::ReadFailed;
    FileSink file(temp.get());
    CountingSink out(file);
    if (std::fseek(in, static_cast<long>(source->pixelStart), SEEK_SET) == 0) {
        FileSource pixels(in);
        converted = writeNormalised(*source, pixels, out);
    }
    if (!temp.close() && converted == ConvertResult::Ok) converted = ConvertResult::WriteFailed;
    // Some C runtimes (Wine's) report a write cut short by a full disk as complete: the size on
    // disk tells.
    if (converted == ConvertResult::Ok && platform::sizeOnDisk(result.tempPath) != out.count)
        converted = ConvertResult::WriteFailed;
    if (converted != ConvertResult::Ok) {
        removeFile(result.tempPath);
        unregisterTemporary(result.tempPath);
        busy.reset();
        refuse(sink, converted == ConvertResult::ReadFailed ? kOpenText : kTempText, "Open Error",
               kIconError);
        return std::nullopt;
    }
    return result;
}

bool hasBmpExtension(const std::string& path) {
    return path.size() >= 4 && lowerLastFour(path) == ".bmp";
}

}  // namespace image
