// Split-array FFT. A plan per size holds the twiddle factors of every radix-4 stage and the
// bit-reversal table. The kernel runs `Lanes` independent transforms side by side: element r of
// lane k lives at index r * Lanes + k, so the inner loop of every butterfly runs over contiguous
// lanes with one scalar twiddle, written with the compiler's vector types: SSE2 everywhere, AVX2
// where the processor has it (checked at run time). The 2-D driver gathers sixteen columns (or
// eight rows) into that layout, transforms them and scatters them back in natural order; each of
// the two passes is split between two threads.
#include "spectrum/engine/fft.h"
#include "spectrum/engine/parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The AVX2 instantiations pass 32-byte vectors only between inlined helpers.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace spectrum {
namespace detail {

// Sizes up to this exponent keep their plan for the life of the process.
constexpr int kCachedLog2 = 15;
// Transforms side by side in the 2-D passes. Sixteen doubles are two cache lines of a row: a
// column batch touches every page of the frame once, so wider batches mean fewer TLB misses,
// while the batch (2 x 16 x n doubles) still fits a core's L2 cache up to n = 4096.
constexpr int kBatch = 16;
// Rows are read in order whatever the batch, so their batches stay narrower and their scratch
// (2 x 8 x n doubles) stays in L2 up to n = 8192.
constexpr int kRowBatch = 8;
// A block of the decimation is finished stage by stage once its lanes fit in the L1 cache.
constexpr std::size_t kBlockBytes = 32 * 1024;
constexpr int kWorkers = 2;

struct Plan {
    std::size_t n = 0;
    int log2n = 0;
    std::vector<std::uint32_t> bitReverse;
    // For the radix-4 stage of block length L (L = n, n/4, ... down to 4) with q = L / 4:
    // six arrays of q values at stageOffset[log2 L]: cos and -sin of 2 pi m j / L for m = 1, 2, 3
    // (the forward direction's exp(-2 pi i m j / L)).
    std::vector<double> twiddles;
    std::size_t stageOffset[32] = {};

    const double* stage(std::size_t length) const {
        int k = 0;
        while ((std::size_t{1} << k) < length) ++k;
        return twiddles.data() + stageOffset[k];
    }
};

std::unique_ptr<Plan> buildPlan(int log2n) {
    try {
        auto plan = std::make_unique<Plan>();
        const std::size_t n = std::size_t{1} << log2n;
        plan->n = n;
        plan->log2n = log2n;
        plan->bitReverse.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t r = 0;
            for (int b = 0; b < log2n; ++b) r |= ((i >> b) & 1u) << (log2n - 1 - b);
            plan->bitReverse[i] = r;
        }
        std::size_t total = 0;
        for (std::size_t length = n; length >= 4; length /= 4) total += 6 * (length / 4);
        plan->twiddles.resize(total);
        const double pi = std::acos(-1.0);
        std::size_t offset = 0;
        for (std::size_t length = n; length >= 4; length /= 4) {
            int k = 0;
            while ((std::size_t{1} << k) < length) ++k;
            plan->stageOffset[k] = offset;
            const std::size_t q = length / 4;
            double* t = plan->twiddles.data() + offset;
            for (std::size_t j = 0; j < q; ++j) {
                for (int m = 1; m <= 3; ++m) {
                    // Reduce m * j modulo the block length exactly before scaling to an angle.
                    const double theta = 2.0 * pi * static_cast<double>((m * j) % length) /
                                         static_cast<double>(length);
                    t[(2 * m - 2) * q + j] = std::cos(theta);
                    t[(2 * m - 1) * q + j] = -std::sin(theta);
                }
            }
            offset += 6 * q;
        }
        return plan;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::mutex planMutex;
std::unique_ptr<Plan> planCache[kCachedLog2 + 1];

// The cached plan for 2^log2n (log2n <= kCachedLog2), or null when it cannot be built.
const Plan* cachedPlan(int log2n) {
    std::lock_guard<std::mutex> lock(planMutex);
    if (!planCache[log2n]) planCache[log2n] = buildPlan(log2n);
    return planCache[log2n].get();
}

// Vector types of the kernels. The same source is compiled for SSE2 (two doubles, the x86-64
// baseline) and, behind a run-time check, for AVX2 (four doubles).
typedef double Vec2 __attribute__((vector_size(16)));
typedef double Vec4 __attribute__((vector_size(32)));

#define FFT_INLINE inline __attribute__((always_inline))

template <class V>
FFT_INLINE V load(const double* p) {
    V v;
    std::memcpy(&v, p, sizeof(V));
    return v;
}

template <class V>
FFT_INLINE void store(double* p, V v) {
    std::memcpy(p, &v, sizeof(V));
}

// One radix-4 decimation-in-frequency stage over a block of `length` elements of `Lanes`
// transforms. Outputs are stored in the order two radix-2 stages would leave them (m = 0, 2, 1,
// 3 in the four quarters), so radix-4 stages and a final radix-2 stage end in plain bit-reversed
// order.
template <class V, int Lanes, bool Inverse, bool Twiddled>
FFT_INLINE void butterfly4(double* r0, double* i0, std::size_t quarter, const double* w) {
    constexpr int kWidth = sizeof(V) / sizeof(double);
    double* r1 = r0 + quarter;
    double* r2 = r0 + 2 * quarter;
    double* r3 = r0 + 3 * quarter;
    double* i1 = i0 + quarter;
    double* i2 = i0 + 2 * quarter;
    double* i3 = i0 + 3 * quarter;
    for (int k = 0; k < Lanes; k += kWidth) {
        const V x0r = load<V>(r0 + k), x0i = load<V>(i0 + k);
        const V x1r = load<V>(r1 + k), x1i = load<V>(i1 + k);
        const V x2r = load<V>(r2 + k), x2i = load<V>(i2 + k);
        const V x3r = load<V>(r3 + k), x3i = load<V>(i3 + k);
        const V ar = x0r + x2r, ai = x0i + x2i;
        const V br = x0r - x2r, bi = x0i - x2i;
        const V cr = x1r + x3r, ci = x1i + x3i;
        const V dr = x1r - x3r, di = x1i - x3i;
        // (x1 - x3) turns by -i forward, +i inverse.
        const V y1r = Inverse ? br - di : br + di;
        const V y1i = Inverse ? bi + dr : bi - dr;
        const V y3r = Inverse ? br + di : br - di;
        const V y3i = Inverse ? bi - dr : bi + dr;
        const V y2r = ar - cr, y2i = ai - ci;
        store(r0 + k, ar + cr);
        store(i0 + k, ai + ci);
        if (Twiddled) {
            // w: cos and sin (sign of the direction applied) for m = 1, 2, 3.
            store(r1 + k, y2r * w[2] - y2i * w[3]);
            store(i1 + k, y2i * w[2] + y2r * w[3]);
            store(r2 + k, y1r * w[0] - y1i * w[1]);
            store(i2 + k, y1i * w[0] + y1r * w[1]);
            store(r3 + k, y3r * w[4] - y3i * w[5]);
            store(i3 + k, y3i * w[4] + y3r * w[5]);
        } else {
            store(r1 + k, y2r);
            store(i1 + k, y2i);
            store(r2 + k, y1r);
            store(i2 + k, y1i);
            store(r3 + k, y3r);
            store(i3 + k, y3i);
        }
    }
}

// One radix-4 decimation-in-frequency stage over a block of `length` elements of `Lanes`
// transforms. Outputs are stored in the order two radix-2 stages would leave them (m = 0, 2, 1,
// 3 in the four quarters), so radix-4 stages and a final radix-2 stage end in plain bit-reversed
// order. The first butterfly has unit twiddles and skips the products (all of the last stage).
template <class V, int Lanes, bool Inverse>
FFT_INLINE void radix4Stage(double* re, double* im, std::size_t length, const double* tw) {
    const std::size_t q = length / 4;
    butterfly4<V, Lanes, Inverse, false>(re, im, q * Lanes, nullptr);
    for (std::size_t j = 1; j < q; ++j) {
        const double sign = Inverse ? -1.0 : 1.0;
        const double w[6] = {tw[j],         sign * tw[q + j],
                             tw[2 * q + j], sign * tw[3 * q + j],
                             tw[4 * q + j], sign * tw[5 * q + j]};
        butterfly4<V, Lanes, Inverse, true>(re + j * Lanes, im + j * Lanes, q * Lanes, w);
    }
}

template <class V, int Lanes>
FFT_INLINE void radix2Pairs(double* re, double* im, std::size_t length) {
    constexpr int kWidth = sizeof(V) / sizeof(double);
    for (std::size_t b = 0; b < length; b += 2) {
        double* r0 = re + b * Lanes;
        double* r1 = re + (b + 1) * Lanes;
        double* i0 = im + b * Lanes;
        double* i1 = im + (b + 1) * Lanes;
        for (int k = 0; k < Lanes; k += kWidth) {
            const V ar = load<V>(r0 + k), ai = load<V>(i0 + k);
            const V br = load<V>(r1 + k), bi = load<V>(i1 + k);
            store(r0 + k, ar + br);
            store(i0 + k, ai + bi);
            store(r1 + k, ar - br);
            store(i1 + k, ai - bi);
        }
    }
}

// All stages of the n-element transforms, leaving them in bit-reversed order. The first stages,
// whose blocks do not fit in the L1 cache, sweep the whole (L2-sized) batch; then each block that
// fits is finished on its own.
template <class V, int Lanes, bool Inverse>
FFT_INLINE void decimate(double* re, double* im, const Plan& plan) {
    const std::size_t n = plan.n;
    std::size_t len = n;
    for (; len >= 16 && len * Lanes * 2 * sizeof(double) > kBlockBytes; len /= 4) {
        const double* tw = plan.stage(len);
        for (std::size_t b = 0; b < n; b += len)
            radix4Stage<V, Lanes, Inverse>(re + b * Lanes, im + b * Lanes, len, tw);
    }
    for (std::size_t block = 0; block < n; block += len) {
        double* bre = re + block * Lanes;
        double* bim = im + block * Lanes;
        std::size_t l = len;
        for (; l >= 4; l /= 4) {
            const double* tw = plan.stage(l);
            for (std::size_t b = 0; b < len; b += l)
                radix4Stage<V, Lanes, Inverse>(bre + b * Lanes, bim + b * Lanes, l, tw);
        }
        if (l == 2) radix2Pairs<V, Lanes>(bre, bim, len);
    }
}

void decimateVector(double* re, double* im, const Plan& plan, bool inverse) {
    if (inverse)
        decimate<double, 1, true>(re, im, plan);
    else
        decimate<double, 1, false>(re, im, plan);
}

template <int Lanes>
void decimateBatchSse2(double* re, double* im, const Plan& plan, bool inverse) {
    if (inverse)
        decimate<Vec2, Lanes, true>(re, im, plan);
    else
        decimate<Vec2, Lanes, false>(re, im, plan);
}

#if defined(__x86_64__) || defined(__i386__)
template <int Lanes>
__attribute__((target("avx2"))) void decimateBatchAvx2(double* re, double* im, const Plan& plan,
                                                       bool inverse) {
    if (inverse)
        decimate<Vec4, Lanes, true>(re, im, plan);
    else
        decimate<Vec4, Lanes, false>(re, im, plan);
}

bool cpuHasAvx2() {
    return __builtin_cpu_supports("avx2");
}
#else
template <int Lanes>
void decimateBatchAvx2(double* re, double* im, const Plan& plan, bool inverse) {
    decimateBatchSse2<Lanes>(re, im, plan, inverse);
}
bool cpuHasAvx2() {
    return false;
}
#endif

std::atomic<int> kernelChoice{static_cast<int>(Kernel::Automatic)};

using BatchKernel = void (*)(double*, double*, const Plan&, bool);

template <int Lanes>
BatchKernel batchKernel() {
    const auto choice = static_cast<Kernel>(kernelChoice.load());
    if (choice != Kernel::Sse2 && cpuHasAvx2()) return decimateBatchAvx2<Lanes>;
    return decimateBatchSse2<Lanes>;
}

// One contiguous vector in place: decimation, bit-reversal swaps, scaling.
void transformInPlace(double* re, double* im, const Plan& plan, bool inverse) {
    decimateVector(re, im, plan, inverse);
    const std::uint32_t* rev = plan.bitReverse.data();
    for (std::size_t i = 0; i < plan.n; ++i) {
        const std::size_t j = rev[i];
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    if (inverse) {
        const double scale = 1.0 / static_cast<double>(plan.n);  // exact: n is a power of two
        for (std::size_t i = 0; i < plan.n; ++i) {
            re[i] *= scale;
            im[i] *= scale;
        }
    }
}

// The caller's frame and what every pass needs to address it.
struct Grid {
    double* re;
    double* im;
    std::size_t n;
    std::size_t stride;
    const Plan* plan;
    bool inverse;
    double scale;              // 1, or 1/n for the inverse
    BatchKernel columnKernel;  // kBatch lanes
    BatchKernel rowKernel;     // kRowBatch lanes
};

// Given a = (a0, a1) and b = (b0, b1), stores (a0, b0) at lo and (a1, b1) at hi, scaled.
inline void transposePair(const double* a, const double* b, double* lo, double* hi, double scale) {
#if defined(__SSE2__)
    const __m128d va = _mm_loadu_pd(a), vb = _mm_loadu_pd(b), vs = _mm_set1_pd(scale);
    _mm_storeu_pd(lo, _mm_mul_pd(_mm_unpacklo_pd(va, vb), vs));
    _mm_storeu_pd(hi, _mm_mul_pd(_mm_unpackhi_pd(va, vb), vs));
#else
    const double a0 = a[0], a1 = a[1], b0 = b[0], b1 = b[1];
    lo[0] = a0 * scale;
    lo[1] = b0 * scale;
    hi[0] = a1 * scale;
    hi[1] = b1 * scale;
#endif
}

// Walks down columns meet a new page at every row, where the hardware prefetchers stop; asking
// for the row a few steps ahead keeps many misses in flight instead of one at a time.
constexpr std::size_t kPrefetchRows = 12;

inline void prefetchRead(const double* p) {
    __builtin_prefetch(p, 0, 3);
    __builtin_prefetch(p + 8, 0, 3);
}

inline void prefetchWrite(const double* p) {
    __builtin_prefetch(p, 1, 3);
    __builtin_prefetch(p + 8, 1, 3);
}

inline std::size_t rowAhead(std::size_t r, std::size_t n) {
    return r + kPrefetchRows < n ? r + kPrefetchRows : n - 1;
}

// Rows begin .. end - 1 of the frame.
struct RowRange {
    std::size_t begin, end;
};

// Columns c0 .. c0 + kBatch - 1. Rows outside `read` are taken as zeros without being read; only
// the rows in `write` of the result are written back.
void columnBatch(const Grid& f, std::size_t c0, double* sre, double* sim, RowRange read,
                 RowRange write) {
    const std::size_t n = f.n, stride = f.stride;
    double* const re = f.re + c0;
    double* const im = f.im + c0;
    std::fill(sre, sre + read.begin * kBatch, 0.0);
    std::fill(sim, sim + read.begin * kBatch, 0.0);
    for (std::size_t r = read.begin; r < read.end; ++r) {
        prefetchRead(re + rowAhead(r, read.end) * stride);
        prefetchRead(im + rowAhead(r, read.end) * stride);
        const double* pr = re + r * stride;
        const double* pi = im + r * stride;
        for (int k = 0; k < kBatch; k += 2) {
            store(sre + r * kBatch + k, load<Vec2>(pr + k));
            store(sim + r * kBatch + k, load<Vec2>(pi + k));
        }
    }
    std::fill(sre + read.end * kBatch, sre + n * kBatch, 0.0);
    std::fill(sim + read.end * kBatch, sim + n * kBatch, 0.0);
    f.columnKernel(sre, sim, *f.plan, f.inverse);
    const std::uint32_t* rev = f.plan->bitReverse.data();
    const double scale = f.scale;
    for (std::size_t r = write.begin; r < write.end; ++r) {
        prefetchWrite(re + rowAhead(r, write.end) * stride);
        prefetchWrite(im + rowAhead(r, write.end) * stride);
        const double* qr = sre + rev[r] * kBatch;
        const double* qi = sim + rev[r] * kBatch;
        double* pr = re + r * stride;
        double* pi = im + r * stride;
        for (int k = 0; k < kBatch; k += 2) {
            store(pr + k, load<Vec2>(qr + k) * scale);
            store(pi + k, load<Vec2>(qi + k) * scale);
        }
    }
}

// Rows r0 .. r0 + kRowBatch - 1, transposed into the lane layout and back two by two. The work goes
// in slices of kSlice columns, so the slice of scratch being filled or emptied stays in the L1
// cache while each pair of rows is walked in order.
constexpr std::size_t kSlice = 64;

void rowBatch(const Grid& f, std::size_t r0, double* sre, double* sim) {
    const std::size_t n = f.n, stride = f.stride;
    double* const re = f.re + r0 * stride;
    double* const im = f.im + r0 * stride;
    const std::size_t slice = n < kSlice ? n : kSlice;
    for (std::size_t c0 = 0; c0 < n; c0 += slice) {
        // Sixteen rows are read in short runs, too many streams for the hardware prefetcher:
        // ask for the next slice of each while this one is copied.
        const std::size_t ahead = c0 + slice < n ? slice : 0;
        for (int k = 0; k < kRowBatch; k += 2) {
            const double* ar = re + k * stride;
            const double* ai = im + k * stride;
            for (std::size_t c = c0; c < c0 + slice; c += 2) {
                if (ahead != 0 && (c & 7) == 0) {
                    __builtin_prefetch(ar + c + ahead);
                    __builtin_prefetch(ar + stride + c + ahead);
                    __builtin_prefetch(ai + c + ahead);
                    __builtin_prefetch(ai + stride + c + ahead);
                }
                transposePair(ar + c, ar + stride + c, sre + c * kRowBatch + k,
                              sre + (c + 1) * kRowBatch + k, 1.0);
                transposePair(ai + c, ai + stride + c, sim + c * kRowBatch + k,
                              sim + (c + 1) * kRowBatch + k, 1.0);
            }
        }
    }
    f.rowKernel(sre, sim, *f.plan, f.inverse);
    const std::uint32_t* rev = f.plan->bitReverse.data();
    const double scale = f.scale;
    for (std::size_t c0 = 0; c0 < n; c0 += slice) {
        for (int k = 0; k < kRowBatch; k += 2) {
            double* ar = re + k * stride;
            double* ai = im + k * stride;
            for (std::size_t c = c0; c < c0 + slice; c += 2) {
                const std::size_t p = rev[c] * kRowBatch + k, q = rev[c + 1] * kRowBatch + k;
                transposePair(sre + p, sre + q, ar + c, ar + stride + c, scale);
                transposePair(sim + p, sim + q, ai + c, ai + stride + c, scale);
            }
        }
    }
}

// Real columns c0 .. c0 + 2 kBatch - 1: the first kBatch ride in the real parts and the next
// kBatch in the imaginary parts of one batch of complex transforms, then the two spectra are
// separated with Z(n - u) = conj of the other half. Only output rows 0 .. n/2 are written: the
// rows below follow from them by symmetry after the row pass.
void realColumnBatch(const Grid& f, std::size_t c0, double* sre, double* sim) {
    const std::size_t n = f.n, stride = f.stride;
    double* const re = f.re + c0;
    double* const im = f.im + c0;
    for (std::size_t r = 0; r < n; ++r) {
        prefetchRead(re + rowAhead(r, n) * stride);
        prefetchRead(re + rowAhead(r, n) * stride + kBatch);
        const double* pr = re + r * stride;
        for (int k = 0; k < kBatch; k += 2) {
            store(sre + r * kBatch + k, load<Vec2>(pr + k));
            store(sim + r * kBatch + k, load<Vec2>(pr + kBatch + k));
        }
    }
    f.columnKernel(sre, sim, *f.plan, f.inverse);
    const std::uint32_t* rev = f.plan->bitReverse.data();
    const double half = 0.5 * f.scale;
    for (std::size_t u = 0; u <= n / 2; ++u) {
        const double* zr = sre + rev[u] * kBatch;
        const double* zi = sim + rev[u] * kBatch;
        const double* wr = sre + rev[(n - u) & (n - 1)] * kBatch;
        const double* wi = sim + rev[(n - u) & (n - 1)] * kBatch;
        double* pr = re + u * stride;
        double* pi = im + u * stride;
        for (int k = 0; k < kBatch; k += 2) {
            const Vec2 ar = load<Vec2>(zr + k), ai = load<Vec2>(zi + k);
            const Vec2 br = load<Vec2>(wr + k), bi = load<Vec2>(wi + k);
            store(pr + k, (ar + br) * half);
            store(pi + k, (ai - bi) * half);
            store(pr + kBatch + k, (ai + bi) * half);
            store(pi + kBatch + k, (br - ar) * half);
        }
    }
}

// Rows of a spectrum whose inverse is real (each row, after the column pass, Hermitian:
// Y(r, n - v) = conj Y(r, v)) back to real rows, two rows per complex transform: lane k carries
// Z = A + iB for rows a = r0 + 2k and b = a + 1, built from columns 0 .. n/2 alone, and its
// inverse leaves row a in the real parts and row b in the imaginary ones. Columns 0 and n/2 are
// their own mates, so only their real parts count, as in the real part of the complex inverse.
// Lanes whose rows are not wanted (at or past `end`) read a wanted row and write into scratch.
void realRowBatchInverse(const Grid& f, std::size_t r0, std::size_t end, double* sre, double* sim) {
    const std::size_t n = f.n, stride = f.stride, half = n / 2;
    const double* inRe[kRowBatch][2];
    const double* inIm[kRowBatch][2];
    double* out[kRowBatch][2];
    double* const junk = sre + n * kRowBatch;  // past this batch's lanes (see allocateScratch)
    for (int k = 0; k < kRowBatch; ++k) {
        const std::size_t a = r0 + 2 * k < end ? r0 + 2 * k : r0;
        const std::size_t b = a + 1 < n ? a + 1 : a;
        inRe[k][0] = f.re + a * stride;
        inIm[k][0] = f.im + a * stride;
        inRe[k][1] = f.re + b * stride;
        inIm[k][1] = f.im + b * stride;
        out[k][0] = r0 + 2 * k < end ? f.re + a * stride : junk;
        out[k][1] = r0 + 2 * k + 1 < end ? f.re + b * stride : junk;
    }
    const std::size_t slice = half < kSlice ? half : kSlice;
    for (std::size_t v0 = 0; v0 < half; v0 += slice) {
        for (int k = 0; k < kRowBatch; k += 2) {
            for (std::size_t v = v0; v < v0 + slice; v += 2) {
                // Lanes k and k + 1 at columns v and v + 1: rows transposed two by two.
                double t[4][4];  // a.re, a.im, b.re, b.im: lanes k, k + 1 at v, then at v + 1
                transposePair(inRe[k][0] + v, inRe[k + 1][0] + v, t[0], t[0] + 2, 1.0);
                transposePair(inIm[k][0] + v, inIm[k + 1][0] + v, t[1], t[1] + 2, 1.0);
                transposePair(inRe[k][1] + v, inRe[k + 1][1] + v, t[2], t[2] + 2, 1.0);
                transposePair(inIm[k][1] + v, inIm[k + 1][1] + v, t[3], t[3] + 2, 1.0);
                for (int j = 0; j < 2; ++j) {
                    const std::size_t u = v + j, m = n - u;
                    const Vec2 ar = load<Vec2>(t[0] + 2 * j), ai = load<Vec2>(t[1] + 2 * j);
                    const Vec2 br = load<Vec2>(t[2] + 2 * j), bi = load<Vec2>(t[3] + 2 * j);
                    if (u == 0) {
                        store(sre + k, ar);
                        store(sim + k, br);
                        continue;
                    }
                    store(sre + u * kRowBatch + k, ar - bi);
                    store(sim + u * kRowBatch + k, ai + br);
                    store(sre + m * kRowBatch + k, ar + bi);
                    store(sim + m * kRowBatch + k, br - ai);
                }
            }
        }
    }
    for (int k = 0; k < kRowBatch; ++k) {
        sre[half * kRowBatch + k] = inRe[k][0][half];
        sim[half * kRowBatch + k] = inRe[k][1][half];
    }
    f.rowKernel(sre, sim, *f.plan, true);
    const std::uint32_t* rev = f.plan->bitReverse.data();
    const double scale = f.scale;
    const std::size_t outSlice = n < kSlice ? n : kSlice;
    for (std::size_t c0 = 0; c0 < n; c0 += outSlice) {
        for (int k = 0; k < kRowBatch; k += 2) {
            for (std::size_t c = c0; c < c0 + outSlice; c += 2) {
                const std::size_t p = rev[c] * kRowBatch + k, q = rev[c + 1] * kRowBatch + k;
                transposePair(sre + p, sre + q, out[k][0] + c, out[k + 1][0] + c, scale);
                transposePair(sim + p, sim + q, out[k][1] + c, out[k + 1][1] + c, scale);
            }
        }
    }
}

// Row n - u of a transform of real data is row u conjugated and reversed: R(n-u, v) = conj
// R(u, n-v).
void mirrorRow(const Grid& f, std::size_t u) {
    const std::size_t n = f.n;
    const double* __restrict sr = f.re + u * f.stride;
    const double* __restrict si = f.im + u * f.stride;
    double* __restrict dr = f.re + (n - u) * f.stride;
    double* __restrict di = f.im + (n - u) * f.stride;
    dr[0] = sr[0];
    di[0] = -si[0];
    for (std::size_t v = 1; v < n; ++v) {
        dr[v] = sr[n - v];
        di[v] = -si[n - v];
    }
}

// Runs body(begin, end, worker) over [0, count), split between up to two threads. If a thread
// cannot be started (std::thread reports that by throwing) the calling thread does both halves.
template <class Body>
void runSplit(std::size_t count, int workers, const Body& body) {
    if (workers < 2 || count < 2) {
        body(std::size_t{0}, count, 0);
        return;
    }
    const std::size_t half = count / 2;
    std::thread helper;
    try {
        helper = std::thread([&body, half, count] { body(half, count, 1); });
    } catch (const std::exception&) {
    }
    body(std::size_t{0}, half, 0);
    if (helper.joinable())
        helper.join();
    else
        body(half, count, 1);
}

int workerCount(std::size_t n) {
    if (n < 64) return 1;  // thread start-up would cost more than the work
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 1 ? 1 : static_cast<int>(detail::limitThreads(kWorkers));
}

// Per-worker scratch of one batch: real lanes then imaginary lanes.
// Per-worker scratch of one batch: real lanes then imaginary lanes, each starting on a 64-byte
// boundary so that no vector load of a lane group straddles two cache lines.
struct Scratch {
    std::unique_ptr<double[]> memory;
    double* base = nullptr;
    std::size_t perWorker = 0;
    double* re(int worker) const { return base + worker * perWorker; }
    double* im(int worker) const { return re(worker) + perWorker / 2; }
};

bool allocateScratch(Scratch& s, std::size_t n, int workers) {
    constexpr std::size_t kAlign = 64 / sizeof(double);
    s.perWorker = 2 * n * kBatch;  // a multiple of kAlign: n >= kBatch here
    s.memory.reset(new (std::nothrow) double[s.perWorker * workers + kAlign]);
    if (s.memory == nullptr) return false;
    const auto address = reinterpret_cast<std::uintptr_t>(s.memory.get());
    s.base = s.memory.get() + (kAlign - (address / sizeof(double)) % kAlign) % kAlign;
    return true;
}

int checkGrid(double* re, double* im, int n, int rowLength, int& log2n) {
    if (n < 2 || n > kMaxTransformSize || re == nullptr || im == nullptr || rowLength < n)
        return kTransformBadSize;
    if ((n & (n - 1)) != 0) return kTransformNotPowerOfTwo;
    log2n = 0;
    while ((1 << log2n) < n) ++log2n;
    return kTransformOk;
}

// Frames too small for a batch of lanes go through the one-dimensional routine column by column
// (through a small gathered vector) and row by row.
int smallGrid(const Grid& f) {
    double col[2 * kBatch * 2];
    for (std::size_t c = 0; c < f.n; ++c) {
        for (std::size_t r = 0; r < f.n; ++r) {
            col[r] = f.re[r * f.stride + c];
            col[f.n + r] = f.im[r * f.stride + c];
        }
        transformInPlace(col, col + f.n, *f.plan, f.inverse);
        for (std::size_t r = 0; r < f.n; ++r) {
            f.re[r * f.stride + c] = col[r];
            f.im[r * f.stride + c] = col[f.n + r];
        }
    }
    for (std::size_t r = 0; r < f.n; ++r)
        transformInPlace(f.re + r * f.stride, f.im + r * f.stride, *f.plan, f.inverse);
    return kTransformOk;
}

int run2d(double* re, double* im, int n, int rowLength, Direction direction, bool realInput,
          int firstRow, int rowCount) {
    int log2n = 0;
    const int check = checkGrid(re, im, n, rowLength, log2n);
    if (check != kTransformOk) return check;
    const Plan* plan = cachedPlan(log2n);
    if (plan == nullptr) return kTransformNoMemory;
    const bool inverse = direction == Direction::Inverse;
    const Grid f{re,
                  im,
                  plan->n,
                  static_cast<std::size_t>(rowLength),
                  plan,
                  inverse,
                  inverse ? 1.0 / static_cast<double>(plan->n) : 1.0,
                  batchKernel<kBatch>(),
                  batchKernel<kRowBatch>()};
    if (f.n < kBatch) {
        if (realInput)
            for (std::size_t r = 0; r < f.n; ++r)
                for (std::size_t c = 0; c < f.n; ++c) im[r * f.stride + c] = 0.0;
        return smallGrid(f);
    }
    const int workers = workerCount(f.n);
    Scratch scratch;
    if (!allocateScratch(scratch, f.n, workers)) return kTransformNoMemory;

    if (realInput && f.n >= 2 * kBatch) {
        runSplit(f.n / (2 * kBatch), workers, [&](std::size_t b, std::size_t e, int w) {
            for (std::size_t i = b; i < e; ++i)
                realColumnBatch(f, i * 2 * kBatch, scratch.re(w), scratch.im(w));
        });
        // Rows 0 .. n/2 - 1 in batches, each batch mirrored while still in cache; row n/2 is its
        // own mirror image and goes through the one-dimensional routine.
        runSplit(f.n / 2 / kRowBatch, workers, [&](std::size_t b, std::size_t e, int w) {
            for (std::size_t i = b; i < e; ++i) {
                rowBatch(f, i * kRowBatch, scratch.re(w), scratch.im(w));
                for (int k = 0; k < kRowBatch; ++k) {
                    const std::size_t u = i * kRowBatch + k;
                    if (u != 0) mirrorRow(f, u);
                }
            }
        });
        const std::size_t middle = f.n / 2;
        transformInPlace(re + middle * f.stride, im + middle * f.stride, *plan, inverse);
        return kTransformOk;
    }
    if (realInput)
        for (std::size_t r = 0; r < f.n; ++r)
            for (std::size_t c = 0; c < f.n; ++c) im[r * f.stride + c] = 0.0;
    runSplit(f.n / kBatch, workers, [&](std::size_t b, std::size_t e, int w) {
        for (std::size_t i = b; i < e; ++i)
            columnBatch(f, i * kBatch, scratch.re(w), scratch.im(w), {0, f.n}, {0, f.n});
    });
    // Only the batches that hold a wanted row; each row's arithmetic is the same in any batch.
    const std::size_t firstBatch = static_cast<std::size_t>(firstRow) / kRowBatch;
    const std::size_t endBatch =
        (static_cast<std::size_t>(firstRow) + static_cast<std::size_t>(rowCount) + kRowBatch - 1) /
        kRowBatch;
    runSplit(endBatch - firstBatch, workers, [&](std::size_t b, std::size_t e, int w) {
        for (std::size_t i = firstBatch + b; i < firstBatch + e; ++i)
            rowBatch(f, i * kRowBatch, scratch.re(w), scratch.im(w));
    });
    return kTransformOk;
}

// The inverse of a spectrum whose inverse is real, for rows firstRow .. firstRow + rowCount - 1:
// columns 0 .. n/2 (and the rest of their batch), then the wanted rows two to a transform. Rows
// outside `nonzero` are zeros, never read.
int runRealOutput(double* re, double* im, int n, int rowLength, int firstRow, int rowCount,
                  int nonzeroFirst, int nonzeroCount) {
    if (firstRow < 0 || rowCount < 0 || firstRow > n - rowCount) return kTransformBadSize;
    if (nonzeroFirst < 0 || nonzeroCount < 0 || nonzeroFirst > n - nonzeroCount)
        return kTransformBadSize;
    // Below two batches of columns the complex inverse is as quick; its real parts are the same.
    if (n < 2 * kBatch) {
        if (re == nullptr || im == nullptr || rowLength < n) return kTransformBadSize;
        for (int r = 0; r < n; ++r) {
            if (r >= nonzeroFirst && r < nonzeroFirst + nonzeroCount) continue;
            std::fill(re + static_cast<std::size_t>(r) * rowLength,
                      re + static_cast<std::size_t>(r) * rowLength + n, 0.0);
            std::fill(im + static_cast<std::size_t>(r) * rowLength,
                      im + static_cast<std::size_t>(r) * rowLength + n, 0.0);
        }
        return run2d(re, im, n, rowLength, Direction::Inverse, false, firstRow, rowCount);
    }
    int log2n = 0;
    const int check = checkGrid(re, im, n, rowLength, log2n);
    if (check != kTransformOk) return check;
    const Plan* plan = cachedPlan(log2n);
    if (plan == nullptr) return kTransformNoMemory;
    const Grid f{re,
                 im,
                 plan->n,
                 static_cast<std::size_t>(rowLength),
                 plan,
                 true,
                 1.0 / static_cast<double>(plan->n),
                 batchKernel<kBatch>(),
                 batchKernel<kRowBatch>()};
    const int workers = workerCount(f.n);
    Scratch scratch;
    if (!allocateScratch(scratch, f.n, workers)) return kTransformNoMemory;
    const std::size_t rows = 2 * kRowBatch;
    const std::size_t first = static_cast<std::size_t>(firstRow);
    const std::size_t end = first + static_cast<std::size_t>(rowCount);
    // The row pass reads the wanted rows and the one after them (the partner of an odd last row,
    // which must be a transformed row for the pair to separate); the rest is never read.
    const std::size_t readEnd = end < f.n ? end + 1 : f.n;
    const RowRange nonzero{
        static_cast<std::size_t>(nonzeroFirst),
        static_cast<std::size_t>(nonzeroFirst) + static_cast<std::size_t>(nonzeroCount)};
    runSplit(f.n / 2 / kBatch + 1, workers, [&](std::size_t b, std::size_t e, int w) {
        for (std::size_t i = b; i < e; ++i)
            columnBatch(f, i * kBatch, scratch.re(w), scratch.im(w), nonzero, {first, readEnd});
    });
    runSplit((end - first + rows - 1) / rows, workers, [&](std::size_t b, std::size_t e, int w) {
        for (std::size_t i = b; i < e; ++i)
            realRowBatchInverse(f, first + i * rows, end, scratch.re(w), scratch.im(w));
    });
    return kTransformOk;
}

// --- frames above kMaxTransformSize: the half spectrum of a real frame ------------------------

// Row r of the frame starts at r * (n + 2) elements of T (see fft.h). Both passes go in batches
// of kBatch lanes through the column kernel; arithmetic is in double whatever T is.
template <class T>
struct HalfGrid {
    T* data;
    std::size_t n;
    std::size_t stride;  // n + 2
    const Plan* plan;
    BatchKernel kernel;
    bool inverse;
    double scale;
    T* row(std::size_t r) const { return data + r * stride; }
};

// Complex columns c0 .. c0 + kBatch - 1 of the half spectrum (those at or beyond n/2 + 1 ride
// along as zeros and are not written back).
template <class T>
void halfColumnBatch(const HalfGrid<T>& f, std::size_t c0, double* sre, double* sim) {
    const std::size_t n = f.n, columns = n / 2 + 1;
    const int lanes = static_cast<int>(columns - c0 < std::size_t{kBatch} ? columns - c0 : kBatch);
    for (std::size_t r = 0; r < n; ++r) {
        const T* p = f.row(r) + 2 * c0;
        double* qr = sre + r * kBatch;
        double* qi = sim + r * kBatch;
        for (int k = 0; k < lanes; ++k) {
            qr[k] = p[2 * k];
            qi[k] = p[2 * k + 1];
        }
        for (int k = lanes; k < kBatch; ++k) qr[k] = qi[k] = 0.0;
    }
    f.kernel(sre, sim, *f.plan, f.inverse);
    const std::uint32_t* rev = f.plan->bitReverse.data();
    for (std::size_t r = 0; r < n; ++r) {
        T* p = f.row(r) + 2 * c0;
        const double* qr = sre + rev[r] * kBatch;
        const double* qi = sim + rev[r] * kBatch;
        for (int k = 0; k < lanes; ++k) {
            p[2 * k] = static_cast<T>(qr[k] * f.scale);
            p[2 * k + 1] = static_cast<T>(qi[k] * f.scale);
        }
    }
}

// Real rows r0 .. r0 + 2 kBatch - 1 to their half spectra: rows r0 + 2k and r0 + 2k + 1 are the
// real and imaginary parts of lane k, separated afterwards with Z(n - v) = conj of the other.
// Every loop walks the columns outside and the lanes inside, so the scratch is read and written
// in order while the 32 rows stream along beside each other.
template <class T>
void halfRowBatchForward(const HalfGrid<T>& f, std::size_t r0, double* sre, double* sim) {
    const std::size_t n = f.n;
    const T* rows[2 * kBatch];
    for (int k = 0; k < 2 * kBatch; ++k) rows[k] = f.row(r0 + k);
    for (std::size_t c = 0; c < n; ++c) {
        double* qr = sre + c * kBatch;
        double* qi = sim + c * kBatch;
        for (int k = 0; k < kBatch; ++k) {
            qr[k] = rows[2 * k][c];
            qi[k] = rows[2 * k + 1][c];
        }
    }
    f.kernel(sre, sim, *f.plan, false);
    const std::uint32_t* rev = f.plan->bitReverse.data();
    T* out[2 * kBatch];
    for (int k = 0; k < 2 * kBatch; ++k) out[k] = f.row(r0 + k);
    for (std::size_t v = 0; v <= n / 2; ++v) {
        const double* zr = sre + rev[v] * kBatch;
        const double* zi = sim + rev[v] * kBatch;
        const double* wr = sre + rev[(n - v) & (n - 1)] * kBatch;
        const double* wi = sim + rev[(n - v) & (n - 1)] * kBatch;
        for (int k = 0; k < kBatch; ++k) {
            T* a = out[2 * k] + 2 * v;
            T* b = out[2 * k + 1] + 2 * v;
            a[0] = static_cast<T>(0.5 * (zr[k] + wr[k]));
            a[1] = static_cast<T>(0.5 * (zi[k] - wi[k]));
            b[0] = static_cast<T>(0.5 * (zi[k] + wi[k]));
            b[1] = static_cast<T>(0.5 * (wr[k] - zr[k]));
        }
    }
}

// The inverse of the above for the rows of the batch below `end`: Z = A + iB over the whole
// row, A and B continued by symmetry, transformed back; the real rows replace the spectra.
template <class T>
void halfRowBatchInverse(const HalfGrid<T>& f, std::size_t r0, std::size_t end, double* sre,
                         double* sim) {
    const std::size_t n = f.n;
    // Lanes past `end` read a wanted row again and are never written back.
    T* rows[2 * kBatch];
    for (int k = 0; k < kBatch; ++k) {
        const std::size_t ra = r0 + 2 * k < end ? r0 + 2 * k : r0;
        rows[2 * k] = f.row(ra);
        rows[2 * k + 1] = f.row(ra + 1);
    }
    for (std::size_t v = 0; v <= n / 2; ++v) {
        double* pr = sre + v * kBatch;
        double* pi = sim + v * kBatch;
        double* mr = sre + ((n - v) & (n - 1)) * kBatch;
        double* mi = sim + ((n - v) & (n - 1)) * kBatch;
        const bool mirrored = v != 0 && v != n / 2;
        for (int k = 0; k < kBatch; ++k) {
            const T* a = rows[2 * k] + 2 * v;
            const T* b = rows[2 * k + 1] + 2 * v;
            const double ar = a[0], ai = a[1], br = b[0], bi = b[1];
            pr[k] = ar - bi;
            pi[k] = ai + br;
            if (mirrored) {
                mr[k] = ar + bi;
                mi[k] = br - ai;
            }
        }
    }
    f.kernel(sre, sim, *f.plan, true);
    const std::uint32_t* rev = f.plan->bitReverse.data();
    int lanes = 0;
    while (lanes < kBatch && r0 + 2 * lanes < end) ++lanes;
    for (std::size_t c = 0; c < n; ++c) {
        const double* qr = sre + rev[c] * kBatch;
        const double* qi = sim + rev[c] * kBatch;
        for (int k = 0; k < lanes; ++k) {
            rows[2 * k][c] = static_cast<T>(qr[k] * f.scale);
            rows[2 * k + 1][c] = static_cast<T>(qi[k] * f.scale);
        }
    }
}

template <class T>
int runHalf(T* data, int n, bool inverse, int firstRow, int rowCount) {
    if (data == nullptr || n < 2 * kBatch || n > kMaxHalfTransformSize) return kTransformBadSize;
    if ((n & (n - 1)) != 0) return kTransformNotPowerOfTwo;
    if (firstRow < 0 || rowCount < 0 || firstRow > n - rowCount) return kTransformBadSize;
    int log2n = 0;
    while ((1 << log2n) < n) ++log2n;
    const Plan* plan = cachedPlan(log2n);
    if (plan == nullptr) return kTransformNoMemory;
    const HalfGrid<T> f{data,  plan->n, plan->n + 2, plan, batchKernel<kBatch>(),
                         inverse, inverse ? 1.0 / static_cast<double>(plan->n) : 1.0};
    const int workers = workerCount(f.n);
    Scratch scratch;
    if (!allocateScratch(scratch, f.n, workers)) return kTransformNoMemory;
    const std::size_t columnBatches = (f.n / 2 + 1 + kBatch - 1) / kBatch;
    const std::size_t rowBatch = 2 * kBatch;
    if (!inverse) {
        runSplit(f.n / rowBatch, workers, [&](std::size_t b, std::size_t e, int w) {
            for (std::size_t i = b; i < e; ++i)
                halfRowBatchForward(f, i * rowBatch, scratch.re(w), scratch.im(w));
        });
        runSplit(columnBatches, workers, [&](std::size_t b, std::size_t e, int w) {
            for (std::size_t i = b; i < e; ++i)
                halfColumnBatch(f, i * kBatch, scratch.re(w), scratch.im(w));
        });
        return kTransformOk;
    }
    runSplit(columnBatches, workers, [&](std::size_t b, std::size_t e, int w) {
        for (std::size_t i = b; i < e; ++i)
            halfColumnBatch(f, i * kBatch, scratch.re(w), scratch.im(w));
    });
    // Rows go in pairs from an even row: a wanted odd first row brings its even neighbour.
    const std::size_t first = static_cast<std::size_t>(firstRow) / rowBatch * rowBatch;
    const std::size_t end = (static_cast<std::size_t>(firstRow) + rowCount + 1) / 2 * 2;
    runSplit((end - first + rowBatch - 1) / rowBatch, workers,
             [&](std::size_t b, std::size_t e, int w) {
                 for (std::size_t i = b; i < e; ++i)
                     halfRowBatchInverse(f, first + i * rowBatch, end, scratch.re(w),
                                         scratch.im(w));
             });
    return kTransformOk;
}

void selectKernel(Kernel kernel) {
    kernelChoice.store(static_cast<int>(kernel));
}

bool avx2Available() {
    return cpuHasAvx2();
}

}  // namespace detail

int transform2d(double* real, double* imag, int n, int rowLength, Direction direction) {
    return detail::run2d(real, imag, n, rowLength, direction, false, 0, n);
}

int transform2dRealInput(double* real, double* imag, int n, int rowLength, Direction direction) {
    return detail::run2d(real, imag, n, rowLength, direction, true, 0, n);
}

int transform2dRows(double* real, double* imag, int n, int rowLength, Direction direction,
                    int firstRow, int rowCount) {
    if (firstRow < 0 || rowCount < 0 || firstRow > n - rowCount) return kTransformBadSize;
    return detail::run2d(real, imag, n, rowLength, direction, false, firstRow, rowCount);
}

int transform2dRealRows(double* real, double* imag, int n, int rowLength, int firstRow,
                        int rowCount, int nonzeroFirst, int nonzeroCount) {
    return detail::runRealOutput(real, imag, n, rowLength, firstRow, rowCount, nonzeroFirst,
                                 nonzeroCount);
}

int transform1d(double* real, double* imag, int n, int log2n, Direction direction) {
    if (n < 2 || real == nullptr || imag == nullptr) return kTransformBadSize;
    if (log2n < 1) {
        log2n = 0;
        while (log2n < 30 && (1 << log2n) < n) ++log2n;
    }
    if (log2n > 30 || (1 << log2n) != n) return kTransformNotPowerOfTwo;
    std::unique_ptr<detail::Plan> own;
    const detail::Plan* plan = nullptr;
    if (log2n <= detail::kCachedLog2) {
        plan = detail::cachedPlan(log2n);
    } else {
        own = detail::buildPlan(log2n);
        plan = own.get();
    }
    if (plan == nullptr) return kTransformNoMemory;
    detail::transformInPlace(real, imag, *plan, direction == Direction::Inverse);
    return kTransformOk;
}

int halfTransformForward(double* frame, int n) {
    return detail::runHalf(frame, n, false, 0, n);
}

int halfTransformForward(float* frame, int n) { return detail::runHalf(frame, n, false, 0, n); }

int halfTransformInverse(double* frame, int n, int firstRow, int rowCount) {
    return detail::runHalf(frame, n, true, firstRow, rowCount);
}

int halfTransformInverse(float* frame, int n, int firstRow, int rowCount) {
    return detail::runHalf(frame, n, true, firstRow, rowCount);
}

}  // namespace spectrum
