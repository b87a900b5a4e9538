// Times a whole slicing job: a 100-atom cell along [3 2 1], the layer table, the first page,
// the three output files and every page bitmap, written to a temporary folder.
//
// The cell is cubic (a = 10 A). Ten silicon atoms at k t (k = 0..9, t = (0.7, 0.8, 0.3), modulo
// the cell) and nine oxygen atoms above each at j/20 of c: the whole crystal repeats with t, whose
// image (-0.3, -0.2, 1.3) lies on the in-plane Y axis of [3 2 1], so the super cell search (which
// accepts only translations of the whole crystal) finds a rectangle inside its box.
//
//   crystal_bench [--compare-scan] [--periodic-cell]
//     --compare-scan   also times the plane-by-plane scan the one-pass plane lists replace
//     --periodic-cell  chooses the in-plane axes as the smallest periodic cell
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "crystal/engine/page.h"
#include "crystal/engine/slicing.h"
#include "crystal/engine/writers.h"
#include "core/busy.h"
#include "core/disk.h"
#include "core/stderr_sink.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string fraction(int numerator, int denominator) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7f", double(numerator % denominator) / denominator);
    return text;
}

crystal::CrystalModel benchCell() {
    crystal::CrystalModel m;
    m.a = m.b = m.c = "10";
    m.alpha = m.beta = m.gamma = "90";
    m.u = "3";
    m.v = "2";
    m.w = "1";
    int row = 0;
    const auto add = [&](const char* symbol, const char* z, int k, int twentieths, int colour) {
        m.atoms[row++] = crystal::AtomSite{symbol,
                                           z,
                                           fraction(7 * k, 10),
                                           fraction(8 * k, 10),
                                           fraction(6 * k + twentieths, 20),
                                           colour,
                                           crystal::kAtomColours[colour].value};
    };
    for (int k = 0; k < 10; ++k) add("Si", "14", k, 0, 3);
    for (int j = 1; j <= 9; ++j)
        for (int k = 0; k < 10; ++k) add("O", "8", k, j, 6);
    m.atomCount = row;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    bool compareScan = false, periodicCell = false;
    for (int i = 1; i < argc; ++i) {
        compareScan = compareScan || std::strcmp(argv[i], "--compare-scan") == 0;
        periodicCell = periodicCell || std::strcmp(argv[i], "--periodic-cell") == 0;
    }
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "crystal_bench_out";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);

    core::StderrSink stderrSink("crystal_bench");
    struct YesSink final : core::MessageSink {
        core::StderrSink& inner;
        explicit YesSink(core::StderrSink& s) : inner(s) {}
        int ask(std::string_view text, std::string_view caption, unsigned style) override {
            if (style & core::kYesNo) return core::kAnswerYes;
            if (caption == "Success") return core::kAnswerOk;
            return inner.ask(text, caption, style);
        }
    } sink(stderrSink);
    core::NoBusyIndicator busy, waitBox;
    const crystal::Seams seams{sink, busy, waitBox};

    crystal::CrystalState state;
    state.model = benchCell();
    state.options.periodicCell = periodicCell;
    crystal::RasterPages pages(1024, 768, {1024, 21}, seams);

    const auto start = Clock::now();
    if (!crystal::runSlicing(state, pages.canvas, pages.layout, seams)) return 1;
    const double sliced = secondsSince(start);
    const auto out = [&](const char* name) { return (dir / name).string(); };
    bool ok = crystal::writeReferenceData(state, out("ref.txt"), seams);
    ok = crystal::writeNormalBeamFiles(state, out("slab.dat"), seams) && ok;
    ok = crystal::writeConvergentBeamFile(state, out("beam.xyz"), seams) && ok;
    const double written = secondsSince(start);
    ok = crystal::savePlaneBitmaps(state, pages, out("page.bmp"), core::systemDisk(), sink) && ok;
    const double total = secondsSince(start);

    const crystal::SlicingState& st = state.slicing;
    std::printf("cell: %d atoms along [3 2 1], %d planes, super cell %.4f x %.4f A\n",
                state.model.atomCount, st.layerCount, st.superCellX, st.superCellY);
    std::printf("slicing and first page: %.3f s\n", sliced);
    std::printf("three output files:     %.3f s\n", written - sliced);
    std::printf("%d page bitmaps:        %.3f s\n", (st.layerCount + 3) / 4, total - written);
    std::printf("total:                  %.3f s\n", total);

    if (compareScan) {
        const auto scanStart = Clock::now();
        const auto scan = crystal::collectPlaneImagesByScan(st);
        const double scanTime = secondsSince(scanStart);
        const auto fastStart = Clock::now();
        const auto fast = crystal::collectPlaneImages(st);
        const double fastTime = secondsSince(fastStart);
        const bool same = crystal::referenceDataText(state.model, st, scan) ==
                              crystal::referenceDataText(state.model, st, fast) &&
                          crystal::normalBeamTexts(state.model, st, scan) ==
                              crystal::normalBeamTexts(state.model, st, fast) &&
                          crystal::convergentBeamText(state.model, st, scan) ==
                              crystal::convergentBeamText(state.model, st, fast);
        std::printf("plane lists: one pass %.3f s, plane by plane %.3f s, same bytes: %s\n",
                    fastTime, scanTime, same ? "yes" : "NO");
        ok = ok && same;
    }
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
