// The whole filter job, `voralin00-cli filter IMG.bmp OUT.bmp --filter low --wa 0.5` on a
// 4096 x 4096 8-bit BMP (frame 8192), against the same job written with FFTW 3, each run a fresh
// process, the two alternating so a burst of load from other jobs falls on both alike.
//
//   filter_bench [--cli PATH] [--wisdom FILE] [--runs N] [--side N] [--work DIR]
//   filter_bench --pipeline IN.bmp OUT.bmp --wa X --wisdom FILE     (one FFTW run, used above)
//
// The FFTW pipeline: read the BMP, fill the frame with mirror copies of the image (the same frame
// sizing and mirror rule as ours, no sign modulation), real-to-complex transform in place, the
// low-pass weight on the half spectrum, complex-to-real transform, the brightness restoration of
// the filtered values to the image's grey range, write the BMP. Double precision, two threads,
// FFTW_MEASURE plans read from the wisdom file (the first, uncounted run measures and saves them).
// The steps around the transforms are plain loops on one thread.
//
// Printed: per side the median wall time, processor time (user + system) and peak resident
// memory of the process, the median of the pairwise ratios ours / FFTW, whether both wrote the
// same pixels, and what the fsync of our safe write costs on a file of the result's size.
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
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "spectrum/engine/forward.h"

namespace {

using Clock = std::chrono::steady_clock;

// --- 8-bit BMP files (uncompressed, bottom row first, grey colour table) -----------------------

struct Grey {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // top row first, width bytes a row
};

std::uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool readBmp(const std::string& path, Grey& out) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || b[28] != 8 || le32(&b[30]) != 0)
        return false;
    const std::uint32_t offBits = le32(&b[10]);
    const int w = static_cast<int>(le32(&b[18]));
    const int h = static_cast<int>(le32(&b[22]));
    const std::size_t stride = (static_cast<std::size_t>(w) + 3) / 4 * 4;
    if (w <= 0 || h <= 0 || offBits + stride * h > b.size()) return false;
    // The colour table maps each index to its grey value.
    unsigned char grey[256];
    const std::uint32_t infoSize = le32(&b[14]);
    for (int i = 0; i < 256; ++i) {
        const std::size_t at = 14 + infoSize + 4 * static_cast<std::size_t>(i);
        grey[i] = at + 2 < offBits ? b[at] : static_cast<unsigned char>(i);
    }
    out.width = w;
    out.height = h;
    out.pixels.resize(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = &b[offBits + (h - 1 - y) * stride];
        for (int x = 0; x < w; ++x) out.pixels[static_cast<std::size_t>(y) * w + x] = grey[row[x]];
    }
    return true;
}

bool writeBmp(const std::string& path, const Grey& g) {
    const std::size_t stride = (static_cast<std::size_t>(g.width) + 3) / 4 * 4;
    const std::uint32_t offBits = 14 + 40 + 1024;
    std::vector<unsigned char> b(offBits + stride * g.height, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<std::uint32_t>(b.size()));
    put32(10, offBits);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(g.width));
    put32(22, static_cast<std::uint32_t>(g.height));
    b[26] = 1;
    b[28] = 8;
    put32(46, 256);
    for (int i = 0; i < 256; ++i) b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = i;
    for (int y = 0; y < g.height; ++y)
        std::memcpy(&b[offBits + (g.height - 1 - y) * stride],
                    &g.pixels[static_cast<std::size_t>(y) * g.width], g.width);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

// A lattice image with noise, fixed seed: spots in the spectrum and a non-seamless edge.
Grey makeTestImage(int side) {
    Grey g;
    g.width = g.height = side;
    g.pixels.resize(static_cast<std::size_t>(side) * side);
    std::uint32_t state = 12345;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            state = state * 1664525u + 1013904223u;
            const double noise = ((state >> 8) & 0xFFFF) / 65536.0 * 60.0 - 30.0;
            const double v = 128 + 50 * std::cos(2 * M_PI * x / 7.3) * std::cos(2 * M_PI * y / 9.1) +
                             noise;
            g.pixels[static_cast<std::size_t>(y) * side + x] =
                static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    return g;
}

// --- the FFTW pipeline ----------------------------------------------------------------------------

int mirror(long long k, int length) {
    if (k < 0) k = -k - 1;
    const long long q = k / length, m = k % length;
    return static_cast<int>(q % 2 == 0 ? m : length - 1 - m);
}

int runPipeline(const std::string& inPath, const std::string& outPath, double wa,
                const std::string& wisdom) {
    Grey img;
    if (!readBmp(inPath, img)) {
        std::fprintf(stderr, "filter_bench: cannot read %s\n", inPath.c_str());
        return 1;
    }
    const int w = img.width, h = img.height;
    // The same frame sizing as the program's (the seamless test on the picture's rows).
    spectrum::GreyPixels view;
    std::vector<std::uint8_t> bottomFirst(img.pixels.size());
    for (int y = 0; y < h; ++y)
        std::memcpy(&bottomFirst[static_cast<std::size_t>(h - 1 - y) * w],
                    &img.pixels[static_cast<std::size_t>(y) * w], w);
    view.base = bottomFirst.data();
    view.width = w;
    view.height = h;
    view.stride = w;
    const spectrum::GridPlan plan =
        spectrum::planGrid(w, h, true, [&] { return spectrum::edgesAreSeamless(view); });
    bottomFirst = {};
    if (plan.n == 0) return 1;
    const int n = plan.n, pad = 2 * (n / 2 + 1);

    fftw_init_threads();
    fftw_plan_with_nthreads(2);
    if (!wisdom.empty()) fftw_import_wisdom_from_filename(wisdom.c_str());
    double* frame = fftw_alloc_real(static_cast<std::size_t>(n) * pad);
    if (!frame) return 1;
    auto* spectrum = reinterpret_cast<fftw_complex*>(frame);
    fftw_plan forward = fftw_plan_dft_r2c_2d(n, n, frame, spectrum, FFTW_MEASURE);
    fftw_plan backward = fftw_plan_dft_c2r_2d(n, n, spectrum, frame, FFTW_MEASURE);
    if (!wisdom.empty()) fftw_export_wisdom_to_filename(wisdom.c_str());

    int lo = 255, hi = 0;
    for (std::uint8_t v : img.pixels) {
        lo = std::min<int>(lo, v);
        hi = std::max<int>(hi, v);
    }
    std::vector<int> column(n);
    for (int c = 0; c < n; ++c) column[c] = mirror(c - plan.offsetX, w);
    for (int r = 0; r < n; ++r) {
        const std::uint8_t* src = &img.pixels[static_cast<std::size_t>(mirror(r - plan.offsetY, h)) * w];
        double* row = frame + static_cast<std::size_t>(r) * pad;
        for (int c = 0; c < n; ++c) row[c] = src[column[c]];
    }
    fftw_execute(forward);

    // Low-pass: distance from the zero frequency in frame samples, R half the image diagonal.
    const double reference = std::sqrt(static_cast<double>(w) * w + static_cast<double>(h) * h) / 2;
    const double cutoff = wa * reference;
    const int halfColumns = n / 2 + 1;
    for (int u = 0; u < n; ++u) {
        const double fu = u < n / 2 ? u : u - n;
        fftw_complex* row = spectrum + static_cast<std::size_t>(u) * halfColumns;
        for (int v = 0; v < halfColumns; ++v) {
            const double fv = v;
            if (!(std::sqrt(fu * fu + fv * fv) <= cutoff)) row[v][0] = row[v][1] = 0.0;
        }
    }
    fftw_execute(backward);

    // The filtered values over the image window, stretched to the image's grey range.
    const double scale = 1.0 / (static_cast<double>(n) * n);
    auto value = [&](int x, int y) {
        return frame[static_cast<std::size_t>(plan.offsetY + y) * pad + plan.offsetX + x] * scale;
    };
    double mmin = value(0, 0), mmax = mmin;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double m = value(x, y);
            mmin = std::min(mmin, m);
            mmax = std::max(mmax, m);
        }
    if (mmax == mmin) mmax = mmin + 0.000001;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double level = lo + (value(x, y) - mmin) * (hi - lo) / (mmax - mmin) + 0.000001;
            img.pixels[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(
                !(level > 0.0) ? 0 : level >= 255.0 ? 255 : static_cast<int>(level));
        }
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    fftw_free(frame);
    return writeBmp(outPath, img) ? 0 : 1;
}

// --- timing fresh processes -------------------------------------------------------------------------

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
    std::fflush(stdout);  // or the child's copy of the buffer prints again
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        // Quiet children: the table is what the bench prints.
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

template <class T>
T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string selfDirectory() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, static_cast<std::size_t>(n));
    return path.substr(0, path.find_last_of('/'));
}

// Seconds to write `bytes` beside `path` and move it over `path`, with or without fsync before
// the rename (the safe write's flush, size check and rename are there either way).
double timedReplace(const std::string& path, const std::vector<char>& bytes, bool sync) {
    const std::string temp = path + ".tmp";
    const auto start = Clock::now();
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return -1;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
    if (sync) ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    struct stat st;
    ok = ok && stat(temp.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) == bytes.size();
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    return ok ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string cli = selfDirectory() + "/../cli/voralin00-cli";
    std::string wisdom = selfDirectory() + "/fftw-filter.wisdom";
    std::string work = "/tmp";
    int runs = 5, side = 4096;
    double wa = 0.5;
    std::string pipelineIn, pipelineOut;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool more = i + 1 < args.size();
        if (a == "--pipeline" && i + 2 < args.size()) {
            pipelineIn = args[++i];
            pipelineOut = args[++i];
        } else if (a == "--cli" && more) {
            cli = args[++i];
        } else if (a == "--wisdom" && more) {
            wisdom = args[++i];
        } else if (a == "--work" && more) {
            work = args[++i];
        } else if (a == "--runs" && more) {
            runs = std::max(1, std::atoi(args[++i].c_str()));
        } else if (a == "--side" && more) {
            side = std::atoi(args[++i].c_str());
        } else if (a == "--wa" && more) {
            wa = std::atof(args[++i].c_str());
        } else {
            std::fprintf(stderr,
                         "usage: filter_bench [--cli PATH] [--wisdom FILE] [--runs N] [--side N] "
                         "[--work DIR]\n");
            return 2;
        }
    }
    if (!pipelineIn.empty()) return runPipeline(pipelineIn, pipelineOut, wa, wisdom);
    if (!fileExists(cli)) {
        std::fprintf(stderr, "filter_bench: no command-line tool at %s\n", cli.c_str());
        return 1;
    }

    const std::string stem = work + "/filter_bench." + std::to_string(getpid());
    const std::string image = stem + ".in.bmp", ours = stem + ".ours.bmp",
                      theirs = stem + ".fftw.bmp";
    if (!writeBmp(image, makeTestImage(side))) {
        std::fprintf(stderr, "filter_bench: cannot write %s\n", image.c_str());
        return 1;
    }
    char waText[32];
    std::snprintf(waText, sizeof waText, "%g", wa);
    const std::vector<std::string> oursArgs = {cli, "filter", image, ours, "--filter", "low",
                                               "--wa", waText};
    const std::vector<std::string> fftwArgs = {selfDirectory() + "/filter_bench", "--pipeline",
                                               image, theirs, "--wa", waText, "--wisdom", wisdom};

    std::printf("filter job: %d x %d 8-bit BMP, --filter low --wa %s, %d runs each, alternating\n",
                side, side, waText, runs);
    // Uncounted first runs: FFTW measures its plans once and keeps them in the wisdom file.
    const bool planned = fileExists(wisdom);
    const auto p0 = Clock::now();
    const Run warmFftw = timeProcess(fftwArgs);
    const Run warmOurs = timeProcess(oursArgs);
    if (warmFftw.status != 0 || warmOurs.status != 0) {
        std::fprintf(stderr, "filter_bench: a run failed (ours %d, FFTW %d)\n", warmOurs.status,
                     warmFftw.status);
        return 1;
    }
    if (!planned)
        std::printf("FFTW planning (FFTW_MEASURE, saved to %s): %.1f s\n", wisdom.c_str(),
                    std::chrono::duration<double>(Clock::now() - p0).count());

    std::vector<Run> a, b;
    std::vector<double> ratio, cpuRatio;
    for (int r = 0; r < runs; ++r) {
        a.push_back(timeProcess(oursArgs));
        b.push_back(timeProcess(fftwArgs));
        if (a.back().status != 0 || b.back().status != 0) {
            std::fprintf(stderr, "filter_bench: a run failed\n");
            return 1;
        }
        ratio.push_back(a.back().wall / b.back().wall);
        cpuRatio.push_back(a.back().cpu / b.back().cpu);
    }
    auto column = [](const std::vector<Run>& v, auto member) {
        std::vector<std::decay_t<decltype(v[0].*member)>> out;
        for (const Run& r : v) out.push_back(r.*member);
        return median(out);
    };

    Grey x, y;
    const bool read = readBmp(ours, x) && readBmp(theirs, y) && x.width == y.width &&
                      x.height == y.height;
    long differing = read ? 0 : -1;
    int largest = 0;
    if (read)
        for (std::size_t i = 0; i < x.pixels.size(); ++i)
            if (x.pixels[i] != y.pixels[i]) {
                ++differing;
                largest = std::max(largest, std::abs(x.pixels[i] - y.pixels[i]));
            }

    std::printf("%-14s %10s %10s %14s\n", "", "wall s", "cpu s", "peak KiB");
    std::printf("%-14s %10.3f %10.3f %14ld\n", "voralin00-cli", column(a, &Run::wall),
                column(a, &Run::cpu), column(a, &Run::peakKiB));
    std::printf("%-14s %10.3f %10.3f %14ld\n", "FFTW pipeline", column(b, &Run::wall),
                column(b, &Run::cpu), column(b, &Run::peakKiB));
    const double r = median(ratio);
    std::printf("ours / FFTW (median of pairs): wall %.3f (%s 0.85), cpu %.3f; wall min..max of "
                "pairs %.3f..%.3f\n",
                r, r <= 0.85 ? "within" : "above", median(cpuRatio),
                *std::min_element(ratio.begin(), ratio.end()),
                *std::max_element(ratio.begin(), ratio.end()));
    if (differing == 0)
        std::printf("same pixels: yes\n");
    else if (differing > 0)
        std::printf("same pixels: no, %ld differ (by up to %d levels)\n", differing, largest);
    else
        std::printf("same pixels: outputs not comparable\n");

    // What the fsync of the safe write costs on a result of this size, alternating with and
    // without it.
    const std::vector<char> bytes(static_cast<std::size_t>(side) * side + 1078, 'x');
    std::vector<double> synced, unsynced;
    for (int r = 0; r < runs; ++r) {
        synced.push_back(timedReplace(ours, bytes, true));
        unsynced.push_back(timedReplace(ours, bytes, false));
    }
    std::printf("writing the %.1f MB result: %.3f s with fsync, %.3f s without (medians)\n",
                bytes.size() / 1e6, median(synced), median(unsynced));
    std::remove(image.c_str());
    std::remove(ours.c_str());
    std::remove(theirs.c_str());
    return differing == 0 ? 0 : 1;
}
