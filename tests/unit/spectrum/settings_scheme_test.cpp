#include "spectrum/rules/settings_scheme.h"

#include <gtest/gtest.h>

#include <string>

namespace spectrum {
namespace {

// The special filter profile as the program writes it: its bytes must survive every change.
const std::string kProfile =
    "[Special Filter]\r\n0=255\r\n1=254.99\r\n255=0\r\n\r\n[Lattice]\r\nSymmetric circles=1\r\n";

TEST(ProfileText, FindsKeysAsTheSystemReaderDoes) {
    const ProfileText file(
        "; a comment=no\n[special filter]\n 0 = 255 \n[Lattice]\nSymmetric circles=1\n"
        "Symmetric circles=0\n[Lattice]\nOther=2\n[Empty]\nKey=\n");
    EXPECT_EQ(file.get("Special Filter", "0"), "255");
    EXPECT_EQ(file.get("LATTICE", "symmetric CIRCLES"), "1");  // the first of two
    EXPECT_FALSE(file.get("Lattice", "Other"));                 // only the first section counts
    EXPECT_FALSE(file.get("Special Filter", "Symmetric circles"));
    EXPECT_FALSE(file.get("Missing", "0"));
    EXPECT_FALSE(file.get("Special Filter", "; a comment"));
    EXPECT_EQ(file.get("Empty", "Key"), "");
    EXPECT_EQ(ProfileText("[A]\r\nk=v\r\n").get("A", "k"), "v");  // no CR in the value
}

TEST(ProfileText, AddingASectionAppendsWithoutTouchingTheRest) {
    ProfileText file(kProfile);
    ASSERT_TRUE(file.set("Choices", "Frame", "windowed"));
    EXPECT_EQ(file.text(), kProfile + "[Choices]\r\nFrame=windowed\r\n");
    ASSERT_TRUE(file.set("Choices", "Binning", "2"));
    EXPECT_EQ(file.text(), kProfile + "[Choices]\r\nFrame=windowed\r\nBinning=2\r\n");
    EXPECT_EQ(file.get("Choices", "Frame"), "windowed");
    EXPECT_EQ(file.get("Special Filter", "1"), "254.99");

    // A file without a final line break, or with Unix line breaks, keeps its own style.
    ProfileText unix("[A]\nk=v");
    ASSERT_TRUE(unix.set("B", "x", "1"));
    EXPECT_EQ(unix.text(), "[A]\nk=v\n[B]\nx=1\n");
    ProfileText empty;
    ASSERT_TRUE(empty.set("B", "x", "1"));
    EXPECT_EQ(empty.text(), "[B]\r\nx=1\r\n");
}

TEST(ProfileText, ChangesOnlyTheValueOrInsertsInsideItsSection) {
    ProfileText file(kProfile);
    ASSERT_TRUE(file.set("lattice", "Symmetric circles", "0"));
    std::string expected = kProfile;
    expected[expected.size() - 3] = '0';
    EXPECT_EQ(file.text(), expected);

    // A new key of an existing section goes after its last line, before the blank line.
    ASSERT_TRUE(file.set("Special Filter", "7", "250"));
    EXPECT_EQ(file.text().substr(0, 49), "[Special Filter]\r\n0=255\r\n1=254.99\r\n255=0\r\n7=250\r\n");
    EXPECT_EQ(file.text().substr(49), "\r\n[Lattice]\r\nSymmetric circles=0\r\n");

    // Spaces around the old value stay; the value between them changes.
    ProfileText spaced("[A]\r\nk =  old  \r\n");
    ASSERT_TRUE(spaced.set("A", "K", "new"));
    EXPECT_EQ(spaced.text(), "[A]\r\nk =  new  \r\n");
    ProfileText last("[A]\r\nk=1");
    ASSERT_TRUE(last.set("A", "j", "2"));
    EXPECT_EQ(last.text(), "[A]\r\nk=1\r\nj=2");
}

TEST(ProfileText, RemovesOneLineAndRefusesWhatALineCannotHold) {
    ProfileText file(kProfile);
    EXPECT_TRUE(file.remove("Special Filter", "1"));
    EXPECT_EQ(file.text(),
              "[Special Filter]\r\n0=255\r\n255=0\r\n\r\n[Lattice]\r\nSymmetric circles=1\r\n");
    EXPECT_FALSE(file.remove("Special Filter", "1"));

    ProfileText other(kProfile);
    for (const auto& [section, key, value] :
         {std::tuple{"A", "k=2", "v"}, {"A]", "k", "v"}, {"A", "k", "two\r\nlines"},
          {"", "k", "v"}, {"A", "", "v"}, {"A", " k", "v"}, {"A", "k", " v"}, {"A", ";k", "v"},
          {"A", "[k", "v"}, {"A\n", "k", "v"}})
        EXPECT_FALSE(other.set(section, key, value)) << section << "/" << key << "/" << value;
    EXPECT_EQ(other.text(), kProfile);
}

TEST(SchemeValues, OnlyTheWordsNumbersAndSwitchesTheSchemeWrites) {
    const ChoiceKey key{"Kind", {"first", "second", "third"}};
    const ProfileText file(
        "[S]\nKind=third\nBad=Third\nOn=1\nOff=0\nYes=yes\nN=12.5\nE=1e3\nX=12a\nInf=inf\n"
        "Low=0.5\nNeg=-1\nEmpty=\n");
    EXPECT_EQ(readChoice(file, "S", key), 2);
    EXPECT_EQ(readChoice(file, "S", ChoiceKey{"Bad", key.words}), 0);  // words are exact
    EXPECT_EQ(readChoice(file, "T", key), 0);
    EXPECT_TRUE(readSwitch(file, "S", "On", false));
    EXPECT_FALSE(readSwitch(file, "S", "Off", true));
    EXPECT_TRUE(readSwitch(file, "S", "Yes", true));
    EXPECT_FALSE(readSwitch(file, "S", "Yes", false));
    EXPECT_EQ(readNumber(file, "S", "N", 1, 100, 7), 12.5);
    EXPECT_EQ(readNumber(file, "S", "E", 1, 10000, 7), 1000);
    for (const char* bad : {"X", "Inf", "Low", "Neg", "Empty", "Missing"})
        EXPECT_EQ(readNumber(file, "S", bad, 1, 100, 7), 7) << bad;
    EXPECT_EQ(readNumber(file, "S", "Neg", -5, 5, 7), -1);
}

TEST(SchemeValues, NumbersAreShortAndReadBackExactly) {
    EXPECT_EQ(numberText(10), "10");
    EXPECT_EQ(numberText(0.99), "0.99");
    EXPECT_EQ(numberText(-90), "-90");
    EXPECT_EQ(numberText(1234.5678), "1234.5678");
    for (double v : {0.1 + 0.2, 1.0 / 3.0, 9999.999999999, 1e-300}) {
        ProfileText file;
        ASSERT_TRUE(writeNumber(file, "S", "v", v));
        EXPECT_EQ(readNumber(file, "S", "v", -1e308, 1e308, 0), v) << numberText(v);
    }
}

TEST(RememberedChoices, AMissingSectionGivesTheStartValues) {
    const RememberedChoices c = readChoices(ProfileText(kProfile));
    const DisplaySettings start;
    EXPECT_EQ(c.fileType, FileType::Bitmap);
    EXPECT_EQ(c.frame, kMirrorFrame);
    EXPECT_EQ(c.binning, 1);
    EXPECT_FALSE(c.lineWave);
    EXPECT_EQ(c.lineWaveAngle, 0.0);
    EXPECT_EQ(c.display.displayQuantity, start.displayQuantity);
    EXPECT_EQ(c.display.upperClipFactor, 10.0);
    EXPECT_EQ(c.display.lowerClipDivisor, 1.0);
    EXPECT_FALSE(c.display.logScale || c.display.crossMark || c.display.rainbowPalette ||
                 c.display.lowerClipping || c.display.invertedDisplay || c.display.wholeFrame);
}

RememberedChoices everyChoiceChanged() {
    RememberedChoices c;
    c.fileType = FileType::MicroscopeImages;
    c.frame = kWindowedFrame;
    c.display.displayQuantity = kImaginaryPart;
    c.display.logScale = c.display.crossMark = c.display.rainbowPalette = true;
    c.display.lowerClipping = c.display.invertedDisplay = c.display.wholeFrame = true;
    c.display.upperClipFactor = 12.5;
    c.display.lowerClipDivisor = 9999.75;
    c.lineWave = true;
    c.lineWaveAngle = -37;
    c.binning = 4;
    return c;
}

TEST(RememberedChoices, WrittenChoicesReadBackAndLeaveTheProfileAlone) {
    ProfileText file(kProfile);
    const RememberedChoices c = everyChoiceChanged();
    ASSERT_TRUE(writeChoices(file, c));
    EXPECT_EQ(file.text().substr(0, kProfile.size()), kProfile);
    const RememberedChoices r = readChoices(file);
    EXPECT_EQ(r.fileType, c.fileType);
    EXPECT_EQ(r.frame, c.frame);
    EXPECT_EQ(r.display.displayQuantity, kImaginaryPart);
    EXPECT_TRUE(r.display.logScale && r.display.crossMark && r.display.rainbowPalette &&
                r.display.lowerClipping && r.display.invertedDisplay && r.display.wholeFrame);
    EXPECT_EQ(r.display.upperClipFactor, 12.5);
    EXPECT_EQ(r.display.lowerClipDivisor, 9999.75);
    EXPECT_TRUE(r.lineWave);
    EXPECT_EQ(r.lineWaveAngle, -37);
    EXPECT_EQ(r.binning, 4);
    // Written again, nothing moves.
    const std::string once = file.text();
    ASSERT_TRUE(writeChoices(file, r));
    EXPECT_EQ(file.text(), once);
    EXPECT_EQ(file.get("Choices", "File type"), "microscope images");
    EXPECT_EQ(file.get("Choices", "Binning"), "4");
}

TEST(RememberedChoices, DamagedValuesReadAsTheStartValues) {
    const ProfileText damaged(kProfile +
                              "[Choices]\r\nFile type=jpeg\r\nFrame=\r\nFFT display=3\r\n"
                              "Display mode=LOG\r\nWhole frame=2\r\nCross mark=on\r\n"
                              "Line wave=-1\r\nLine wave angle=91\r\nRainbow=1x\r\n"
                              "Upper clipping c=0.5\r\nLower clipping d=nan\r\n"
                              "Intensity display=inverted!\r\nBinning=3\r\n\x01\x02garbage\r\n");
    const RememberedChoices r = readChoices(damaged);
    EXPECT_EQ(r.fileType, FileType::Bitmap);
    EXPECT_EQ(r.frame, kMirrorFrame);
    EXPECT_EQ(r.display.displayQuantity, kRootPower);
    EXPECT_FALSE(r.display.logScale || r.display.wholeFrame || r.display.crossMark ||
                 r.lineWave || r.display.rainbowPalette || r.display.invertedDisplay);
    EXPECT_EQ(r.lineWaveAngle, 0.0);
    EXPECT_EQ(r.display.upperClipFactor, 10.0);
    EXPECT_EQ(r.display.lowerClipDivisor, 1.0);
    EXPECT_EQ(r.binning, 1);
    // An angle between the list's whole degrees is not one the user could have chosen.
    EXPECT_EQ(readChoices(ProfileText("[Choices]\nLine wave angle=12.5\n")).lineWaveAngle, 0.0);
    // One damaged key leaves the others as written.
    const RememberedChoices one =
        readChoices(ProfileText("[Choices]\nBinning=8\nFrame=windowed\nFFT display=amplitude\n"));
    EXPECT_EQ(one.binning, 1);
    EXPECT_EQ(one.frame, kWindowedFrame);
    EXPECT_EQ(one.display.displayQuantity, kRealPart);
}

}  // namespace
}  // namespace spectrum
