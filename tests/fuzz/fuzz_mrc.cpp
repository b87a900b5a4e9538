// Feeds arbitrary bytes to the MRC reader, with the checks every image reader's target makes, for the image its last byte names.
#include "tests/fuzz/import_fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzStackReader(image::readMrcImage, data, size);
}
