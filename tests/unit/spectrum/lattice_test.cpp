#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "spectrum/engine/display.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/inverse.h"
#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/spot_finder.h"
#include "test_images.h"
#include "tests/doubles/recording.h"

namespace spectrum {
namespace {

using testing::makePicture;

int texture(int x, int y) { return 40 + (x * 7 + y * 13 + (x * y) % 17) % 180; }

TEST(SoftDisc, ZeroWidthIsTheStrictHardEdgeAndTheSoftEdgeIsHalfOnTheOldOne) {
    EXPECT_EQ(softDisc(2.999, 3.0, 0.0), 1.0);
    EXPECT_EQ(softDisc(3.0, 3.0, 0.0), 0.0);  // strictly inside, as the circles are
    EXPECT_DOUBLE_EQ(softDisc(3.0, 3.0, 1.5), 0.5);
    EXPECT_NEAR(softDisc(0.0, 10.0, 1.0), 1.0, 1e-15);
    EXPECT_NEAR(softDisc(20.0, 10.0, 1.0), 0.0, 1e-15);
    // One sigma outside: 0.5 erfc(1 / sqrt 2) = 0.1587.
    EXPECT_NEAR(softDisc(4.0, 3.0, 1.0), 0.158655, 1e-6);
}

TEST(Lattice, ChecksRefuseCollinearZeroRadiusTooLargeAndTooDense) {
    LatticeSettings l;
    l.g1 = {30, 0};
    l.g2 = {0, 25};
    l.radius = 4;
    EXPECT_EQ(checkLattice(l, 512), LatticeCheck::kOk);
    l.g2 = {60, 0.5};  // half a degree off the line of g1
    EXPECT_EQ(checkLattice(l, 512), LatticeCheck::kCollinear);
    l.g2 = {0, 0};
    EXPECT_EQ(checkLattice(l, 512), LatticeCheck::kCollinear);
    l.g2 = {0, NAN};
    EXPECT_EQ(checkLattice(l, 512), LatticeCheck::kCollinear);
    l.g2 = {0, 25};
    l.radius = 0;
    EXPECT_EQ(checkLattice(l, 512), LatticeCheck::kBadRadius);
    l.radius = 256.5;
    EXPECT_EQ(checkLattice(l, 512), LatticeCheck::kBadRadius);
    l.radius = 256;
    EXPECT_EQ(checkLattice(l, 512), LatticeCheck::kOk);
    l.radius = 1;
    l.g1 = {1, 0};
    l.g2 = {0, 1};
    EXPECT_EQ(checkLattice(l, 512), LatticeCheck::kTooManyPoints);
    EXPECT_STRNE(latticeCheckText(LatticeCheck::kTooManyPoints).japanese, "");
}

// The nearest point among the nine around the rounded coordinates is the nearest of all, even
// for a badly skewed basis, once it is reduced.
TEST(Lattice, WeightIsThatOfTheNearestPointForSkewedBases) {
    LatticeSettings l;
    l.g1 = {17.3, -4.1};
    l.g2 = {17.3 * 5 + 3.2, -4.1 * 5 + 11.7};  // g1 five times over plus a short step
    l.radius = 5.0;
    const LatticeWeight weight(l, 1.2);
    std::mt19937 random(4);
    std::uniform_real_distribution<double> place(-256, 256);
    for (int trial = 0; trial < 500; ++trial) {
        const double fx = place(random), fy = place(random);
        double best = 1e300;
        for (int i = -150; i <= 150; ++i)
            for (int j = -40; j <= 40; ++j) {
                const double px = i * l.g1.x + j * l.g2.x, py = i * l.g1.y + j * l.g2.y;
                best = std::min(best, std::hypot(fx - px, fy - py));
            }
        ASSERT_NEAR(weight(fx, fy), softDisc(best, 5.0, 1.2), 1e-12) << fx << "," << fy;
    }
    Vec2 a = l.g1, b = l.g2;
    reduceBasis(a, b);
    EXPECT_NEAR(std::fabs(a.x * b.y - a.y * b.x), std::fabs(l.g1.x * l.g2.y - l.g1.y * l.g2.x),
                1e-9);  // same cell area: the same lattice
    EXPECT_LE(std::hypot(b.x, b.y), std::hypot(l.g2.x, l.g2.y));
}

// The circles drawn for a lattice mask: every lattice point whose disc touches the picture, found
// by brute force over a generous range of indices, whatever basis of the lattice is given.
TEST(Lattice, MaskCirclesAreTheDiscsThatTouchThePicture) {
    const int n = 512, offsetX = 106, offsetY = 136, w = 300, h = 240;
    const LatticeSettings lattice{{31.3, -7.2}, {5.1, 27.7}, 4.6};
    const LatticeSettings skewed{lattice.g1, {lattice.g2.x + 3 * lattice.g1.x,
                                              lattice.g2.y + 3 * lattice.g1.y}, 4.6};
    std::vector<std::pair<int, int>> expected;
    const double cx = n / 2 - offsetX, cy = n / 2 - offsetY;
    for (int i = -60; i <= 60; ++i)
        for (int j = -60; j <= 60; ++j) {
            const double x = cx + i * lattice.g1.x + j * lattice.g2.x;
            const double y = cy + i * lattice.g1.y + j * lattice.g2.y;
            if (x >= -4.6 && x <= w + 4.6 && y >= -4.6 && y <= h + 4.6)
                expected.emplace_back(std::lround(x), std::lround(y));
        }
    std::sort(expected.begin(), expected.end());
    for (const LatticeSettings& l : {lattice, skewed}) {
        std::vector<std::pair<int, int>> got;
        for (const MaskCircle& c : latticeMaskCircles(l, n, offsetX, offsetY, w, h)) {
            EXPECT_EQ(c.radius, 5);
            got.emplace_back(c.x, c.y);
        }
        // The same points; a centre on a half pixel may round either way after another sum.
        ASSERT_EQ(got.size(), expected.size());
        for (const auto& [x, y] : got)
            EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [&](const auto& e) {
                return std::abs(e.first - x) <= 1 && std::abs(e.second - y) <= 1;
            })) << x << "," << y;
    }
    // The zero frequency is among them, at the picture's centre of the frame.
    EXPECT_TRUE(std::binary_search(expected.begin(), expected.end(),
                                   std::pair<int, int>{150, 120}));
    EXPECT_TRUE(latticeMaskCircles({{1, 0}, {2, 0}, 3}, n, offsetX, offsetY, w, h).empty());
}

TEST(Lattice, SymmetricMateMirrorsAboutTheZeroFrequency) {
    // 300 x 250 in a 512 frame: offsets 106 and 131, zero frequency at picture (150, 125).
    const MaskCircle mate = symmetricMate({170, 100, 6}, 512, 106, 131);
    EXPECT_EQ(mate, (MaskCircle{130, 150, 6}));
    EXPECT_EQ(symmetricMate(mate, 512, 106, 131), (MaskCircle{170, 100, 6}));
}

struct Frames : ::testing::Test {
    SpectrumSettings settings;
    core::RecordingSink sink;
    core::RecordingBusy busy{sink};
};

// The inverse never sees the windowed frame: after a windowed display the filtered picture is
// the one the mirror frame gives.
TEST_F(Frames, InverseAfterAWindowedDisplayUsesTheMirrorFrame) {
    settings.filter.standardType = kLowPass;
    settings.filter.wa = 0.3;
    std::vector<std::uint8_t> pictures[2];
    for (int frame : {kMirrorFrame, kWindowedFrame}) {
        auto picture = makePicture(90, 70, texture);
        SpectrumBuffers buffers;
        settings.frame = frame;
        ASSERT_TRUE(forwardTransform(picture.image, picture.geometry, settings, buffers, sink, busy));
        EXPECT_EQ(buffers.windowed, frame == kWindowedFrame);
        InverseParts parts;
        ASSERT_TRUE(inverseTransform(picture.image, picture.geometry, settings, buffers, sink, busy,
                                     &parts));
        pictures[frame] = picture.image.dib.block;
        // The two parts add up to the image.
        auto original = makePicture(90, 70, texture);
        const GreyPixels p = original.pixels();
        for (int y = 0; y < 70; y += 7)
            for (int x = 0; x < 90; x += 9)
                ASSERT_NEAR(parts.filtered[y * 90 + x] + parts.removed[y * 90 + x], p.at(x, y),
                            1e-9 * 255);
    }
    EXPECT_EQ(pictures[0], pictures[1]);
}

TEST_F(Frames, WindowedFrameIsTheHannWeightedImageInZeros) {
    auto picture = makePicture(70, 64, texture);
    const GreyPixels p = picture.pixels();
    GridPlan plan{8, 256, 93, 96};
    std::vector<double> re(256 * 256, -1.0), im(256 * 256, -1.0);
    fillWindowedGrid(p, plan, re.data(), im.data());
    for (int r = 0; r < 256; ++r)
        for (int c = 0; c < 256; ++c) {
            const int x = c - 93, y = r - 96;
            double want = 0.0;
            if (x >= 0 && x < 70 && y >= 0 && y < 64)
                want = ((r + c) % 2 ? -1.0 : 1.0) * p.at(x, y) *
                       std::pow(std::sin(M_PI * (x + 0.5) / 70), 2) *
                       std::pow(std::sin(M_PI * (y + 0.5) / 64), 2);
            ASSERT_NEAR(re[r * 256 + c], want, 1e-12);
            ASSERT_EQ(im[r * 256 + c], 0.0);
        }
}

// With the frame as large as the picture each bin is one element: the same picture as before.
TEST_F(Frames, WholeFrameOfAnUnexpandedImageIsTheUsualPicture) {
    auto a = makePicture(128, 128, [](int x, int y) { return 100 + ((x * 3 + y * 5) % 7) * 10; });
    auto b = a;
    settings.useExpandedImage = false;
    SpectrumBuffers buffers;
    ASSERT_TRUE(forwardTransform(a.image, a.geometry, settings, buffers, sink, busy));
    settings.display.wholeFrame = true;
    ASSERT_EQ(mapSpectrum(buffers, b.geometry, settings.display, b.image), 0);
    EXPECT_EQ(a.image.dib.block, b.image.dib.block);
}

TEST(SpotFinder, FindsAFringeAndItsMateAndNothingInAFlatImage) {
    auto fringe = makePicture(120, 100, [](int x, int y) {
        return static_cast<int>(128 + 80 * std::cos(2 * M_PI * (x / 6.0 + y / 15.0)));
    });
    const SpotResult found = findSpots(fringe.pixels(), 256, SpotOptions{});
    ASSERT_EQ(found.status, SpotStatus::kFound);
    ASSERT_GE(found.spots.size(), 2u);
    const Spot& s = found.spots[0];
    EXPECT_NEAR(std::fabs(s.position.x), 256 / 6.0, 0.2);
    EXPECT_NEAR(std::fabs(s.position.y), 256 / 15.0, 0.2);
    EXPECT_EQ(found.spots[1].mate, 1);
    EXPECT_DOUBLE_EQ(found.spots[1].position.x, -s.position.x);
    EXPECT_LT(s.position.y, 0.0);  // the first of a pair lies above the centre
    EXPECT_FALSE(found.haveBasis);  // one direction only

    auto flat = makePicture(100, 80, [](int, int) { return 90; });
    EXPECT_EQ(findSpots(flat.pixels(), 256, SpotOptions{}).status, SpotStatus::kNoneFound);
}

// A 16-bit source's fringe a twentieth of a grey level deep: the rounded picture is flat, the
// source's own levels show it; levels of whole grey values give the picture's result exactly.
TEST(SpotFinder, SearchesTheSourcesOwnLevels) {
    const int w = 120, h = 100;
    auto wave = [](int x, int y) { return std::cos(2 * M_PI * (x / 6.0 + y / 15.0)); };
    image::PreciseLevels levels;
    levels.width = w;
    levels.height = h;
    levels.minimum = 0;
    levels.maximum = 65535;
    auto rounded = makePicture(w, h, [&](int x, int y) {
        return static_cast<int>(std::lround(128.2 + 0.05 * wave(x, y)));
    });
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) levels.levels.push_back(128.2 + 0.05 * wave(x, y));
    EXPECT_EQ(findSpots(rounded.pixels(), 256, SpotOptions{}).status, SpotStatus::kNoneFound);
    const SpotResult found = findSpots(levels, 256, SpotOptions{});
    ASSERT_EQ(found.status, SpotStatus::kFound);
    EXPECT_NEAR(std::fabs(found.spots[0].position.x), 256 / 6.0, 0.2);
    EXPECT_NEAR(std::fabs(found.spots[0].position.y), 256 / 15.0, 0.2);
    // An opened picture's search takes the source's levels when they are the picture's size,
    // and the rendering otherwise (a stale source of another image).
    EXPECT_EQ(findSpots(rounded.pixels(), &levels, 256, SpotOptions{}).spots.size(),
              found.spots.size());
    EXPECT_EQ(findSpots(rounded.pixels(), nullptr, 256, SpotOptions{}).status,
              SpotStatus::kNoneFound);
    auto narrower = makePicture(w - 2, h, [](int, int) { return 128; });
    EXPECT_EQ(findSpots(narrower.pixels(), &levels, 256, SpotOptions{}).status,
              SpotStatus::kNoneFound);

    auto whole = makePicture(w, h, [&](int x, int y) {
        return static_cast<int>(128 + 80 * wave(x, y));
    });
    image::PreciseLevels same{w, h, {}, 0, 255};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) same.levels.push_back(whole.pixels().at(x, y));
    const SpotResult a = findSpots(whole.pixels(), 256, SpotOptions{});
    const SpotResult b = findSpots(same, 256, SpotOptions{});
    ASSERT_EQ(a.status, SpotStatus::kFound);
    ASSERT_EQ(a.spots.size(), b.spots.size());
    for (std::size_t i = 0; i < a.spots.size(); ++i) {
        EXPECT_EQ(a.spots[i].position.x, b.spots[i].position.x);
        EXPECT_EQ(a.spots[i].position.y, b.spots[i].position.y);
        EXPECT_EQ(a.spots[i].power, b.spots[i].power);
    }
    EXPECT_EQ(findSpots(image::PreciseLevels{w, h, {1.0, 2.0}, 0, 255}, 256, SpotOptions{}).status,
              SpotStatus::kBadImage);
}

// Two fringes under a Gaussian envelope of width s: each spot's magnitude is a Gaussian of
// sigma n / (2 pi s') frame samples (s' the envelope and the Hann window's centre together), so
// its half width at half maximum is known without the finder; the mask radius is twice it.
TEST(SpotFinder, HalfWidthOfTheBasisSpotsGivesTheMaskRadius) {
    const int w = 128, n = 256;
    const double s = 12.0, c = (w - 1) / 2.0;
    auto picture = makePicture(w, w, [&](int x, int y) {
        const double envelope = std::exp(-((x - c) * (x - c) + (y - c) * (y - c)) / (2 * s * s));
        return static_cast<int>(std::lround(
            128 + 60 * envelope * (std::cos(2 * M_PI * x / 8.0) + std::cos(2 * M_PI * y / 10.0))));
    });
    const SpotResult found = findSpots(picture.pixels(), n, SpotOptions{});
    ASSERT_EQ(found.status, SpotStatus::kFound);
    ASSERT_TRUE(found.haveBasis);
    // Near its centre the Hann window is exp(-(pi u / w)^2): a Gaussian of sigma w / (pi sqrt 2).
    const double hann = w / (M_PI * std::sqrt(2.0));
    const double both = 1.0 / std::sqrt(1.0 / (s * s) + 1.0 / (hann * hann));
    const double hwhm = n / (2 * M_PI * both) * std::sqrt(2 * std::log(2.0));
    EXPECT_NEAR(found.basisHalfWidth, hwhm, 0.05 * hwhm);
    EXPECT_EQ(autoLatticeRadius(found), static_cast<int>(std::lround(2 * found.basisHalfWidth)));
    EXPECT_NEAR(autoLatticeRadius(found), 2 * hwhm, 1.0);
    for (const Spot& spot : found.spots) EXPECT_GT(spot.halfWidth, 0.0);
}

TEST(SpotFinder, AutoRadiusIsTwiceTheHalfWidthRoundedAtLeastThree) {
    SpotResult r;
    r.n = 1024;
    r.haveBasis = true;
    auto radius = [&](double halfWidth) {
        r.basisHalfWidth = halfWidth;
        return autoLatticeRadius(r);
    };
    EXPECT_EQ(radius(2.28), 5);
    EXPECT_EQ(radius(2.2), 4);
    EXPECT_EQ(radius(2.25), 5);  // halves round up
    EXPECT_EQ(radius(1.2), 3);   // 2.4 would be too small a disc
    EXPECT_EQ(radius(0.0), 3);   // a flat peak gives no width
    EXPECT_EQ(radius(10000.0), 512);
    r.haveBasis = false;
    EXPECT_EQ(radius(4.0), 3);
    r.haveBasis = true;
    r.basisHalfWidth = 2.28;
    EXPECT_EQ(autoRadiusLine(r, std::nullopt), "Lattice mask radius: 5 samples (auto)");
    // 5 samples of a 1024 frame at 0.2 nm per pixel: 5 / 204.8 per nm.
    EXPECT_EQ(autoRadiusLine(r, image::PixelSize{0.2, 0.2}),
              "Lattice mask radius: 5 samples (auto), 0.02441 1/nm");
}

TEST(SpotFinder, HalfPowerIsThatOfTheWindowedFrameLessItsMean) {
    auto picture = makePicture(40, 36, texture);
    const GreyPixels p = picture.pixels();
    const int n = 64;
    const std::vector<float> half = windowedHalfPower(p, n);
    ASSERT_EQ(half.size(), static_cast<std::size_t>(n) * (n / 2 + 1));
    double sum = 0, weights = 0;
    for (int y = 0; y < 36; ++y)
        for (int x = 0; x < 40; ++x) {
            sum += hannWeight(x, 40) * hannWeight(y, 36) * p.at(x, y);
            weights += hannWeight(x, 40) * hannWeight(y, 36);
        }
    const double mean = sum / weights;
    // A direct DFT at a few frequencies.
    for (auto [ky, kx] : {std::pair{0, 0}, {3, 5}, {63, 32}, {40, 1}, {17, 0}}) {
        double re = 0, im = 0;
        for (int y = 0; y < 36; ++y)
            for (int x = 0; x < 40; ++x) {
                const double v = (p.at(x, y) - mean) * hannWeight(x, 40) * hannWeight(y, 36);
                const double a = -2 * M_PI * (double(kx) * x + double(ky) * y) / n;
                re += v * std::cos(a);
                im += v * std::sin(a);
            }
        const double want = re * re + im * im;
        EXPECT_NEAR(half[static_cast<std::size_t>(ky) * (n / 2 + 1) + kx], want,
                    1e-5 * want + 1e-3)
            << ky << "," << kx;
    }
}

}  // namespace
}  // namespace spectrum

namespace spectrum {
namespace {

// A symmetric pair takes two of the 100 places: at 99 circles it is refused with the 100-circle
// message, and without the option the old rule holds.
TEST(SymmetricCircles, PairsCountTwiceAndMatesAreAdded) {
    FilterSettings filter;
    SpectrumBuffers buffers;
    buffers.n = 512;
    buffers.offsetX = 106;
    buffers.offsetY = 131;
    core::RecordingSink sink;
    filter.symmetricCircles = true;
    addDrawnCircle(filter, {170, 100, 6}, buffers);
    ASSERT_EQ(filter.circles.size(), 2u);
    EXPECT_EQ(filter.circles[1], (MaskCircle{130, 150, 6}));
    filter.circles.resize(98);
    EXPECT_TRUE(canStartMaskCircle(filter, sink));
    filter.circles.resize(99);
    EXPECT_FALSE(canStartMaskCircle(filter, sink));
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].text, "Too many FFT masks!");
    EXPECT_EQ(sink.events[0].caption, "Warning");
    filter.symmetricCircles = false;
    EXPECT_TRUE(canStartMaskCircle(filter, sink));
    addDrawnCircle(filter, {1, 2, 3}, buffers);
    EXPECT_EQ(filter.circles.size(), 100u);
    EXPECT_FALSE(canStartMaskCircle(filter, sink));
}

// Taking back a circle: a symmetric pair goes as it came, a lone circle alone, then nothing.
TEST(MaskCircles, RemoveLastTakesBackOneDrag) {
    FilterSettings filter;
    SpectrumBuffers buffers;
    buffers.n = 512;
    buffers.offsetX = 106;
    buffers.offsetY = 131;
    filter.symmetricCircles = false;
    addDrawnCircle(filter, {10, 20, 4}, buffers);
    filter.symmetricCircles = true;
    addDrawnCircle(filter, {170, 100, 6}, buffers);  // its mate is (130, 150)
    ASSERT_EQ(filter.circles.size(), 3u);
    EXPECT_TRUE(removeLastDrawnCircle(filter, buffers));
    ASSERT_EQ(filter.circles.size(), 1u);
    EXPECT_EQ(filter.circles[0], (MaskCircle{10, 20, 4}));
    // Two unrelated circles with symmetric circles on: only the last goes.
    filter.circles = {{10, 20, 4}, {170, 100, 6}, {300, 40, 5}};
    EXPECT_TRUE(removeLastDrawnCircle(filter, buffers));
    ASSERT_EQ(filter.circles.size(), 2u);
    EXPECT_EQ(filter.circles[1], (MaskCircle{170, 100, 6}));
    EXPECT_TRUE(removeLastDrawnCircle(filter, buffers));
    EXPECT_TRUE(removeLastDrawnCircle(filter, buffers));
    EXPECT_FALSE(removeLastDrawnCircle(filter, buffers));
    EXPECT_TRUE(filter.circles.empty());
}

// Switching the shown spectrum between the frames gives what a fresh transform in that frame
// gives.
TEST(FrameSwitch, RetransformMatchesAFreshTransform) {
    SpectrumSettings settings;
    core::RecordingSink sink;
    core::RecordingBusy busy{sink};
    auto a = makePicture(90, 70, texture);
    auto b = makePicture(90, 70, texture);
    SpectrumBuffers mirror, windowed;
    ASSERT_TRUE(forwardTransform(a.image, a.geometry, settings, mirror, sink, busy));
    settings.frame = kWindowedFrame;
    ASSERT_TRUE(forwardTransform(b.image, b.geometry, settings, windowed, sink, busy));
    ASSERT_TRUE(retransformInGrid(mirror, kWindowedFrame));
    EXPECT_TRUE(mirror.windowed);
    const std::size_t count = static_cast<std::size_t>(mirror.n) * mirror.n;
    for (std::size_t i = 0; i < count; i += 97) {
        ASSERT_NEAR(mirror.real[i], windowed.real[i], 1e-6);
        ASSERT_NEAR(mirror.imag[i], windowed.imag[i], 1e-6);
    }
    SpectrumBuffers empty;
    EXPECT_FALSE(retransformInGrid(empty, kWindowedFrame));
}

}  // namespace
}  // namespace spectrum

namespace spectrum {
namespace {

TEST(BasisText, ReadsTwoVectorsAndRefusesEverythingElse) {
    const auto basis = parseBasisText(" 62.6, -13.3 ;6.5,-46.1 ");
    ASSERT_TRUE(basis);
    EXPECT_EQ(basis->first, (Vec2{62.6, -13.3}));
    EXPECT_EQ(basis->second, (Vec2{6.5, -46.1}));
    for (const char* bad : {"", "1,2;3", "1,2;3,4;5,6", "1;2,3;4", "1,2,3,4", "1,,2;3,4", "a,2;3,4",
                            "1,2;3,4x", "1e6,0;0,1", "nan,0;0,1", "1,2;3,4;"})
        EXPECT_FALSE(parseBasisText(bad)) << bad;
}

}  // namespace
}  // namespace spectrum
