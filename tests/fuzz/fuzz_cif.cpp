// libFuzzer target: the CIF import, and the computation on what it accepts.
//
// Whatever the bytes, the import must refuse or produce a model that the crystal data file
// takes back, and that the slicing run orients and slices without crashing (a refusal of the
// computation is fine; the planes of a CIF need not be equally spaced).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crystal/engine/cell.h"
#include "crystal/engine/cif_reader.h"
#include "crystal/engine/crystal_model.h"
#include "crystal/engine/orientation.h"
#include "crystal/engine/slicing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    crystal::CifImport import;
    if (crystal::importCif(bytes, "", import)) return 0;

    crystal::CrystalModel model = crystal::presetCrystal();
    crystal::applyCifImport(import, model);
    if (model.atomCount < 1 || model.atomCount > crystal::kMaxAtoms) std::abort();
    crystal::CrystalModel again;
    if (!crystal::parseCrystalData(crystal::crystalDataText(model), again)) std::abort();
    if (again.atomCount != model.atomCount) std::abort();

    for (const bool slabs : {false, true}) {
        model.u = "1";
        model.v = "1";
        model.w = "0";
        crystal::Lattice lattice;
        if (crystal::checkCrystal(model, lattice)) return 0;
        crystal::SlicingState state;
        state.lattice = lattice;
        if (crystal::orientToBeam(state.lattice, state.rotation)) return 0;
        if (crystal::measureRepeatDistance(state.lattice, state.rotation, state.repeatDistance))
            return 0;
        state.slabThickness = slabs ? 1.0 : 0.0;
        if (crystal::sliceLayers(state)) continue;
        if (const auto cell = crystal::findPeriodicCell(state.lattice, state.rotation, 0.05, 3))
            crystal::applyPeriodicCell(*cell, state);
        (void)crystal::collectPlaneImages(state);
    }
    return 0;
}
