#include "spectrum/engine/filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "spectrum/engine/lattice_mask.h"
#include "test_images.h"
#include "tests/doubles/recording.h"

namespace spectrum {
namespace {

using testing::makeBuffers;

// A frame of ones: after filtering, each element holds its weight.
struct Grid {
    image::ImageGeometry geometry{400, 300, 400, 400 * 300 + 1078};  // R = 250
    SpectrumBuffers buffers = makeBuffers(
        512, 56, 106, [](int, int) { return 1.0; }, [](int, int) { return -1.0; });
    FilterSettings filter;

    double weight(int r, int c) const {
        return buffers.real[static_cast<std::size_t>(r) * 512 + c];
    }
    static double dist(int r, int c) { return std::hypot(r - 256.0, c - 256.0); }
    void apply() { applyFilter(buffers, geometry, filter); }
};
struct FilterGrid : Grid, ::testing::Test {};

TEST_F(FilterGrid, LowPassKeepsTheDiscOfW1TimesR) {
    filter.standardType = kLowPass;
    filter.wa = 0.5;
    filter.wb = 0.9;
    apply();
    for (int r = 0; r < 512; r += 3)
        for (int c = 0; c < 512; c += 5)
            ASSERT_EQ(weight(r, c), dist(r, c) <= 125.0 ? 1.0 : 0.0) << r << "," << c;
    EXPECT_EQ(weight(256, 381), 1.0);  // exactly 125 away
    EXPECT_EQ(weight(256, 382), 0.0);
    EXPECT_EQ(buffers.imag[256 * 512 + 256], -1.0);  // both parts are weighted
}

// Weighing the left half (columns 0 .. n/2, what the real inverse reads) gives those columns the
// whole frame's weights and the zero frequency's, and leaves the others alone.
TEST_F(FilterGrid, LeftHalfWeighsItsColumnsAsTheWholeFrameDoes) {
    for (int type : {kLowPass, kBandCut}) {
        for (double sigma : {0.0, 3.0}) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " sigma " << sigma);
            Grid whole, half;
            whole.filter.standardType = half.filter.standardType = type;
            whole.filter.wa = half.filter.wa = 0.3;
            whole.filter.wb = half.filter.wb = 0.6;
            whole.filter.edgeSigma = half.filter.edgeSigma = sigma;
            const double zero = applyFilter(whole.buffers, whole.geometry, whole.filter);
            NonzeroRows rows;
            EXPECT_EQ(applyFilterToLeftHalf(half.buffers, half.geometry, half.filter, rows), zero);
            // A hard low-pass zeroes the rows beyond 0.3 R = 75 (no band for the band-cut).
            const bool band = type == kLowPass && sigma == 0.0;
            EXPECT_EQ(rows.first, band ? 256 - 75 : 0);
            EXPECT_EQ(rows.count, band ? 151 : 512);
            for (int r = 0; r < 512; ++r) {
                const bool kept = r >= rows.first && r < rows.first + rows.count;
                for (int c = 0; c < 512; ++c) {
                    const std::size_t i = static_cast<std::size_t>(r) * 512 + c;
                    const bool weighed = kept && c <= 256;
                    ASSERT_EQ(half.buffers.real[i], weighed ? whole.buffers.real[i] : 1.0)
                        << r << "," << c;
                    ASSERT_EQ(half.buffers.imag[i], weighed ? whole.buffers.imag[i] : -1.0);
                    if (!kept) {
                        ASSERT_EQ(whole.buffers.real[i], 0.0) << r << "," << c;
                    }
                }
            }
        }
    }
    filter.kind = kStandardFilter;
    EXPECT_TRUE(filterWeighsMatesAlike(filter));
    filter.kind = kLatticeKeep;  // its mates fall off the frame on row and column 0
    EXPECT_FALSE(filterWeighsMatesAlike(filter));
}

TEST_F(FilterGrid, HighPassIsTheComplement) {
    filter.standardType = kHighPass;
    filter.wa = 0.5;
    apply();
    EXPECT_EQ(weight(256, 381), 1.0);  // 125 is not below w1 R
    EXPECT_EQ(weight(256, 380), 0.0);
    EXPECT_EQ(weight(0, 0), 1.0);
}

TEST_F(FilterGrid, BandFiltersIgnoreTheOrderOfWaAndWb) {
    Grid other;
    filter.standardType = other.filter.standardType = kBandPass;
    filter.wa = 0.8;
    filter.wb = 0.5;
    other.filter.wa = 0.5;
    other.filter.wb = 0.8;
    apply();
    other.apply();
    for (int r = 0; r < 512; r += 7)
        for (int c = 0; c < 512; c += 3) ASSERT_EQ(weight(r, c), other.weight(r, c));
    EXPECT_EQ(weight(256, 256 + 150), 1.0);
    EXPECT_EQ(weight(256, 256 + 124), 0.0);
    EXPECT_EQ(weight(256, 256 + 201), 0.0);
}

TEST_F(FilterGrid, BandPassWithEqualFractionsKeepsOnlyTheExactRadius) {
    filter.standardType = kBandPass;
    filter.wa = filter.wb = 0.5;
    apply();
    int kept = 0;
    for (int r = 0; r < 512; ++r)
        for (int c = 0; c < 512; ++c)
            if (weight(r, c) != 0.0) {
                ++kept;
                ASSERT_EQ(dist(r, c), 125.0);
            }
    EXPECT_EQ(kept, 28);  // the lattice points on a circle of radius 125 = 5^3
}

TEST_F(FilterGrid, BandCutRemovesTheRing) {
    filter.standardType = kBandCut;
    filter.wa = 0.5;
    filter.wb = 0.8;
    apply();
    EXPECT_EQ(weight(256, 256), 1.0);
    EXPECT_EQ(weight(256, 256 + 150), 0.0);
    EXPECT_EQ(weight(256, 256 + 201), 1.0);
}

// The hard-edged standard filters against their rule on the square root of the distance,
// element by element and bit for bit: kept values unchanged, removed ones times 0 (so a negative
// value becomes -0). The fractions put w1 R and w2 R on, just below and just above the square
// roots of whole numbers, where a rule on squared distances would round the other way.
TEST(HardFilters, EveryElementAsTheRuleOnTheDistanceSays) {
    const int n = 256;
    const image::ImageGeometry geometry{200, 150, 200, 200 * 150 + 1078};  // R = 125
    const double reference = 125.0;
    auto value = [](int r, int c) { return ((r * 131 + c * 71) % 17) - 8.5; };
    for (int type : {kLowPass, kHighPass, kBandPass, kBandCut}) {
        for (double a : {std::sqrt(1000.0), std::nextafter(std::sqrt(1000.0), 0.0),
                         std::nextafter(std::sqrt(1000.0), 99.0), 0.0, 125.0 * std::sqrt(2.0)}) {
            const double b = std::sqrt(5000.0);
            SCOPED_TRACE(::testing::Message() << "type " << type << " a " << a);
            SpectrumBuffers buffers = testing::makeBuffers(n, 28, 53, value, [&](int r, int c) {
                return -value(c, r);
            });
            FilterSettings filter;
            filter.standardType = type;
            filter.wa = a / reference;
            filter.wb = b / reference;
            const double w1 = std::min(filter.wa, filter.wb) * reference;
            const double w2 = std::max(filter.wa, filter.wb) * reference;
            const double zero = applyFilter(buffers, geometry, filter);
            for (int r = 0; r < n; ++r)
                for (int c = 0; c < n; ++c) {
                    const double dist = std::sqrt((r - 128.0) * (r - 128.0) + (c - 128.0) * (c - 128.0));
                    const bool band = w1 <= dist && dist <= w2;
                    const bool kept = type == kLowPass    ? dist <= w1
                                      : type == kHighPass ? !(dist < w1)
                                      : type == kBandPass ? band
                                                          : !band;
                    const double w = kept ? 1.0 : 0.0;
                    const std::size_t i = static_cast<std::size_t>(r) * n + c;
                    const double re = value(r, c) * w, im = -value(c, r) * w;
                    ASSERT_EQ(std::signbit(buffers.real[i]), std::signbit(re)) << r << "," << c;
                    ASSERT_EQ(buffers.real[i], re) << r << "," << c;
                    ASSERT_EQ(std::signbit(buffers.imag[i]), std::signbit(im)) << r << "," << c;
                    ASSERT_EQ(buffers.imag[i], im) << r << "," << c;
                    if (r == 128 && c == 128) {
                        EXPECT_EQ(zero, w);
                    }
                }
        }
    }
}

TEST_F(FilterGrid, DefaultSpecialProfileFallsFromOneToZeroAtR) {
    filter.kind = kSpecialFilter;
    filter.specialProfile = defaultSpecialProfile();
    apply();
    EXPECT_EQ(weight(256, 256), 1.0);
    EXPECT_EQ(weight(256, 256 + 250), 0.0);  // dist = R -> index 255
    EXPECT_EQ(weight(0, 0), 0.0);            // beyond R also index 255
    // At dist 100: j = floor(100 * 255 / 250 + 0.45) = 102.
    EXPECT_DOUBLE_EQ(weight(256, 356), filter.specialProfile[102] / 255.0);
}

TEST_F(FilterGrid, CirclesCutOffOutsideKeepsOnlyTheDisc) {
    filter.kind = kCirclesCutOutside;
    filter.circles = {{200, 150, 10}};  // picture centre -> frame (256, 256)
    apply();
    for (int r = 230; r < 280; ++r)
        for (int c = 230; c < 280; ++c)
            ASSERT_EQ(weight(r, c), dist(r, c) < 10.0 ? 1.0 : 0.0) << r << "," << c;
    EXPECT_EQ(weight(0, 0), 0.0);
}

TEST_F(FilterGrid, CirclesCutOffInsideAndNoCircles) {
    filter.kind = kCirclesCutInside;
    apply();
    EXPECT_EQ(weight(256, 256), 1.0);  // no circle: unchanged
    filter.circles = {{200, 150, 10}, {0, 0, 3}};
    apply();
    EXPECT_EQ(weight(256, 256), 0.0);
    EXPECT_EQ(weight(106 + 2, 56), 0.0);  // inside the second circle
    EXPECT_EQ(weight(106 + 3, 56), 1.0);  // on its rim: not strictly inside
}

TEST(SpecialProfile, DefaultIsStoredWithFiveDigitsAndCutToThreeDecimals) {
    const SpecialProfile p = defaultSpecialProfile();
    EXPECT_EQ(p[0], 255.0);
    EXPECT_NEAR(p[1], 254.99, 1e-9);
    EXPECT_EQ(p[255], 0.0);
    EXPECT_NEAR(p[128], 127.5 - 1.5 * 0.5 / 255 * 0, 1.0);  // mid-way is about half
}

TEST(SpecialProfile, InterpolationChangesOnlyTheIntervalsBesideAMovedPoint) {
    SpecialProfile p = defaultSpecialProfile();
    interpolateSpecialProfile(p);
    const SpecialProfile before = p;
    p[0] = 100;
    interpolateSpecialProfile(p);
    // The slope at 15 is that of the parabola through 0, 15 and 30, so 16..29 follow too.
    for (int i = 1; i <= 29; ++i) {
        if (i != 15) {
            EXPECT_NE(p[i], before[i]) << i;
        }
    }
    EXPECT_EQ(p[15], before[15]);
    for (int i = 30; i < 256; ++i) ASSERT_EQ(p[i], before[i]) << i;
    EXPECT_EQ(p[0], 100.0);
}

TEST(SpecialProfile, InterpolationReproducesAParabolaWithZeroSlopeAtTheEnds) {
    // Control points on 255 - c x^2 reproduce it inside every interval but the last, where the
    // mirrored end value bends it to zero slope; at entry 0 the mirror agrees with the parabola.
    SpecialProfile p{};
    auto parabola = [](double x) { return 255.0 - x * x / 300.0; };
    for (int i = 0; i < 256; i += 15) p[i] = parabola(i);
    interpolateSpecialProfile(p);
    for (int i = 1; i < 240; ++i) ASSERT_NEAR(p[i], parabola(i), 1e-9) << i;
    // Zero slope at 255: the last interval ends flat.
    EXPECT_NEAR(p[254], p[255], std::fabs(p[253] - p[254]));
}

TEST(SpecialProfile, ControlPointStepsAndAdjustmentsStayInRange) {
    FilterSettings f;
    f.specialProfile = defaultSpecialProfile();
    stepSpecialPoint(f, -15);
    EXPECT_EQ(f.selectedPoint, 0);
    for (int i = 0; i < 20; ++i) stepSpecialPoint(f, 15);
    EXPECT_EQ(f.selectedPoint, 255);
    stepSpecialPoint(f, -15);
    EXPECT_EQ(f.selectedPoint, 240);

    f.selectedPoint = 0;  // value 255
    EXPECT_FALSE(adjustSpecialPoint(f, 10));
    EXPECT_FALSE(adjustSpecialPoint(f, 1));
    EXPECT_TRUE(adjustSpecialPoint(f, -10));
    EXPECT_EQ(f.specialProfile[0], 245.0);
    EXPECT_TRUE(adjustSpecialPoint(f, 10));
    EXPECT_FALSE(adjustSpecialPoint(f, 10));
    f.selectedPoint = 255;  // value 0
    EXPECT_FALSE(adjustSpecialPoint(f, -1));
    EXPECT_FALSE(adjustSpecialPoint(f, -10));
    EXPECT_TRUE(adjustSpecialPoint(f, 1));
    EXPECT_EQ(f.specialProfile[255], 1.0);
}

TEST(SpecialProfile, IniValuesAreClampedTruncatedAndDefaultedLikeTheProgramReadsThem) {
    const SpecialProfile p = specialProfileFromIni(
        "[Other]\r\n0=1\r\n"
        "[special filter]\r\n"
        " 0 = 300\r\n"
        "1=-4\r\n"
        "2=abc\r\n"
        "3=12.34567\r\n"
        "4=\"17.5\"\r\n"
        "5=1.000000009\r\n"  // cut to 9 characters: 1.0000000
        "; 6=1\r\n");
    EXPECT_EQ(p[0], 255.0);
    EXPECT_EQ(p[1], 0.0);
    EXPECT_EQ(p[2], 0.0);
    EXPECT_NEAR(p[3], 12.345, 1e-12);
    EXPECT_NEAR(p[4], 17.5, 1e-12);
    EXPECT_NEAR(p[5], 1.0, 1e-12);
    EXPECT_EQ(p[6], defaultSpecialValue(6));
    EXPECT_EQ(p[255], 0.0);
    EXPECT_EQ(specialProfileFromIni(""), defaultSpecialProfile());
}

TEST(SpecialProfile, WrittenSectionReadsBackToTheSameValues) {
    SpecialProfile p = defaultSpecialProfile();
    p[15] = 123.456;
    p[16] = 1e-5;
    const std::string section = specialProfileIniSection(p);
    EXPECT_NE(section.find("[Special Filter]\r\n0=255\r\n1=254.99\r\n"), std::string::npos);
    EXPECT_NE(section.find("\r\n15=123.456\r\n16=0\r\n"), std::string::npos);
    const SpecialProfile back = specialProfileFromIni(section);
    for (int i = 0; i < 256; ++i) ASSERT_NEAR(back[i], clampProfileValue(p[i]), 1e-9) << i;
}

// Power 2 everywhere: the radially averaged power, the noise floor at c = 1, equals every
// element's power and its local mean, so both noise filters take everything out but the zero
// frequency, which is the image's mean and always passes.
TEST_F(FilterGrid, NoiseFiltersPassTheZeroFrequencyWhateverTheirSettings) {
    for (const int kind : {kWienerFilter, kAbsfFilter}) {
        for (const double c : {1.0, 4.0}) {
            for (const int h : {0, 1, 3}) {
                Grid f;
                f.filter.kind = kind;
                f.filter.noise.noiseScale = c;
                f.filter.noise.smoothing = h;
                EXPECT_EQ(applyFilter(f.buffers, f.geometry, f.filter), 1.0);
                EXPECT_EQ(f.weight(256, 256), 1.0) << kind << " c " << c << " h " << h;
                EXPECT_EQ(f.buffers.imag[256 * 512 + 256], -1.0);
                EXPECT_EQ(f.weight(256, 257), 0.0);
                EXPECT_EQ(f.weight(0, 0), 0.0);
            }
        }
    }
}

// The weight each filter gives the zero frequency, the share of the image's mean it passes.
TEST_F(FilterGrid, ApplyReportsTheWeightAtTheZeroFrequency) {
    struct Case {
        int kind, type;
        double wa, sigma, expected;
    };
    const Case cases[] = {
        {kStandardFilter, kNoFilter, 0.5, 0.0, 1.0},  {kStandardFilter, kLowPass, 0.2, 0.0, 1.0},
        {kStandardFilter, kHighPass, 0.2, 0.0, 0.0},  {kStandardFilter, kBandPass, 0.2, 0.0, 0.0},
        {kStandardFilter, kBandCut, 0.2, 0.0, 1.0},   {kStandardFilter, kBandPass, 0.0, 0.0, 1.0},
        {kStandardFilter, kHighPass, 0.01, 2.0, 1.0 - softDisc(0.0, 2.5, 2.0)},
        {kLatticeKeep, 0, 0.5, 0.0, 1.0},             {kLatticeRemove, 0, 0.5, 0.0, 0.0},
        {kCirclesCutInside, 0, 0.5, 0.0, 0.0},        {kCirclesCutOutside, 0, 0.5, 0.0, 1.0},
    };
    for (const Case& c : cases) {
        Grid f;
        f.filter.kind = c.kind;
        f.filter.standardType = c.type;
        f.filter.wa = c.wa;
        f.filter.edgeSigma = c.sigma;
        f.filter.lattice.g1 = {40, 3};
        f.filter.lattice.g2 = {-5, 33};
        f.filter.circles = {{256 - 56, 256 - 106, 4}};  // on the zero frequency
        EXPECT_DOUBLE_EQ(applyFilter(f.buffers, f.geometry, f.filter), c.expected)
            << c.kind << " " << c.type;
        EXPECT_DOUBLE_EQ(f.weight(256, 256), c.expected) << c.kind << " " << c.type;
    }
    Grid special;
    special.filter.kind = kSpecialFilter;
    special.filter.specialProfile.fill(0.0);
    special.filter.specialProfile[0] = 51.0;
    EXPECT_DOUBLE_EQ(applyFilter(special.buffers, special.geometry, special.filter), 0.2);
}

// The spectrum of a real image is centro-symmetric in power, so the noise filters' weights must
// be too, also at the frame's first and last rows and columns, whose mates wrap around: the
// element at row r, column k has its mate at row (n - r) mod n, column (n - k) mod n.
TEST(NoiseFilters, WeightsOfMatesAreEqualUpToTheFramesEdges) {
    constexpr int n = 64;
    auto noise = [](int r, int k) {
        const unsigned v = static_cast<unsigned>(r * 7919 + k * 104729) * 2654435761u;
        return (v >> 8) % 1000 / 100.0;
    };
    auto amplitude = [&](int r, int k) {
        const int mr = (n - r) % n, mk = (n - k) % n;
        return 0.5 + noise(r, k) + noise(mr, mk) + (k == 1 || k == n - 1 ? 30.0 : 0.0);
    };
    for (const int kind : {kWienerFilter, kAbsfFilter}) {
        for (const int h : {1, 2}) {
            SpectrumBuffers b = testing::makeBuffers(
                n, 0, 0, amplitude, [](int, int) { return 0.0; });
            FilterSettings filter;
            filter.kind = kind;
            filter.noise.noiseScale = 0.8;
            filter.noise.smoothing = h;
            applyFilter(b, image::ImageGeometry{n, n, n, n * n + 1078}, filter);
            int nonTrivial = 0;
            for (int r = 0; r < n; ++r) {
                for (int k = 0; k < n; ++k) {
                    const double w = b.real[r * n + k] / amplitude(r, k);
                    const int mr = (n - r) % n, mk = (n - k) % n;
                    const double mate = b.real[mr * n + mk] / amplitude(mr, mk);
                    ASSERT_NEAR(w, mate, 1e-12) << kind << " h " << h << " at " << r << "," << k;
                    if (w > 0.05 && w < 0.95) ++nonTrivial;
                }
            }
            EXPECT_GT(nonTrivial, n * n / 10) << kind;
        }
    }
}

TEST(MaskCircles, TheHundredFirstIsRefused) {
    FilterSettings f;
    core::RecordingSink sink;
    f.circles.assign(99, MaskCircle{1, 1, 1});
    EXPECT_TRUE(canStartMaskCircle(f, sink));
    f.circles.push_back({2, 2, 2});
    EXPECT_FALSE(canStartMaskCircle(f, sink));
    ASSERT_EQ(sink.messages().size(), 1u);
    EXPECT_EQ(sink.messages()[0].text, "Too many FFT masks!");
    EXPECT_EQ(sink.messages()[0].caption, "Warning");
    EXPECT_EQ(sink.messages()[0].style, core::kIconWarning);
}

}  // namespace
}  // namespace spectrum
