// Big frames: a super-resolution camera frame, 11520 x 8184 16-bit TIFF (made with tifffile, a
// lattice with noise), through `voralin00-cli spectrum` and `filter --filter low --wa 0.5`
// (frame 16384, half spectrum), against the filter job written with FFTW 3 at the same frame,
// each run a fresh process, alternating.
//
//   big_frame_bench [--cli PATH] [--wisdom FILE] [--runs N] [--size WxH] [--work DIR]
//                   [--precision single|double]
//   big_frame_bench --make-wisdom N [--wisdom FILE]    (FFTW_MEASURE plans for frame N, saved)
//   big_frame_bench --pipeline IN.tif OUT.bmp --wisdom FILE     (one FFTW run, used above)
//
// The FFTW pipeline: read the TIFF with our reader, map the samples onto levels 0..255 as the
// program does, fill the frame with mirror copies (our frame sizing and mirror rule), r2c in
// place, the low-pass weight on the half spectrum, c2r, the brightness restoration to the 8-bit
// rendering's range, write the BMP. Double precision, two threads, FFTW_MEASURE plans from the
// wisdom file when it holds them, else FFTW_ESTIMATE (said): measuring at 16384 takes many
// minutes on two cores, and under load it may not finish, so it is a step of its own
// (--make-wisdom) rather than part of a run.
//
// Printed: median wall time, processor time and peak resident memory per job, the ratio of our
// filter to FFTW's, and the budget (4.5 GiB, 1.3 x FFTW).
#include <fftw3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/stderr_sink.h"
#include "image/import.h"
#include "spectrum/engine/forward.h"

namespace {

using Clock = std::chrono::steady_clock;

int mirror(long long k, int length) { return spectrum::mirrorIndex(k, length); }

bool writeGreyBmp(const std::string& path, int w, int h, const std::vector<std::uint8_t>& top) {
    const std::uint32_t stride = (w + 3) / 4 * 4, bits = 1078, size = bits + stride * h;
    std::vector<unsigned char> b(size, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, size);
    put32(10, bits);
    put32(14, 40);
    put32(18, w);
    put32(22, h);
    b[26] = 1;
    b[28] = 8;
    put32(34, stride * h);
    put32(46, 256);
    for (int i = 0; i < 256; ++i) b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = i;
    for (int y = 0; y < h; ++y)
        std::memcpy(&b[bits + static_cast<std::size_t>(h - 1 - y) * stride],
                    &top[static_cast<std::size_t>(y) * w], w);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), b.size());
    return static_cast<bool>(out);
}

struct Plans {
    fftw_plan forward = nullptr, backward = nullptr;
    bool fromWisdom = false;
};

// The r2c and c2r plans of an n x n frame in place, two threads. `measure`: FFTW_MEASURE, the
// wisdom saved to the file. Otherwise the file's wisdom when it has both plans, else
// FFTW_ESTIMATE at once.
Plans planTransforms(int n, double* frame, const std::string& wisdom, bool measure) {
    fftw_init_threads();
    fftw_plan_with_nthreads(2);
    if (!wisdom.empty()) fftw_import_wisdom_from_filename(wisdom.c_str());
    auto* spectrum = reinterpret_cast<fftw_complex*>(frame);
    Plans p;
    const unsigned first = measure ? FFTW_MEASURE : FFTW_MEASURE | FFTW_WISDOM_ONLY;
    p.forward = fftw_plan_dft_r2c_2d(n, n, frame, spectrum, first);
    p.backward = fftw_plan_dft_c2r_2d(n, n, spectrum, frame, first);
    p.fromWisdom = p.forward && p.backward;
    if (measure && p.fromWisdom && !wisdom.empty()) fftw_export_wisdom_to_filename(wisdom.c_str());
    if (!p.fromWisdom && !measure) {
        if (p.forward) fftw_destroy_plan(p.forward);
        if (p.backward) fftw_destroy_plan(p.backward);
        p.forward = fftw_plan_dft_r2c_2d(n, n, frame, spectrum, FFTW_ESTIMATE);
        p.backward = fftw_plan_dft_c2r_2d(n, n, spectrum, frame, FFTW_ESTIMATE);
    }
    return p;
}

// --make-wisdom N: measures the plans of frame N once and saves them (many minutes at 16384).
int makeWisdom(int n, const std::string& wisdom) {
    if (n < 64 || (n & (n - 1)) != 0) return 2;
    const auto start = Clock::now();
    double* frame = fftw_alloc_real(static_cast<std::size_t>(n) * 2 * (n / 2 + 1));
    if (!frame) return 1;
    const Plans plans = planTransforms(n, frame, wisdom, true);
    const bool ok = plans.forward && plans.backward;
    std::printf("FFTW_MEASURE plans for frame %d: %s in %.1f s\n", n,
                ok ? ("saved to " + wisdom).c_str() : "failed",
                std::chrono::duration<double>(Clock::now() - start).count());
    fftw_free(frame);
    return ok ? 0 : 1;
}

int runPipeline(const std::string& inPath, const std::string& outPath, const std::string& wisdom) {
    core::StderrSink sink("big_frame_bench");
    auto source = image::importImageFile(inPath, image::ImageFormat::Tiff, sink);
    if (!source) return 1;
    const std::vector<std::uint8_t> shown = image::renderPercentiles(*source);
    const auto levels = image::transformLevels(std::move(*source));
    const int w = levels->width, h = levels->height;
    const spectrum::GridPlan plan =
        spectrum::planGrid(w, h, true, [&] { return spectrum::edgesAreSeamless(*levels); });
    if (plan.n == 0 || plan.windowedOnly) return 1;
    const int n = plan.n, pad = 2 * (n / 2 + 1);
    double* frame = fftw_alloc_real(static_cast<std::size_t>(n) * pad);
    if (!frame) return 1;
    auto* spectrum = reinterpret_cast<fftw_complex*>(frame);
    const Plans plans = planTransforms(n, frame, wisdom, false);
    if (!plans.forward || !plans.backward) return 1;
    fftw_plan forward = plans.forward, backward = plans.backward;
    // Which plans the run used, for the parent to print (this process's output is discarded).
    if (std::FILE* note = std::fopen((outPath + ".plans").c_str(), "w")) {
        std::fputs(plans.fromWisdom ? "wisdom" : "estimate", note);
        std::fclose(note);
    }

    std::vector<int> column(n);
    for (int c = 0; c < n; ++c) column[c] = mirror(c - plan.offsetX, w);
    for (int r = 0; r < n; ++r) {
        const double* src = levels->levels.data() + static_cast<std::size_t>(mirror(r - plan.offsetY, h)) * w;
        double* row = frame + static_cast<std::size_t>(r) * pad;
        for (int c = 0; c < n; ++c) row[c] = src[column[c]];
    }
    fftw_execute(forward);
    const double cutoff = 0.5 * std::sqrt(static_cast<double>(w) * w + static_cast<double>(h) * h) / 2;
    const int halfColumns = n / 2 + 1;
    for (int u = 0; u < n; ++u) {
        const double fu = u < n / 2 ? u : u - n;
        fftw_complex* row = spectrum + static_cast<std::size_t>(u) * halfColumns;
        for (int v = 0; v < halfColumns; ++v)
            if (!(std::sqrt(fu * fu + double(v) * v) <= cutoff)) row[v][0] = row[v][1] = 0.0;
    }
    fftw_execute(backward);
    const auto [low, high] = std::minmax_element(shown.begin(), shown.end());
    const int lo = *low, hi = *high;
    auto value = [&](int x, int y) {
        return frame[static_cast<std::size_t>(plan.offsetY + y) * pad + plan.offsetX + x];
    };
    double mmin = value(0, 0), mmax = mmin;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            mmin = std::min(mmin, value(x, y));
            mmax = std::max(mmax, value(x, y));
        }
    if (mmax == mmin) mmax = mmin + 0.000001;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double level = lo + (value(x, y) - mmin) * (hi - lo) / (mmax - mmin) + 0.000001;
            out[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(
                !(level > 0.0) ? 0 : level >= 255.0 ? 255 : static_cast<int>(level));
        }
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    fftw_free(frame);
    return writeGreyBmp(outPath, w, h, out) ? 0 : 1;
}

struct Run {
    double wall = 0, cpu = 0;
    long peakKiB = 0;
    int status = -1;
};

Run timeProcess(const std::vector<std::string>& args) {
    Run run;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0) return run;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.wall = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
              usage.ru_stime.tv_usec * 1e-6;
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return run;
}

double medianOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string selfDirectory() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    path[length] = '\0';
    std::string s(path);
    return s.substr(0, s.find_last_of('/'));
}

void printPlans(const std::string& note, const std::string& wisdom) {
    char kind[16] = {};
    if (std::FILE* f = std::fopen(note.c_str(), "r")) {
        if (!std::fgets(kind, sizeof kind, f)) kind[0] = '\0';
        std::fclose(f);
    }
    if (std::strcmp(kind, "wisdom") == 0)
        std::printf("FFTW plans: FFTW_MEASURE, from the wisdom in %s\n", wisdom.c_str());
    else
        std::printf(
            "FFTW plans: FFTW_ESTIMATE, no wisdom for this frame in %s: FFTW runs far below its "
            "best and the ratio flatters ours (measure the plans once with --make-wisdom 16384, "
            "many minutes)\n",
            wisdom.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string cli = selfDirectory() + "/../cli/voralin00-cli";
    std::string wisdom = selfDirectory() + "/fftw-big.wisdom";
    std::string work = "/tmp", precision, size = "11520x8184";
    int runs = 3;
    std::string pipelineIn, pipelineOut;
    int makeFrame = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool more = i + 1 < args.size();
        if (a == "--pipeline" && i + 2 < args.size()) {
            pipelineIn = args[++i];
            pipelineOut = args[++i];
        } else if (a == "--make-wisdom" && more) {
            makeFrame = std::atoi(args[++i].c_str());
        } else if (a == "--cli" && more) {
            cli = args[++i];
        } else if (a == "--wisdom" && more) {
            wisdom = args[++i];
        } else if (a == "--work" && more) {
            work = args[++i];
        } else if (a == "--runs" && more) {
            runs = std::max(1, std::atoi(args[++i].c_str()));
        } else if (a == "--size" && more) {
            size = args[++i];
        } else if (a == "--precision" && more) {
            precision = args[++i];
        } else {
            std::fprintf(stderr,
                         "usage: big_frame_bench [--cli PATH] [--wisdom FILE] [--runs N] "
                         "[--size WxH] [--work DIR] [--precision single|double]\n"
                         "       big_frame_bench --make-wisdom N [--wisdom FILE]\n");
            return 2;
        }
    }
    if (!pipelineIn.empty()) return runPipeline(pipelineIn, pipelineOut, wisdom);
    if (makeFrame != 0) return makeWisdom(makeFrame, wisdom);
    int w = 0, h = 0;
    if (std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2 || w < 64 || h < 64) return 2;
    const std::string stem = work + "/big_frame_bench." + std::to_string(getpid());
    const std::string image = stem + ".tif";
    const std::string make =
        "/usr/bin/python3 -c \"import numpy as np, tifffile; rng = np.random.default_rng(2); "
        "w, h = " + std::to_string(w) + ", " + std::to_string(h) +
        "; x = np.arange(w); out = np.empty((h, w), np.uint16)\n"
        "for y in range(h): out[y] = np.clip(3000 + 800 * np.cos(2 * np.pi * x / 9.3) * "
        "np.cos(2 * np.pi * y / 7.7) + rng.normal(0, 300, w), 0, 65535)\n"
        "tifffile.imwrite('" + image + "', out)\"";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "big_frame_bench: cannot make %s with tifffile\n", image.c_str());
        return 1;
    }
    std::vector<std::string> extra;
    if (!precision.empty()) extra = {"--precision", precision};
    auto cliArgs = [&](std::vector<std::string> a) {
        a.insert(a.begin(), cli);
        a.insert(a.end(), extra.begin(), extra.end());
        a.push_back("--quiet");
        return a;
    };
    const auto spectrumArgs = cliArgs({"spectrum", image, stem + ".spectrum.bmp"});
    const auto filterArgs = cliArgs({"filter", image, stem + ".ours.bmp", "--filter", "low",
                                     "--wa", "0.5"});
    const std::vector<std::string> fftwArgs = {selfDirectory() + "/big_frame_bench", "--pipeline",
                                               image, stem + ".fftw.bmp", "--wisdom", wisdom};
    std::printf("big frame: %d x %d 16-bit TIFF, frame 16384, %d runs each, alternating%s%s\n", w,
                h, runs, precision.empty() ? "" : ", --precision ", precision.c_str());
    // An uncounted first run warms the caches and says which plans FFTW has.
    if (timeProcess(fftwArgs).status != 0) {
        std::fprintf(stderr, "big_frame_bench: the FFTW pipeline failed\n");
        return 1;
    }
    printPlans(stem + ".fftw.bmp.plans", wisdom);
    std::vector<double> sw, sc, fw, fc, tw, tc, ratio;
    long sp = 0, fp = 0, tp = 0;
    for (int r = 0; r < runs; ++r) {
        const Run s = timeProcess(spectrumArgs), f = timeProcess(filterArgs),
                  t = timeProcess(fftwArgs);
        if (s.status != 0 || f.status != 0 || t.status != 0) {
            std::fprintf(stderr, "big_frame_bench: a run failed (spectrum %d, filter %d, FFTW %d)\n",
                         s.status, f.status, t.status);
            return 1;
        }
        sw.push_back(s.wall), sc.push_back(s.cpu), sp = std::max(sp, s.peakKiB);
        fw.push_back(f.wall), fc.push_back(f.cpu), fp = std::max(fp, f.peakKiB);
        tw.push_back(t.wall), tc.push_back(t.cpu), tp = std::max(tp, t.peakKiB);
        ratio.push_back(f.wall / t.wall);
    }
    const double budget = 4.5 * 1024 * 1024;
    std::printf("%-22s %9s %9s %14s\n", "", "wall s", "cpu s", "peak KiB");
    std::printf("%-22s %9.2f %9.2f %14ld  %s\n", "ours spectrum", medianOf(sw), medianOf(sc), sp,
                sp <= budget ? "within 4.5 GiB" : "above 4.5 GiB");
    std::printf("%-22s %9.2f %9.2f %14ld  %s\n", "ours filter", medianOf(fw), medianOf(fc), fp,
                fp <= budget ? "within 4.5 GiB" : "above 4.5 GiB");
    std::printf("%-22s %9.2f %9.2f %14ld\n", "FFTW filter pipeline", medianOf(tw), medianOf(tc), tp);
    const double r = medianOf(ratio);
    std::printf("filter / FFTW (wall, median of pairs): %.2f  %s\n", r,
                r <= 1.3 ? "within 1.3x" : "above 1.3x");
    for (const char* suffix :
         {".tif", ".spectrum.bmp", ".ours.bmp", ".fftw.bmp", ".fftw.bmp.plans"})
        std::remove((stem + suffix).c_str());
    return 0;
}
