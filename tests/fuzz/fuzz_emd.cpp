// Feeds arbitrary bytes to the EMD reader through HDF5's in-memory driver, with the checks every
// image reader's target makes. The last byte picks the signal (0: the largest, or 1 to 3) and
// the frame (0 or 1), so choices beyond the file's signals and frames are tried too.
#include "image/emd.h"
#include "tests/fuzz/import_fuzz_checks.h"

// Two faults of Debian's libhdf5 1.10, not of the reader, which this target lets pass:
// - it sizes some buffers from lengths a damaged file states, up to gigabytes, before reading
//   them; here a request above 1 GiB fails, and libhdf5 then refuses the file, as it does when
//   memory runs out;
// - a file it fails to open leaves a few blocks of its metadata cache behind.
// Our own allocations stay checked: a failed operator new is still reported.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
extern "C" const char* __lsan_default_suppressions() { return "leak:libhdf5\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    image::ImportChoice choice;
    if (size > 0) {
        choice.signal = data[size - 1] % 4;
        choice.image = (data[size - 1] >> 2) % 2;
    }
    const auto read = [&](std::span<const std::uint8_t> bytes, core::MessageSink& sink) {
        return image::readEmd(bytes, sink, choice);
    };
    return fuzzImageReader(read, data, size);
}
