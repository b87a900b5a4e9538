// kestral-cli: the crystal slicing engine for batch work.
//
// Runs the same checks, orientation, slicing and super cell search (over the first page's
// drawing box) as the program, then the writers. Pages are drawn at a client size of 1024 x 768
// (or the one given with --client, to match a program window) on a 1024-pixel-wide screen. Messages
// go to stderr; a refusal gives exit status 1, a bad command line 2.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "core/busy.h"
#include "core/disk.h"
#include "core/localized.h"
#include "core/message_sink.h"
#include "core/stderr_sink.h"
#include "crystal/engine/crystal_model.h"
#include "crystal/engine/orientation.h"
#include "crystal/engine/page.h"
#include "crystal/engine/slicing.h"
#include "crystal/engine/writers.h"

namespace {

constexpr int kClientWidth = 1024, kClientHeight = 768, kScreenWidth = 1024;
// Smallest client area whose four panels still have room (hx, hy > 5).
constexpr int kMinClientWidth = 300, kMinClientHeight = 110, kMaxClientSide = 8192;
// Height evaluations per atom row that slicing may take: the translation box grows with the
// square of the direction, and [100 1 0] would run for days. [10 7 3] needs about 3.4e7.
constexpr double kMaxEvaluationsPerAtom = 1e8;

const char* const kUsage =
    "usage:\n"
    "  kestral-cli slice CRYSTAL.txt --uvw U V W [--reference OUT.txt] [--normal STEM.dat]\n"
    "              [--convergent OUT.xyz] [--pages OUT.bmp] [--crystal-out OUT.txt]\n"
    "              [--client WIDTH HEIGHT]\n"
    "  kestral-cli layers CRYSTAL.txt --uvw U V W\n"
    "  kestral-cli --help\n"
    "\n"
    "slice   slices the crystal along [U V W] and writes the chosen files: the reference\n"
    "        listing, the normal-beam slice files (STEM1.dat, STEM2.dat, ...), the\n"
    "        convergent-beam atom list, the page bitmaps (OUT.bmp, or OUT1.bmp, OUT2.bmp, ...\n"
    "        with five planes or more) and the crystal data file.\n"
    "        --client sets the client area the pages are drawn for (default 1024 768).\n"
    "layers  prints the repeat distance, the plane heights, the spacing and the super cell.\n";

// Answers the "save all pages" question with Yes without printing it; everything else goes to
// the stderr sink.
class BatchSink final : public core::MessageSink {
  public:
    explicit BatchSink(core::StderrSink& inner) : inner_(inner) {}
    int ask(std::string_view text, std::string_view caption, unsigned style) override {
        if (style & core::kYesNo) return core::kAnswerYes;
        return inner_.ask(text, caption, style);
    }

  private:
    core::StderrSink& inner_;
};

// Shows which page is drawn, on a terminal only.
class ProgressPages final : public crystal::PageRenderer {
  public:
    ProgressPages(crystal::RasterPages& inner, bool show) : inner_(inner), show_(show) {}
    void runSlicing(crystal::CrystalState& state) override {
        if (show_) {
            std::printf("\rdrawing page %d of %d", state.nextPlane / 4 + 1,
                        (state.slicing.layerCount + 3) / 4);
            std::fflush(stdout);
        }
        inner_.runSlicing(state);
    }
    bool capture(image::CurrentImage& page) override { return inner_.capture(page); }
    ~ProgressPages() override {
        if (show_) std::printf("\n");
    }

  private:
    crystal::RasterPages& inner_;
    bool show_;
};

struct Options {
    std::string command, crystalPath;
    std::string u, v, w;
    std::string reference, normal, convergent, pages, crystalOut;
    int clientWidth = kClientWidth, clientHeight = kClientHeight;
};

// Evaluations per atom row of the slicing translation box for a direction, in lowest terms as
// the computation takes it.
double slicingEvaluations(const std::string& us, const std::string& vs, const std::string& ws) {
    long u = crystal::integerOf(us), v = crystal::integerOf(vs), w = crystal::integerOf(ws);
    const long g = crystal::gcd(crystal::gcd(std::labs(u), std::labs(v)), std::labs(w));
    if (g > 1) {
        u /= g;
        v /= g;
        w /= g;
    }
    const double m = double(u) * u + double(v) * v + double(w) * w;
    return (2 * m + std::labs(u) + 1) * (2 * m + std::labs(v) + 1) * (2 * m + std::labs(w) + 1);
}

// The commands; the crystal data file is their one file name.
const std::vector<cli::Command> kCommands = {{"slice", 1}, {"layers", 1}};

// Every option, with the commands that take it (see cli/cli_common.h).
std::vector<cli::Option> optionTable(Options& o, bool& haveDirection) {
    const auto direction = [&o, &haveDirection](const std::string&,
                                                const std::vector<std::string>& values) {
        for (const std::string& value : values)
            if (!cli::parseInteger(value)) return std::string("--uvw needs three integers");
        o.u = values[0];
        o.v = values[1];
        o.w = values[2];
        haveDirection = true;
        return std::string();
    };
    const char* const clientRange = "--client needs a width of 300..8192 and a height of 110..8192";
    const auto client = [&o, clientRange](const std::string&,
                                          const std::vector<std::string>& values) {
        const long w = cli::parseInteger(values[0]).value_or(0);
        const long h = cli::parseInteger(values[1]).value_or(0);
        if (w < kMinClientWidth || h < kMinClientHeight || w > kMaxClientSide || h > kMaxClientSide)
            return std::string(clientRange);
        o.clientWidth = static_cast<int>(w);
        o.clientHeight = static_cast<int>(h);
        return std::string();
    };
    return {
        {"--uvw", "slice layers", 3, "U V W", direction, "--uvw needs three integers"},
        {"--client", "slice", 2, "WIDTH HEIGHT", client, clientRange},
        {"--reference", "slice", 1, "OUT.txt", cli::text(o.reference)},
        {"--normal", "slice", 1, "STEM.dat", cli::text(o.normal)},
        {"--convergent", "slice", 1, "OUT.xyz", cli::text(o.convergent)},
        {"--pages", "slice", 1, "OUT.bmp", cli::text(o.pages)},
        {"--crystal-out", "slice", 1, "OUT.txt", cli::text(o.crystalOut)},
    };
}

std::optional<Options> parse(const std::vector<std::string>& args, std::string& error) {
    Options o;
    if (args.empty()) {
        error = "no command";
        return std::nullopt;
    }
    o.command = args[0];
    if (!cli::findCommand(kCommands, o.command)) {
        error = "unknown command '" + o.command + "'";
        return std::nullopt;
    }
    bool haveDirection = false;
    const auto stray = [](const std::string& a, const std::vector<std::string>& files) {
        if (a.rfind("--", 0) == 0 || !files.empty()) return "unexpected argument '" + a + "'";
        return std::string();
    };
    std::vector<std::string> files;
    error = cli::parseOptions(optionTable(o, haveDirection), o.command,
                              {args.begin() + 1, args.end()}, files, stray);
    if (!error.empty()) return std::nullopt;
    if (files.empty() || !haveDirection) {
        error = "a crystal data file and --uvw U V W are required";
        return std::nullopt;
    }
    o.crystalPath = files[0];
    if (slicingEvaluations(o.u, o.v, o.w) > kMaxEvaluationsPerAtom) {
        error = "--uvw " + o.u + " " + o.v + " " + o.w +
                " is too long a direction to slice (keep u*u + v*v + w*w in lowest terms below "
                "about 230)";
        return std::nullopt;
    }
    return o;
}

void printLayers(const crystal::CrystalState& cs) {
    const crystal::SlicingState& st = cs.slicing;
    std::printf("direction: [%s %s %s]%s\n", cs.model.u.c_str(), cs.model.v.c_str(),
                cs.model.w.c_str(), st.lattice.reversed ? " (reversed)" : "");
    std::printf("repeat distance: %.7f\n", st.repeatDistance);
    std::printf("layer spacing: %.7f\n", st.layerSpacing);
    std::printf("planes: %d\n", st.layerCount);
    for (int n = 0; n < st.layerCount; ++n)
        std::printf("plane %d: height %.7f atoms %zu\n", n, crystal::planeHeight(st, n),
                    n < static_cast<int>(st.planeImages.size()) ? st.planeImages[n].size() : 0u);
    std::printf("super cell: X=%.7f Y=%.7f\n", st.superCellX, st.superCellY);
}

}  // namespace

int main(int argc, char** argv) {
    core::setJapaneseTexts(core::environmentAsksJapanese());
    const std::vector<std::string> args = cli::argumentsOf(argc, argv);
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    std::string error;
    const std::optional<Options> options = parse(args, error);
    if (!options) {
        std::fprintf(stderr, "kestral-cli: %s\n%s", error.c_str(), kUsage);
        return 2;
    }

    core::StderrSink stderrSink("kestral-cli");
    BatchSink sink(stderrSink);
    core::NoBusyIndicator busy, waitBox;
    const crystal::Seams seams{sink, busy, waitBox};

    crystal::CrystalState state;
    if (!crystal::loadCrystalFile(options->crystalPath, state.model, sink, false)) return 1;
    state.model.u = options->u;
    state.model.v = options->v;
    state.model.w = options->w;
    state.nextPlane = 0;
    state.revisiting = false;
    state.slicing.superCellX = state.slicing.superCellY = 0;

    crystal::RasterPages pages(options->clientWidth, options->clientHeight, kScreenWidth, seams);
    if (!crystal::runSlicing(state, pages.canvas, kScreenWidth, seams)) return 1;

    if (options->command == "layers") {
        printLayers(state);
        return stderrSink.refusals() > 0 ? 1 : 0;
    }

    bool ok = stderrSink.refusals() == 0;
    if (!options->reference.empty())
        ok = crystal::writeReferenceData(state, options->reference, seams) && ok;
    if (!options->normal.empty())
        ok = crystal::writeNormalBeamFiles(state, options->normal, seams) && ok;
    if (!options->convergent.empty())
        ok = crystal::writeConvergentBeamFile(state, options->convergent, seams) && ok;
    if (!options->pages.empty()) {
        ProgressPages progress(pages, cli::stdoutIsTerminal());
        ok = crystal::savePlaneBitmaps(state, progress, options->pages, core::systemDisk(), sink) &&
             ok;
    }
    if (!options->crystalOut.empty())
        ok = crystal::saveCrystalFile(options->crystalOut, state.model, sink) && ok;
    return ok ? 0 : 1;
}
