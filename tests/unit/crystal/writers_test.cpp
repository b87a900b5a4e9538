#include "crystal/engine/writers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "crystal/engine/slicing.h"
#include "crystal_fixture.h"

using namespace crystal;
using crystal::testing::exists;
using crystal::testing::makeModel;
using crystal::testing::readAll;
using crystal::testing::SliceRun;
using crystal::testing::strontiumTitanate;

namespace {

// Silicon at the origin of a 3 x 3 x 4 cell and one atom per given height fraction, along c.
CrystalModel stack(std::initializer_list<const char*> heights, const char* w = "1") {
    CrystalModel m =
        makeModel("3", "3", "4", "90", "90", "90", {{"Si", "14", "0", "0", "0", 3}}, "0", "0", w);
    int i = 1;
    for (const char* h : heights) m.atoms[i++] = AtomSite{"O", "8", "0.5", "0.5", h, 6, 0};
    m.atomCount = i;
    return m;
}

std::string thicknessOf(const std::string& sliceFile) {
    return sliceFile.substr(sliceFile.find('\t', sliceFile.find('\t') + 1) + 1, 12);
}

}  // namespace

TEST(Writers, StrontiumTitanateReferenceFile) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    const std::string path = ::testing::TempDir() + "srtio3_ref.txt";
    ASSERT_TRUE(writeReferenceData(run.state, path, run.seams));
    EXPECT_EQ(readAll(path),
              "a axis=3.905(Ang.)   b axis=3.905(Ang.)   c axis=3.905(Ang.)\r\n"
              "alpha=90(deg.)   beta=90(deg.)   gamma=90(deg.)\r\n"
              "u=1   v=0   w=0\r\n\r\n"
              "X=3.905000(Ang.)   Y=3.905000(Ang.)\r\n\r\n"
              "Atom    Z       Layer         X           Y\r\n"
              "Name   No.    Position    Coordinate  Coordineta\r\n\r\n"
              " Sr    38     0.0000000   0.0000000   0.0000000\r\n"
              " O      8    -0.0000000   0.5000000   0.5000000\r\n"
              " O      8    -1.9525000   0.5000000   0.0000000\r\n"
              " O      8    -1.9525000   0.0000000   0.5000000\r\n"
              " Ti    22    -1.9525000   0.5000000   0.5000000\r\n"
              "\r\nNote :\r\nLayer Position = Angstrom unit.\r\nX and Y Coordinates = reduced "
              "coordinates.\r\n");
    const auto messages = run.sink.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "Reference data file\n" + path + "\nhas been successfully created.");
    EXPECT_EQ(messages[0].caption, "Success");
    std::remove(path.c_str());
}

TEST(Writers, StrontiumTitanateSliceFilesPutTheReferenceElementFirst) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    EXPECT_EQ(elementList(run.state.model), (std::vector<int>{38, 22, 8}));
    const std::string path = ::testing::TempDir() + "slab.dat";
    ASSERT_TRUE(writeNormalBeamFiles(run.state, path, run.seams));
    const std::string head = "     3.9050000\t   3.9050000\t   1.9525000\r\n0\r\n";
    EXPECT_EQ(readAll(numberedName(path, 1)),
              head +
                  "38\r\n     1.0000000\t   0.0000000\t   0.0000000\r\n\r\n8\r\n"
                  "     1.0000000\t   0.5000000\t   0.5000000\r\n\r\n\r\n");
    EXPECT_EQ(readAll(numberedName(path, 2)),
              head +
                  "22\r\n     1.0000000\t   0.5000000\t   0.5000000\r\n\r\n8\r\n"
                  "     1.0000000\t   0.5000000\t   0.0000000\r\n"
                  "     1.0000000\t   0.0000000\t   0.5000000\r\n\r\n\r\n");
    EXPECT_FALSE(exists(numberedName(path, 3)));
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(run.sink.messages().back().text,
              "Input data file(s) for normal beam\n" + ::testing::TempDir() + "slab1.dat to\n" +
                  ::testing::TempDir() + "slab2.dat\nhas been successfully created.");
    for (int k = 1; k <= 2; ++k) std::remove(numberedName(path, k).c_str());
}

TEST(Writers, StrontiumTitanateConvergentBeamFile) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    EXPECT_EQ(convergentBeamText(run.state.model, run.state.slicing, run.state.slicing.planeImages),
              "Crystal direction : u=1   v=0   w=0\r\n"
              "      3.905    3.905    3.905\r\n"
              "     38     0.0000000   0.0000000   0.0000000   1.0   0.076\r\n"
              "      8     1.9525000   1.9525000   0.0000000   1.0   0.076\r\n"
              "      8     1.9525000   0.0000000   1.9525000   1.0   0.076\r\n"
              "      8     0.0000000   1.9525000   1.9525000   1.0   0.076\r\n"
              "     22     1.9525000   1.9525000   1.9525000   1.0   0.076\r\n"
              "     -1\r\n"
              "     38     0.0000000   0.0000000   3.9050000   1.0   0.076\r\n");
}

TEST(Writers, EmptyPlaneInTheMiddle) {
    SliceRun run(stack({"0.25", "0.75"}));  // planes at 4, 3, 2 (empty), 1
    ASSERT_TRUE(run.slice());
    const SlicingState& st = run.state.slicing;
    ASSERT_EQ(st.layerCount, 4);
    const std::string ref = referenceDataText(run.state.model, st, st.planeImages);
    const std::size_t dashed = ref.find("            -2.0000000   ---------   ---------\r\n");
    ASSERT_NE(dashed, std::string::npos);
    EXPECT_LT(ref.find(" O      8    -1.0000000"), dashed);
    EXPECT_GT(ref.find(" O      8    -3.0000000"), dashed);

    // A stale file from an earlier, longer run must not survive as slice 4.
    const std::string path = ::testing::TempDir() + "gap.dat";
    ASSERT_TRUE(writeWholeFile(numberedName(path, 4), "stale"));
    ASSERT_TRUE(writeNormalBeamFiles(run.state, path, run.seams));
    EXPECT_EQ(thicknessOf(readAll(numberedName(path, 1))), "   1.0000000");
    EXPECT_EQ(thicknessOf(readAll(numberedName(path, 2))), "   2.0000000");
    EXPECT_EQ(thicknessOf(readAll(numberedName(path, 3))), "   1.0000000");
    EXPECT_NE(
        readAll(numberedName(path, 3)).find("8\r\n     1.0000000\t   0.5000000\t   0.5000000"),
        std::string::npos);
    EXPECT_FALSE(exists(numberedName(path, 4)));
    EXPECT_FALSE(exists(numberedName(path, 5)));
    for (int k = 1; k <= 3; ++k) std::remove(numberedName(path, k).c_str());
}

TEST(Writers, EmptyPlaneAtTheBottom) {
    SliceRun run(stack({"0.5", "0.75"}));  // planes at 4, 3, 2, 1 (empty)
    ASSERT_TRUE(run.slice());
    const SlicingState& st = run.state.slicing;
    ASSERT_EQ(st.layerCount, 4);
    const std::string ref = referenceDataText(run.state.model, st, st.planeImages);
    EXPECT_NE(ref.find("   ---------\r\n\r\nNote :"), std::string::npos);
    const auto files = normalBeamTexts(run.state.model, st, st.planeImages);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(thicknessOf(files[2]), "   2.0000000");
    // One element per plane: no empty line between the "0" line and the Z line.
    EXPECT_EQ(files[1].substr(files[1].find("\r\n0\r\n"), 9), "\r\n0\r\n8\r\n ");
}

TEST(Writers, ReversedDirectionCountsDepthsUpwards) {
    SliceRun up(strontiumTitanate("1", "0", "0"));
    SliceRun down(strontiumTitanate("-1", "0", "0"));
    ASSERT_TRUE(up.slice());
    ASSERT_TRUE(down.slice());
    const SlicingState& st = down.state.slicing;
    const std::string ref = referenceDataText(down.state.model, st, st.planeImages);
    EXPECT_NE(ref.find("u=-1   v=0   w=0"), std::string::npos);
    EXPECT_NE(ref.find(" Ti    22     1.9525000"), std::string::npos);
    EXPECT_EQ(ref.find("-1.9525000"), std::string::npos);
    const std::string xyz = convergentBeamText(down.state.model, st, st.planeImages);
    EXPECT_NE(xyz.find("1.9525000   1.0   0.076"), std::string::npos);
    EXPECT_EQ(xyz.find("-1.9525"), std::string::npos);
}

TEST(Writers, AtomicNumberTextsCompareAsNumbers) {
    CrystalModel m = strontiumTitanate();
    m.atoms[0].atomicNumber = "38.";
    m.atoms[1].atomicNumber = "8.";
    SliceRun run(m);
    ASSERT_TRUE(run.slice());
    EXPECT_EQ(elementList(run.state.model), (std::vector<int>{38, 22, 8}));
    const auto files =
        normalBeamTexts(run.state.model, run.state.slicing, run.state.slicing.planeImages);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_NE(files[0].find("38\r\n     1.0000000\t   0.0000000\t   0.0000000"), std::string::npos);
    EXPECT_NE(files[0].find("8\r\n     1.0000000\t   0.5000000\t   0.5000000"), std::string::npos);
}

TEST(Writers, RefuseWithoutSuperCellBeforeTheBusyState) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    run.state.slicing.superCellY = 0;
    run.sink.events.clear();
    const std::string path = ::testing::TempDir() + "never.txt";
    EXPECT_FALSE(writeReferenceData(run.state, path, run.seams));
    EXPECT_FALSE(writeNormalBeamFiles(run.state, path, run.seams));
    EXPECT_FALSE(writeConvergentBeamFile(run.state, path, run.seams));
    ASSERT_EQ(run.sink.events.size(), 3u);
    for (const auto& e : run.sink.events) {
        EXPECT_EQ(e.text, text::kNoDataFile);
        EXPECT_EQ(e.style, core::kIconWarning);
    }
    EXPECT_FALSE(exists(path));
}

TEST(Writers, FailedWriteIsReportedAfterTheBusyStateAndLeavesNoFile) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    run.sink.events.clear();
    const std::string path = "/nonexistent-dir/out.txt";
    EXPECT_FALSE(writeReferenceData(run.state, path, run.seams));
    const auto& e = run.sink.events;
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[2].kind, core::RecordedEvent::BusyEnd);
    EXPECT_EQ(e[3].kind, core::RecordedEvent::BusyEnd);
    EXPECT_EQ(e[4].text, text::kCannotCreate);
    EXPECT_EQ(e[4].caption, "Error");
#if defined(__linux__)
    run.sink.events.clear();
    const std::string full = ::testing::TempDir() + "full.xyz";
    const std::string slab = ::testing::TempDir() + "full.dat";
    {
        // The disk fills up after 100 bytes: created, partly written, and then removed.
        crystal::testing::FileSizeLimit limit(100);
        EXPECT_FALSE(writeConvergentBeamFile(run.state, full, run.seams));
    }
    {
        // Slice 1 (142 bytes) fits, slice 2 (184 bytes) does not: slice 1 goes too.
        crystal::testing::FileSizeLimit limit(160);
        EXPECT_FALSE(writeNormalBeamFiles(run.state, slab, run.seams));
    }
    EXPECT_EQ(run.sink.messages().size(), 2u);
    EXPECT_EQ(run.sink.messages().back().text, text::kCannotCreate);
    EXPECT_FALSE(exists(full));
    EXPECT_FALSE(exists(numberedName(slab, 1)));
    EXPECT_FALSE(exists(numberedName(slab, 2)));
#endif
}

TEST(Writers, NumberedNamesPutTheNumberBeforeTheExtensionOfTheFileName) {
    // Four-character extensions as ever.
    EXPECT_EQ(numberedName("slab.dat", 3), "slab3.dat");
    EXPECT_EQ(numberedName("out/a.b.bmp", 12), "out/a.b12.bmp");
    EXPECT_EQ(numberedName(".dat", 1), "1.dat");
    // Names without an extension, or with a longer or shorter one.
    EXPECT_EQ(numberedName("STEM", 1), "STEM1");
    EXPECT_EQ(numberedName("run.v2/p", 1), "run.v2/p1");
    EXPECT_EQ(numberedName("C:\\run.v2\\p", 2), "C:\\run.v2\\p2");
    EXPECT_EQ(numberedName("p.tiff", 2), "p2.tiff");
    EXPECT_EQ(numberedName("p.x", 2), "p2.x");
    EXPECT_EQ(numberedName("abc", 4), "abc4");
    std::string stem, suffix;
    splitNumberedName("dir.d/slab.dat", stem, suffix);
    EXPECT_EQ(stem, "dir.d/slab");
    EXPECT_EQ(suffix, ".dat");
}

TEST(Writers, NormalBeamFilesWithoutAnExtensionAreNumberedAtTheEnd) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    const std::string path = ::testing::TempDir() + "stem";
    ASSERT_TRUE(writeNormalBeamFiles(run.state, path, run.seams));
    EXPECT_TRUE(exists(path + "1"));
    EXPECT_TRUE(exists(path + "2"));
    EXPECT_EQ(run.sink.messages().back().text, "Input data file(s) for normal beam\n" + path +
                                                   "1 to\n" + path +
                                                   "2\nhas been successfully created.");
    for (int k = 1; k <= 2; ++k) std::remove(numberedName(path, k).c_str());
}
