// The transform against independent references: a direct DFT summed in long double, and the
// plain radix-2 algorithm with per-stage cos/sin. Every numeric test runs with both vector
// kernels (AVX2 where the processor has it, and SSE2 forced).
#include "spectrum/engine/fft.h"
#include "tests/reference/plain_fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace {

using spectrum::Direction;
using spectrum::detail::Kernel;
using Complex = std::complex<long double>;

struct Field {
    std::vector<double> re, im;
    explicit Field(std::size_t count) : re(count, 0.0), im(count, 0.0) {}
};

Field randomField(std::size_t count, unsigned seed, bool real = false) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Field f(count);
    for (std::size_t i = 0; i < count; ++i) {
        f.re[i] = value(gen);
        f.im[i] = real ? 0.0 : value(gen);
    }
    return f;
}

// Direct DFT of one strided sequence in long double, with the transform's sign and scaling.
void directDft(Complex* data, std::size_t n, std::size_t step, bool inverse) {
    const long double pi = std::acos(-1.0L), sign = inverse ? 1.0L : -1.0L;
    std::vector<Complex> w(n), out(n);
    for (std::size_t k = 0; k < n; ++k) {
        const long double angle = sign * 2.0L * pi * static_cast<long double>(k) / n;
        w[k] = Complex(std::cos(angle), std::sin(angle));
    }
    for (std::size_t k = 0; k < n; ++k) {
        Complex sum = 0;
        for (std::size_t x = 0; x < n; ++x) sum += data[x * step] * w[(k * x) % n];
        out[k] = inverse ? sum / static_cast<long double>(n) : sum;
    }
    for (std::size_t k = 0; k < n; ++k) data[k * step] = out[k];
}

std::vector<Complex> toComplex(const Field& f) {
    std::vector<Complex> c(f.re.size());
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = Complex(f.re[i], f.im[i]);
    return c;
}

struct Errors {
    double rms = 0, max = 0;  // relative to the RMS magnitude of the reference
};

Errors compare(const Field& got, const std::vector<Complex>& want) {
    long double power = 0, err2 = 0, errMax = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        power += std::norm(want[i]);
        const long double e = std::abs(Complex(got.re[i], got.im[i]) - want[i]);
        err2 += e * e;
        errMax = std::max(errMax, e);
    }
    const long double rms = std::sqrt(power / want.size());
    return Errors{static_cast<double>(std::sqrt(err2 / want.size()) / rms),
                  static_cast<double>(errMax / rms)};
}

double maxDifference(const Field& a, const Field& b) {
    double scale = 0, diff = 0;
    for (std::size_t i = 0; i < a.re.size(); ++i) {
        scale = std::max(scale, std::hypot(b.re[i], b.im[i]));
        diff = std::max(diff, std::hypot(a.re[i] - b.re[i], a.im[i] - b.im[i]));
    }
    return diff / scale;
}

void plain2d(Field& f, int n, bool inverse) { reference::plain2d(f.re.data(), f.im.data(), n, inverse); }
using reference::plain1d;

Direction dir(bool inverse) {
    return inverse ? Direction::Inverse : Direction::Forward;
}

// Every numeric test runs once per kernel.
class KernelTest : public ::testing::TestWithParam<Kernel> {
  protected:
    void SetUp() override { spectrum::detail::selectKernel(GetParam()); }
    void TearDown() override { spectrum::detail::selectKernel(Kernel::Automatic); }
};

std::string kernelName(const ::testing::TestParamInfo<Kernel>& info) {
    return info.param == Kernel::Sse2 ? "Sse2" : "Automatic";
}

TEST_P(KernelTest, OneDimensionalMatchesDirectDft) {
    for (int n = 2; n <= 64; n *= 2) {
        for (bool inverse : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "n=" << n << " inverse=" << inverse);
            Field f = randomField(n, 100 + n);
            std::vector<Complex> want = toComplex(f);
            directDft(want.data(), n, 1, inverse);
            ASSERT_EQ(spectrum::transform1d(f.re.data(), f.im.data(), n, 0, dir(inverse)), 0);
            const Errors e = compare(f, want);
            EXPECT_LT(e.rms, 1e-15);
            EXPECT_LT(e.max, 4e-15);
        }
    }
}

TEST_P(KernelTest, TwoDimensionalMatchesDirectDft) {
    for (int n = 2; n <= 64; n *= 2) {
        for (bool inverse : {false, true}) {
            for (bool realInput : {false, true}) {
                SCOPED_TRACE(::testing::Message()
                             << "n=" << n << " inverse=" << inverse << " real=" << realInput);
                Field f = randomField(static_cast<std::size_t>(n) * n, 200 + n, realInput);
                std::vector<Complex> want = toComplex(f);
                for (int c = 0; c < n; ++c) directDft(&want[c], n, n, inverse);
                for (int r = 0; r < n; ++r) directDft(&want[r * n], n, 1, inverse);
                const int rc =
                    realInput ? spectrum::transform2dRealInput(f.re.data(), f.im.data(), n, n,
                                                               dir(inverse))
                              : spectrum::transform2d(f.re.data(), f.im.data(), n, n, dir(inverse));
                ASSERT_EQ(rc, 0);
                const Errors e = compare(f, want);
                EXPECT_LT(e.rms, 1e-15);
                EXPECT_LT(e.max, 5e-15);
            }
        }
    }
}

TEST_P(KernelTest, TwoDimensionalMatchesPlainAlgorithm) {
    for (int n : {256, 1024}) {
        for (bool inverse : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "n=" << n << " inverse=" << inverse);
            Field f = randomField(static_cast<std::size_t>(n) * n, 300 + n);
            Field want = f;
            plain2d(want, n, inverse);
            ASSERT_EQ(spectrum::transform2d(f.re.data(), f.im.data(), n, n, dir(inverse)), 0);
            EXPECT_LT(maxDifference(f, want), 1e-13);
        }
    }
}

// The real-input variant packs column pairs and fills half the rows by symmetry: it must give
// the general result for every path (tiny frames, frames of one batch, packed batches).
TEST_P(KernelTest, RealInputEqualsGeneralTransform) {
    for (int n : {2, 4, 8, 16, 32, 64, 128, 512}) {
        for (bool inverse : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "n=" << n << " inverse=" << inverse);
            Field general = randomField(static_cast<std::size_t>(n) * n, 400 + n, true);
            Field real = general;
            // Whatever the imaginary array holds on entry is never read.
            std::fill(real.im.begin(), real.im.end(), 12345.0);
            ASSERT_EQ(
                spectrum::transform2d(general.re.data(), general.im.data(), n, n, dir(inverse)), 0);
            ASSERT_EQ(
                spectrum::transform2dRealInput(real.re.data(), real.im.data(), n, n, dir(inverse)),
                0);
            EXPECT_LT(maxDifference(real, general), 1e-14);
        }
    }
}

TEST_P(KernelTest, RoundTripsReturnTheInput) {
    {
        const int n = 8192;
        Field f = randomField(n, 7);
        const Field input = f;
        ASSERT_EQ(spectrum::transform1d(f.re.data(), f.im.data(), n, 13, Direction::Forward), 0);
        ASSERT_EQ(spectrum::transform1d(f.re.data(), f.im.data(), n, 13, Direction::Inverse), 0);
        EXPECT_LT(maxDifference(f, input), 1e-14);
    }
    {
        // Above the largest cached plan.
        const int n = 1 << 15;
        Field f = randomField(n, 8);
        const Field input = f;
        ASSERT_EQ(spectrum::transform1d(f.re.data(), f.im.data(), n, 0, Direction::Forward), 0);
        ASSERT_EQ(spectrum::transform1d(f.re.data(), f.im.data(), n, 0, Direction::Inverse), 0);
        EXPECT_LT(maxDifference(f, input), 1e-14);
    }
    {
        const int n = 1024;
        Field f = randomField(static_cast<std::size_t>(n) * n, 9, true);
        const Field input = f;
        ASSERT_EQ(
            spectrum::transform2dRealInput(f.re.data(), f.im.data(), n, n, Direction::Forward), 0);
        ASSERT_EQ(spectrum::transform2d(f.re.data(), f.im.data(), n, n, Direction::Inverse), 0);
        EXPECT_LT(maxDifference(f, input), 1e-14);
        ASSERT_EQ(spectrum::transform2d(f.re.data(), f.im.data(), n, n, Direction::Forward), 0);
        ASSERT_EQ(spectrum::transform2d(f.re.data(), f.im.data(), n, n, Direction::Inverse), 0);
        EXPECT_LT(maxDifference(f, input), 1e-14);
    }
}

TEST_P(KernelTest, ParsevalHolds) {
    const int n = 512;
    Field f = randomField(static_cast<std::size_t>(n) * n, 10);
    long double before = 0, after = 0;
    for (std::size_t i = 0; i < f.re.size(); ++i) before += f.re[i] * f.re[i] + f.im[i] * f.im[i];
    ASSERT_EQ(spectrum::transform2d(f.re.data(), f.im.data(), n, n, Direction::Forward), 0);
    for (std::size_t i = 0; i < f.re.size(); ++i) after += f.re[i] * f.re[i] + f.im[i] * f.im[i];
    EXPECT_NEAR(static_cast<double>(after / (before * n * n)), 1.0, 1e-13);
}

TEST_P(KernelTest, ConstantImageHasOnlyTheZeroFrequency) {
    const int n = 128;
    const double g = 77.0;
    for (bool modulated : {false, true}) {
        SCOPED_TRACE(modulated ? "modulated" : "plain");
        Field f(static_cast<std::size_t>(n) * n);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) f.re[r * n + c] = modulated && (r + c) % 2 ? -g : g;
        ASSERT_EQ(
            spectrum::transform2dRealInput(f.re.data(), f.im.data(), n, n, Direction::Forward), 0);
        // (-1)^(row + column) moves the zero frequency to the middle of the frame.
        const std::size_t peak = modulated ? (n / 2) * n + n / 2 : 0;
        for (std::size_t i = 0; i < f.re.size(); ++i) {
            if (i == peak) {
                EXPECT_DOUBLE_EQ(f.re[i], g * n * n);
                EXPECT_NEAR(f.im[i], 0.0, 1e-9);
            } else {
                ASSERT_NEAR(f.re[i], 0.0, 1e-9) << "at " << i;
                ASSERT_NEAR(f.im[i], 0.0, 1e-9) << "at " << i;
            }
        }
    }
}

TEST_P(KernelTest, RowLengthLongerThanTheFrameLeavesPaddingAlone) {
    for (int n : {8, 64}) {
        for (bool realInput : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "n=" << n << " real=" << realInput);
            const int stride = n + 16;
            Field packed = randomField(static_cast<std::size_t>(n) * n, 11, realInput);
            Field padded(static_cast<std::size_t>(n) * stride);
            std::fill(padded.re.begin(), padded.re.end(), -7.0);
            std::fill(padded.im.begin(), padded.im.end(), -8.0);
            for (int r = 0; r < n; ++r)
                for (int c = 0; c < n; ++c) {
                    padded.re[r * stride + c] = packed.re[r * n + c];
                    padded.im[r * stride + c] = packed.im[r * n + c];
                }
            auto run = realInput ? spectrum::transform2dRealInput : spectrum::transform2d;
            ASSERT_EQ(run(packed.re.data(), packed.im.data(), n, n, Direction::Forward), 0);
            ASSERT_EQ(run(padded.re.data(), padded.im.data(), n, stride, Direction::Forward), 0);
            for (int r = 0; r < n; ++r)
                for (int c = 0; c < stride; ++c) {
                    const std::size_t i = r * stride + c;
                    if (c >= n) {
                        ASSERT_EQ(padded.re[i], -7.0);
                        ASSERT_EQ(padded.im[i], -8.0);
                    } else {
                        ASSERT_EQ(padded.re[i], packed.re[r * n + c]);
                        ASSERT_EQ(padded.im[i], packed.im[r * n + c]);
                    }
                }
        }
    }
}

// The inverse of a window of rows: those rows bit for bit the whole transform's, whichever rows
// and however they fall against the row batches.
TEST_P(KernelTest, RowRangeGivesTheWantedRowsExactly) {
    struct Case {
        int n, first, count;
    };
    for (const Case c : {Case{4, 1, 2}, Case{64, 0, 64}, Case{64, 13, 1}, Case{128, 3, 77},
                         Case{256, 106, 45}, Case{256, 255, 1}, Case{512, 0, 0}}) {
        for (bool inverse : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "n=" << c.n << " rows " << c.first << "+"
                                              << c.count << " inverse=" << inverse);
            Field whole = randomField(static_cast<std::size_t>(c.n) * c.n, 900 + c.n);
            Field part = whole;
            ASSERT_EQ(spectrum::transform2d(whole.re.data(), whole.im.data(), c.n, c.n,
                                            dir(inverse)),
                      0);
            ASSERT_EQ(spectrum::transform2dRows(part.re.data(), part.im.data(), c.n, c.n,
                                                dir(inverse), c.first, c.count),
                      0);
            const std::size_t from = static_cast<std::size_t>(c.first) * c.n;
            const std::size_t to = from + static_cast<std::size_t>(c.count) * c.n;
            for (std::size_t i = from; i < to; ++i) {
                ASSERT_EQ(part.re[i], whole.re[i]) << i;
                ASSERT_EQ(part.im[i], whole.im[i]) << i;
            }
        }
    }
}

// The real inverse of a real image's spectrum, weighed by a centro-symmetric factor: the wanted
// rows agree with the real parts of the complex inverse and, unweighed, give the image back.
// Covers sizes below the batched path, row counts odd and even, and windows that end the frame.
TEST_P(KernelTest, RealRowsAreTheRealPartsOfTheComplexInverse) {
    struct Case {
        int n, first, count;
    };
    for (const Case c : {Case{8, 1, 5}, Case{32, 0, 32}, Case{32, 31, 1}, Case{64, 7, 33},
                         Case{128, 100, 28}, Case{256, 64, 128}, Case{256, 0, 0}}) {
        for (bool weighed : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "n=" << c.n << " rows " << c.first << "+"
                                              << c.count << " weighed=" << weighed);
            const std::size_t n = static_cast<std::size_t>(c.n);
            const Field image = randomField(n * n, 40 + c.n, true);
            Field spectrum = image;
            ASSERT_EQ(spectrum::transform2d(spectrum.re.data(), spectrum.im.data(), c.n, c.n,
                                            Direction::Forward),
                      0);
            if (weighed) {
                // A smooth low-pass about (n/2, n/2) on the frame's unshifted spectrum: the weight
                // of (u, v) depends on the folded frequencies alone, so mates weigh alike.
                for (std::size_t u = 0; u < n; ++u)
                    for (std::size_t v = 0; v < n; ++v) {
                        const double fu = u <= n / 2 ? u : n - u, fv = v <= n / 2 ? v : n - v;
                        const double w = std::exp(-(fu * fu + fv * fv) / (0.05 * n * n));
                        spectrum.re[u * n + v] *= w;
                        spectrum.im[u * n + v] *= w;
                    }
            }
            Field complex = spectrum, real = spectrum;
            // Rows outside the nonzero band are never read: garbage there changes nothing.
            const int band = c.n / 3, bandFirst = c.n / 2 - band;
            if (weighed) {
                for (std::size_t u = 0; u < n; ++u) {
                    if (static_cast<int>(u) >= bandFirst && static_cast<int>(u) <= c.n / 2 + band)
                        continue;
                    for (std::size_t v = 0; v < n; ++v) {
                        complex.re[u * n + v] = complex.im[u * n + v] = 0.0;
                        real.re[u * n + v] = real.im[u * n + v] = std::nan("");
                    }
                }
            }
            ASSERT_EQ(spectrum::transform2dRealRows(real.re.data(), real.im.data(), c.n, c.n,
                                                    c.first, c.count, weighed ? bandFirst : 0,
                                                    weighed ? 2 * band + 1 : c.n),
                      0);
            ASSERT_EQ(spectrum::transform2d(complex.re.data(), complex.im.data(), c.n, c.n,
                                            Direction::Inverse),
                      0);

            double worst = 0.0, worstImage = 0.0;
            for (std::size_t i = c.first * n; i < (c.first + c.count) * n; ++i) {
                worst = std::max(worst, std::fabs(real.re[i] - complex.re[i]));
                worstImage = std::max(worstImage, std::fabs(real.re[i] - image.re[i]));
            }
            EXPECT_LT(worst, 1e-14);
            if (!weighed) {
                EXPECT_LT(worstImage, 1e-14);
            }
        }
    }
}

TEST(FftReturnCodes, RealRowsOutsideTheFrameAreRefused) {
    Field f = randomField(64 * 64, 6);
    const Field before = f;
    for (auto [first, count] :
         {std::pair{-1, 4}, std::pair{0, 65}, std::pair{60, 5}, std::pair{3, -1}})
        EXPECT_EQ(
            spectrum::transform2dRealRows(f.re.data(), f.im.data(), 64, 64, first, count, 0, 64),
            spectrum::kTransformBadSize);
    EXPECT_EQ(spectrum::transform2dRealRows(f.re.data(), f.im.data(), 64, 64, 0, 64, 60, 5),
              spectrum::kTransformBadSize);
    EXPECT_EQ(spectrum::transform2dRealRows(f.re.data(), f.im.data(), 48, 48, 0, 48, 0, 48),
              spectrum::kTransformNotPowerOfTwo);
    EXPECT_EQ(f.re, before.re);
}

TEST(FftReturnCodes, RowRangeOutsideTheFrameIsRefused) {
    Field f = randomField(64 * 64, 5);
    const Field before = f;
    for (auto [first, count] : {std::pair{-1, 4}, std::pair{0, 65}, std::pair{60, 5},
                                std::pair{3, -1}})
        EXPECT_EQ(spectrum::transform2dRows(f.re.data(), f.im.data(), 64, 64, Direction::Inverse,
                                            first, count),
                  spectrum::kTransformBadSize);
    EXPECT_EQ(f.re, before.re);
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelTest, ::testing::Values(Kernel::Automatic, Kernel::Sse2),
                         kernelName);

TEST(FftKernels, VectorPathsAgree) {
    if (!spectrum::detail::avx2Available()) GTEST_SKIP() << "no AVX2 on this processor";
    const int n = 256;
    Field a = randomField(static_cast<std::size_t>(n) * n, 12);
    Field b = a;
    spectrum::detail::selectKernel(Kernel::Sse2);
    ASSERT_EQ(spectrum::transform2d(a.re.data(), a.im.data(), n, n, Direction::Forward), 0);
    spectrum::detail::selectKernel(Kernel::Automatic);
    ASSERT_EQ(spectrum::transform2d(b.re.data(), b.im.data(), n, n, Direction::Forward), 0);
    EXPECT_LT(maxDifference(a, b), 1e-15);
}

// Plans are built on first use from whichever thread comes first.
TEST(FftThreads, ConcurrentCallersGetCorrectResults) {
    std::vector<int> sizes = {32, 64, 128, 256, 1024, 2048, 4096, 8192};
    std::vector<double> errors(sizes.size(), 1.0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < sizes.size(); ++t)
        threads.emplace_back([&, t] {
            const int n = sizes[t];
            Field f = randomField(n, 500 + n);
            Field want = f;
            plain1d(want.re.data(), want.im.data(), n, false);
            if (spectrum::transform1d(f.re.data(), f.im.data(), n, 0, Direction::Forward) == 0)
                errors[t] = maxDifference(f, want);
        });
    for (auto& th : threads) th.join();
    for (std::size_t t = 0; t < sizes.size(); ++t) EXPECT_LT(errors[t], 1e-13) << sizes[t];
}

TEST(FftReturnCodes, TwoDimensionalRefusalsLeaveTheArraysAlone) {
    struct Case {
        int n, rowLength, expected;
    };
    const Case cases[] = {{0, 0, 999}, {1, 1, 999},       {-4, 4, 999},        {3, 3, 1},
                          {12, 12, 1}, {8193, 8193, 999}, {16384, 16384, 999}, {64, 63, 999}};
    std::vector<double> re(64 * 64, 3.0), im(64 * 64, 4.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "n=" << c.n << " rowLength=" << c.rowLength);
        EXPECT_EQ(spectrum::transform2d(re.data(), im.data(), c.n, c.rowLength, Direction::Forward),
                  c.expected);
        EXPECT_EQ(spectrum::transform2dRealInput(re.data(), im.data(), c.n, c.rowLength,
                                                 Direction::Inverse),
                  c.expected);
    }
    EXPECT_TRUE(std::all_of(re.begin(), re.end(), [](double v) { return v == 3.0; }));
    EXPECT_TRUE(std::all_of(im.begin(), im.end(), [](double v) { return v == 4.0; }));
    EXPECT_EQ(spectrum::transform2d(nullptr, im.data(), 8, 8, Direction::Forward), 999);
    EXPECT_EQ(spectrum::transform2d(re.data(), nullptr, 8, 8, Direction::Forward), 999);
    EXPECT_EQ(spectrum::transform2d(re.data(), im.data(), 2, 2, Direction::Forward), 0);
}

TEST(FftReturnCodes, OneDimensional) {
    std::vector<double> re(16, 1.0), im(16, 0.0);
    EXPECT_EQ(spectrum::transform1d(re.data(), im.data(), 1, 0, Direction::Forward), 999);
    EXPECT_EQ(spectrum::transform1d(re.data(), im.data(), 0, 0, Direction::Forward), 999);
    EXPECT_EQ(spectrum::transform1d(re.data(), im.data(), 3, 0, Direction::Forward), 1);
    EXPECT_EQ(spectrum::transform1d(re.data(), im.data(), 12, -1, Direction::Forward), 1);
    EXPECT_EQ(spectrum::transform1d(re.data(), im.data(), 8, 2, Direction::Forward), 1);
    EXPECT_EQ(spectrum::transform1d(re.data(), im.data(), 8, 4, Direction::Forward), 1);
    EXPECT_EQ(spectrum::transform1d(re.data(), im.data(), 8, 40, Direction::Forward), 1);
    EXPECT_TRUE(std::all_of(re.begin(), re.end(), [](double v) { return v == 1.0; }));
    EXPECT_EQ(spectrum::transform1d(nullptr, im.data(), 8, 3, Direction::Forward), 999);
    // An explicit, matching log2n is used as given.
    EXPECT_EQ(spectrum::transform1d(re.data(), im.data(), 8, 3, Direction::Forward), 0);
    EXPECT_DOUBLE_EQ(re[0], 8.0);
    EXPECT_EQ(spectrum::transform1d(re.data(), im.data(), 2, 0, Direction::Forward), 0);
}

// The half-spectrum transform of big frames, in both storages, against the plain algorithm on
// the whole complex frame: the stored half, the other half by symmetry, and the way back.
template <class T>
void checkHalfTransform(int n, double tolerance) {
    SCOPED_TRACE(::testing::Message() << "n=" << n << " bytes=" << sizeof(T));
    const Field input = randomField(static_cast<std::size_t>(n) * n, 900 + n, true);
    Field whole = input;
    plain2d(whole, n, false);
    const std::size_t stride = static_cast<std::size_t>(n) + 2;
    std::vector<T> half(static_cast<std::size_t>(n) * stride, T(77));
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) half[r * stride + c] = static_cast<T>(input.re[r * n + c]);
    ASSERT_EQ(spectrum::halfTransformForward(half.data(), n), 0);
    double scale = 0, diff = 0;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c <= n / 2; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * n + c;
            const std::complex<double> want(whole.re[i], whole.im[i]);
            const std::complex<double> got(half[r * stride + 2 * c], half[r * stride + 2 * c + 1]);
            scale = std::max(scale, std::abs(want));
            diff = std::max(diff, std::abs(got - want));
        }
    EXPECT_LT(diff / scale, tolerance);
    // Only the rows 3 .. 8 are asked for; they come back as the input.
    ASSERT_EQ(spectrum::halfTransformInverse(half.data(), n, 3, 6), 0);
    double back = 0, size = 0;
    for (int r = 3; r < 9; ++r)
        for (int c = 0; c < n; ++c) {
            size = std::max(size, std::fabs(input.re[r * n + c]));
            back = std::max(back, std::fabs(half[r * stride + c] - input.re[r * n + c]));
        }
    EXPECT_LT(back / size, tolerance);
}

TEST_P(KernelTest, HalfSpectrumTransformMatchesTheWholeFrame) {
    for (int n : {32, 64, 256}) {
        checkHalfTransform<double>(n, 1e-13);
        checkHalfTransform<float>(n, 2e-6);
    }
}

TEST(FftReturnCodes, HalfSpectrum) {
    std::vector<double> frame(64 * 66, 1.0);
    EXPECT_EQ(spectrum::halfTransformForward(frame.data(), 16), 999);  // below one batch
    EXPECT_EQ(spectrum::halfTransformForward(frame.data(), 65536), 999);
    EXPECT_EQ(spectrum::halfTransformForward(frame.data(), 48), 1);
    EXPECT_EQ(spectrum::halfTransformInverse(frame.data(), 64, 60, 5), 999);
    EXPECT_EQ(spectrum::halfTransformForward(static_cast<double*>(nullptr), 64), 999);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](double v) { return v == 1.0; }));
}

}  // namespace
