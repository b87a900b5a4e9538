// DM3 and DM4 files: a big-endian header (version, root length, byte order of the data), then a
// tree of tag groups and data tags. The tree is read into a small index of nodes (data tags keep
// their type description and offset, not their values); the images are the groups of
// "ImageList" not named in "Thumbnails", and the largest two- or three-dimensional one is
// read: a three-dimensional image (a movie, a tilt or focal series) is a stack of pictures of
// its first two dimensions, and only the one asked for is read. Its pixel size is the
// calibration of dimensions 0 (x) and 1 (y), unless its meta data call it a spectrum or a
// spectrum image.
//
// The tree is walked through a small window over the file, skipping the data it does not need,
// so a stack of several gigabytes costs no more than its tags and the one picture read.
//
// Every count, length and offset is checked against the bytes that remain before it is used,
// the nesting depth and the number of tags are limited, and the image's sample count must match
// its dimensions: a hostile tree can make the reader refuse, never allocate or read astray.
#include <algorithm>
#include <cmath>
#include <limits>

#include "image/file_io.h"
#include "image/import.h"
#include "image/import_detail.h"
#include "image/samples.h"

namespace image {

namespace {

using namespace detail;

constexpr int kMaxDepth = 64;                    // real files nest about ten deep
constexpr std::size_t kMaxNodes = 500000;        // real files hold a few thousand tags
constexpr std::uint64_t kMaxInfoWords = 4099;    // a struct of 2048 fields

constexpr core::Localized kTooDeep{
    "The DM tag tree is nested deeper than %d levels.",
    "DM のタグツリーの入れ子が %d 段を超えています。"};
constexpr core::Localized kTooMany{"The DM file holds more than %d tags.",
                                   "DM ファイルのタグが %d 個を超えています。"};
constexpr core::Localized kNoImage{"The DM file holds no two-dimensional image.",
                                   "DM ファイルに 2 次元の画像がありません。"};

enum TagType : std::uint64_t {
    kShort = 2, kLong = 3, kUShort = 4, kULong = 5, kFloat = 6, kDouble = 7, kBool = 8,
    kChar = 9, kOctet = 10, kInt64 = 11, kUInt64 = 12, kStruct = 15, kString = 18, kArray = 20
};

std::uint64_t simpleSize(std::uint64_t type) {
    switch (type) {
        case kShort: case kUShort: return 2;
        case kLong: case kULong: case kFloat: return 4;
        case kDouble: case kInt64: case kUInt64: return 8;
        case kBool: case kChar: case kOctet: return 1;
        default: return 0;
    }
}

struct Node {
    std::string name;  // at most 64 bytes kept
    bool group = false;
    int parent = -1;
    // Data tags.
    std::uint64_t type = 0;      // the first info word
    std::uint64_t element = 0;   // arrays: element type
    std::uint64_t count = 0;     // arrays: element count
    std::uint64_t offset = 0;    // where the data start
    std::uint64_t size = 0;      // data bytes
};

// Reads a file front to back through a window of 64 KiB, refilled as the position moves on;
// data the parser skips are never read.
class Window {
  public:
    explicit Window(RandomAccessSource& source) : source_(source), size_(source.size()) {}
    std::uint64_t size() const { return size_; }
    // The n bytes at `at` (n at most the window's size), or nullptr when they cannot be read.
    const std::uint8_t* at(std::uint64_t at, std::size_t n) {
        if (at > size_ || n > size_ - at || n > kSpan) return nullptr;
        if (at < start_ || at + n > start_ + filled_) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(kSpan, size_ - at));
            buffer_.resize(kSpan);
            if (!source_.readAt(at, buffer_.data(), want)) {
                filled_ = 0;
                return nullptr;
            }
            start_ = at;
            filled_ = want;
        }
        return buffer_.data() + (at - start_);
    }

  private:
    static constexpr std::size_t kSpan = 1 << 16;
    RandomAccessSource& source_;
    std::uint64_t size_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
};

class Parser {
  public:
    Parser(Window& file, core::MessageSink& sink) : f_(file), sink_(sink) {}

    bool parse() {
        if (f_.size() < 16) return fail(kTruncated);
        const std::uint8_t* head = f_.at(0, 4);
        if (!head) return fail(kTruncated);
        version_ = u32be(head);
        if (version_ != 3 && version_ != 4)
            return fail(kBadStructure, "DM", "the version is neither 3 nor 4");
        word_ = version_ == 4 ? 8 : 4;
        pos_ = 4 + word_;
        std::uint64_t order = 0;
        if (!read(4, order)) return false;
        little_ = order != 0;
        nodes_.push_back(Node{"", true, -1});
        return group(0, 0);
    }

    const std::vector<Node>& nodes() const { return nodes_; }
    bool little() const { return little_; }
    int version() const { return static_cast<int>(version_); }

  private:
    template <typename... Args>
    bool fail(const core::Localized& text, Args... args) {
        refuse(sink_, text, args...);
        return false;
    }
    bool need(std::uint64_t n) {
        if (n > f_.size() - pos_) return fail(kTruncated);
        return true;
    }
    // A big-endian unsigned field of `n` bytes (1, 2, 4 or 8).
    bool read(int n, std::uint64_t& out) {
        if (!need(static_cast<std::uint64_t>(n))) return false;
        const std::uint8_t* p = f_.at(pos_, static_cast<std::size_t>(n));
        if (!p) return fail(kTruncated);
        out = n == 1 ? p[0] : n == 2 ? u16be(p) : n == 4 ? u32be(p) : u64be(p);
        pos_ += static_cast<std::uint64_t>(n);
        return true;
    }
    bool group(int self, int depth) {
        if (depth > kMaxDepth) return fail(kTooDeep, kMaxDepth);
        std::uint64_t sorted, open, count;
        if (!read(1, sorted) || !read(1, open) || !read(word_, count)) return false;
        // Each tag takes at least three bytes, so the loop ends with the file.
        for (std::uint64_t i = 0; i < count; ++i)
            if (!tag(self, depth)) return false;
        return true;
    }
    bool tag(int parent, int depth) {
        std::uint64_t kind, nameLength, ignored;
        if (!read(1, kind) || !read(2, nameLength) || !need(nameLength)) return false;
        Node node;
        node.parent = parent;
        const std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(nameLength, 64));
        const std::uint8_t* name = f_.at(pos_, kept);
        if (!name) return fail(kTruncated);
        node.name.assign(reinterpret_cast<const char*>(name), kept);
        pos_ += nameLength;
        if (version_ == 4 && !read(8, ignored)) return false;  // the tag's length
        if (nodes_.size() >= kMaxNodes) return fail(kTooMany, static_cast<int>(kMaxNodes));
        if (kind == 20) {
            node.group = true;
            nodes_.push_back(std::move(node));
            return group(static_cast<int>(nodes_.size() - 1), depth + 1);
        }
        if (kind != 21) return fail(kBadStructure, "DM", "a tag is neither a group nor data");
        const std::uint8_t* mark = need(4) ? f_.at(pos_, 4) : nullptr;
        if (!mark || std::memcmp(mark, "%%%%", 4) != 0)
            return fail(kBadStructure, "DM", "a data tag lacks its %%%% mark");
        pos_ += 4;
        std::uint64_t words;
        if (!read(word_, words)) return false;
        if (words < 1 || words > kMaxInfoWords || words > (f_.size() - pos_) / word_)
            return fail(kBadStructure, "DM", "a data tag's description is not valid");
        std::vector<std::uint64_t> info(static_cast<std::size_t>(words));
        for (auto& w : info) read(word_, w);
        if (!dataSize(info, node)) return fail(kBadStructure, "DM", "a data tag's type is not valid");
        node.offset = pos_;
        if (!need(node.size)) return false;
        pos_ += node.size;
        nodes_.push_back(std::move(node));
        return true;
    }
    // The size of a struct's data from its description at info[at] (name length, field count,
    // then a name length and a type per field); `used` is set to the words it took.
    static bool structSize(const std::vector<std::uint64_t>& info, std::size_t at,
                           std::uint64_t& size, std::size_t& used) {
        if (at + 2 > info.size()) return false;
        const std::uint64_t fields = info[at + 1];
        if (fields > (info.size() - at - 2) / 2) return false;
        size = 0;
        for (std::uint64_t k = 0; k < fields; ++k) {
            const std::uint64_t s = simpleSize(info[at + 2 + 2 * k + 1]);
            if (s == 0) return false;
            size += s;
        }
        used = static_cast<std::size_t>(2 + 2 * fields);
        return true;
    }
    static bool times(std::uint64_t a, std::uint64_t b, std::uint64_t& out) {
        if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return false;
        out = a * b;
        return true;
    }
    static bool dataSize(const std::vector<std::uint64_t>& info, Node& node) {
        node.type = info[0];
        if (const std::uint64_t s = simpleSize(info[0])) {
            node.size = s;
            return info.size() == 1;
        }
        if (info[0] == kString) {
            if (info.size() != 2) return false;
            node.size = info[1];
            return true;
        }
        if (info[0] == kStruct) {
            std::size_t used;
            return structSize(info, 1, node.size, used) && used + 1 == info.size();
        }
        if (info[0] != kArray || info.size() < 3) return false;
        node.element = info[1];
        node.count = info.back();
        std::uint64_t element = simpleSize(info[1]);
        if (element != 0) {
            if (info.size() != 3) return false;
        } else if (info[1] == kStruct) {
            std::size_t used;
            if (!structSize(info, 2, element, used) || used + 3 != info.size()) return false;
        } else if (info[1] == kString) {
            if (info.size() != 4) return false;
            element = info[2];
        } else if (info[1] == kArray) {
            if (info.size() != 5 || !times(simpleSize(info[2]), info[3], element) || element == 0)
                return false;
        } else {
            return false;
        }
        return times(element, node.count, node.size);
    }

    Window& f_;
    core::MessageSink& sink_;
    std::uint64_t version_ = 0;
    int word_ = 4;
    bool little_ = true;
    std::uint64_t pos_ = 0;
    std::vector<Node> nodes_;
};

// The children of each node, in file order.
std::vector<std::vector<int>> childrenOf(const std::vector<Node>& nodes) {
    std::vector<std::vector<int>> children(nodes.size());
    for (std::size_t i = 1; i < nodes.size(); ++i)
        children[static_cast<std::size_t>(nodes[i].parent)].push_back(static_cast<int>(i));
    return children;
}

int child(const std::vector<Node>& nodes, const std::vector<std::vector<int>>& children, int of,
          const char* name) {
    if (of < 0) return -1;
    for (int c : children[static_cast<std::size_t>(of)])
        if (nodes[static_cast<std::size_t>(c)].name == name) return c;
    return -1;
}

struct Candidate {
    int data = -1;
    std::uint64_t dataType = 0;
    std::uint64_t width = 0, height = 0;
    std::uint64_t depth = 1;  // pictures in a stack
    int calibrationX = -1;  // the calibration groups of dimensions 0 and 1
    int calibrationY = -1;
    int tags = -1;  // the image's ImageTags group
};

// The parsed tree with the values of its tags read on demand.
class Tree {
  public:
    Tree(Window& file, const Parser& parser)
        : file_(file), nodes_(parser.nodes()), children_(childrenOf(nodes_)),
          little_(parser.little()) {}

    const Node& node(int i) const { return nodes_[static_cast<std::size_t>(i)]; }
    const std::vector<int>& children(int i) const { return children_[static_cast<std::size_t>(i)]; }
    int child(int of, const char* name) const { return image::child(nodes_, children_, of, name); }
    bool little() const { return little_; }

    // A simple value as a double (integers and floats), or nothing.
    std::optional<double> value(int node) const {
        if (node < 0) return std::nullopt;
        const Node& n = nodes_[static_cast<std::size_t>(node)];
        if (n.group || simpleSize(n.type) == 0) return std::nullopt;
        // Each case reads only its own width: a one-byte value may end the file.
        const std::uint8_t* p = file_.at(n.offset, static_cast<std::size_t>(simpleSize(n.type)));
        if (!p) return std::nullopt;
        const bool little = little_;
        switch (n.type) {
            case kShort: return static_cast<std::int16_t>(little ? u16le(p) : u16be(p));
            case kUShort: return little ? u16le(p) : u16be(p);
            case kLong: return static_cast<std::int32_t>(little ? u32le(p) : u32be(p));
            case kULong: return little ? u32le(p) : u32be(p);
            case kFloat: return f32of(little ? u32le(p) : u32be(p));
            case kDouble: return f64of(little ? u64le(p) : u64be(p));
            case kInt64: return static_cast<double>(static_cast<std::int64_t>(little ? u64le(p) : u64be(p)));
            case kUInt64: return static_cast<double>(little ? u64le(p) : u64be(p));
            default: return p[0];
        }
    }

    // A text tag (16-bit characters, or bytes) as UTF-8; "" when it is not text or is long.
    std::string text(int index) const {
        std::string text;
        if (index < 0) return text;
        const Node& u = nodes_[static_cast<std::size_t>(index)];
        const std::uint8_t* c =
            u.size <= 128 ? file_.at(u.offset, static_cast<std::size_t>(u.size)) : nullptr;
        if (!c) return text;
        if (u.type == kArray && u.element == kUShort && u.count <= 64) {
            for (std::uint64_t k = 0; k < u.count; ++k, c += 2) {
                const unsigned ch = little_ ? u16le(c) : u16be(c);
                if (ch < 0x80) {
                    text += static_cast<char>(ch);
                } else if (ch < 0x800) {
                    text += static_cast<char>(0xC0 | ch >> 6);
                    text += static_cast<char>(0x80 | (ch & 0x3F));
                } else {
                    text += static_cast<char>(0xE0 | ch >> 12);
                    text += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
                    text += static_cast<char>(0x80 | (ch & 0x3F));
                }
            }
        } else if ((u.type == kString || (u.type == kArray && simpleSize(u.element) == 1)) &&
                   u.size <= 64) {
            text.assign(reinterpret_cast<const char*>(c), static_cast<std::size_t>(u.size));
        }
        return text;
    }

  private:
    Window& file_;
    const std::vector<Node>& nodes_;
    std::vector<std::vector<int>> children_;
    bool little_;
};

// Positions in ImageList named as thumbnails, sorted so each entry is looked up in log time.
std::vector<double> thumbnailPositions(const Tree& tree) {
    std::vector<double> thumbnails;
    const int thumbs = tree.child(0, "Thumbnails");
    if (thumbs >= 0)
        for (int t : tree.children(thumbs))
            if (const auto index = tree.value(tree.child(t, "ImageIndex"));
                index && !std::isnan(*index))  // a NaN names no position
                thumbnails.push_back(*index);
    std::sort(thumbnails.begin(), thumbnails.end());
    return thumbnails;
}

// The dimensions of an image, trailing ones of a stack dropped; empty when one is not valid.
std::vector<std::uint64_t> dimensionsOf(const Tree& tree, int dims) {
    std::vector<std::uint64_t> sizes;
    for (int d : tree.children(dims)) {
        const auto v = tree.value(d);
        if (!v || !(*v >= 1) || *v > 1e9) return {};
        sizes.push_back(static_cast<std::uint64_t>(*v));
    }
    while (sizes.size() > 2 && sizes.back() == 1) sizes.pop_back();
    return sizes;
}

// The largest two- or three-dimensional image of ImageList that is not a thumbnail; a stack
// counts as one picture of its pictures' size.
Candidate largestImage(const Tree& tree) {
    Candidate best;
    const std::vector<double> thumbnails = thumbnailPositions(tree);
    const int list = tree.child(0, "ImageList");
    if (list < 0) return best;
    int position = -1;
    for (int entry : tree.children(list)) {
        ++position;
        if (std::binary_search(thumbnails.begin(), thumbnails.end(), static_cast<double>(position)))
            continue;
        const int imageData = tree.child(entry, "ImageData");
        const int data = tree.child(imageData, "Data");
        const int dims = tree.child(imageData, "Dimensions");
        const auto dataType = tree.value(tree.child(imageData, "DataType"));
        if (data < 0 || dims < 0 || !dataType || tree.node(data).type != kArray) continue;
        const std::vector<std::uint64_t> sizes = dimensionsOf(tree, dims);
        if (sizes.size() != 2 && sizes.size() != 3) continue;
        if (best.data >= 0 && sizes[0] * sizes[1] <= best.width * best.height) continue;
        // A negative or huge type code is no type: it is refused below as unsupported.
        const std::uint64_t code =
            *dataType >= 0 && *dataType < 1e6 ? static_cast<std::uint64_t>(*dataType) : 0;
        best = Candidate{data, code, sizes[0], sizes[1], sizes.size() == 3 ? sizes[2] : 1};
        best.tags = tree.child(entry, "ImageTags");
        const int dimension = tree.child(tree.child(imageData, "Calibrations"), "Dimension");
        if (dimension >= 0) {
            const auto& axes = tree.children(dimension);
            if (axes.size() >= 1) best.calibrationX = axes[0];
            if (axes.size() >= 2) best.calibrationY = axes[1];
        }
    }
    return best;
}

// The image data types of grey pictures: DM's type code, the sample type, and the element type
// its data array must have.
struct SampleCode {
    std::uint64_t code;
    SampleType type;
    std::uint64_t element;
};
constexpr SampleCode kSampleCodes[] = {
    {1, SampleType::I16, kShort},  {2, SampleType::F32, kFloat},   {6, SampleType::U8, kOctet},
    {7, SampleType::I32, kLong},   {9, SampleType::I8, kChar},     {10, SampleType::U16, kUShort},
    {11, SampleType::U32, kULong}, {12, SampleType::F64, kDouble}, {14, SampleType::U8, kBool},
};

// The grey type of `code`, or nothing after the refusal that names what the code is.
const SampleCode* sampleCodeOf(std::uint64_t code, core::MessageSink& sink) {
    for (const SampleCode& c : kSampleCodes)
        if (c.code == code) return &c;
    switch (code) {
        case 3: case 5: case 13: case 27: case 28:
            refuse(sink, kUnsupportedType, "DM complex");
            return nullptr;
        case 8: case 23:
            refuse(sink, kColourRefused, "DM RGB");
            return nullptr;
        default: {
            const std::string what = "DM data type " + std::to_string(code);
            refuse(sink, kUnsupportedType, what.c_str());
            return nullptr;
        }
    }
}

// Reads the picture's samples from `first` on, in runs of at most 4 MiB of its bytes.
bool readSamples(RandomAccessSource& source, std::uint64_t first, std::uint64_t size,
                 bool little, GreyImage& image) {
    std::vector<std::uint8_t> run;
    const std::size_t perRun = std::max<std::size_t>(1, (std::size_t{4} << 20) / size);
    for (std::size_t start = 0; start < image.samples.size(); start += perRun) {
        const std::size_t n = std::min(perRun, image.samples.size() - start);
        run.resize(n * size);
        if (!source.readAt(first + start * size, run.data(), run.size())) return false;
        if (!decodeSamples(image.type, little ? ByteOrder::Little : ByteOrder::Big, run,
                           std::span<double>(image.samples).subspan(start, n)))
            return false;
    }
    return true;
}

// The pixel size from the calibrations of dimensions 0 and 1. A spectrum or a spectrum image (a
// line scan: one axis is energy or wavelength) says so in its meta data; its axes are not both
// lengths of the image plane, whatever their units.
void setDmCalibration(const Tree& tree, const Candidate& best, GreyImage& image) {
    const int meta = tree.child(best.tags, "Meta Data");
    const std::string format = tree.text(tree.child(meta, "Format"));
    const std::string signal = tree.text(tree.child(meta, "Signal"));
    const bool spectral = format == "Spectrum" || format == "Spectrum image" || signal == "EELS" ||
                          signal == "EDS" || signal == "CL";
    if (spectral || best.calibrationX < 0 || best.calibrationY < 0) return;
    const auto xScale = tree.value(tree.child(best.calibrationX, "Scale"));
    const auto yScale = tree.value(tree.child(best.calibrationY, "Scale"));
    if (xScale && yScale)
        setPixelSizes(image, *xScale, tree.text(tree.child(best.calibrationX, "Units")), *yScale,
                      tree.text(tree.child(best.calibrationY, "Units")));
}

}  // namespace

std::optional<GreyImage> readDmImage(RandomAccessSource& source, int index,
                                     core::MessageSink& sink) {
    Window file(source);
    Parser parser(file, sink);
    if (!parser.parse()) return std::nullopt;
    const Tree tree(file, parser);
    const Candidate best = largestImage(tree);
    if (best.data < 0) return refuse(sink, kNoImage);

    const SampleCode* code = sampleCodeOf(best.dataType, sink);
    if (!code) return std::nullopt;
    if (!checkImportSize(static_cast<std::int64_t>(best.width), static_cast<std::int64_t>(best.height), sink))
        return std::nullopt;
    const Node& data = tree.node(best.data);
    // The data array's own element size decides how it is read; it must agree with the type.
    const std::uint64_t size = simpleSize(code->element);
    // Each dimension is at most 1e9 and the first two within the picture limits, so the
    // product cannot overflow.
    if (simpleSize(data.element) != size || data.count != best.width * best.height * best.depth)
        return refuse(sink, kBadStructure, "DM", "the image data do not match its dimensions");
    const int count = static_cast<int>(std::min<std::uint64_t>(best.depth, 1u << 30));
    if (index < 0 || static_cast<std::uint64_t>(index) >= best.depth)
        return refuse(sink, kImageBeyondCount, count, index + 1);
    const std::uint64_t pictureBytes = best.width * best.height * size;
    const std::uint64_t first = data.offset + static_cast<std::uint64_t>(index) * pictureBytes;
    // The parser saw the whole array inside the file; checked again where the picture is read.
    if (first > file.size() || pictureBytes > file.size() - first)
        return refuse(sink, kStackPastEnd, index + 1, count);

    GreyImage image;
    image.format = parser.version() == 4 ? ImageFormat::Dm4 : ImageFormat::Dm3;
    image.type = code->type;
    image.width = static_cast<int>(best.width);
    image.height = static_cast<int>(best.height);
    image.imageCount = count;
    image.imageIndex = index;
    image.samples.resize(static_cast<std::size_t>(best.width * best.height));
    if (!readSamples(source, first, size, tree.little(), image))
        return refuse(sink, kStackPastEnd, index + 1, count);
    setDmCalibration(tree, best, image);
    if (!checkImported(image, sink)) return std::nullopt;
    return image;
}

std::optional<GreyImage> readDm(std::span<const std::uint8_t> file, core::MessageSink& sink) {
    MemoryAccess access(file);
    return readDmImage(access, 0, sink);
}

}  // namespace image
