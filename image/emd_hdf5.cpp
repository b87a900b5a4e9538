// EMD files through libhdf5 (native builds). The file's signals are listed first from their
// dataspaces and types alone; only the chosen frame of the chosen signal is then read, converted
// by HDF5 to doubles. Only hard links are followed (never a soft or external link, which could
// reach another file), a walk is bounded in depth and in the objects it visits, and a group that
// links back to one of its own ancestors is refused as a cycle.
#include <hdf5.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "image/emd.h"
#include "image/hdf5_raw.h"
#include "image/import_detail.h"
#include "image/samples.h"

namespace image {

namespace {

using namespace detail;

constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxObjects = 20000;
constexpr std::size_t kMaxSignals = 4096;
constexpr hsize_t kMaxMetadataBytes = hsize_t{16} << 20;

constexpr core::Localized kNotHdf5{"Not an EMD file: it is not an HDF5 file.",
                                   "EMD ファイルではありません（HDF5 ファイルではありません）。"};
constexpr core::Localized kCannotOpen{
    "The EMD file cannot be opened: its HDF5 structure is damaged.",
    "EMD ファイルを開けません。HDF5 の構造が壊れています。"};
constexpr core::Localized kNoLayout{
    "The EMD file holds no image in a known layout (Velox, or Berkeley EMD 1.0).",
    "EMD ファイルに既知の形式（Velox、Berkeley EMD 1.0）の画像がありません。"};
constexpr core::Localized kCycle{"The HDF5 file's groups link in a cycle (at %s).",
                                 "HDF5 ファイルのグループのリンクが循環しています（%s）。"};
constexpr core::Localized kTooManyObjects{
    "The HDF5 file holds more than %d groups and datasets to search.",
    "HDF5 ファイルの探索するグループとデータセットが %d 個を超えています。"};
constexpr core::Localized kTooDeep{"The HDF5 file's groups are nested deeper than %d levels.",
                                   "HDF5 ファイルのグループの入れ子が %d 段を超えています。"};
constexpr core::Localized kNoSignal{"The EMD file holds %d signals: there is no signal %d.",
                                    "EMD ファイルの信号は %d 個です。信号 %d はありません。"};
constexpr core::Localized kComplex{
    "Signal %d of the EMD file (%s) holds complex data (an FFT or DPC result): it cannot be "
    "opened as an image.",
    "EMD ファイルの信号 %d（%s）は複素数データ（FFT または DPC の結果）で、画像として開けません。"};
constexpr core::Localized kNoRealSignal{
    "The EMD file holds no real image: every signal is complex data (FFT or DPC) or of an "
    "unsupported type.",
    "EMD ファイルに実数の画像がありません（すべて複素数データ（FFT、DPC）か対応していない型です）。"};
constexpr core::Localized kNoFrame{"Signal %d of the EMD file holds %llu frames: there is no frame %d.",
                                   "EMD ファイルの信号 %d のフレームは %llu 枚です。%d 枚目はありません。"};
constexpr core::Localized kLessData{
    "Signal %d of the EMD file claims %llu x %llu samples a frame, more than the file holds.",
    "EMD ファイルの信号 %d は 1 フレーム %llu x %llu サンプルとされていますが、ファイルにはそれだけの"
    "データがありません。"};
constexpr core::Localized kReadFailed{
    "Signal %d of the EMD file could not be read: its HDF5 data are damaged.",
    "EMD ファイルの信号 %d を読み込めません。HDF5 のデータが壊れています。"};

constexpr core::Localized kNoteSignal{"Signal %d: %s, %llu x %llu%s, %s%s",
                                      "信号 %d: %s、%llu x %llu%s、%s%s"};
constexpr core::Localized kNoteFrames{" x %llu frames", " x %llu フレーム"};
constexpr core::Localized kNoteOpened{" (opened)", "（開いた信号）"};
constexpr core::Localized kNoteComplex{"complex (FFT or DPC), not opened",
                                       "複素数（FFT または DPC）、開けません"};
constexpr core::Localized kNoteVeloxSize{
    "Pixel size from the signal's metadata (BinaryResult.PixelSize in %s).",
    "ピクセルサイズは信号のメタデータ（BinaryResult.PixelSize、単位 %s）から。"};
constexpr core::Localized kNoteBerkeleySize{
    "Pixel size from the axis dim1 (units \"%s\").",
    "ピクセルサイズは軸 dim1（単位 \"%s\"）から。"};
constexpr core::Localized kNoteNotLength{
    "The calibration's unit \"%s\" is not a length: no pixel size.",
    "校正の単位 \"%s\" は長さではないので、ピクセルサイズはありません。"};
constexpr core::Localized kNoteChoose{"Choose a signal with --signal N.",
                                      "信号は --signal N で選べます。"};

// An HDF5 identifier closed with its own function on scope exit.
class Handle {
  public:
    Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    ~Handle() {
        if (id_ >= 0) close_(id_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    hid_t get() const { return id_; }
    explicit operator bool() const { return id_ >= 0; }

  private:
    hid_t id_;
    herr_t (*close_)(hid_t);
};

enum class Layout { Velox, Berkeley };
enum class Kind { Real, Complex, Unsupported };

struct Signal {
    std::string path;  // the group holding the data
    std::string name;  // a detector's name or the group's
    Layout layout = Layout::Velox;
    Kind kind = Kind::Unsupported;
    SampleType type = SampleType::F64;
    std::string typeName;  // for a signal not of SampleType
    std::uint64_t width = 0, height = 0, frames = 1;
    std::uint64_t stored = 0;  // bytes of data the file holds for it
    bool filtered = false;     // stored through filters (compressed)
};

// What the file holds of a dataset's data, to be checked against its claimed shape.
void noteStorage(hid_t dataset, Signal& s) {
    s.stored = H5Dget_storage_size(dataset);
    Handle plist(H5Dget_create_plist(dataset), H5Pclose);
    s.filtered = !plist || H5Pget_nfilters(plist.get()) != 0;
}

// Whether the stored bytes can hold one frame: whole when stored plain; through filters, at most
// Deflate's 1032 to 1 (the others HDF5 carries pack less). A dataset never written holds none.
bool holdsFrame(const Signal& s) {
    const std::uint64_t frame = s.width * s.height * storedSampleBytes(s.type);
    const std::uint64_t ratio = s.filtered ? 1032 : 1;
    return s.stored >= frame / ratio && s.stored > 0;
}

// libhdf5 prints its error stack on every failure unless told not to; a hostile file is refused
// with our own message instead. The setting is the calling thread's (the library is built
// thread-safe) and may be another user's of the library in this process (h5py beside the Python
// module), so it is restored after the read.
template <class Read>
std::optional<GreyImage> quietly(Read read) {
    H5E_auto2_t before = nullptr;
    void* beforeData = nullptr;
    const bool saved = H5Eget_auto2(H5E_DEFAULT, &before, &beforeData) >= 0;
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    std::optional<GreyImage> image = read();
    if (saved) H5Eset_auto2(H5E_DEFAULT, before, beforeData);
    return image;
}

// The sample type of an HDF5 type, or why it is not one.
void classify(hid_t type, Signal& s) {
    const H5T_class_t c = H5Tget_class(type);
    const std::size_t size = H5Tget_size(type);
    if (c == H5T_COMPOUND) {
        // Velox stores FFT and DPC results as pairs of real and imaginary floats.
        s.kind = Kind::Complex;
        s.typeName = "complex";
        return;
    }
    if (c == H5T_INTEGER) {
        const bool sign = H5Tget_sign(type) == H5T_SGN_2;
        switch (size) {
            case 1: s.type = sign ? SampleType::I8 : SampleType::U8; break;
            case 2: s.type = sign ? SampleType::I16 : SampleType::U16; break;
            case 4: s.type = sign ? SampleType::I32 : SampleType::U32; break;
            default:
                s.kind = Kind::Unsupported;
                s.typeName = std::to_string(size * 8) + "-bit integer";
                return;
        }
        s.kind = Kind::Real;
        return;
    }
    if (c == H5T_FLOAT && (size == 2 || size == 4 || size == 8)) {
        s.type = size == 2 ? SampleType::F16 : size == 4 ? SampleType::F32 : SampleType::F64;
        s.kind = Kind::Real;
        return;
    }
    s.kind = Kind::Unsupported;
    s.typeName = "HDF5 type class " + std::to_string(static_cast<int>(c));
}

// The dataset's dimensions, when it has between `minRank` and `maxRank` of them.
std::optional<std::vector<hsize_t>> dimensionsOf(hid_t dataset, int minRank, int maxRank) {
    Handle space(H5Dget_space(dataset), H5Sclose);
    if (!space) return std::nullopt;
    const int rank = H5Sget_simple_extent_ndims(space.get());
    if (rank < minRank || rank > maxRank) return std::nullopt;
    std::vector<hsize_t> dims(static_cast<std::size_t>(rank));
    if (H5Sget_simple_extent_dims(space.get(), dims.data(), nullptr) < 0) return std::nullopt;
    return dims;
}

// Whether a dataset's stored bytes hold all it claims. libhdf5 1.10 copies a compact dataset's
// selection out of the buffer its header gives, unchecked against the dataspace (a heap overflow
// on a damaged file), so a compact dataset is read only when the two agree.
bool storageIsWhole(hid_t dataset) {
    Handle plist(H5Dget_create_plist(dataset), H5Pclose);
    if (!plist) return false;
    if (H5Pget_layout(plist.get()) != H5D_COMPACT) return true;
    Handle type(H5Dget_type(dataset), H5Tclose);
    Handle space(H5Dget_space(dataset), H5Sclose);
    if (!type || !space) return false;
    const hssize_t points = H5Sget_simple_extent_npoints(space.get());
    const std::size_t size = H5Tget_size(type.get());
    if (points < 0 || size == 0 || static_cast<std::uint64_t>(points) > (1ULL << 40) / size)
        return false;
    return H5Dget_storage_size(dataset) >= static_cast<std::uint64_t>(points) * size;
}

// Whether the chunks of frame `frame` (along the third axis, when there is one) each hold a whole
// chunk. libhdf5 1.10 copies an unfiltered chunk by the chunk's size, whatever size its index
// gives the stored chunk (a heap overflow on a damaged file).
bool chunksAreWhole(hid_t dataset, std::uint64_t frame) {
    Handle plist(H5Dget_create_plist(dataset), H5Pclose);
    if (!plist) return false;
    if (H5Pget_layout(plist.get()) != H5D_CHUNKED || H5Pget_nfilters(plist.get()) != 0)
        return true;
    const auto dims = dimensionsOf(dataset, 2, 3);
    Handle type(H5Dget_type(dataset), H5Tclose);
    if (!dims || !type) return false;
    const int rank = static_cast<int>(dims->size());
    hsize_t chunk[3] = {0, 0, 1};
    if (H5Pget_chunk(plist.get(), rank, chunk) != rank || chunk[0] == 0 || chunk[1] == 0 ||
        chunk[2] == 0)
        return false;
    const std::uint64_t count0 = ((*dims)[0] + chunk[0] - 1) / chunk[0];
    const std::uint64_t count1 = ((*dims)[1] + chunk[1] - 1) / chunk[1];
    if (count0 * count1 > (1u << 22) || chunk[0] * chunk[1] > (1ULL << 40) / chunk[2]) return false;
    const std::uint64_t bytes = chunk[0] * chunk[1] * chunk[2] * H5Tget_size(type.get());
    for (std::uint64_t i = 0; i < count0; ++i)
        for (std::uint64_t j = 0; j < count1; ++j) {
            const hsize_t offset[3] = {i * chunk[0], j * chunk[1], frame / chunk[2] * chunk[2]};
            unsigned mask = 0;
            haddr_t address = HADDR_UNDEF;
            hsize_t size = 0;
            if (H5Dget_chunk_info_by_coord(dataset, offset, &mask, &address, &size) < 0)
                return false;
            if (address != HADDR_UNDEF && size != bytes) return false;
        }
    return true;
}

// What the string readers need besides libhdf5: the file's own bytes and address sizes.
struct RawFile {
    hdf5raw::ReadAt read;
    hdf5raw::FileShape shape;
};

hdf5raw::FileShape fileShape(hid_t file) {
    hdf5raw::FileShape shape;
    Handle plist(H5Fget_create_plist(file), H5Pclose);
    std::size_t offsetSize = 8, lengthSize = 8;
    hsize_t userBlock = 0;
    if (plist && H5Pget_sizes(plist.get(), &offsetSize, &lengthSize) >= 0 &&
        H5Pget_userblock(plist.get(), &userBlock) >= 0 && offsetSize >= 2 && offsetSize <= 8 &&
        lengthSize >= 2 && lengthSize <= 8) {
        shape.offsetSize = static_cast<unsigned>(offsetSize);
        shape.lengthSize = static_cast<unsigned>(lengthSize);
        shape.base = userBlock;
    }
    return shape;
}

// The text of the first element of a variable-length string, read by our own code (see
// hdf5_raw.h) from the element's bytes.
std::optional<std::string> variableText(const RawFile& raw,
                                        const std::optional<std::vector<std::uint8_t>>& element,
                                        std::size_t limit) {
    if (!element) return std::nullopt;
    return hdf5raw::globalHeapString(raw.read, raw.shape, *element, limit);
}

// The first element of a fixed-length string dataset or attribute, at most `limit` bytes.
std::optional<std::string> fixedText(hid_t object, hid_t type, hssize_t count, bool attribute,
                                     std::size_t limit) {
    const std::size_t size = H5Tget_size(type);
    if (size == 0 || size > limit || static_cast<std::uint64_t>(count) * size > (64u << 20))
        return std::nullopt;
    std::vector<char> bytes(static_cast<std::size_t>(count) * size);
    if (!attribute && !storageIsWhole(object)) return std::nullopt;
    const herr_t ok = attribute ? H5Aread(object, type, bytes.data())
                                : H5Dread(object, type, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                                          bytes.data());
    if (ok < 0) return std::nullopt;
    return std::string(bytes.data(), strnlen(bytes.data(), size));
}

// How many strings a string dataset or attribute of this type and dataspace holds; 0 when it is
// not one.
hssize_t stringCount(hid_t type, hid_t space) {
    if (type < 0 || space < 0 || H5Tget_class(type) != H5T_STRING) return 0;
    return std::max<hssize_t>(H5Sget_simple_extent_npoints(space), 0);
}

// The first element of a string dataset (fixed or variable length), at most `limit` bytes.
std::optional<std::string> datasetString(hid_t dataset, const RawFile& raw,
                                         std::size_t limit = 65536) {
    Handle type(H5Dget_type(dataset), H5Tclose);
    Handle space(H5Dget_space(dataset), H5Sclose);
    const hssize_t count = stringCount(type.get(), space.get());
    if (count < 1) return std::nullopt;
    if (H5Tis_variable_str(type.get()) <= 0)
        return fixedText(dataset, type.get(), count, false, limit);
    const std::size_t elementSize = hdf5raw::vlenElementSize(raw.shape);
    const haddr_t offset = H5Dget_offset(dataset);  // contiguous data only
    if (offset != HADDR_UNDEF) {
        std::vector<std::uint8_t> element(elementSize);
        if (!raw.read(offset, element.size(), element.data())) return std::nullopt;
        return variableText(raw, element, limit);
    }
    H5O_info_t info;
    if (H5Oget_info2(dataset, &info, H5O_INFO_BASIC) < 0) return std::nullopt;
    return variableText(raw, hdf5raw::compactData(raw.read, raw.shape, info.addr, elementSize),
                        limit);
}

// The first element of the string attribute `name` of `object`, at most `limit` bytes.
std::optional<std::string> attributeString(hid_t object, const char* name, const RawFile& raw,
                                           std::size_t limit) {
    if (H5Aexists(object, name) <= 0) return std::nullopt;
    Handle attribute(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
    if (!attribute) return std::nullopt;
    Handle type(H5Aget_type(attribute.get()), H5Tclose);
    Handle space(H5Aget_space(attribute.get()), H5Sclose);
    const hssize_t count = stringCount(type.get(), space.get());
    if (count < 1) return std::nullopt;
    if (H5Tis_variable_str(type.get()) <= 0)
        return fixedText(attribute.get(), type.get(), count, true, limit);
    H5O_info_t info;
    if (H5Oget_info2(object, &info, H5O_INFO_BASIC) < 0) return std::nullopt;
    return variableText(raw,
                        hdf5raw::attributeData(raw.read, raw.shape, info.addr, name,
                                               hdf5raw::vlenElementSize(raw.shape)),
                        limit);
}

bool linkExists(hid_t location, const char* name) {
    return H5Lexists(location, name, H5P_DEFAULT) > 0;
}

// The names of a group's hard links, in name order, at most `limit`.
std::vector<std::string> hardLinks(hid_t group, std::size_t limit) {
    struct Collect {
        std::vector<std::string> names;
        std::size_t limit;
    } collect{{}, limit};
    hsize_t index = 0;
    H5Literate(
        group, H5_INDEX_NAME, H5_ITER_INC, &index,
        [](hid_t, const char* name, const H5L_info_t* info, void* data) -> herr_t {
            auto* c = static_cast<Collect*>(data);
            if (info->type == H5L_TYPE_HARD) c->names.emplace_back(name);
            return c->names.size() >= c->limit ? 1 : 0;
        },
        &collect);
    return collect.names;
}

// One column (frame) of a Velox Metadata array: uint8, shaped (bytes, frames).
VeloxMetadata veloxMetadata(hid_t group, std::uint64_t frame) {
    if (!linkExists(group, "Metadata")) return {};
    Handle dataset(H5Dopen2(group, "Metadata", H5P_DEFAULT), H5Dclose);
    if (!dataset || !storageIsWhole(dataset.get())) return {};
    const auto dims = dimensionsOf(dataset.get(), 1, 2);
    if (!dims || (*dims)[0] == 0 || (*dims)[0] > kMaxMetadataBytes) return {};
    const hsize_t columns = dims->size() == 2 ? (*dims)[1] : 1;
    if (columns == 0) return {};
    const hsize_t column = std::min<hsize_t>(frame, columns - 1);
    Handle file(H5Dget_space(dataset.get()), H5Sclose);
    const hsize_t start[2] = {0, column}, count[2] = {(*dims)[0], 1};
    if (H5Sselect_hyperslab(file.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0)
        return {};
    const hsize_t length = (*dims)[0];
    Handle memory(H5Screate_simple(1, &length, nullptr), H5Sclose);
    std::string text(static_cast<std::size_t>(length), '\0');
    if (H5Dread(dataset.get(), H5T_NATIVE_UCHAR, memory.get(), file.get(), H5P_DEFAULT,
                text.data()) < 0)
        return {};
    return parseVeloxMetadata(text);
}

bool isVelox(hid_t file, const RawFile& raw) {
    if (!linkExists(file, "Version")) return false;
    Handle version(H5Dopen2(file, "Version", H5P_DEFAULT), H5Dclose);
    if (!version) return false;
    const auto text = datasetString(version.get(), raw);
    return text && isVeloxVersion(*text);
}

void veloxSignals(hid_t file, std::vector<Signal>& signals) {
    if (!linkExists(file, "Data") || H5Lexists(file, "Data/Image", H5P_DEFAULT) <= 0) return;
    Handle images(H5Gopen2(file, "Data/Image", H5P_DEFAULT), H5Gclose);
    if (!images) return;
    for (const std::string& id : hardLinks(images.get(), kMaxSignals)) {
        Handle group(H5Gopen2(images.get(), id.c_str(), H5P_DEFAULT), H5Gclose);
        if (!group || !linkExists(group.get(), "Data")) continue;
        Handle data(H5Dopen2(group.get(), "Data", H5P_DEFAULT), H5Dclose);
        if (!data) continue;
        const auto dims = dimensionsOf(data.get(), 2, 3);
        if (!dims) continue;
        Signal s;
        s.path = "/Data/Image/" + id;
        s.layout = Layout::Velox;
        s.height = (*dims)[0];
        s.width = (*dims)[1];
        s.frames = dims->size() == 3 ? (*dims)[2] : 1;
        Handle type(H5Dget_type(data.get()), H5Tclose);
        classify(type.get(), s);
        noteStorage(data.get(), s);
        const VeloxMetadata meta = veloxMetadata(group.get(), 0);
        s.name = meta.detector.empty() ? id : meta.detector;
        signals.push_back(std::move(s));
    }
}

// The Berkeley EMD groups (attribute emd_group_type = 1 with a dataset "data"), found by a
// bounded walk over hard links.
class BerkeleyWalk {
  public:
    BerkeleyWalk(std::vector<Signal>& signals, core::MessageSink& sink)
        : signals_(signals), sink_(sink) {}

    bool walk(hid_t group, const std::string& path, int depth) {
        if (depth > kMaxDepth) return fail(kTooDeep, kMaxDepth);
        H5O_info_t info;
        if (H5Oget_info2(group, &info, H5O_INFO_BASIC) < 0) return true;
        if (std::find(ancestors_.begin(), ancestors_.end(), info.addr) != ancestors_.end())
            return fail(kCycle, path.c_str());
        // A group reached again by another way (not a cycle) was searched already.
        if (std::find(seen_.begin(), seen_.end(), info.addr) != seen_.end()) return true;
        seen_.push_back(info.addr);
        if (seen_.size() > kMaxObjects) return fail(kTooManyObjects, static_cast<int>(kMaxObjects));
        if (isEmdGroup(group)) add(group, path);
        ancestors_.push_back(info.addr);
        for (const std::string& name : hardLinks(group, kMaxObjects)) {
            H5O_info_t child;
            if (H5Oget_info_by_name2(group, name.c_str(), &child, H5O_INFO_BASIC, H5P_DEFAULT) < 0 ||
                child.type != H5O_TYPE_GROUP)
                continue;
            Handle sub(H5Gopen2(group, name.c_str(), H5P_DEFAULT), H5Gclose);
            if (!sub) continue;
            const std::string subPath = (path == "/" ? "/" : path + "/") + name;
            if (!walk(sub.get(), subPath, depth + 1)) return false;
            if (signals_.size() >= kMaxSignals) break;
        }
        ancestors_.pop_back();
        return true;
    }

  private:
    template <typename... Args>
    bool fail(const core::Localized& text, Args... args) {
        refuse(sink_, text, args...);
        return false;
    }
    static bool isEmdGroup(hid_t group) {
        if (H5Aexists(group, "emd_group_type") <= 0) return false;
        Handle attribute(H5Aopen(group, "emd_group_type", H5P_DEFAULT), H5Aclose);
        Handle space(H5Aget_space(attribute.get()), H5Sclose);
        if (!attribute || H5Sget_simple_extent_npoints(space.get()) != 1) return false;
        Handle type(H5Aget_type(attribute.get()), H5Tclose);
        if (H5Tget_class(type.get()) != H5T_INTEGER) return false;
        long long value = 0;
        return H5Aread(attribute.get(), H5T_NATIVE_LLONG, &value) >= 0 && value == 1;
    }
    void add(hid_t group, const std::string& path) {
        if (!linkExists(group, "data")) return;
        Handle data(H5Dopen2(group, "data", H5P_DEFAULT), H5Dclose);
        if (!data) return;
        const auto dims = dimensionsOf(data.get(), 2, 3);
        if (!dims) return;
        Signal s;
        s.path = path;
        s.layout = Layout::Berkeley;
        const std::size_t slash = path.find_last_of('/');
        s.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
        if (s.name.empty()) s.name = "/";
        // dim1 runs along x, dim2 along y (the data are stored x first).
        s.width = (*dims)[0];
        s.height = (*dims)[1];
        s.frames = dims->size() == 3 ? (*dims)[2] : 1;
        Handle type(H5Dget_type(data.get()), H5Tclose);
        classify(type.get(), s);
        noteStorage(data.get(), s);
        signals_.push_back(std::move(s));
    }

    std::vector<Signal>& signals_;
    core::MessageSink& sink_;
    std::vector<haddr_t> ancestors_;
    std::vector<haddr_t> seen_;
};

// The spacing of an axis dataset (its first two values) and its "units" attribute.
std::optional<std::pair<double, std::string>> berkeleyAxis(hid_t group, const char* name,
                                                          const RawFile& raw) {
    if (!linkExists(group, name)) return std::nullopt;
    Handle axis(H5Dopen2(group, name, H5P_DEFAULT), H5Dclose);
    if (!axis) return std::nullopt;
    const auto dims = dimensionsOf(axis.get(), 1, 1);
    if (!dims || (*dims)[0] < 2) return std::nullopt;
    Handle type(H5Dget_type(axis.get()), H5Tclose);
    const H5T_class_t c = H5Tget_class(type.get());
    if ((c != H5T_INTEGER && c != H5T_FLOAT) || !storageIsWhole(axis.get())) return std::nullopt;
    Handle file(H5Dget_space(axis.get()), H5Sclose);
    const hsize_t start = 0, count = 2;
    if (H5Sselect_hyperslab(file.get(), H5S_SELECT_SET, &start, nullptr, &count, nullptr) < 0)
        return std::nullopt;
    Handle memory(H5Screate_simple(1, &count, nullptr), H5Sclose);
    double values[2];
    if (H5Dread(axis.get(), H5T_NATIVE_DOUBLE, memory.get(), file.get(), H5P_DEFAULT, values) < 0)
        return std::nullopt;
    const std::string units =
        berkeleyUnit(attributeString(axis.get(), "units", raw, 256).value_or(""));
    return std::pair{values[1] - values[0], units};
}

std::string sampleDescription(const Signal& s) {
    return s.kind == Kind::Real ? sampleTypeName(s.type) : s.typeName;
}

// Reads a selection of `count` samples in the signal's own type (HDF5's conversion to double of
// chunked data is several times slower than ours) and widens them into `out`.
// The memory space has the selection's own shape, which keeps HDF5 on its fast path.
bool readSelection(hid_t dataset, hid_t fileSpace, const hsize_t* shape, SampleType type,
                   std::size_t count, double* out, std::vector<std::uint8_t>& buffer) {
    Handle memory(H5Screate_simple(H5Sget_simple_extent_ndims(fileSpace), shape, nullptr),
                  H5Sclose);
    hid_t memoryType = H5T_NATIVE_DOUBLE;
    std::size_t bytes = 8;
    switch (type) {
        case SampleType::U8: memoryType = H5T_NATIVE_UINT8; bytes = 1; break;
        case SampleType::I8: memoryType = H5T_NATIVE_INT8; bytes = 1; break;
        case SampleType::U16: memoryType = H5T_NATIVE_UINT16; bytes = 2; break;
        case SampleType::I16: memoryType = H5T_NATIVE_INT16; bytes = 2; break;
        case SampleType::U32: memoryType = H5T_NATIVE_UINT32; bytes = 4; break;
        case SampleType::I32: memoryType = H5T_NATIVE_INT32; bytes = 4; break;
        case SampleType::F16:
        case SampleType::F32: memoryType = H5T_NATIVE_FLOAT; bytes = 4; break;
        case SampleType::F64: break;
    }
    if (memoryType == H5T_NATIVE_DOUBLE)
        return H5Dread(dataset, memoryType, memory.get(), fileSpace, H5P_DEFAULT, out) >= 0;
    buffer.resize(count * bytes);
    if (H5Dread(dataset, memoryType, memory.get(), fileSpace, H5P_DEFAULT, buffer.data()) < 0)
        return false;
    // Half precision arrives as float: HDF5 converted it.
    return decodeSamples(type == SampleType::F16 ? SampleType::F32 : type, kNativeOrder, buffer,
                         {out, count});
}

// Reads frame `frame` of the signal into `image.samples`, top row first, a block at a time.
bool readFrame(hid_t file, const Signal& s, std::uint64_t frame, GreyImage& image) {
    Handle group(H5Gopen2(file, s.path.c_str(), H5P_DEFAULT), H5Gclose);
    if (!group) return false;
    Handle data(H5Dopen2(group.get(), s.layout == Layout::Velox ? "Data" : "data", H5P_DEFAULT),
                H5Dclose);
    Handle space(data ? H5Dget_space(data.get()) : -1, H5Sclose);
    if (!data || !space || !storageIsWhole(data.get()) || !chunksAreWhole(data.get(), frame))
        return false;
    const std::size_t width = static_cast<std::size_t>(s.width);
    const std::size_t height = static_cast<std::size_t>(s.height);
    image.samples.resize(width * height);
    std::vector<std::uint8_t> buffer;
    if (s.layout == Layout::Velox) {
        // (height, width, frames): blocks of whole rows go straight to their place.
        constexpr std::size_t kRows = 256;
        for (std::size_t y0 = 0; y0 < height; y0 += kRows) {
            const std::size_t rows = std::min(kRows, height - y0);
            const hsize_t start[3] = {y0, 0, frame}, count[3] = {rows, s.width, 1};
            if (H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start, nullptr, count,
                                    nullptr) < 0 ||
                !readSelection(data.get(), space.get(), count, s.type, rows * width,
                               image.samples.data() + y0 * width, buffer))
                return false;
        }
        return true;
    }
    // (width, height[, frames]): read blocks of columns and turn them into rows.
    constexpr std::size_t kColumns = 64;
    std::vector<double> block(kColumns * height);
    for (std::size_t x0 = 0; x0 < width; x0 += kColumns) {
        const std::size_t columns = std::min(kColumns, width - x0);
        const hsize_t start[3] = {x0, 0, frame}, count[3] = {columns, s.height, 1};
        if (H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) < 0 ||
            !readSelection(data.get(), space.get(), count, s.type, columns * height, block.data(),
                           buffer))
            return false;
        for (std::size_t c = 0; c < columns; ++c)
            for (std::size_t y = 0; y < height; ++y)
                image.samples[y * width + x0 + c] = block[c * height + y];
    }
    return true;
}

std::optional<GreyImage> readEmdHandle(hid_t file, const hdf5raw::ReadAt& read,
                                       const ImportChoice& choice, core::MessageSink& sink) {
    const RawFile raw{read, fileShape(file)};
    std::vector<Signal> signals;
    const bool velox = isVelox(file, raw);
    if (velox) {
        veloxSignals(file, signals);
    } else {
        Handle root(H5Gopen2(file, "/", H5P_DEFAULT), H5Gclose);
        BerkeleyWalk walk(signals, sink);
        if (!root || !walk.walk(root.get(), "/", 0)) {
            if (!root) refuse(sink, kCannotOpen);
            return std::nullopt;
        }
    }
    if (signals.empty()) return refuse(sink, kNoLayout);

    int chosen = -1;
    const int count = static_cast<int>(signals.size());
    if (choice.signal > 0) {
        if (choice.signal > count) return refuse(sink, kNoSignal, count, choice.signal);
        chosen = choice.signal - 1;
    } else {
        std::uint64_t best = 0;
        for (int i = 0; i < count; ++i) {
            const Signal& s = signals[static_cast<std::size_t>(i)];
            // Sides beyond any limit are compared capped; the size check refuses them later.
            const std::uint64_t area = std::min<std::uint64_t>(s.width, 1u << 31) *
                                       std::min<std::uint64_t>(s.height, 1u << 31);
            if (s.kind == Kind::Real && (chosen < 0 || area > best)) {
                chosen = i;
                best = area;
            }
        }
        if (chosen < 0) return refuse(sink, kNoRealSignal);
    }
    const Signal& s = signals[static_cast<std::size_t>(chosen)];
    if (s.kind == Kind::Complex) return refuse(sink, kComplex, chosen + 1, s.name.c_str());
    if (s.kind == Kind::Unsupported) {
        const std::string what = "EMD " + s.typeName;
        return refuse(sink, kUnsupportedType, what.c_str());
    }
    if (!checkImportSize(static_cast<std::int64_t>(std::min<std::uint64_t>(s.width, 1u << 31)),
                         static_cast<std::int64_t>(std::min<std::uint64_t>(s.height, 1u << 31)),
                         sink))
        return std::nullopt;
    const std::uint64_t frame = static_cast<std::uint64_t>(std::max(0, choice.image));
    if (frame >= s.frames)
        return refuse(sink, kNoFrame, chosen + 1, static_cast<unsigned long long>(s.frames),
                      static_cast<int>(frame) + 1);
    // The frame's samples are allocated only for data the file can hold.
    if (!holdsFrame(s))
        return refuse(sink, kLessData, chosen + 1, static_cast<unsigned long long>(s.width),
                      static_cast<unsigned long long>(s.height));

    GreyImage image;
    image.format = ImageFormat::Emd;
    image.type = s.type;
    image.width = static_cast<int>(s.width);
    image.height = static_cast<int>(s.height);
    image.imageCount = static_cast<int>(std::min<std::uint64_t>(s.frames, 1u << 30));
    if (!readFrame(file, s, frame, image)) return refuse(sink, kReadFailed, chosen + 1);

    // The calibration.
    Handle group(H5Gopen2(file, s.path.c_str(), H5P_DEFAULT), H5Gclose);
    // x and y as the file states them; a y axis without a value of its own is x's.
    std::string unit, unitY;
    double size = 0, sizeY = 0;
    bool stated = false;
    if (s.layout == Layout::Velox) {
        const VeloxMetadata meta = veloxMetadata(group.get(), frame);
        if (meta.sizeX) {
            size = *meta.sizeX;
            unit = meta.unitX;
            sizeY = meta.sizeY ? *meta.sizeY : size;
            unitY = meta.sizeY && !meta.unitY.empty() ? meta.unitY : unit;
            stated = true;
        }
    } else if (const auto axis = berkeleyAxis(group.get(), "dim1", raw)) {
        size = axis->first;
        unit = axis->second;
        const auto y = berkeleyAxis(group.get(), "dim2", raw);
        sizeY = y ? y->first : size;
        unitY = y ? y->second : unit;
        stated = true;
    }
    if (stated) {
        setPixelSizes(image, size, unit, sizeY, unitY);
        if (image.pixelSizeNm)
            image.notes.push_back(s.layout == Layout::Velox
                                      ? core::formatMessage(core::text(kNoteVeloxSize), unit.c_str())
                                      : core::formatMessage(core::text(kNoteBerkeleySize),
                                                            unit.c_str()));
        else if (!nanometresPerUnit(unit))
            image.notes.push_back(core::formatMessage(core::text(kNoteNotLength), unit.c_str()));
    }
    if (count > 1) {
        for (int i = 0; i < count; ++i) {
            const Signal& other = signals[static_cast<std::size_t>(i)];
            const std::string frames =
                other.frames > 1 ? core::formatMessage(core::text(kNoteFrames),
                                                       static_cast<unsigned long long>(other.frames))
                                 : "";
            const std::string what =
                other.kind == Kind::Complex ? std::string(core::text(kNoteComplex))
                                            : sampleDescription(other);
            image.notes.push_back(core::formatMessage(
                core::text(kNoteSignal), i + 1, other.name.c_str(),
                static_cast<unsigned long long>(other.width),
                static_cast<unsigned long long>(other.height), frames.c_str(), what.c_str(),
                i == chosen ? core::text(kNoteOpened) : ""));
        }
        image.notes.push_back(core::text(kNoteChoose));
    }
    if (!checkImported(image, sink)) return std::nullopt;
    return image;
}

std::optional<GreyImage> readEmdPath(const std::string& path, const ImportChoice& choice,
                                     core::MessageSink& sink) {
    const htri_t hdf5 = H5Fis_hdf5(path.c_str());
    if (hdf5 <= 0) return refuse(sink, hdf5 == 0 ? kNotHdf5 : kCannotOpen);
    Handle file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    std::ifstream in(path, std::ios::binary);
    if (!file || !in) return refuse(sink, kCannotOpen);
    const auto read = [&in](std::uint64_t offset, std::size_t size, std::uint8_t* out) {
        if (offset > std::uint64_t{1} << 62) return false;
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
        return in.gcount() == static_cast<std::streamsize>(size);
    };
    return readEmdHandle(file.get(), read, choice, sink);
}

std::optional<GreyImage> readEmdBytes(std::span<const std::uint8_t> bytes,
                                      core::MessageSink& sink, const ImportChoice& choice) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0)
        return refuse(sink, kNotHdf5);
    // HDF5's in-memory driver over a copy of the bytes, never written back.
    Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    if (!access || H5Pset_fapl_core(access.get(), 1 << 16, 0) < 0 ||
        H5Pset_file_image(access.get(), const_cast<std::uint8_t*>(bytes.data()), bytes.size()) < 0)
        return refuse(sink, kCannotOpen);
    Handle file(H5Fopen("in-memory.emd", H5F_ACC_RDONLY, access.get()), H5Fclose);
    if (!file) return refuse(sink, kCannotOpen);
    const auto read = [bytes](std::uint64_t offset, std::size_t size, std::uint8_t* out) {
        if (offset > bytes.size() || size > bytes.size() - offset) return false;
        std::memcpy(out, bytes.data() + offset, size);
        return true;
    };
    return readEmdHandle(file.get(), read, choice, sink);
}

}  // namespace

std::optional<GreyImage> readEmdFile(const std::string& path, const ImportChoice& choice,
                                     core::MessageSink& sink) {
    return quietly([&] { return readEmdPath(path, choice, sink); });
}

std::optional<GreyImage> readEmd(std::span<const std::uint8_t> bytes, core::MessageSink& sink,
                                 const ImportChoice& choice) {
    return quietly([&] { return readEmdBytes(bytes, sink, choice); });
}

}  // namespace image
