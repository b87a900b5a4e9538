// The Python module's calls into the engines. Each call owns its whole state (sink, busy scope,
// picture, spectrum buffers), so calls on different threads share nothing but the engines'
// locked plan cache; every call drops the interpreter lock while the engines work.
//
// Failures: an engine's refusal reaches Python as tem_suite.Error with a stable code (what
// failed: "input", "transform", "output", ...) and the suite's own message text in the chosen
// language, the text the command-line tools print.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/localized.h"
#include "core/message_sink.h"

namespace pysuite {

namespace py = pybind11;

// A refusal, turned into tem_suite.Error at the module's edge.
struct EngineError {
    std::string code;
    std::string message;
};

// Collects the engines' warnings and errors of one call; information (a file saved) is dropped,
// and a question is answered as the command-line tools answer it.
class RecordingSink final : public core::MessageSink {
  public:
    int ask(std::string_view text, std::string_view caption, unsigned style) override;
    bool empty() const { return messages_.empty(); }
    // The recorded texts, one a line.
    std::string joined() const;
    // Throws EngineError with `code` and the recorded texts, or `fallback` when none were.
    [[noreturn]] void fail(const std::string& code, const std::string& fallback = {}) const;

  private:
    std::vector<std::string> messages_;
};

// What a failure says when the engine reported nothing itself, in the chosen language.
inline constexpr core::Localized kCannotOpen{"cannot open '%s'", "'%s' を開けません"};
inline constexpr core::Localized kCannotWrite{"cannot write '%s'", "'%s' に書き込めません"};
inline constexpr core::Localized kNoPixels{"the picture holds no pixels", "画像に画素がありません"};
inline constexpr core::Localized kCannotSlice{"the crystal cannot be sliced along this direction",
                                              "この方向には結晶をスライスできません"};
// The text with the file's name in it.
inline std::string named(const core::Localized& text, const std::string& path) {
    return core::formatMessage(core::text(text), path.c_str());
}

void bindImageCalls(py::module_& m);
void bindCrystalCalls(py::module_& m);

}  // namespace pysuite
