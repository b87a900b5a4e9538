// Feeds arbitrary bytes to the TIA series reader (as a series without an .emi), with the checks
// every image reader's target makes.
#include "tests/fuzz/import_fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzImageReader(image::readSer, data, size);
}
