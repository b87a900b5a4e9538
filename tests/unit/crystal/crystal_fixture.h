// Shared helpers for the crystal engine tests: small crystals and a recorded slicing run.
#pragma once

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "crystal/engine/page.h"
#include "crystal/engine/slicing.h"
#include "core/busy.h"
#include "core/message_sink.h"
#include "tests/doubles/recording.h"

namespace crystal::testing {

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool exists(const std::string& path) { return std::ifstream(path).good(); }

struct Row {
    const char* symbol;
    const char* z;
    const char* x;
    const char* y;
    const char* zc;
    int colour = 0;
};

inline CrystalModel makeModel(const char* a, const char* b, const char* c, const char* alpha,
                              const char* beta, const char* gamma, std::initializer_list<Row> rows,
                              const char* u = "1", const char* v = "0", const char* w = "0") {
    CrystalModel m;
    m.a = a;
    m.b = b;
    m.c = c;
    m.alpha = alpha;
    m.beta = beta;
    m.gamma = gamma;
    m.u = u;
    m.v = v;
    m.w = w;
    int i = 0;
    for (const Row& r : rows) {
        if (i >= static_cast<int>(m.atoms.size())) m.atoms.resize(i + 1);
        m.atoms[i] =
            AtomSite{r.symbol, r.z, r.x, r.y, r.zc, r.colour, kAtomColours[r.colour].value};
        ++i;
    }
    m.atomCount = i;
    return m;
}

// The strontium titanate cell with all five rows.
inline CrystalModel strontiumTitanate(const char* u = "1", const char* v = "0",
                                      const char* w = "0") {
    return makeModel("3.905", "3.905", "3.905", "90", "90", "90",
                     {{"Sr", "38", "0", "0", "0", 0},
                      {"O", "8", "0.5", "0.5", "0", 3},
                      {"O", "8", "0.5", "0", "0.5", 3},
                      {"O", "8", "0", "0.5", "0.5", 3},
                      {"Ti", "22", "0.5", "0.5", "0.5", 6}},
                     u, v, w);
}

// A slicing run on a 1024 x 768 raster with every message and busy transition recorded.
// Pages as a window with a 21-row bar above them shows them on a 1024-pixel screen.
inline constexpr PageLayout kWindowPages{1024, 21};

struct SliceRun {
    core::RecordingSink sink;
    core::RecordingBusy busy{sink};
    core::RecordingBusy waitBox{sink};
    Seams seams{sink, busy, waitBox};
    CrystalState state;
    RasterCanvas canvas{1024, 768};

    explicit SliceRun(const CrystalModel& model) { state.model = model; }
    bool slice() {
        state.nextPlane = 0;
        state.revisiting = false;
        state.slicing.superCellX = state.slicing.superCellY = 0;
        return runSlicing(state, canvas, kWindowPages, seams);
    }
};

}  // namespace crystal::testing

#if defined(__linux__)
#include <signal.h>
#include <sys/resource.h>

namespace crystal::testing {

// Makes every write past `bytes` fail (EFBIG) for the life of the object, like a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }

  private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

}  // namespace crystal::testing
#endif
