// kestral-cli's commands: the crystal slicing engine for batch work.
//
// Runs the same checks, orientation, slicing and super cell search (over the first page's
// drawing box) as the program, then the writers. Pages are drawn at a client size of 1024 x 768
// (or the one given with --client, to match a program window) on a 1024-pixel-wide screen. Messages
// go to stderr; a refusal gives exit status 1, a bad command line 2.
#include "cli/kestral_tool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "cli/cli_texts.h"
#include "cli/file_names.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/terminal.h"
#include "core/busy.h"
#include "core/disk.h"
#include "core/localized.h"
#include "core/message_sink.h"
#include "core/stderr_sink.h"
#include "crystal/engine/cell.h"
#include "crystal/engine/cell_exports.h"
#include "crystal/engine/cif_reader.h"
#include "crystal/engine/crystal_model.h"
#include "crystal/engine/orientation.h"
#include "crystal/engine/page.h"
#include "crystal/engine/slicing.h"
#include "crystal/engine/writers.h"

namespace kestralcli {

namespace {

constexpr int kClientWidth = 1024, kClientHeight = 768;
// Smallest client area whose four panels still have room (hx, hy > 5).
constexpr int kMinClientWidth = 300, kMinClientHeight = 110, kMaxClientSide = 8192;
// Height evaluations per atom row that slicing may take: the translation box grows with the
// square of the direction, and [100 1 0] would run for days. [10 7 3] needs about 3.4e7.
constexpr double kMaxEvaluationsPerAtom = 1e8;
// The release of the crystal program whose steps the tool repeats.
constexpr const char* kVersion = "1.30";

// the stderr sink.
class BatchSink final : public core::MessageSink {
  public:
    explicit BatchSink(cli::ToolSink& inner) : inner_(inner) {}
    int ask(std::string_view text, std::string_view caption, unsigned style) override {
        if (style & core::kYesNo) return core::kAnswerYes;
        return inner_.ask(text, caption, style);
    }

  private:
    cli::ToolSink& inner_;
};

// Shows which page is drawn, on a terminal and once the pages take longer than a second.
class ProgressPages final : public crystal::PageRenderer {
  public:
    explicit ProgressPages(crystal::RasterPages& inner) : inner_(inner) {}
    void runSlicing(crystal::CrystalState& state) override {
        progress_.show(core::formatMessage("drawing page %d of %d", state.nextPlane / 4 + 1,
                                           (state.slicing.layerCount + 3) / 4));
        inner_.runSlicing(state);
    }
    bool capture(image::CurrentImage& page) override { return inner_.capture(page); }

  private:
    crystal::RasterPages& inner_;
    cli::ProgressLine progress_;
};

// The files a slice writes; an empty name is an output not asked for.
struct Outputs {
    std::string reference, normal, convergent, pages, crystalOut, xyz, extxyz;
    std::vector<std::pair<const char*, std::string>> named() const {
        return {{"--reference", reference},   {"--normal", normal}, {"--convergent", convergent},
                {"--pages", pages},           {"--crystal-out", crystalOut},
                {"--xyz", xyz},               {"--extxyz", extxyz}};
    }
};

struct Options {
    std::string command, outDir;
    std::vector<std::string> crystals;
    std::string u, v, w;
    Outputs out;
    int clientWidth = kClientWidth, clientHeight = kClientHeight;
    bool haveClient = false, haveDirection = false, quiet = false;
    std::string referenceAtom;
    bool periodicCell = false;
    double maxStrainPercent = 1.0, sliceThickness = 0;
    int tile[3] = {1, 1, 1};
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
// Every option, with the commands that take it and its help (see cli/options.h).
std::vector<cli::Option> optionTable(Options& o) {
    const auto direction = [&o](const std::string&, const std::vector<std::string>& values) {
        for (const std::string& value : values) {
            // The same bound natively and in the Windows build, whose long has 32 bits; the
            // lowest value is left out as the engine negates directions.
            const auto number = cli::parseLongInteger(value);
            const std::size_t digits = value.find_first_not_of("+-") == 1 ? 1 : 0;
            const bool integerText =
                value.size() > digits &&
                value.find_first_not_of("0123456789", digits) == std::string::npos;
            if (!number && !integerText) return std::string("--uvw needs three integers");
            if (!number || *number > 2147483647LL || *number < -2147483647LL)
                return cli::fill(cli::texts::kDirectionRange, {value});
        }
        o.u = values[0];
        o.v = values[1];
        o.w = values[2];
        o.haveDirection = true;
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
        o.haveClient = true;
        return std::string();
    };
    const char* const tileRange = "--tile needs three whole numbers of 1..100";
    const auto tile = [&o, tileRange](const std::string&, const std::vector<std::string>& values) {
        for (int k = 0; k < 3; ++k) {
            const long n = cli::parseInteger(values[k]).value_or(0);
            if (n < 1 || n > 100) return std::string(tileRange);
            o.tile[k] = static_cast<int>(n);
        }
        return std::string();
    };
    return {
        {"--uvw", "slice layers", 3, "U V W",
         {"the direction along the beam, three integers", "ビームに沿った方向（3 つの整数）"},
         direction, "--uvw needs three integers"},
        {"--reference", "slice", 1, "OUT.txt",
         {"the reference listing: super cell, planes and atoms",
          "参照リスト: スーパーセル、面、原子"},
         cli::text(o.out.reference)},
        {"--normal", "slice", 1, "STEM.dat",
         {"the normal-beam slice files STEM1.dat, STEM2.dat, ...",
          "平行ビーム用のスライスファイル STEM1.dat, STEM2.dat, ..."},
         cli::text(o.out.normal)},
        {"--convergent", "slice", 1, "OUT.xyz",
         {"the convergent-beam atom list", "収束ビーム用の原子リスト"},
         cli::text(o.out.convergent)},
        {"--pages", "slice", 1, "OUT.bmp",
         {"the pages of sliced planes (OUT1.bmp, ... with five planes or more)",
          "スライス面のページ（面が 5 つ以上なら OUT1.bmp, ...）"},
         cli::text(o.out.pages)},
        {"--crystal-out", "slice", 1, "OUT.txt", {"the crystal data file", "結晶データファイル"},
         cli::text(o.out.crystalOut)},
        {"--xyz", "slice", 1, "OUT.xyz",
         {"the periodic cell: comment, X Y Z, rows Z x y z occupancy u_rms, -1 (as ASE reads "
          "with format='prismatic')",
          "周期セル: コメント、X Y Z、行 Z x y z 占有率 u_rms、-1（ASE の "
          "format='prismatic' で読めます）"},
         cli::text(o.out.xyz)},
        {"--extxyz", "slice", 1, "OUT.xyz",
         {"the periodic cell as extended XYZ (Lattice, pbc)",
          "周期セルを拡張 XYZ（Lattice, pbc 付き）で"},
         cli::text(o.out.extxyz)},
        {"--tile", "slice", 3, "NX NY NZ",
         {"the cell repeated in both atom lists (1..100 each)",
          "両方の原子リストでセルを繰り返す（それぞれ 1..100）"},
         tile, tileRange},
        {"--client", "slice", 2, "WIDTH HEIGHT",
         {"the window size the pages are drawn for (300..8192 by 110..8192, default 1024 768); "
          "needs --pages",
          "ページを描くウィンドウの大きさ（300..8192 x 110..8192、既定 1024 768）。--pages "
          "と一緒に指定します"},
         client, clientRange},
        {"--periodic-cell", "slice layers", 0, "",
         {"in-plane axes of the smallest cell that repeats the crystal exactly",
          "結晶を厳密に繰り返す最小のセルの面内軸を使う"},
         cli::flag(o.periodicCell)},
        {"--max-strain", "slice layers", 1, "PCT",
         {"how far from periodic, in percent, such a cell may be when none is exact (0..10, "
          "default 1)",
          "厳密なセルがないときに許すひずみ（%、0..10、既定 1）"},
         cli::numberIn(0, 10, o.maxStrainPercent)},
        {"--slice-thickness", "slice layers", 1, "DZ",
         {"equal slabs of about DZ Angstrom instead of atomic planes (0.1..100)",
          "原子面の代わりに約 DZ Å の等しい厚さのスラブ（0.1..100）"},
         cli::numberIn(0.1, 100, o.sliceThickness)},
        {"--reference-atom", "slice layers convert", 1, "LABEL",
         {"the CIF site put at the origin (default: the first site of the heaviest element)",
          "原点に置く CIF のサイト（既定: 最も重い元素の最初のサイト）"},
         cli::text(o.referenceAtom)},
        {"--out-dir", "slice", 1, "DIR",
         {"several crystals at once: each output goes to DIR, its name led by the crystal's "
          "(--convergent beam.xyz for si.txt gives DIR/si-beam.xyz)",
          "複数の結晶をまとめて処理: 各出力を DIR に、結晶ファイルの名前を先頭に付けて書く"
          "（si.txt の --convergent beam.xyz は DIR/si-beam.xyz）"},
         cli::text(o.outDir)},
        {"--quiet", "*", 0, "",
         {"no success messages, and of the CIF import's notes only the warnings",
          "成功のメッセージを出さない。CIF の読み込みの注記は警告だけを出す"},
         cli::flag(o.quiet)},
    };
}

// With --out-dir each output goes into the folder, its name led by the crystal file's own name:
// --convergent beam.xyz for si.txt gives DIR/si-beam.xyz.
Outputs outputsInFolder(const Options& o, const std::string& crystalFile) {
    const std::string stem = cli::utf8Of(cli::fsPath(crystalFile).stem());
    const auto place = [&](const std::string& name) {
        if (name.empty()) return name;
        return cli::utf8Of(cli::fsPath(o.outDir) /
                           cli::fsPath(stem + "-" + cli::utf8Of(cli::fsPath(name).filename())));
    };
    Outputs out;
    out.reference = place(o.out.reference);
    out.normal = place(o.out.normal);
    out.convergent = place(o.out.convergent);
    out.pages = place(o.out.pages);
    out.crystalOut = place(o.out.crystalOut);
    out.xyz = place(o.out.xyz);
    out.extxyz = place(o.out.extxyz);
    return out;
}

// Reads the arguments after the command through the table; returns "" or the usage error.
std::string parseArguments(const std::string& command, const std::vector<std::string>& args,
                           Options& o) {
    o.command = command;
    const std::vector<cli::Option> table = optionTable(o);
    const auto stray = [&](const std::string& a, const std::vector<std::string>&) {
        return cli::notAnOption(table, command, a);
    };
    return cli::parseOptions(table, command, args, o.crystals, stray);
}

std::string convertNeeds(const Options& o) {
    if (o.crystals.size() != 2)
        return o.crystals.size() < 2 ? "convert needs a CIF and the crystal data file to write"
                                     : "unexpected argument '" + o.crystals[2] + "'";
    if (cli::samePath(o.crystals[0], o.crystals[1]))
        return "convert would overwrite its CIF '" + o.crystals[0] + "'";
    return "";
}

// Every output of the call, the numbered slice files and pages included; in batch work those of
// all crystals.
std::vector<cli::OutputName> outputNames(const Options& o) {
    std::vector<cli::OutputName> names;
    for (std::size_t k = 0; k < o.crystals.size(); ++k) {
        if (o.outDir.empty() && k > 0) break;
        const Outputs out = o.outDir.empty() ? o.out : outputsInFolder(o, o.crystals[k]);
        for (const auto& [option, path] : out.named()) {
            if (path.empty()) continue;
            const std::string flag = option;
            // The slice files are numbered; the pages are too from five planes on.
            names.push_back({flag, path, flag != "--normal",
                             flag == "--normal" || flag == "--pages",
                             o.outDir.empty() ? -1 : static_cast<int>(k)});
        }
    }
    return names;
}

std::string slicingNeeds(const Options& o) {
    for (const std::string& crystalFile : o.crystals)
        if (!o.referenceAtom.empty() && !crystal::hasCifSuffix(crystalFile))
            return "--reference-atom picks a site of a CIF; '" + crystalFile + "' is none";
    if (o.outDir.empty() && o.crystals.size() > 1)
        return "unexpected argument '" + o.crystals[1] + "'";
    if (o.crystals.empty() || !o.haveDirection)
        return "a crystal data file and --uvw U V W are required";
    if (slicingEvaluations(o.u, o.v, o.w) > kMaxEvaluationsPerAtom)
        return "--uvw " + o.u + " " + o.v + " " + o.w +
               " is too long a direction to slice (keep u*u + v*v + w*w in lowest terms below "
               "about 230)";
    // Options that would write or change nothing, and outputs that would overwrite each other
    // or a crystal file being read.
    bool anyOutput = false;
    for (const auto& [name, path] : o.out.named()) anyOutput |= !path.empty();
    if (o.command == "slice" && !anyOutput) return core::text(cli::texts::kSliceNeedsOutput);
    if (o.haveClient && o.out.pages.empty()) return core::text(cli::texts::kClientNeedsPages);
    const std::vector<cli::OutputName> names = outputNames(o);
    if (const auto clash = cli::findClash(o.crystals, names))
        return cli::clashMessage(o.crystals, names, *clash);
    return "";
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

const core::Localized kPeriodicReport{
    "periodic cell: X=%.7f Y=%.7f repeat=%.7f (Ang.), edges [%g %g %g] and [%g %g %g], %.4g unit "
    "cells, %lu atoms, strain %.3g %%\n",
    "周期セル: X=%.7f Y=%.7f 繰り返し=%.7f (Å)、辺 [%g %g %g] と [%g %g %g]、単位格子 %.4g 個分、"
    "原子 %lu 個、ひずみ %.3g %%\n"};

void printPeriodicCell(const crystal::CrystalState& cs, std::size_t atoms) {
    const crystal::SlicingState& st = cs.slicing;
    const crystal::Lattice& l = st.lattice;
    const double cellVolume = l.a * l.b * l.c * l.volumeTerm;
    std::printf(core::text(kPeriodicReport), st.superCellX, st.superCellY, st.repeatDistance,
                st.periodicT1[0] + 0.0, st.periodicT1[1] + 0.0, st.periodicT1[2] + 0.0,
                st.periodicT2[0] + 0.0, st.periodicT2[1] + 0.0, st.periodicT2[2] + 0.0,
                st.superCellX * st.superCellY * st.repeatDistance / cellVolume,
                static_cast<unsigned long>(atoms),
                st.periodicStrain * 100);
}

// Reads a crystal data file, or a CIF by its suffix; what the import assumed goes to stderr.
// --quiet leaves out the information lines and keeps the warnings.
bool loadCrystal(const std::string& path, const std::string& referenceAtom,
                 crystal::CrystalModel& model, std::vector<crystal::SiteExtras>& extras,
                 core::MessageSink& sink, bool quiet) {
    if (!crystal::hasCifSuffix(path)) return crystal::loadCrystalFile(path, model, sink, false);
    crystal::CifImport import;
    if (!crystal::readCifFile(path, referenceAtom, import, sink)) return false;
    for (std::size_t i = 0; i < import.notes.size(); ++i) {
        const bool warning = i < import.noteIsWarning.size() && import.noteIsWarning[i];
        if (warning || !quiet) std::fprintf(stderr, "kestral-cli: %s\n", import.notes[i].c_str());
    }
    crystal::applyCifImport(import, model);
    extras = import.extras;
    return true;
}

int convertOne(const Options& o) {
    cli::ToolSink stderrSink("kestral-cli", o.quiet);
    crystal::CrystalModel model = crystal::presetCrystal();
    std::vector<crystal::SiteExtras> extras;
    if (!loadCrystal(o.crystals[0], o.referenceAtom, model, extras, stderrSink, o.quiet)) {
        cli::explainInput("kestral-cli", o.crystals[0]);
        return 1;
    }
    if (!crystal::saveCrystalFile(o.crystals[1], model, stderrSink)) {
        cli::explainOutput("kestral-cli", o.crystals[1]);
        return 1;
    }
    return 0;
}

// Loads and slices one crystal and writes its outputs; 0 when everything was written.
int sliceOne(const Options& o, const std::string& crystalFile, const Outputs& out) {
    cli::ToolSink stderrSink("kestral-cli", o.quiet);
    BatchSink sink(stderrSink);
    core::NoBusyIndicator busy;
    cli::DelayedBusy waitBox;  // "Please wait a moment." on a terminal when slicing is slow
    const crystal::Seams seams{sink, busy, waitBox};

    crystal::CrystalState state;
    std::vector<crystal::SiteExtras> extras;
    if (!loadCrystal(crystalFile, o.referenceAtom, state.model, extras, sink, o.quiet)) {
        cli::explainInput("kestral-cli", crystalFile);
        return 1;
    }
    state.options.periodicCell = o.periodicCell;
    state.options.maxStrain = o.maxStrainPercent / 100.0;
    state.options.sliceThickness = o.sliceThickness;
    state.model.u = o.u;
    state.model.v = o.v;
    state.model.w = o.w;
    state.nextPlane = 0;
    state.revisiting = false;
    state.slicing.superCellX = state.slicing.superCellY = 0;

    crystal::RasterPages pages(o.clientWidth, o.clientHeight, kestralcli::kPageLayout, seams);
    if (!crystal::runSlicing(state, pages.canvas, pages.layout, seams)) return 1;

    const bool cellWanted = !out.xyz.empty() || !out.extxyz.empty();
    const bool haveCell = state.slicing.superCellX > 0 && state.slicing.superCellY > 0;
    crystal::CellContent cell;
    if ((state.slicing.periodicCell || cellWanted) && haveCell)
        cell = crystal::periodicCellContent(state.model, extras, state.slicing);
    if (state.slicing.periodicCell) printPeriodicCell(state, cell.atoms.size());

    if (o.command == "layers") {
        printLayers(state);
        return stderrSink.refusals() > 0 ? 1 : 0;
    }

    bool ok = stderrSink.refusals() == 0;
    // Each output that failed is named after the engine's own message.
    const auto wrote = [&ok](bool written, const std::string& path) {
        if (!written) cli::explainOutput("kestral-cli", path);
        ok = written && ok;
    };
    if (!out.reference.empty())
        wrote(crystal::writeReferenceData(state, out.reference, seams), out.reference);
    if (!out.normal.empty())
        wrote(crystal::writeNormalBeamFiles(state, out.normal, seams), out.normal);
    if (!out.convergent.empty())
        wrote(crystal::writeConvergentBeamFile(state, out.convergent, seams), out.convergent);
    if (!out.pages.empty()) {
        ProgressPages progress(pages);
        wrote(crystal::savePlaneBitmaps(state, progress, out.pages, core::systemDisk(), sink),
              out.pages);
    }
    if (!out.crystalOut.empty())
        wrote(crystal::saveCrystalFile(out.crystalOut, state.model, sink), out.crystalOut);
    if (cellWanted && !haveCell) {
        sink.ask(core::text(crystal::kNoCellForExport), "Error", core::kIconError);
        ok = false;
    } else if (cellWanted) {
        const crystal::CellContent tiled =
            crystal::tiled(cell, o.tile[0], o.tile[1], o.tile[2]);
        const std::string comment =
            crystal::cellComment(state.model, {o.tile[0], o.tile[1], o.tile[2]});
        using crystal::CellFormat;
        if (!out.xyz.empty())
            wrote(crystal::writeCellFile(out.xyz, tiled, CellFormat::Prismatic, comment, sink),
                  out.xyz);
        if (!out.extxyz.empty())
            wrote(crystal::writeCellFile(out.extxyz, tiled, CellFormat::ExtendedXyz, comment, sink),
                  out.extxyz);
    }
    return ok ? 0 : 1;
}

// Several crystals into the output folder, with one summary line each.
int sliceAll(const Options& o) {
    std::error_code error;
    std::filesystem::create_directories(cli::fsPath(o.outDir), error);
    if (!std::filesystem::is_directory(cli::fsPath(o.outDir), error)) {
        std::fprintf(stderr, "kestral-cli: %s\n",
                     cli::fill(cli::texts::kCannotMakeFolder, {o.outDir}).c_str());
        return 1;
    }
    std::vector<std::string> summary;
    int written = 0;
    for (const std::string& crystalFile : o.crystals) {
        const Outputs out = outputsInFolder(o, crystalFile);
        const bool ok = sliceOne(o, crystalFile, out) == 0;
        written += ok ? 1 : 0;
        std::string names;
        for (const auto& [name, path] : out.named())
            if (!path.empty()) names += (names.empty() ? "" : ", ") + path;
        summary.push_back(ok ? cli::fill(cli::texts::kSummaryWritten, {crystalFile, names})
                             : cli::fill(cli::texts::kSummaryRefused, {crystalFile}));
    }
    for (const std::string& line : summary) std::printf("%s\n", line.c_str());
    std::printf("%s\n", cli::fill(cli::texts::kSummaryTotal,
                                  {std::to_string(written), std::to_string(o.crystals.size())})
                            .c_str());
    return written == static_cast<int>(o.crystals.size()) ? 0 : 1;
}

int runConvert(const std::string& command, const std::vector<std::string>& args) {
    Options o;
    std::string error = parseArguments(command, args, o);
    if (error.empty()) error = convertNeeds(o);
    if (!error.empty()) return cli::usageError(tool(), error);
    return convertOne(o);
}

// slice and layers: one crystal, or with --out-dir several.
int runSlicing(const std::string& command, const std::vector<std::string>& args) {
    Options o;
    std::string error = parseArguments(command, args, o);
    if (error.empty()) error = slicingNeeds(o);
    if (!error.empty()) return cli::usageError(tool(), error);
    if (o.outDir.empty()) return sliceOne(o, o.crystals[0], o.out);
    return sliceAll(o);
}

// The commands; the crystal data file is their one file name.
std::vector<cli::Command> commands() {
    return {
        {"slice",
         1,
         {{"CRYSTAL.txt --uvw U V W OUTPUTS... [options]\n--uvw U V W OUTPUTS... [options] "
           "--out-dir DIR CRYSTAL.txt...",
           "結晶.txt --uvw U V W 出力... [オプション]\n--uvw U V W 出力... [オプション] "
           "--out-dir フォルダー 結晶.txt..."},
          {"slice the crystal along [U V W] and write the chosen files",
           "結晶を [U V W] 方向にスライスし、指定したファイルを書き出す"},
          {"Slices the crystal along [U V W] and writes the outputs given (at least one of "
           "--reference, --normal, --convergent, --pages, --crystal-out, --xyz, --extxyz). "
           "CRYSTAL may be a CIF (*.cif).",
           "結晶を [U V W] 方向にスライスし、指定した出力（--reference, --normal, "
           "--convergent, --pages, --crystal-out, --xyz, --extxyz の 1 つ以上）を書き出します。"
           "結晶には CIF (*.cif) も使えます。"},
          "kestral-cli slice srtio3.txt --uvw 1 1 0 --reference ref.txt --normal slab.dat "
          "--pages page.bmp"},
         runSlicing},
        {"layers",
         1,
         {{"CRYSTAL.txt --uvw U V W [options]", "結晶.txt --uvw U V W [オプション]"},
          {"print the repeat distance, the plane heights, the spacing and the super cell",
           "繰り返し距離、各面の高さ、間隔、スーパーセルを表示する"},
          {"Prints the repeat distance, the layer spacing, the plane heights and the super cell.",
           "繰り返し距離、層の間隔、各面の高さとスーパーセルを表示します。"},
          "kestral-cli layers srtio3.txt --uvw 1 1 0"},
         runSlicing},
        {"convert",
         2,
         {{"IN.cif OUT.txt [options]", "入力.cif 出力.txt [オプション]"},
          {"read a CIF and write it as a crystal data file",
           "CIF を読み、結晶データファイルとして書き出す"},
          {"Reads a CIF (expanded with its symmetry, the reference atom at the origin) and writes "
           "it as a crystal data file. What the import assumed or changed is printed on stderr.",
           "CIF を読み（対称性で展開し、基準原子を原点に置きます）、結晶データファイルとして"
           "書き出します。読み込みで仮定・変更した内容は標準エラーに表示します。"},
          "kestral-cli convert graphite.cif graphite.txt"},
         runConvert},
    };
}

std::vector<cli::OptionInfo> listedOptions() {
    Options scratch;
    return cli::describe(optionTable(scratch));
}

}  // namespace

const cli::Tool& tool() {
    static const cli::Tool kTool{
        "kestral-cli",
        kVersion,
        commands(),
        listedOptions,
        {"CRYSTAL may be a crystal data file or a CIF (*.cif): the CIF's sites are expanded with "
         "its symmetry and the reference atom (--reference-atom, default the first site of the "
         "heaviest element) is put at the origin. What the import assumed or changed goes to "
         "standard error; --quiet keeps only its warnings (origin choice, no symmetry, reversed "
         "axes, shared positions, unknown occupancy, a count that disagrees with the formula).",
         "結晶には結晶データファイルか CIF (*.cif) を使えます: CIF のサイトは対称性で展開し、"
         "基準原子（--reference-atom、既定は最も重い元素の最初のサイト）を原点に置きます。"
         "読み込みで仮定・変更した内容は標準エラーに出ます。--quiet では警告（原点の選択、"
         "対称性なし、軸の反転、位置の重なり、不明な占有率、組成式と合わない原子数）だけを"
         "残します。"},
        {"Pages are drawn at a client size of 1024 x 768 (or the one given with --client) on a "
         "1024-pixel-wide screen. Messages go to standard error; the exit status is 0 on "
         "success, 1 when a file was refused, 2 for a usage error.\n",
         "ページはクライアント領域 1024 x 768（または --client の大きさ）、幅 1024 画素の"
         "画面として描きます。メッセージは標準エラーに出ます。終了コードは成功で 0、ファイル"
         "が拒否されたとき 1、使い方の誤りで 2 です。\n"},
        true,
    };
    return kTool;
}

}  // namespace kestralcli
