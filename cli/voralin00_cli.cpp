// voralin00-cli: the image spectrum engine without a window, for batch work and scripting.
//
// Every input is validated and normalised exactly as the program's Open does; the pictures
// written are what the program's Save BMP writes after the same steps.
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "core/busy.h"
#include "core/disk.h"
#include "core/localized.h"
#include "core/message_sink.h"
#include "core/stderr_sink.h"
#include "image/bmp_file.h"
#include "image/file_io.h"
#include "image/normalise.h"
#include "spectrum/engine/contrast.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/inverse.h"
#include "spectrum/engine/save.h"

namespace {

constexpr const char* kProgram = "voralin00-cli";

constexpr const char* kUsage =
    "Usage:\n"
    "  voralin00-cli info FILE\n"
    "  voralin00-cli normalise IN.bmp OUT.bmp\n"
    "  voralin00-cli spectrum IN.bmp OUT.bmp [--quantity root|real|imag] [--log] [--clip C]\n"
    "                [--lower-clip D] [--invert] [--rainbow] [--no-expand]\n"
    "  voralin00-cli filter IN.bmp OUT.bmp [--filter none|low|high|band-pass|band-cut]\n"
    "                [--wa X] [--wb X] [--special PROFILE.ini] [--circles-outside \"x,y,r;...\"]\n"
    "                [--circles-inside \"x,y,r;...\"] [--dark D --bright B] [--no-expand]\n"
    "  voralin00-cli linewave IN.bmp OUT.txt --angle DEG [--no-expand]\n"
    "  voralin00-cli adjust IN.bmp OUT.bmp --contrast K --brightness K\n"
    "\n"
    "Opens an 8-bit grey BMP (uncompressed or RLE8, at least 64 x 64) as the image program does,\n"
    "and writes what its Save BMP or Save File would write after the same steps.\n"
    "  info       describe the file and check that it can be opened\n"
    "  normalise  write the opened (normalised) image\n"
    "  spectrum   write the spectrum picture: --quantity root power (default), real or imaginary\n"
    "             part; --log scale; --clip C: upper clipping at average x C (1..10000, default\n"
    "             10, linear scale); --lower-clip D: lower clipping at average x 0.9 / D\n"
    "             (1..10000); --invert; --rainbow colours; --no-expand: frame without margins\n"
    "  filter     filter the spectrum and write the inverse transform: a standard filter with\n"
    "             fractions --wa/--wb of half the image diagonal (0..1, defaults 0.5 and 0.8), a\n"
    "             special radial profile from the [Special Filter] section of an INI file, or\n"
    "             mask circles in picture pixels (x from the left, y from the top, radius).\n"
    "             The original brightness range is kept unless --dark (0..100) and --bright\n"
    "             (155..255) are given\n"
    "  linewave   write the spectrum values along the line through the centre at --angle\n"
    "             (whole degrees -90..90) as the FFT data text file\n"
    "  adjust     change contrast and brightness in steps (-10..10 each)\n"
    "Messages go to standard error; the exit status is 0 on success, 1 when the input or an\n"
    "output was refused, 2 for a usage error.\n";

int usageError(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n(run '%s --help' for usage)\n", kProgram, what.c_str(), kProgram);
    return 2;
}

// Shows "Please wait a moment." on a terminal while a long step runs.
class TerminalBusy final : public core::BusyIndicator {
  public:
    void beginBusy() override {
        if (cli::stdoutIsTerminal()) {
            std::fputs("Please wait a moment.", stdout);
            std::fflush(stdout);
        }
    }
    void endBusy() override {
        if (cli::stdoutIsTerminal()) {
            std::fputs(" done\n", stdout);
            std::fflush(stdout);
        }
    }
};

struct Options {
    std::vector<std::string> positional;
    spectrum::SpectrumSettings settings;
    bool haveAngle = false, haveContrast = false, haveBrightness = false;
    int contrast = 0, brightness = 0, angle = 0;
    bool haveDark = false, haveBright = false;
    std::string specialPath;
    int filterChoices = 0;
};

bool parseCircles(const std::string& text, std::vector<spectrum::MaskCircle>& out) {
    std::stringstream all(text);
    std::string item;
    while (std::getline(all, item, ';')) {
        if (item.find_first_not_of(" \t") == std::string::npos) continue;
        long values[3];
        std::stringstream fields(item);
        std::string field;
        int count = 0;
        while (std::getline(fields, field, ',')) {
            const auto value =
                cli::parseInteger(field.substr(field.find_first_not_of(" \t") == std::string::npos
                                                   ? 0
                                                   : field.find_first_not_of(" \t")));
            if (!value || count == 3 || *value < 0 || *value > 100000) return false;
            values[count++] = *value;
        }
        if (count != 3 || values[2] < 1) return false;
        out.push_back({static_cast<int>(values[0]), static_cast<int>(values[1]),
                       static_cast<int>(values[2])});
    }
    return !out.empty() && out.size() <= spectrum::kMaxMaskCircles;
}

// The commands and the file names each takes.
const std::vector<cli::Command> kCommands = {
    {"info", 1}, {"normalise", 2}, {"spectrum", 2}, {"filter", 2}, {"linewave", 2}, {"adjust", 2},
};

// Every option, with the commands that take it (see cli/cli_common.h).
std::vector<cli::Option> optionTable(Options& o) {
    auto& s = o.settings;
    const char* const circlesHelp =
        " needs \"x,y,r;...\" with 1 to 100 circles of whole, non-negative numbers";
    auto circles = [&o, circlesHelp](int kind) -> cli::Apply {
        return [&o, circlesHelp, kind](const std::string& name,
                                       const std::vector<std::string>& values) {
            if (!parseCircles(values[0], o.settings.filter.circles)) return name + circlesHelp;
            o.settings.filter.kind = kind;
            ++o.filterChoices;
            return std::string();
        };
    };
    return {
        {"--quantity", "spectrum", 1, "root|real|imag",
         cli::oneOf({"root", "real", "imag"}, s.display.displayQuantity)},
        {"--log", "spectrum", 0, "", cli::flag(s.display.logScale)},
        {"--clip", "spectrum", 1, "C", cli::numberIn(1, 10000, s.display.upperClipFactor)},
        {"--lower-clip", "spectrum", 1, "D",
         cli::also(cli::numberIn(1, 10000, s.display.lowerClipDivisor),
                   [&s] { s.display.lowerClipping = true; })},
        {"--invert", "spectrum", 0, "", cli::flag(s.display.invertedDisplay)},
        {"--rainbow", "spectrum", 0, "", cli::flag(s.display.rainbowPalette)},
        {"--no-expand", "spectrum filter linewave", 0, "",
         [&s](const std::string&, const std::vector<std::string>&) {
             s.useExpandedImage = false;
             return std::string();
         }},
        {"--filter", "filter", 1, "none|low|high|band-pass|band-cut",
         cli::also(
             cli::oneOf({"none", "low", "high", "band-pass", "band-cut"}, s.filter.standardType),
             [&o] {
                 o.settings.filter.kind = spectrum::kStandardFilter;
                 ++o.filterChoices;
             })},
        {"--wa", "filter", 1, "X", cli::numberIn(0, 1, s.filter.wa)},
        {"--wb", "filter", 1, "X", cli::numberIn(0, 1, s.filter.wb)},
        {"--special", "filter", 1, "PROFILE.ini",
         cli::also(cli::text(o.specialPath),
                   [&o] {
                       o.settings.filter.kind = spectrum::kSpecialFilter;
                       ++o.filterChoices;
                   }),
         "--special needs a file"},
        {"--circles-outside", "filter", 1, "\"x,y,r;...\"", circles(spectrum::kCirclesCutOutside),
         "--circles-outside needs \"x,y,r;...\" with 1 to 100 circles of whole, non-negative "
         "numbers"},
        {"--circles-inside", "filter", 1, "\"x,y,r;...\"", circles(spectrum::kCirclesCutInside),
         "--circles-inside needs \"x,y,r;...\" with 1 to 100 circles of whole, non-negative "
         "numbers"},
        {"--dark", "filter", 1, "D",
         cli::also(cli::wholeIn(0, 100, s.brightness.darkLevel), [&o] { o.haveDark = true; })},
        {"--bright", "filter", 1, "B",
         cli::also(cli::wholeIn(155, 255, s.brightness.brightLevel),
                   [&o] { o.haveBright = true; })},
        {"--angle", "linewave", 1, "DEG",
         cli::also(cli::wholeIn(-90, 90, o.angle),
                   [&o] {
                       o.settings.lineWave.angle = o.angle;
                       o.haveAngle = true;
                   })},
        {"--contrast", "adjust", 1, "K",
         cli::also(cli::wholeIn(-10, 10, o.contrast), [&o] { o.haveContrast = true; })},
        {"--brightness", "adjust", 1, "K",
         cli::also(cli::wholeIn(-10, 10, o.brightness), [&o] { o.haveBrightness = true; })},
    };
}

// Parses the options after the subcommand; returns an error text or "".
std::string parseOptions(const std::string& command, const std::vector<std::string>& args,
                         Options& o) {
    const auto stray = [&command](const std::string& a, const std::vector<std::string>&) {
        if (a.size() > 2 && a.compare(0, 2, "--") == 0)
            return "option " + a + " does not apply to " + command;
        if (a.size() > 1 && a[0] == '-' && a != "-") return "unknown option " + a;
        return std::string();
    };
    const std::string error = cli::parseOptions(optionTable(o), command, args, o.positional, stray);
    if (!error.empty()) return error;
    if (o.filterChoices > 1)
        return "choose one of --filter, --special, --circles-outside, --circles-inside";
    if (o.haveDark || o.haveBright) o.settings.brightness.keepImageBrightness = false;
    return "";
}

// The program's state for one run: the current picture, its geometry and the spectrum.
struct Session {
    core::StderrSink sink{kProgram};
    TerminalBusy busy;
    image::CurrentImage image;
    image::ImageGeometry geometry;
    spectrum::SpectrumBuffers buffers;
};

bool openInput(Session& s, const std::string& path) {
    const image::OpenOutcome outcome = image::openImageFile(
        path, s.image, s.sink, s.busy, core::systemDisk(), 1 << 20, 1 << 20, [] {});
    if (outcome.result != image::OpenResult::Opened) return false;
    s.geometry = outcome.geometry;
    return true;
}

// Through stdio: a stream iterator throws on a read error (such as a folder given as the file).
bool readText(const std::string& path, std::string& out) {
    image::FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) out.append(buffer, got);
    return std::ferror(file.get()) == 0;
}

int run(const std::string& command, Options& o) {
    const std::size_t wantPositional = cli::findCommand(kCommands, command)->files;
    if (o.positional.size() != wantPositional)
        return usageError(command + " takes " + std::to_string(wantPositional) + " file name" +
                          (wantPositional > 1 ? "s" : ""));
    if (command == "linewave" && !o.haveAngle) return usageError("linewave needs --angle DEG");
    if (command == "adjust" && !(o.haveContrast || o.haveBrightness))
        return usageError("adjust needs --contrast K and/or --brightness K");
    if (!o.specialPath.empty()) {
        std::string ini;
        if (!readText(o.specialPath, ini)) {
            std::fprintf(stderr, "%s: cannot read the profile file '%s'\n", kProgram,
                         o.specialPath.c_str());
            return 1;
        }
        o.settings.filter.specialProfile = spectrum::specialProfileFromIni(ini);
    }

    Session s;
    const std::string& input = o.positional[0];
    if (command == "info") {
        const auto description = image::describeBitmapFile(input);
        if (description) std::printf("%s\n", description->c_str());
        if (!openInput(s, input)) return 1;
        std::printf("Opens as %ld x %ld, rows of %ld bytes, normalised file of %lu bytes\n",
                    static_cast<long>(s.geometry.width), static_cast<long>(s.geometry.height),
                    static_cast<long>(s.geometry.paddedWidth),
                    static_cast<unsigned long>(s.geometry.fileSize));
        return 0;
    }
    if (!openInput(s, input)) return 1;
    const std::string& output = o.positional[1];

    if (command == "normalise") {
        // nothing between Open and Save BMP
    } else if (command == "adjust") {
        spectrum::adjustContrastBrightness(s.image, s.geometry, o.contrast, o.brightness);
    } else {
        if (!spectrum::forwardTransform(s.image, s.geometry, o.settings, s.buffers, s.sink,
                                        s.busy)) {
            if (s.sink.refusals() == 0)
                std::fprintf(stderr,
                             "%s: the spectrum is flat (a uniform image) and cannot be shown\n",
                             kProgram);
            return 1;
        }
        if (command == "linewave") {
            return spectrum::saveFftDataTo(output, s.buffers, s.geometry, o.settings.lineWave.angle,
                                           s.sink, core::systemDisk(), false)
                       ? 0
                       : 1;
        }
        if (command == "filter" &&
            !spectrum::inverseTransform(s.image, s.geometry, o.settings, s.buffers, s.sink, s.busy))
            return 1;
    }
    return spectrum::saveBitmapTo(output, s.image, s.geometry, s.sink, core::systemDisk(), false)
               ? 0
               : 1;
}

}  // namespace

int main(int argc, char** argv) {
    core::setJapaneseTexts(core::environmentAsksJapanese());
    const std::vector<std::string> args = cli::argumentsOf(argc, argv);
    if (args.empty()) return usageError("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const std::string command = args[0];
    if (!cli::findCommand(kCommands, command))
        return usageError("unknown command '" + command + "'");
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    Options options;
    const std::string error = parseOptions(command, {args.begin() + 1, args.end()}, options);
    if (!error.empty()) return usageError(error);
    return run(command, options);
}
