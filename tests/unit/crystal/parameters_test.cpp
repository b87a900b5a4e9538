// The parameters dialog's rules and the unit-cell sketch, without a window.
#include <gtest/gtest.h>

#include "crystal/engine/cell_sketch.h"
#include "crystal/rules/parameters.h"

namespace crystal {
namespace {

TEST(LatticeChecks, RangesAndTheirBounds) {
    // a, b, c take 0 and 100 themselves; an empty text counts as 0 and passes here.
    for (const char* t : {"0", "100", "3.905", "", "abc"})
        EXPECT_TRUE(latticeTextAccepted(LatticeField::A, t)) << t;
    EXPECT_FALSE(latticeTextAccepted(LatticeField::C, "100.01"));
    EXPECT_FALSE(latticeTextAccepted(LatticeField::B, "-1"));
    // alpha and beta: above 0 and at most 90.
    EXPECT_TRUE(latticeTextAccepted(LatticeField::Beta, "90"));
    EXPECT_FALSE(latticeTextAccepted(LatticeField::Beta, "95"));
    EXPECT_FALSE(latticeTextAccepted(LatticeField::Alpha, ""));
    EXPECT_FALSE(latticeTextAccepted(LatticeField::Alpha, "0"));
    // gamma: 179.9 passes, 180 fails.
    EXPECT_TRUE(latticeTextAccepted(LatticeField::Gamma, "179.9"));
    EXPECT_FALSE(latticeTextAccepted(LatticeField::Gamma, "180"));
    EXPECT_TRUE(latticeTextAccepted(LatticeField::Gamma, "120"));
}

TEST(LatticeChecks, OnlyTheFirstFifteenCharactersCount) {
    // "000000000000000" then "5": the 16th character is not read, so the value is 0.
    EXPECT_FALSE(latticeTextAccepted(LatticeField::Alpha, "0000000000000005"));
    EXPECT_TRUE(latticeTextAccepted(LatticeField::Alpha, "000000000000005"));
}

TEST(CoordinateChecks, ClosedUnitInterval) {
    for (const char* t : {"0", "1", "0.5", "0.3333333", ""}) EXPECT_TRUE(coordinateTextAccepted(t));
    for (const char* t : {"1.0001", "-0.1", "2"}) EXPECT_FALSE(coordinateTextAccepted(t));
}

TEST(Completion, DirectionsKeepPrefixesAndFallBackToOne) {
    ASSERT_EQ(directionChoices().size(), 7u);
    EXPECT_EQ(directionChoices().front(), "3");
    EXPECT_EQ(directionChoices().back(), "-3");
    EXPECT_EQ(completeDirectionText("-"), "-");
    EXPECT_EQ(completeDirectionText("-2"), "-2");
    EXPECT_EQ(completeDirectionText(""), "");
    EXPECT_EQ(completeDirectionText("4"), "1");
    EXPECT_EQ(completeDirectionText("-4"), "1");
    EXPECT_EQ(completeDirectionText("12"), "1");
}

TEST(Completion, SymbolsKeepPrefixesAndFallBackToStrontium) {
    EXPECT_EQ(completeSymbolText("S"), "S");
    EXPECT_EQ(completeSymbolText("ti"), "ti");
    EXPECT_EQ(completeSymbolText("Xy"), "Sr");
    EXPECT_EQ(completeSymbolText("Q"), "Sr");
}

TEST(Completion, AtomicNumbersPreferAnExactSymbol) {
    EXPECT_EQ(atomicNumberOfSymbolText("B"), 5);   // not Be or Br
    EXPECT_EQ(atomicNumberOfSymbolText("S"), 16);  // not Si or Sc
    EXPECT_EQ(atomicNumberOfSymbolText("I"), 53);
    EXPECT_EQ(atomicNumberOfSymbolText("X"), 54);  // half-typed: the first that begins with it
    EXPECT_EQ(atomicNumberOfSymbolText("sr"), 38);
    EXPECT_EQ(atomicNumberOfSymbolText("Qq"), 0);
}

TEST(StoreAtomRow, ReferenceRowStaysAtTheOrigin) {
    CrystalModel m = presetCrystal();
    ASSERT_TRUE(storeAtomRow(m, 0, {"Ba", "0.5", "0.5", "0.5", 4}));
    EXPECT_EQ(m.atoms[0].symbol, "Ba");
    EXPECT_EQ(m.atoms[0].atomicNumber, "56");
    EXPECT_EQ(m.atoms[0].x, "0");
    EXPECT_EQ(m.atoms[0].y, "0");
    EXPECT_EQ(m.atoms[0].z, "0");
    EXPECT_EQ(m.atoms[0].colourIndex, 4);
    EXPECT_EQ(m.atoms[0].colourValue, kAtomColours[4].value);
}

TEST(StoreAtomRow, ForbiddenEdgePositionsAreRefusedOnTheStoredTexts) {
    CrystalModel m = presetCrystal();
    m.atoms[1].x = "0.5";
    m.atoms[1].y = "1";
    m.atoms[1].z = "0";
    const AtomSite before = m.atoms[1];
    EXPECT_FALSE(storeAtomRow(m, 1, {"Ti", "0.5", "0.5", "0.5", 6}));
    EXPECT_EQ(m.atoms[1].symbol, before.symbol);  // nothing stored
    EXPECT_EQ(m.atoms[1].y, "1");

    m.atoms[2].x = "1";
    m.atoms[2].y = "0.5";
    m.atoms[2].z = "0.5";
    ASSERT_TRUE(storeAtomRow(m, 2, {"Ti", "1", "0.5", "0.5", 6}));
    EXPECT_EQ(m.atoms[2].atomicNumber, "22");
    EXPECT_EQ(m.atoms[2].colourValue, kAtomColours[6].value);
}

TEST(StoreAtomRow, TextsAreCutToThirteenCharacters) {
    CrystalModel m = presetCrystal();
    ASSERT_TRUE(storeAtomRow(m, 1, {"O", "0.12345678901234", "0.5", "0", 3}));
    EXPECT_EQ(m.atoms[1].x, "0.12345678901");
}

TEST(RowDefaults, StoredValuesComeBackButNotABlackColour) {
    CrystalModel m = presetCrystal();
    RowDefaults d = rowDefaults(m, 4);  // preset Ti, red
    ASSERT_TRUE(d.colourIndex.has_value());
    EXPECT_EQ(*d.colourIndex, 6);
    EXPECT_EQ(d.symbol.value_or(""), "Ti");
    EXPECT_EQ(d.z.value_or(""), "0.5");
    m.atoms[4].colourIndex = 0;
    m.atoms[4].colourValue = 0;
    EXPECT_FALSE(rowDefaults(m, 4).colourIndex.has_value());
    const RowDefaults empty = rowDefaults(m, 50);
    EXPECT_FALSE(empty.symbol || empty.x || empty.colourIndex);
}

TEST(Outcome, ReuseOfPreviousRows) {
    EXPECT_EQ(rowReuseAfterConfirm(5, 0, true), RowReuse::Silently);
    EXPECT_EQ(rowReuseAfterConfirm(5, 0, false), RowReuse::Ask);
    EXPECT_EQ(rowReuseAfterConfirm(1, 0, false), RowReuse::None);
    EXPECT_EQ(rowReuseAfterConfirm(5, 2, false), RowReuse::None);
}

TEST(Sketch, RowsShownFollowTheEditedRow) {
    EXPECT_EQ(sketchRowCount(true, 0, 5), 5);
    EXPECT_EQ(sketchRowCount(false, 0, 5), 5);  // the previous crystal stays until Next
    EXPECT_EQ(sketchRowCount(false, 0, 1), 1);
    EXPECT_EQ(sketchRowCount(false, 3, 5), 4);
}

TEST(Sketch, AtomPositionsAndTheDrawing) {
    AtomSite s;
    s.x = "0.5";
    s.y = "0.5";
    s.z = "0.5";
    const Point p = sketchPosition(s);
    EXPECT_EQ(p.x, 98 - 35 + 50);
    EXPECT_EQ(p.y, 128 + 35 - 50);

    CrystalModel m = presetCrystal();
    RasterCanvas canvas(kSketchWidth, kSketchHeight);
    canvas.fillRect(0, 0, kSketchWidth, kSketchHeight, rgb(255, 255, 255));
    drawCellSketch(canvas, m, 5);
    const int black = paletteIndexOf(rgb(0, 0, 0));
    const int white = paletteIndexOf(rgb(255, 255, 255));
    // The c axis is two pixels wide; the dotted top edge has gaps.
    EXPECT_EQ(canvas.indexAt(98, 60), black);
    EXPECT_EQ(canvas.indexAt(99, 60), black);
    int on = 0, off = 0;
    for (int x = 100; x < 196; ++x) (canvas.indexAt(x, 28) == black ? on : off)++;
    EXPECT_GT(on, 30);
    EXPECT_GT(off, 30);
    // The Ti dot at the cell centre is red, an O dot blue.
    const Point ti = sketchPosition(m.atoms[4]);
    EXPECT_EQ(canvas.indexAt(ti.x, ti.y), paletteIndexOf(kAtomColours[6].value));
    const Point o = sketchPosition(m.atoms[1]);
    EXPECT_EQ(canvas.indexAt(o.x, o.y), paletteIndexOf(kAtomColours[3].value));
    // With one row only the Ti position stays white.
    RasterCanvas one(kSketchWidth, kSketchHeight);
    one.fillRect(0, 0, kSketchWidth, kSketchHeight, rgb(255, 255, 255));
    drawCellSketch(one, m, 1);
    EXPECT_EQ(one.indexAt(ti.x, ti.y), white);
}

}  // namespace
}  // namespace crystal
