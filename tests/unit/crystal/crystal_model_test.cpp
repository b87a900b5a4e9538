#include "crystal/engine/crystal_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "crystal_fixture.h"
#include "tests/doubles/recording.h"

using namespace crystal;
using crystal::testing::exists;
using crystal::testing::makeModel;
using crystal::testing::readAll;
using crystal::testing::strontiumTitanate;

namespace {

const char* const kHeader =
    "a axis=3.905\tb axis=3.905\tc axis=3.905\r\nalpha=90\tbeta=90\t\tgamma=90\r\n";

std::string dataFile() {
    return std::string(SUITE_TEST_DATA) + "/crystal/srtio3.txt";
}

}  // namespace

TEST(CrystalDataFile, WritesExactBytesWithTwoTabsAfterShortBeta) {
    CrystalModel m =
        makeModel("3.905", "3.905", "3.905", "90", "90", "90", {{"Si", "14", "0", "0", "0", 3}});
    EXPECT_EQ(crystalDataText(m),
              "a axis=3.905\tb axis=3.905\tc axis=3.905\r\nalpha=90\tbeta=90\t\tgamma=90\r\n"
              "Si \t14  \t        0\t        0\t        0\t   BLUE\r\n");
    m.beta = "90.0";
    EXPECT_NE(crystalDataText(m).find("beta=90.0\tgamma=90\r\n"), std::string::npos);
    // A colour value that is in no table row gets an empty name.
    m.atoms[0].colourValue = rgb(1, 2, 3);
    EXPECT_NE(crystalDataText(m).find("0\t       \r\n"), std::string::npos);
}

TEST(CrystalDataFile, SavedFileReadsBackToTheSameModel) {
    CrystalModel m = strontiumTitanate();
    CrystalModel back;
    ASSERT_TRUE(parseCrystalData(crystalDataText(m), back));
    EXPECT_EQ(back.atomCount, 5);
    EXPECT_TRUE(back.loadedFromFile);
    EXPECT_EQ(crystalDataText(back), crystalDataText(m));
    EXPECT_EQ(readAll(dataFile()), crystalDataText(m));
}

TEST(CrystalDataFile, SymbolsTypedInAnyCaseReadBack) {
    // The dialog takes "sr" or "TI" as the element; the file must still load.
    CrystalModel m =
        makeModel("3.905", "3.905", "3.905", "90", "90", "90",
                  {{"sr", "38", "0", "0", "0", 0}, {"TI", "22", "0.5", "0.5", "0.5", 6}});
    CrystalModel back;
    ASSERT_TRUE(parseCrystalData(crystalDataText(m), back));
    ASSERT_EQ(back.atomCount, 2);
    EXPECT_EQ(back.atoms[0].symbol, "Sr");
    EXPECT_EQ(back.atoms[1].symbol, "Ti");
    EXPECT_EQ(back.atoms[1].x, "0.5");
}

TEST(CrystalDataFile, NumbersTheReaderCannotTakeWholeAreWrittenPlain) {
    // The dialog accepts an emptied field (value 0) and exponents; written as typed they would
    // shift every later field of the file.
    CrystalModel m =
        makeModel("", "1e1", "3.905", "9e1", "90", "1.2e2",
                  {{"Sr", "38", "0", "0", "0", 0}, {"Ti", "22", "5e-1", ".5", "0.5", 6}});
    CrystalModel back;
    ASSERT_TRUE(parseCrystalData(crystalDataText(m), back));
    EXPECT_EQ(realOf(back.a), 0.0);
    EXPECT_EQ(realOf(back.b), 10.0);
    EXPECT_EQ(back.c, "3.905");
    EXPECT_EQ(realOf(back.alpha), 90.0);
    EXPECT_EQ(back.beta, "90");
    EXPECT_EQ(realOf(back.gamma), 120.0);
    ASSERT_EQ(back.atomCount, 2);
    EXPECT_EQ(realOf(back.atoms[1].x), 0.5);
    EXPECT_EQ(back.atoms[1].y, ".5");
}

TEST(CrystalDataFile, ScannerSkipsLabelsAndTakesTokensWhereTheyStand) {
    CrystalModel m;
    ASSERT_TRUE(parseCrystalData("3.905 4 5\r\n90 90 120\r\nSI 14 0 0 0 BLUE\r\n", m));
    EXPECT_EQ(m.gamma, "120");
    ASSERT_EQ(m.atomCount, 1);
    EXPECT_EQ(m.atoms[0].symbol, "S");  // the second letter must be lower case
    EXPECT_EQ(m.atoms[0].atomicNumber, "14");
    EXPECT_EQ(m.atoms[0].colourIndex, 3);

    // No rows at all.
    CrystalModel none;
    EXPECT_TRUE(parseCrystalData(kHeader, none));
    EXPECT_EQ(none.atomCount, 0);
}

TEST(CrystalDataFile, LastRowWithoutLineEndIsLoaded) {
    for (const char* end : {"", "\r", " ", "\t  "}) {
        CrystalModel open;
        EXPECT_TRUE(parseCrystalData(
            std::string(kHeader) + "Sr 38 0 0 0 BLACK\r\nO 8 0.5 0.5 0 BLUE" + end, open))
            << "ending '" << end << "'";
        ASSERT_EQ(open.atomCount, 2) << "ending '" << end << "'";
        EXPECT_EQ(open.atoms[1].symbol, "O");
        EXPECT_EQ(open.atoms[1].colourIndex, 3);
    }
}

// Files the bare scanner read with values in the wrong fields, status 0: each must be refused.
TEST(CrystalDataFile, RefusesValuesThatWouldLandInAnotherField) {
    const std::string row = "Sr 38 0 0 0 BLACK\r\n";
    const std::string rows = row + "O 8 0.5 0.5 0 BLUE\r\n";
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"alpha with nothing after it",
         "a axis=3.905\tb axis=3.905\tc axis=3.905\r\nalpha=\tbeta=90\t\tgamma=90\r\n" + rows},
        {"alpha=nan", "a axis=3.905\tb axis=3.905\tc axis=3.905\r\nalpha=nan\tbeta=90\t\tgamma=90\r\n" +
                          rows},
        {"a axis=1e1", "a axis=1e1\tb axis=3.905\tc axis=3.905\r\nalpha=90\tbeta=90\t\tgamma=90\r\n" +
                           rows},
        {"3-9 as a length", "3-9 3 3\r\n90 90 90\r\n" + rows},
        {"exponent in an angle", "3 3 3\r\n90 9E1 90\r\n" + rows},
        {"plus after a coordinate", std::string(kHeader) + "Sr 38 0+ 0 0 BLACK\r\n"},
        {"exponent in Z", std::string(kHeader) + "Sr 3e8 0 0 0 BLACK\r\n"},
        {"two lengths on the first line", "3 3\r\n3 90 90 90\r\n" + rows},
        {"four lengths on the first line", "3 3 3 3\r\n90 90 90\r\n" + rows},
        {"four angles on the second line", "3 3 3\r\n90 90 90 90\r\n" + rows},
        {"a comment line first", "SrTiO3\r\n3 3 3\r\n90 90 90\r\n" + rows},
        {"a row split over two lines", std::string(kHeader) + "Sr 38 0 0\r\n0 BLACK\r\n"},
        {"a row without its colour", std::string(kHeader) + "Sr 38 0 0 0\r\nO 8 0.5 0.5 0 BLUE\r\n"},
        {"a row without its Z", std::string(kHeader) + "Sr\r\n38 0 0 0 BLACK\r\n"},
    };
    for (const auto& c : cases) {
        CrystalModel m = strontiumTitanate();
        m.loadedFromFile = false;
        EXPECT_FALSE(parseCrystalData(c.bytes, m)) << c.what;
        EXPECT_FALSE(m.loadedFromFile) << c.what;
    }
    // Labels, blank lines between rows and files without labels still load.
    CrystalModel m;
    EXPECT_TRUE(parseCrystalData("3.905 3.905 3.905\n90 90 90\n\n" + rows + "\r\n" + row, m));
    EXPECT_EQ(m.atomCount, 3);
}

TEST(CrystalDataFile, RefusesRowsOnTheFarEdgesAsTheDialogDoes) {
    for (const char* position : {"1 1 1", "0.5 1 0", "0.3 0 1", "1 1 0.2", "0 1 0.7", "1 0 0"}) {
        CrystalModel m;
        EXPECT_FALSE(parseCrystalData(std::string(kHeader) + "Sr 38 0 0 0 BLACK\r\nSr 38 " +
                                          position + " BLACK\r\n",
                                      m))
            << position;
    }
    // The reference row may stand anywhere; allowed edge positions stay allowed.
    CrystalModel m;
    EXPECT_TRUE(parseCrystalData(std::string(kHeader) +
                                     "Sr 38 0 0 1 BLACK\r\nO 8 0.5 0 0 BLUE\r\nTi 22 1 0.5 0.5 "
                                     "RED\r\n",
                                 m));
    EXPECT_EQ(m.atomCount, 3);
}

TEST(CrystalDataFile, BareLineFeedsLoseNoRow) {
    CrystalModel m;
    ASSERT_TRUE(
        parseCrystalData("3.905 3.905 3.905\n90 90 90\nSr 38 0 0 0 BLACK\nO 8 0.5 0.5 0 BLUE\nTi "
                         "22 0.5 0.5 0.5 RED\n",
                         m));
    ASSERT_EQ(m.atomCount, 3);
    EXPECT_EQ(m.atoms[2].symbol, "Ti");
}

TEST(CrystalDataFile, RefusesEveryBrokenRule) {
    const std::string row = "Si 14 0 0 0 BLUE\r\n";
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"lattice above 100", "101 3 3\r\n90 90 90\r\n" + row},
        {"15-character lattice number", "3.0000000000000 3 3\r\n90 90 90\r\n" + row},
        {"negative lattice number", "-3 3 3\r\n90 90 90\r\n" + row},
        {"alpha above 90", "3 3 3\r\n120 90 90\r\n" + row},
        {"beta zero", "3 3 3\r\n90 0 90\r\n" + row},
        {"gamma 180", "3 3 3\r\n90 90 180\r\n" + row},
        {"no angle line end", "3 3 3\r\n90 90 90"},
        {"unknown symbol", std::string(kHeader) + "Xx 14 0 0 0 BLUE\r\n"},
        {"Z 104", std::string(kHeader) + "Si 104 0 0 0 BLUE\r\n"},
        {"Z 0", std::string(kHeader) + "Si 0 0 0 0 BLUE\r\n"},
        {"Z 14.5", std::string(kHeader) + "Si 14.5 0 0 0 BLUE\r\n"},
        {"coordinate -1", std::string(kHeader) + "Si 14 -1 0 0 BLUE\r\n"},
        {"coordinate 1.5", std::string(kHeader) + "Si 14 0 1.5 0 BLUE\r\n"},
        {"lower-case colour, then Cu",
         std::string(kHeader) + "Si 14 0 0 0 blue\r\nCu 29 0 0 0 RED\r\n"},
        {"unknown colour", std::string(kHeader) + "Si 14 0 0 0 BROWNY\r\n"},
        {"blank line after the last row", std::string(kHeader) + row + "\r\n"},
        {"half a row after the last row", std::string(kHeader) + row + "O 8 0.5"},
    };
    for (const auto& c : cases) {
        CrystalModel m = strontiumTitanate();
        m.loadedFromFile = false;
        EXPECT_FALSE(parseCrystalData(c.bytes, m)) << c.what;
        EXPECT_EQ(m.atomCount, 5) << c.what;  // not rolled back, but the count stays
        EXPECT_FALSE(m.loadedFromFile) << c.what;
    }
    // "14." is a whole number; 90 is the largest alpha; gamma 179 passes.
    CrystalModel m;
    EXPECT_TRUE(parseCrystalData("3 3 3\r\n90 90 179\r\nSi 14. 0 0 1 BLUE\r\n", m));
}

TEST(CrystalDataFile, MoreThanAHundredRowsGrowTheTable) {
    std::string bytes = kHeader;
    for (int i = 0; i < 101; ++i) bytes += "Si 14 " + std::to_string(i / 1000.0) + " 0 0 BLUE\r\n";
    CrystalModel m;
    ASSERT_TRUE(parseCrystalData(bytes, m));
    EXPECT_EQ(m.atomCount, 101);
    EXPECT_GE(m.atoms.size(), 101u);
}

TEST(CrystalDataFile, LoadReportsMissingEmptyAndWrongFiles) {
    core::RecordingSink sink;
    CrystalModel m;
    EXPECT_FALSE(loadCrystalFile("/nonexistent/crystal.txt", m, sink));
    const std::string empty = ::testing::TempDir() + "empty_crystal.txt";
    ASSERT_TRUE(writeWholeFile(empty, ""));
    EXPECT_FALSE(loadCrystalFile(empty, m, sink));
    const std::string wrong = ::testing::TempDir() + "wrong_crystal.txt";
    ASSERT_TRUE(writeWholeFile(wrong, "3 3 3\r\n"));
    EXPECT_FALSE(loadCrystalFile(wrong, m, sink));
    EXPECT_TRUE(loadCrystalFile(dataFile(), m, sink));
    const auto messages = sink.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].text, "The file does not exist.");
    EXPECT_EQ(messages[1].text, "NO data in the file.");
    EXPECT_EQ(messages[2].text, "Wrong data file.");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[i].caption, "Error");
        EXPECT_EQ(messages[i].style, core::kIconError);
    }
    EXPECT_EQ(messages[3].caption, "Next procedure");
    EXPECT_EQ(messages[3].text,
              "Next, press <Crystal> button.\nSet ONLY <u,v,w> value, and then press <OK> button.");
    std::remove(empty.c_str());
    std::remove(wrong.c_str());
}

TEST(CrystalDataFile, SaveReportsAFileThatCannotBeWritten) {
    core::RecordingSink sink;
    EXPECT_FALSE(saveCrystalFile("/nonexistent/dir/out.txt", strontiumTitanate(), sink));
#if defined(__linux__)
    // The disk fills up after the file was created; nothing must claim success.
    const std::string path = ::testing::TempDir() + "full_crystal.txt";
    {
        crystal::testing::FileSizeLimit limit(50);
        EXPECT_FALSE(saveCrystalFile(path, strontiumTitanate(), sink));
    }
    EXPECT_FALSE(std::ifstream(path).good());
    EXPECT_EQ(sink.messages().size(), 2u);
#endif
    for (const auto& e : sink.messages()) {
        EXPECT_EQ(e.text, "Unable to create a crystal data file.");
        EXPECT_EQ(e.caption, "Error");
    }
    EXPECT_FALSE(sink.messages().empty());
}

TEST(CrystalModelRules, EdgePositionsAndTables) {
    EXPECT_TRUE(isForbiddenEdgePosition(0.5, 1, 0));
    EXPECT_TRUE(isForbiddenEdgePosition(0.3, 0, 1));
    EXPECT_TRUE(isForbiddenEdgePosition(1, 1, 0.2));
    EXPECT_TRUE(isForbiddenEdgePosition(0, 1, 0.7));
    EXPECT_FALSE(isForbiddenEdgePosition(0, 0, 0));
    EXPECT_FALSE(isForbiddenEdgePosition(0.5, 0, 0));
    EXPECT_FALSE(isForbiddenEdgePosition(1, 0.5, 0.5));
    EXPECT_EQ(atomicNumberOfSymbol("sr"), 38);
    EXPECT_EQ(atomicNumberOfSymbol("Lr"), 103);
    EXPECT_EQ(atomicNumberOfSymbol("Xy"), 0);
    EXPECT_STREQ(symbolOfAtomicNumber(53), "I");
    EXPECT_EQ(colourIndexOfName("purple"), 5);
    EXPECT_EQ(kAtomColours[colourIndexOfName("BROWN")].value, rgb(255, 255, 0));
}
