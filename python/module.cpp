// tem_suite._engines: the suite's engines for Python. The package tem_suite wraps these calls
// with keyword options named after the command-line tools' and with their documentation.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <thread>

#include "cli/kestral_tool.h"
#include "cli/voralin00_tool.h"
#include "core/localized.h"
#include "python/calls.h"
#include "spectrum/engine/parallel.h"

namespace pysuite {

int RecordingSink::ask(std::string_view text, std::string_view caption, unsigned style) {
    const unsigned icon = style & 0xF0;
    if (icon == core::kIconInformation) return core::kAnswerOk;
    if ((style & 0xF) == core::kYesNo) return core::kAnswerNo;  // never replace without asking
    std::string line(text);
    // The programs' message boxes break long texts over lines; one line reads better here.
    std::replace(line.begin(), line.end(), '\n', ' ');
    (void)caption;
    messages_.push_back(line);
    return core::kAnswerOk;
}

std::string RecordingSink::joined() const {
    std::string out;
    for (const std::string& m : messages_) {
        if (!out.empty()) out += '\n';
        out += m;
    }
    return out;
}

void RecordingSink::fail(const std::string& code, const std::string& fallback) const {
    throw EngineError{code, messages_.empty() ? fallback : joined()};
}

}  // namespace pysuite

PYBIND11_MODULE(_engines, m) {
    namespace py = pybind11;
    m.doc() = "The suite's engines; use the package tem_suite, which documents every call.";
    core::setJapaneseTexts(core::environmentAsksJapanese());

    static py::exception<pysuite::EngineError> error(m, "Error");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const pysuite::EngineError& e) {
            py::object instance = py::handle(error.ptr())(e.message);
            instance.attr("code") = e.code;
            instance.attr("message") = e.message;
            PyErr_SetObject(error.ptr(), instance.ptr());
        } catch (const std::bad_alloc&) {
            py::object instance = py::handle(error.ptr())(
                core::text({"Not enough memory.", "メモリが足りません。"}));
            instance.attr("code") = "memory";
            instance.attr("message") = instance.attr("args")[py::int_(0)];
            PyErr_SetObject(error.ptr(), instance.ptr());
        }
    });

    m.def("set_threads", &spectrum::detail::setThreadLimit, py::arg("count"),
          "Threads the engines use per call (0: as many as the command-line tools use).");
    m.def("threads", &spectrum::detail::threadLimit);
    m.def("set_japanese", &core::setJapaneseTexts, py::arg("japanese"));
    m.def("japanese", &core::japaneseTexts);

    m.def(
        "tool_options",
        [](const std::string& program) {
            const cli::Tool& tool =
                program == "kestral-cli" ? kestralcli::tool() : voralin00cli::tool();
            py::dict out;
            for (const cli::Command& command : tool.commands) {
                py::list names;
                for (const cli::OptionInfo& option : cli::optionsOf(tool, command.name))
                    names.append(option.name);
                out[py::str(command.name)] = names;
            }
            return out;
        },
        py::arg("program"),
        "The option table of voralin00-cli or kestral-cli: each command's option names.");

    pysuite::bindImageCalls(m);
    pysuite::bindCrystalCalls(m);
}
