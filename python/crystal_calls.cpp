// The crystal commands of kestral-cli as calls: read a crystal (data file or CIF), slice it along
// [u v w] with the tool's options, and write each of the tool's outputs from the result, byte
// for byte as the tool writes them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/kestral_tool.h"
#include "core/busy.h"
#include "core/disk.h"
#include "core/localized.h"
#include "crystal/engine/cell_exports.h"
#include "crystal/engine/cif_reader.h"
#include "crystal/engine/crystal_model.h"
#include "crystal/engine/orientation.h"
#include "crystal/engine/page.h"
#include "crystal/engine/slicing.h"
#include "crystal/engine/writers.h"
#include "python/calls.h"

namespace pysuite {

namespace {

// Height evaluations per atom row that slicing may take, as the tool bounds them.
constexpr double kMaxEvaluationsPerAtom = 1e8;

const core::Localized kNoCell{"Unable to write the periodic cell: no super cell was found.",
                              "周期セルを書き出せません: スーパーセルが見つかりませんでした。"};

// Answers the "save all pages" question with Yes, as the tool does.
class SliceSink final : public core::MessageSink {
  public:
    explicit SliceSink(RecordingSink& inner) : inner_(inner) {}
    int ask(std::string_view text, std::string_view caption, unsigned style) override {
        if (style & core::kYesNo) return core::kAnswerYes;
        return inner_.ask(text, caption, style);
    }

  private:
    RecordingSink& inner_;
};

struct Crystal {
    crystal::CrystalModel model = crystal::presetCrystal();
    std::vector<crystal::SiteExtras> extras;
    std::vector<std::string> notes;
};

// A sliced crystal: the state the writers take, and the pages' canvas.
struct Slicing {
    crystal::CrystalState state;
    std::vector<crystal::SiteExtras> extras;
    int clientWidth = 1024, clientHeight = 768;
    // The page the slicing drew, which Save BMP takes as the first page.
    std::optional<crystal::RasterCanvas> drawn;
    std::vector<std::string> messages;
};

std::unique_ptr<Crystal> readCrystal(const std::string& path, const std::string& referenceAtom) {
    auto c = std::make_unique<Crystal>();
    RecordingSink sink;
    bool ok = false;
    {
        py::gil_scoped_release unlocked;
        if (!crystal::hasCifSuffix(path)) {
            ok = crystal::loadCrystalFile(path, c->model, sink, false);
        } else {
            crystal::CifImport import;
            ok = crystal::readCifFile(path, referenceAtom, import, sink);
            if (ok) {
                crystal::applyCifImport(import, c->model);
                c->extras = import.extras;
                c->notes = import.notes;
            }
        }
    }
    if (!ok) sink.fail("input", named(kCannotOpen, path));
    return c;
}

double slicingEvaluations(long u, long v, long w) {
    const long g = crystal::gcd(crystal::gcd(std::labs(u), std::labs(v)), std::labs(w));
    if (g > 1) {
        u /= g;
        v /= g;
        w /= g;
    }
    const double m = double(u) * u + double(v) * v + double(w) * w;
    return (2 * m + std::labs(u) + 1) * (2 * m + std::labs(v) + 1) * (2 * m + std::labs(w) + 1);
}

std::unique_ptr<Slicing> sliceCrystal(const Crystal& c, long u, long v, long w, bool periodicCell,
                                      double maxStrainPercent, double sliceThickness,
                                      int clientWidth, int clientHeight) {
    if (slicingEvaluations(u, v, w) > kMaxEvaluationsPerAtom)
        throw py::value_error("uvw: [" + std::to_string(u) + " " + std::to_string(v) + " " +
                              std::to_string(w) +
                              "] is too long a direction to slice (keep u*u + v*v + w*w in "
                              "lowest terms below about 230)");
    auto s = std::make_unique<Slicing>();
    s->state.model = c.model;
    s->extras = c.extras;
    s->clientWidth = clientWidth;
    s->clientHeight = clientHeight;
    s->state.options.periodicCell = periodicCell;
    s->state.options.maxStrain = maxStrainPercent / 100.0;
    s->state.options.sliceThickness = sliceThickness;
    s->state.model.u = std::to_string(u);
    s->state.model.v = std::to_string(v);
    s->state.model.w = std::to_string(w);
    s->state.nextPlane = 0;
    s->state.revisiting = false;
    s->state.slicing.superCellX = s->state.slicing.superCellY = 0;
    RecordingSink recorded;
    bool ok = false;
    {
        py::gil_scoped_release unlocked;
        SliceSink sink(recorded);
        core::NoBusyIndicator busy, waitBox;
        const crystal::Seams seams{sink, busy, waitBox};
        crystal::RasterPages pages(clientWidth, clientHeight, kestralcli::kPageLayout, seams);
        ok = crystal::runSlicing(s->state, pages.canvas, pages.layout, seams);
        s->drawn = pages.canvas;
    }
    if (!ok) recorded.fail("slicing", core::text(kCannotSlice));
    if (!recorded.empty()) s->messages.push_back(recorded.joined());
    return s;
}

bool haveCell(const Slicing& s) {
    return s.state.slicing.superCellX > 0 && s.state.slicing.superCellY > 0;
}

crystal::CellContent cellOf(const Slicing& s, int nx, int ny, int nz) {
    if (!haveCell(s)) throw EngineError{"no_cell", core::text(kNoCell)};
    const crystal::CellContent cell =
        crystal::periodicCellContent(s.state.model, s.extras, s.state.slicing);
    return crystal::tiled(cell, nx, ny, nz);
}

py::dict cellArrays(const Slicing& s, int nx, int ny, int nz) {
    crystal::CellContent cell;
    {
        py::gil_scoped_release unlocked;
        cell = cellOf(s, nx, ny, nz);
    }
    const std::size_t count = cell.atoms.size();
    py::array_t<std::int32_t> numbers(count);
    py::array_t<double> positions({static_cast<py::ssize_t>(count), py::ssize_t{3}});
    py::array_t<double> occupancy(count), rms(count);
    py::list symbols;
    auto p = positions.mutable_unchecked<2>();
    for (std::size_t i = 0; i < count; ++i) {
        const crystal::CellAtom& a = cell.atoms[i];
        numbers.mutable_at(i) = a.z;
        p(i, 0) = a.x;
        p(i, 1) = a.y;
        p(i, 2) = a.depth;
        occupancy.mutable_at(i) = a.occupancy;
        rms.mutable_at(i) = a.rms;
        symbols.append(a.symbol);
    }
    py::dict out;
    out["cell"] = py::make_tuple(cell.x, cell.y, cell.repeat);
    out["numbers"] = numbers;
    out["symbols"] = symbols;
    out["positions"] = positions;
    out["occupancies"] = occupancy;
    out["rms"] = rms;
    return out;
}

// Runs one of the state's writers on a copy, so that every output starts from the sliced state
// as the tool's does, whatever was written before.
template <typename Write>
void writeWith(const Slicing& s, const std::string& path, Write write) {
    RecordingSink recorded;
    bool ok = false;
    {
        py::gil_scoped_release unlocked;
        SliceSink sink(recorded);
        core::NoBusyIndicator busy, waitBox;
        const crystal::Seams seams{sink, busy, waitBox};
        crystal::CrystalState state = s.state;
        ok = write(state, seams);
    }
    if (!ok) recorded.fail("output", named(kCannotWrite, path));
}

void writeCellText(const Slicing& s, const std::string& path, int nx, int ny, int nz,
                   bool extended) {
    std::string text;
    {
        py::gil_scoped_release unlocked;
        const crystal::CellContent tiled = cellOf(s, nx, ny, nz);
        const std::string comment = core::formatMessage(
            "kestral-cli [%s %s %s] periodic cell %d x %d x %d", s.state.model.u.c_str(),
            s.state.model.v.c_str(), s.state.model.w.c_str(), nx, ny, nz);
        text = extended ? crystal::extendedXyzText(tiled, comment)
                        : crystal::prismaticText(tiled, comment);
        if (crystal::writeWholeFile(path, text)) return;
    }
    throw EngineError{"output", std::string(crystal::text::kCannotCreate)};
}

py::dict modelArrays(const crystal::CrystalModel& m) {
    py::dict out;
    out["cell"] = py::make_tuple(crystal::realOf(m.a), crystal::realOf(m.b), crystal::realOf(m.c),
                                 crystal::realOf(m.alpha), crystal::realOf(m.beta),
                                 crystal::realOf(m.gamma));
    py::list symbols;
    py::array_t<std::int32_t> numbers(m.atomCount);
    py::array_t<double> fractions({static_cast<py::ssize_t>(m.atomCount), py::ssize_t{3}});
    auto f = fractions.mutable_unchecked<2>();
    for (int i = 0; i < m.atomCount; ++i) {
        const crystal::AtomSite& a = m.atoms[static_cast<std::size_t>(i)];
        symbols.append(a.symbol);
        numbers.mutable_at(i) = crystal::integerOf(a.atomicNumber);
        f(i, 0) = crystal::realOf(a.x);
        f(i, 1) = crystal::realOf(a.y);
        f(i, 2) = crystal::realOf(a.z);
    }
    out["symbols"] = symbols;
    out["numbers"] = numbers;
    out["fractions"] = fractions;
    return out;
}

}  // namespace

void bindCrystalCalls(py::module_& m) {
    py::class_<Crystal>(m, "CrystalData")
        .def_property_readonly("arrays", [](const Crystal& c) { return modelArrays(c.model); })
        .def_property_readonly("notes", [](const Crystal& c) { return c.notes; })
        .def("save", [](const Crystal& c, const std::string& path) {
            RecordingSink sink;
            bool ok = false;
            {
                py::gil_scoped_release unlocked;
                ok = crystal::saveCrystalFile(path, c.model, sink);
            }
            if (!ok) sink.fail("output", named(kCannotWrite, path));
        });
    m.def("read_crystal", &readCrystal, py::arg("path"), py::arg("reference_atom"));

    py::class_<Slicing>(m, "SlicingData")
        .def_property_readonly("messages", [](const Slicing& s) { return s.messages; })
        .def_property_readonly("layers", [](const Slicing& s) {
            const crystal::SlicingState& st = s.state.slicing;
            py::dict out;
            out["direction"] = py::make_tuple(s.state.model.u, s.state.model.v, s.state.model.w);
            out["reversed"] = st.lattice.reversed;
            out["repeat_distance"] = st.repeatDistance;
            out["layer_spacing"] = st.layerSpacing;
            py::list heights, atoms;
            for (int n = 0; n < st.layerCount; ++n) {
                heights.append(crystal::planeHeight(st, n));
                atoms.append(n < static_cast<int>(st.planeImages.size()) ? st.planeImages[n].size() : 0u);
            }
            out["plane_heights"] = heights;
            out["plane_atoms"] = atoms;
            out["super_cell"] = py::make_tuple(st.superCellX, st.superCellY);
            out["periodic_cell"] = st.periodicCell;
            out["periodic_strain"] = st.periodicStrain;
            return out;
        })
        .def_property_readonly("model", [](const Slicing& s) { return modelArrays(s.state.model); })
        .def("cell", &cellArrays, py::arg("nx"), py::arg("ny"), py::arg("nz"))
        .def("write_reference", [](const Slicing& s, const std::string& path) {
            writeWith(s, path, [&](crystal::CrystalState& st, const crystal::Seams& seams) {
                return crystal::writeReferenceData(st, path, seams);
            });
        })
        .def("write_normal", [](const Slicing& s, const std::string& path) {
            writeWith(s, path, [&](crystal::CrystalState& st, const crystal::Seams& seams) {
                return crystal::writeNormalBeamFiles(st, path, seams);
            });
        })
        .def("write_convergent", [](const Slicing& s, const std::string& path) {
            writeWith(s, path, [&](crystal::CrystalState& st, const crystal::Seams& seams) {
                return crystal::writeConvergentBeamFile(st, path, seams);
            });
        })
        .def("write_pages", [](const Slicing& s, const std::string& path) {
            writeWith(s, path, [&](crystal::CrystalState& st, const crystal::Seams& seams) {
                crystal::RasterPages pages(s.clientWidth, s.clientHeight, kestralcli::kPageLayout,
                                           seams);
                if (s.drawn) pages.canvas = *s.drawn;
                return crystal::savePlaneBitmaps(st, pages, path, core::systemDisk(), seams.sink);
            });
        })
        .def("write_crystal", [](const Slicing& s, const std::string& path) {
            writeWith(s, path, [&](crystal::CrystalState& st, const crystal::Seams& seams) {
                return crystal::saveCrystalFile(path, st.model, seams.sink);
            });
        })
        .def("write_cell", &writeCellText, py::arg("path"), py::arg("nx"), py::arg("ny"),
             py::arg("nz"), py::arg("extended"));
    m.def("slice", &sliceCrystal);
}

}  // namespace pysuite
