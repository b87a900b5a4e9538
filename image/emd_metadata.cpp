// The JSON texts of Velox EMD files, read by a small parser of our own: objects, arrays,
// strings (with their escapes), numbers and literals, nested at most 64 deep and at most 200000
// values, so a hostile text can only be refused. Only the few fields the import needs are kept.
#include <cctype>
#include <charconv>
#include <cmath>
#include <memory>
#include <vector>

#include "image/emd.h"

namespace image {

namespace {

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    std::string text;  // a string's value or a number's spelling
    // An object's keys and values side by side: a vector of an incomplete type is allowed, a
    // pair of one is not.
    std::vector<std::string> keys;
    std::vector<Json> values;
    std::vector<Json> items;

    const Json* member(std::string_view name) const {
        if (kind != Object) return nullptr;
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == name) return &values[i];
        return nullptr;
    }
};

class Parser {
  public:
    explicit Parser(std::string_view text) : s_(text) {}

    bool parse(Json& out) {
        if (!value(out, 0)) return false;
        space();
        return at_ == s_.size();
    }

  private:
    static constexpr int kMaxDepth = 64;
    static constexpr std::size_t kMaxValues = 200000;

    void space() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' ||
                                   s_[at_] == '\r'))
            ++at_;
    }
    bool literal(std::string_view word) {
        if (s_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    bool value(Json& out, int depth) {
        if (depth > kMaxDepth || ++values_ > kMaxValues) return false;
        space();
        if (at_ >= s_.size()) return false;
        const char c = s_[at_];
        if (c == '{') return object(out, depth);
        if (c == '[') return array(out, depth);
        if (c == '"') {
            out.kind = Json::String;
            return string(out.text);
        }
        if (literal("true") || literal("false")) {
            out.kind = Json::Bool;
            return true;
        }
        if (literal("null")) return true;
        return number(out);
    }
    bool object(Json& out, int depth) {
        out.kind = Json::Object;
        ++at_;
        space();
        if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
        for (;;) {
            space();
            std::string key;
            if (at_ >= s_.size() || s_[at_] != '"' || !string(key)) return false;
            space();
            if (at_ >= s_.size() || s_[at_++] != ':') return false;
            out.keys.push_back(std::move(key));
            out.values.emplace_back();
            if (!value(out.values.back(), depth + 1)) return false;
            space();
            if (at_ >= s_.size()) return false;
            const char next = s_[at_++];
            if (next == '}') return true;
            if (next != ',') return false;
        }
    }
    bool array(Json& out, int depth) {
        out.kind = Json::Array;
        ++at_;
        space();
        if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
        for (;;) {
            out.items.emplace_back();
            if (!value(out.items.back(), depth + 1)) return false;
            space();
            if (at_ >= s_.size()) return false;
            const char next = s_[at_++];
            if (next == ']') return true;
            if (next != ',') return false;
        }
    }
    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    bool string(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < s_.size()) {
            const char c = s_[at_++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= s_.size()) return false;
            const char e = s_[at_++];
            switch (e) {
                case '"': case '\\': case '/': out += e; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned code = 0;
                    if (s_.size() - at_ < 4) return false;
                    const auto [end, error] =
                        std::from_chars(s_.data() + at_, s_.data() + at_ + 4, code, 16);
                    if (error != std::errc() || end != s_.data() + at_ + 4) return false;
                    at_ += 4;
                    appendUtf8(out, code);  // a surrogate half stays as it is: no unit uses one
                    break;
                }
                default: return false;
            }
        }
        return false;
    }
    bool number(Json& out) {
        const std::size_t begin = at_;
        while (at_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[at_])) ||
                                   s_[at_] == '-' || s_[at_] == '+' || s_[at_] == '.' ||
                                   s_[at_] == 'e' || s_[at_] == 'E'))
            ++at_;
        if (at_ == begin) return false;
        out.kind = Json::Number;
        out.text.assign(s_.substr(begin, at_ - begin));
        return true;
    }

    std::string_view s_;
    std::size_t at_ = 0;
    std::size_t values_ = 0;
};

// The text's JSON without the zero padding after it.
std::optional<Json> parseJson(std::string_view text) {
    const std::size_t end = text.find('\0');
    if (end != std::string_view::npos) text = text.substr(0, end);
    Json root;
    Parser parser(text);
    if (!parser.parse(root)) return std::nullopt;
    return root;
}

// A number written as a JSON number or as a string ("1.2e-10"), finite.
std::optional<double> numberOf(const Json* value) {
    if (!value || (value->kind != Json::Number && value->kind != Json::String)) return std::nullopt;
    const std::string& t = value->text;
    double v = 0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (error != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::string printableString(const Json* value) {
    std::string out;
    if (!value || value->kind != Json::String) return out;
    for (char c : value->text) {
        if (out.size() >= 64) break;
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
    }
    // A UTF-8 character cut short at the end goes.
    std::size_t end = out.size(), continuation = 0;
    while (end > 0 && continuation < 3 && (static_cast<unsigned char>(out[end - 1]) & 0xC0) == 0x80) {
        --end;
        ++continuation;
    }
    if (end > 0) {
        const unsigned char lead = static_cast<unsigned char>(out[end - 1]);
        const std::size_t needs = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (lead >= 0xC0 && needs != continuation) out.resize(end - 1);
    }
    return out;
}

}  // namespace

VeloxMetadata parseVeloxMetadata(std::string_view text) {
    VeloxMetadata out;
    const auto root = parseJson(text);
    if (!root || root->kind != Json::Object) return out;
    out.parsed = true;
    const Json* result = root->member("BinaryResult");
    if (!result) return out;
    out.detector = printableString(result->member("Detector"));
    if (const Json* size = result->member("PixelSize")) {
        out.sizeX = numberOf(size->member("width"));
        out.sizeY = numberOf(size->member("height"));
    }
    out.unitX = printableString(result->member("PixelUnitX"));
    out.unitY = printableString(result->member("PixelUnitY"));
    return out;
}

bool isVeloxVersion(std::string_view text) {
    const auto root = parseJson(text);
    if (!root) return false;
    const Json* format = root->member("format");
    return format && format->kind == Json::String &&
           (format->text == "Velox" || format->text == "DevelopersKit");
}

std::string berkeleyUnit(std::string_view units) {
    std::string out;
    for (char c : units)
        if (c != '[' && c != ']' && c != '_' && c != ' ' && c != '\0') out += c;
    return out;
}

}  // namespace image
