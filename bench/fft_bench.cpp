// Times our forward + inverse 2-D transform against FFTW 3 (complex to complex, interleaved, in
// place, two threads, planned before timing) on the same machine in the same run.
//
//   fft_bench [--sizes 512,1024,...] [--wisdom FILE] [--naive N] [--sse2]
//
// --wisdom keeps FFTW's measured plans in FILE between runs (planning N = 8192 with FFTW_MEASURE
// takes long); --naive N also times the plain radix-2 algorithm with per-stage cos/sin at N;
// --sse2 forces our SSE2 kernels.
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "spectrum/engine/fft.h"
#include "tests/reference/plain_fft.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int runsFor(int n) {
    return n <= 1024 ? 11 : n <= 2048 ? 7 : n <= 4096 ? 5 : 3;
}

void fillImage(std::vector<double>& re, int n) {
    std::mt19937 gen(12345);
    std::uniform_int_distribution<int> grey(0, 255);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) * n; ++i) re[i] = grey(gen);
}

// Processor time of the whole process (all threads), which a busy shared machine disturbs far
// less than the wall clock.
double cpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

struct Row {
    int n;
    double ours, oursReal, fftw, plan, maxDiff, oursCpu, fftwCpu;
};

// Runs alternate (FFTW, ours, ours with real input, FFTW, ...) so that a burst of load from other
// jobs on the machine falls on both sides alike.
bool benchSize(int n, Row& row) {
    const std::size_t count = static_cast<std::size_t>(n) * n;
    row = Row{n, 0, 0, 0, 0, 0, 0, 0};
    std::vector<double> image(count);
    fillImage(image, n);

    // FFTW plans first, so our arrays are not resident while it measures.
    fftw_complex* data = fftw_alloc_complex(count);
    if (data == nullptr) return false;
    const auto p0 = Clock::now();
    fftw_plan forward = fftw_plan_dft_2d(n, n, data, data, FFTW_FORWARD, FFTW_MEASURE);
    fftw_plan backward = fftw_plan_dft_2d(n, n, data, data, FFTW_BACKWARD, FFTW_MEASURE);
    row.plan = seconds(p0, Clock::now());

    std::vector<double> re(count), im(count);
    std::vector<double> fftwTimes, fftwCpu, ourTimes, ourCpu, realTimes;
    bool ok = true;
    for (int run = 0; run < runsFor(n) && ok; ++run) {
        for (std::size_t i = 0; i < count; ++i) {
            data[i][0] = image[i];
            data[i][1] = 0.0;
        }
        double c0 = cpuSeconds();
        auto t0 = Clock::now();
        fftw_execute(forward);
        fftw_execute(backward);
        fftwTimes.push_back(seconds(t0, Clock::now()));
        fftwCpu.push_back(cpuSeconds() - c0);

        std::copy(image.begin(), image.end(), re.begin());
        std::fill(im.begin(), im.end(), 0.0);
        c0 = cpuSeconds();
        t0 = Clock::now();
        ok = spectrum::transform2d(re.data(), im.data(), n, n, spectrum::Direction::Forward) == 0 &&
             spectrum::transform2d(re.data(), im.data(), n, n, spectrum::Direction::Inverse) == 0;
        ourTimes.push_back(seconds(t0, Clock::now()));
        ourCpu.push_back(cpuSeconds() - c0);

        std::copy(image.begin(), image.end(), re.begin());
        t0 = Clock::now();
        ok = ok &&
             spectrum::transform2dRealInput(re.data(), im.data(), n, n,
                                            spectrum::Direction::Forward) == 0 &&
             spectrum::transform2d(re.data(), im.data(), n, n, spectrum::Direction::Inverse) == 0;
        realTimes.push_back(seconds(t0, Clock::now()));
    }
    if (ok) {
        row.fftw = median(fftwTimes);
        row.fftwCpu = median(fftwCpu);
        row.ours = median(ourTimes);
        row.oursCpu = median(ourCpu);
        row.oursReal = median(realTimes);

        // Both forward spectra of the image, for the accuracy column.
        for (std::size_t i = 0; i < count; ++i) {
            data[i][0] = image[i];
            data[i][1] = 0.0;
        }
        fftw_execute(forward);
        std::copy(image.begin(), image.end(), re.begin());
        std::fill(im.begin(), im.end(), 0.0);
        ok = spectrum::transform2d(re.data(), im.data(), n, n, spectrum::Direction::Forward) == 0;
        double scale = 0.0, diff = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            scale = std::max(scale, std::hypot(data[i][0], data[i][1]));
            diff = std::max(diff, std::hypot(re[i] - data[i][0], im[i] - data[i][1]));
        }
        row.maxDiff = diff / scale;
    }
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    fftw_free(data);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {512, 1024, 2048, 4096, 8192};
    const char* wisdom = nullptr;
    int naiveSize = 2048;
    bool forceSse2 = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc) {
            sizes.clear();
            for (const char* p = argv[++i]; *p;) {
                sizes.push_back(std::atoi(p));
                while (*p && *p != ',') ++p;
                if (*p == ',') ++p;
            }
        } else if (std::strcmp(argv[i], "--wisdom") == 0 && i + 1 < argc) {
            wisdom = argv[++i];
        } else if (std::strcmp(argv[i], "--naive") == 0 && i + 1 < argc) {
            naiveSize = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--sse2") == 0) {
            forceSse2 = true;
            spectrum::detail::selectKernel(spectrum::detail::Kernel::Sse2);
        } else {
            std::fprintf(stderr,
                         "usage: fft_bench [--sizes N,N,...] [--wisdom FILE] [--naive N] "
                         "[--sse2]\n");
            return 2;
        }
    }
    if (fftw_init_threads() == 0) {
        std::fprintf(stderr, "fft_bench: FFTW threads unavailable\n");
        return 1;
    }
    fftw_plan_with_nthreads(2);
    if (wisdom != nullptr) fftw_import_wisdom_from_filename(wisdom);

    const bool avx2 = spectrum::detail::avx2Available() && !forceSse2;
    std::printf(
        "forward + inverse 2-D transform, seconds (median); FFTW: c2c interleaved, 2 threads,"
        " FFTW_MEASURE\nour kernels: %s\n\n",
        avx2 ? "AVX2" : "SSE2");
    std::printf("%6s %8s %10s %8s %6s %6s | %8s %8s %6s | %9s %8s\n", "N", "ours", "ours(real)",
                "FFTW", "ratio", "<=1.5x", "ours cpu", "FFTW cpu", "ratio", "FFTW plan",
                "max diff");
    int failures = 0;
    for (int n : sizes) {
        Row row;
        if (!benchSize(n, row)) {
            std::printf("%6d  failed\n", n);
            ++failures;
            continue;
        }
        const double ratio = row.ours / row.fftw;
        std::printf("%6d %8.4f %10.4f %8.4f %6.2f %6s | %8.4f %8.4f %6.2f | %9.1f %8.1g\n", n,
                    row.ours, row.oursReal, row.fftw, ratio, ratio <= 1.5 ? "yes" : "no",
                    row.oursCpu, row.fftwCpu, row.oursCpu / row.fftwCpu, row.plan, row.maxDiff);
        std::fflush(stdout);
        if (wisdom != nullptr) fftw_export_wisdom_to_filename(wisdom);
    }
    if (naiveSize >= 2) {
        const std::size_t count = static_cast<std::size_t>(naiveSize) * naiveSize;
        std::vector<double> re(count), im(count, 0.0);
        fillImage(re, naiveSize);
        const auto t0 = Clock::now();
        reference::plain2d(re.data(), im.data(), naiveSize, false);
        reference::plain2d(re.data(), im.data(), naiveSize, true);
        std::printf("\nplain radix-2 with per-stage cos/sin, N = %d: %.3f s forward + inverse\n",
                    naiveSize, seconds(t0, Clock::now()));
    }
    fftw_cleanup_threads();
    return failures == 0 ? 0 : 1;
}
