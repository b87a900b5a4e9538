// libFuzzer target: the crystal data file reader, and the computation on what it accepts.
//
// Whatever the bytes, the reader must stay inside its buffers and tables. A file it accepts is
// written back and read again (the written form must pass), and small accepted crystals are
// oriented and sliced, which exercises the number conversions on hostile texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crystal/engine/crystal_model.h"
#include "crystal/engine/orientation.h"
#include "crystal/engine/slicing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    crystal::CrystalModel model = crystal::presetCrystal();
    if (!crystal::parseCrystalData(bytes, model)) return 0;

    crystal::CrystalModel again;
    if (!crystal::parseCrystalData(crystal::crystalDataText(model), again)) std::abort();
    if (again.atomCount != model.atomCount) std::abort();

    // A direction the dialog offers; a larger box would only slow the run down.
    model.u = "1";
    model.v = "1";
    model.w = "0";
    crystal::Lattice lattice;
    if (model.atomCount > 8 || crystal::checkCrystal(model, lattice)) return 0;
    crystal::SlicingState state;
    state.lattice = lattice;
    if (crystal::orientToBeam(state.lattice, state.rotation)) return 0;
    if (crystal::measureRepeatDistance(state.lattice, state.rotation, state.repeatDistance))
        return 0;
    if (crystal::sliceLayers(state)) return 0;
    (void)crystal::collectPlaneImages(state);
    return 0;
}
