#include "crystal/engine/cif_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "core/localized.h"
#include "crystal_fixture.h"

using namespace crystal;

namespace {

std::string cubicCif(const std::string& sites, const std::string& group = "'P m -3 m'",
                     const std::string& extraTags = "") {
    return "data_test\n_cell_length_a 4.0\n_cell_length_b 4.0\n_cell_length_c 4.0\n"
           "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
           "_symmetry_space_group_name_H-M " +
           group + "\n" + extraTags +
           "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
           "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_occupancy\n" +
           sites;
}

std::optional<std::string> import(const std::string& bytes, CifImport& out,
                                  const std::string& reference = "") {
    return importCif(bytes, reference, out);
}

bool notesHold(const CifImport& in, const std::string& part) {
    for (const std::string& n : in.notes)
        if (n.find(part) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(CifReader, ExpandsMergesSnapsAndPutsTheHeaviestAtTheOrigin) {
    CifImport in;
    // Perovskite given with its origin on the titanium and a third written 0.333.
    const auto refusal = import(cubicCif("Ti1 Ti 0 0 0 1\nSr1 Sr 0.5 0.5 0.5 1\n"
                                         "O1 O 0.5 0 0 1\n"),
                                in);
    ASSERT_FALSE(refusal) << *refusal;
    const CrystalModel& m = in.model;
    ASSERT_EQ(m.atomCount, 5);
    EXPECT_EQ(m.atoms[0].symbol, "Sr");
    EXPECT_EQ(m.atoms[0].atomicNumber, "38");
    EXPECT_EQ(m.atoms[0].x + m.atoms[0].y + m.atoms[0].z, "000");
    int oxygen = 0;
    for (int i = 0; i < m.atomCount; ++i) oxygen += m.atoms[i].symbol == "O";
    EXPECT_EQ(oxygen, 3);
    // Colours in turn by rising atomic number: O, Ti, Sr.
    for (int i = 0; i < m.atomCount; ++i) {
        const int want = m.atoms[i].symbol == "O" ? 0 : m.atoms[i].symbol == "Ti" ? 1 : 2;
        EXPECT_EQ(m.atoms[i].colourIndex, want) << m.atoms[i].symbol;
        EXPECT_EQ(m.atoms[i].colourValue, kAtomColours[want].value);
    }
    EXPECT_TRUE(notesHold(in, "48 operations"));
}

TEST(CifReader, ThirdsAreSnappedAndWrittenForTheOneThirdReplacement) {
    CifImport in;
    const std::string cif =
        "data_g\n_cell_length_a 2.464\n_cell_length_b 2.464\n_cell_length_c 6.711\n"
        "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 120\n"
        "_space_group_name_H-M_alt 'P 63/m m c'\nloop_\n_atom_site_label\n_atom_site_fract_x\n"
        "_atom_site_fract_y\n_atom_site_fract_z\nC1 0 0 0.25\nC2 0.333 0.667 0.25\n";
    ASSERT_FALSE(import(cif, in));
    ASSERT_EQ(in.model.atomCount, 4);  // not 8: 0.333 and 0.334 are one position
    bool third = false;
    for (int i = 0; i < 4; ++i) {
        const AtomSite& s = in.model.atoms[i];
        third = third || s.x == "0.3333333" || s.y == "0.3333333";
        for (const std::string* t : {&s.x, &s.y, &s.z})
            EXPECT_TRUE(*t == "0" || *t == "0.5" || *t == "0.3333333" || *t == "0.6666667") << *t;
    }
    EXPECT_TRUE(third);
}

TEST(CifReader, OperationLoopHallAndBareSymbolOriginChoice) {
    // Diamond: origin choice 1 from the bare symbol (said), choice 2 from the Hall symbol and
    // from listed operations; all give 8 atoms with the right spacing.
    CifImport bare, hall, listed;
    const std::string head =
        "data_si\n_cell_length_a 5.43\n_cell_length_b 5.43\n_cell_length_c 5.43\n"
        "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n";
    const std::string site =
        "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n";
    ASSERT_FALSE(
        import(head + "_space_group_name_H-M_alt 'F d -3 m'\n" + site + "Si1 0 0 0\n", bare));
    EXPECT_EQ(bare.model.atomCount, 8);
    EXPECT_TRUE(notesHold(bare, "origin choice 1"));
    ASSERT_FALSE(import(
        head + "_space_group_name_Hall '-F 4vw 2vw 3'\n" + site + "Si1 0.125 0.125 0.125\n", hall));
    EXPECT_EQ(hall.model.atomCount, 8);
    EXPECT_FALSE(notesHold(hall, "origin choice 1"));
    // The P 1 operations plus a listed inversion: the loop wins over the symbol given beside it.
    ASSERT_FALSE(import(head +
                            "_space_group_name_H-M_alt 'F d -3 m'\nloop_\n"
                            "_space_group_symop_operation_xyz\n'x, y, z'\n'-x, -y, -z'\n" +
                            site + "Si1 0.1 0.2 0.3\n",
                        listed));
    EXPECT_EQ(listed.model.atomCount, 2);
    EXPECT_TRUE(notesHold(listed, "2 operations"));
}

TEST(CifReader, ObtuseAnglesBecomeTheirSupplementsWithTwoAxesReversed) {
    const auto cell = [](const char* alpha, const char* beta) {
        return std::string("data_m\n_cell_length_a 5\n_cell_length_b 6\n_cell_length_c 7\n") +
               "_cell_angle_alpha " + alpha + "\n_cell_angle_beta " + beta +
               "\n_cell_angle_gamma 80\nloop_\n_atom_site_label\n_atom_site_fract_x\n"
               "_atom_site_fract_y\n_atom_site_fract_z\nZr1 0 0 0\nO1 0.1 0.2 0.3\n";
    };
    CifImport both, alpha, beta;
    ASSERT_FALSE(import(cell("100", "110"), both));
    EXPECT_EQ(both.model.alpha + " " + both.model.beta + " " + both.model.gamma, "80 70 80");
    EXPECT_EQ(both.model.atoms[1].x + " " + both.model.atoms[1].y + " " + both.model.atoms[1].z,
              "0.9 0.8 0.3");
    ASSERT_FALSE(import(cell("100", "70"), alpha));
    EXPECT_EQ(alpha.model.alpha + " " + alpha.model.beta + " " + alpha.model.gamma, "80 70 100");
    EXPECT_EQ(alpha.model.atoms[1].x + " " + alpha.model.atoms[1].z, "0.9 0.7");
    ASSERT_FALSE(import(cell("70", "100"), beta));
    EXPECT_EQ(beta.model.alpha + " " + beta.model.beta + " " + beta.model.gamma, "70 80 100");
    EXPECT_EQ(beta.model.atoms[1].y + " " + beta.model.atoms[1].z, "0.8 0.7");
    EXPECT_TRUE(notesHold(beta, "axes b, c were reversed"));
}

TEST(CifReader, PartialOccupancyKeepsTheMajorityAndSaysSo) {
    CifImport in;
    ASSERT_FALSE(import(cubicCif("Sr1 Sr 0 0 0 1\nTi1 Ti 0.5 0.5 0.5 0.3\nZr1 Zr 0.5 0.5 0.5 0.7\n"
                                 "O1 O 0.5 0.5 0 1\n"),
                        in));
    ASSERT_EQ(in.model.atomCount, 5);
    int zr = 0, ti = 0;
    for (int i = 0; i < 5; ++i) {
        zr += in.model.atoms[i].symbol == "Zr";
        ti += in.model.atoms[i].symbol == "Ti";
        if (in.model.atoms[i].symbol == "Zr") {
            EXPECT_DOUBLE_EQ(in.extras[i].occupancy, 0.7);
        }
    }
    EXPECT_EQ(zr, 1);
    EXPECT_EQ(ti, 0);
    EXPECT_TRUE(notesHold(in, "Ti1"));
    EXPECT_TRUE(notesHold(in, "Zr1"));
}

TEST(CifReader, ThermalParametersAreKeptBesideTheModel) {
    CifImport in;
    const std::string cif =
        "data_t\n_cell_length_a 4\n_cell_length_b 4\n_cell_length_c 4\n_cell_angle_alpha 90\n"
        "_cell_angle_beta 90\n_cell_angle_gamma 90\nloop_\n_atom_site_label\n_atom_site_fract_x\n"
        "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_U_iso_or_equiv\n"
        "_atom_site_B_iso_or_equiv\nNa1 0 0 0 0.01 ?\nCl1 0.5 0.5 0.5 ? 0.7895684\n";
    ASSERT_FALSE(import(cif, in));
    ASSERT_EQ(in.extras.size(), 2u);
    EXPECT_EQ(in.extras[0].label, "Cl1");  // the heavier element at the origin
    EXPECT_NEAR(in.extras[0].uIso, 0.01, 1e-6);
    EXPECT_NEAR(in.extras[1].uIso, 0.01, 1e-12);
    // The extras hold for a row only while the row is the imported one.
    CrystalModel m = in.model;
    EXPECT_NE(extrasOfRow(in.extras, m, 1), nullptr);
    m.atoms[1].x = "0.25";
    EXPECT_EQ(extrasOfRow(in.extras, m, 1), nullptr);
    EXPECT_EQ(extrasOfRow(in.extras, m, 2), nullptr);
}

TEST(CifReader, AnisotropicParametersGiveTheMeanWhereNoIsotropicOneIsGiven) {
    CifImport in;
    const std::string cif =
        "data_t\n_cell_length_a 4\n_cell_length_b 4\n_cell_length_c 4\n_cell_angle_alpha 90\n"
        "_cell_angle_beta 90\n_cell_angle_gamma 90\nloop_\n_atom_site_label\n_atom_site_fract_x\n"
        "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_U_iso_or_equiv\n"
        "Cl1 0 0 0 0.02\nNa1 0.5 0.5 0.5 ?\nloop_\n_atom_site_aniso_label\n"
        "_atom_site_aniso_U_11\n_atom_site_aniso_U_22\n_atom_site_aniso_U_33\n"
        "Cl1 0.1 0.1 0.1\nNa1 0.01 0.02 0.03\n";
    ASSERT_FALSE(import(cif, in));
    ASSERT_EQ(in.extras.size(), 2u);
    EXPECT_NEAR(in.extras[0].uIso, 0.02, 1e-12);  // the isotropic value stays
    EXPECT_NEAR(in.extras[1].uIso, 0.02, 1e-12);  // (0.01 + 0.02 + 0.03) / 3
}

TEST(CifReader, ReferenceAtomByLabel) {
    CifImport in;
    ASSERT_FALSE(
        import(cubicCif("Sr1 Sr 0 0 0 1\nTi1 Ti 0.5 0.5 0.5 1\nO1 O 0.5 0.5 0 1\n"), in, "ti1"));
    EXPECT_EQ(in.model.atoms[0].symbol, "Ti");
    EXPECT_EQ(in.model.atoms[0].x + in.model.atoms[0].y + in.model.atoms[0].z, "000");
    const auto refusal = import(cubicCif("Sr1 Sr 0 0 0 1\n"), in, "Q7");
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("Q7"), std::string::npos);
}

// Every refusal names its problem, in English and in Japanese.
TEST(CifReader, RefusalsNameTheProblem) {
    struct Case {
        std::string bytes;
        const char* english;
        const char* japanese;
    };
    const std::string noCell =
        "data_x\n_cell_length_a 4\nloop_\n_atom_site_label\n_atom_site_fract_x\n"
        "_atom_site_fract_y\n_atom_site_fract_z\nNa1 0 0 0\n";
    const Case cases[] = {
        {noCell, "_cell_length_b", "_cell_length_b"},
        {cubicCif("Xq1 Xq 0 0 0 1\n"), "\"Xq\"", "\"Xq\""},
        {cubicCif(""), "no atom sites", "原子サイト"},
        {cubicCif("Na1 Na 0.2.5 0 0 1\n"), "\"0.2.5\"", "\"0.2.5\""},
        {cubicCif("Na1 Na ? 0 0 1\n"), "\"?\"", "\"?\""},
        {cubicCif("Na1 Na 0 0 0 1\n", "'P 7 q'"), "\"P 7 q\"", "\"P 7 q\""},
        {"\x01\x02\xff\xfe binary \x00 garbage"
         "_cell_length_a",
         "not a readable CIF", "CIF ファイル"},
        {cubicCif("Na1 Na 0 0 0 1.7\n"), "_atom_site_occupancy", "_atom_site_occupancy"},
    };
    for (bool japanese : {false, true}) {
        core::setJapaneseTexts(japanese);
        for (const Case& c : cases) {
            CifImport in;
            in.model.a = "stale";
            const auto refusal = import(c.bytes, in);
            ASSERT_TRUE(refusal) << c.english;
            EXPECT_NE(refusal->find(japanese ? c.japanese : c.english), std::string::npos)
                << *refusal;
        }
    }
    core::setJapaneseTexts(false);
}

TEST(CifReader, HostileInputIsRefusedOrReadQuickly) {
    using Clock = std::chrono::steady_clock;
    // 10,000 distinct sites: counted without comparing every pair, and refused by the count.
    std::string many;
    for (int i = 0; i < 10000; ++i)
        many += "Na" + std::to_string(i) + " Na " + std::to_string((i % 100) / 100.0) + " " +
                std::to_string((i / 100) / 100.0) + " 0.5 1\n";
    CifImport in;
    auto start = Clock::now();
    auto refusal = import(cubicCif(many, "'P 1'"), in);
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("more than 100 atoms"), std::string::npos) << *refusal;
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);

    // 101 atoms after expansion: refused, naming the count.
    std::string over;
    for (int i = 0; i < 101; ++i) {
        // Appended piece by piece: GCC 12 warns falsely on "x" + std::string&&.
        over += "O";
        over += std::to_string(i);
        over += " O ";
        over += std::to_string(i / 101.0 * 0.9 + 0.05);
        over += " 0.3 0.7 1\n";
    }
    refusal = import(cubicCif(over, "'P 1'"), in);
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("more than 100 atoms"), std::string::npos);

    // A 1 MB line in a comment and a 1 MB value: read, or refused, without a hang.
    const std::string longLine = "#" + std::string(1 << 20, 'x') + "\n";
    EXPECT_FALSE(import(longLine + cubicCif("Na1 Na 0 0 0 1\n"), in));
    refusal = import(cubicCif("Na1 Na 0." + std::string(1 << 20, '1') + " 0 0 1\n"), in);
    if (refusal) {
        EXPECT_NE(refusal->find("Na1"), std::string::npos);
    }

    // Standard uncertainties are dropped; "?" for an occupancy means 1, said.
    ASSERT_FALSE(import(cubicCif("Na1 Na 0.25(3) 0.25(3) 0.25(3) ?\n", "'P 1'"), in));
    EXPECT_EQ(in.model.atomCount, 1);
    EXPECT_DOUBLE_EQ(in.extras[0].occupancy, 1.0);
    EXPECT_TRUE(notesHold(in, "occupancy"));
    ASSERT_FALSE(
        import(cubicCif("Na1 Na 0 0 0 1\nCl1 Cl 0.25(3) 0.5 0.5 1\n", "'P 1'"), in, "Na1"));
    EXPECT_EQ(in.model.atoms[1].x, "0.25");

    // A CIF 2.0 header is a comment to this reader; the rest is read as usual.
    ASSERT_FALSE(import("#\\#CIF_2.0\n" + cubicCif("Na1 Na 0 0 0 1\n"), in));
    EXPECT_EQ(in.model.atomCount, 1);
}

TEST(CifReader, AppliedImportKeepsTheDirectionAndLaterRows) {
    CifImport in;
    ASSERT_FALSE(import(cubicCif("Na1 Na 0 0 0 1\nCl1 Cl 0.5 0.5 0.5 1\n"), in));
    CrystalModel m = presetCrystal();
    m.u = "1";
    m.v = "1";
    m.w = "0";
    m.atoms[7].symbol = "Kr";
    applyCifImport(in, m);
    EXPECT_EQ(m.u + m.v + m.w, "110");
    EXPECT_EQ(m.atomCount, 2);
    EXPECT_EQ(m.a, "4.0");
    EXPECT_EQ(m.atoms[7].symbol, "Kr");
    // What the import wrote is a crystal data file that reads back.
    CrystalModel back;
    ASSERT_TRUE(parseCrystalData(crystalDataText(m), back));
    EXPECT_EQ(back.atomCount, 2);
}

TEST(CifReader, FileSuffix) {
    EXPECT_TRUE(hasCifSuffix("a/b/NaCl.CIF"));
    EXPECT_TRUE(hasCifSuffix("x.cif"));
    EXPECT_FALSE(hasCifSuffix("x.txt"));
    EXPECT_FALSE(hasCifSuffix("cif"));
}

namespace {

std::string p1Cif(const std::string& sites, double a = 10.0, const std::string& ops = "") {
    return "data_p\n_cell_length_a " + std::to_string(a) +
           "\n_cell_length_b 10\n_cell_length_c 10\n_cell_angle_alpha 90\n_cell_angle_beta 90\n"
           "_cell_angle_gamma 90\n" +
           ops +
           "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
           "_atom_site_fract_y\n_atom_site_fract_z\n" +
           sites;
}

std::string operations(std::initializer_list<const char*> ops) {
    std::string out = "loop_\n_symmetry_equiv_pos_as_xyz\n";
    for (const char* op : ops) out += std::string("'") + op + "'\n";
    return out;
}

const AtomSite* rowOf(const CifImport& in, const std::string& label) {
    for (std::size_t i = 0; i < in.extras.size(); ++i)
        if (in.extras[i].label == label) return &in.model.atoms[i];
    return nullptr;
}

}  // namespace

// A coordinate is put on a multiple of 1/12 or 1/8 only where the CIF's own rounding cannot tell
// them apart, and only as it is read; the arithmetic after it keeps every position.
TEST(CifReader, SnapsOnlyWithinTheCifsOwnRounding) {
    CifImport in;
    ASSERT_FALSE(import(p1Cif("U0 U 0 0 0\n"
                              "A1 O 0.3333 0.333 0.6667\n"
                              "A2 O 0.0833 0.33333(4) 0.125\n"
                              "A3 O 0.3 0.0821 0.41519\n"
                              "A4 O 0.7509 0.168 0.6667(2)\n"),
                        in));
    ASSERT_EQ(in.model.atomCount, 5);
    const auto xyz = [&](const char* label) {
        const AtomSite* s = rowOf(in, label);
        return s ? s->x + " " + s->y + " " + s->z : std::string("missing");
    };
    EXPECT_EQ(xyz("A1"), "0.3333333 0.3333333 0.6666667");
    EXPECT_EQ(xyz("A2"), "0.0833333 0.3333333 0.125");
    EXPECT_EQ(xyz("A3"), "0.3 0.0821 0.41519");
    EXPECT_EQ(xyz("A4"), "0.7509 0.168 0.6666667");  // 0.168 is 0.0013 off 1/6 in 3 decimals
    EXPECT_TRUE(notesHold(in, "3 sites were within the CIF's rounding"));
    EXPECT_TRUE(notesHold(in, "A1, A2, A4"));

    // After the shift to the reference atom nothing is snapped: 0.1726 - 0.0905 stays 0.0821.
    ASSERT_FALSE(import(p1Cif("Ga1 Ga 0.0905 0 0.7946\nO3 O 0.1726 0 0.5635\n"
                              "Ga2 Ga 0.8409 0 0.25\n"),
                        in, "Ga1"));
    EXPECT_EQ(rowOf(in, "O3")->x, "0.0821");
    EXPECT_EQ(rowOf(in, "Ga2")->x, "0.7504");
    EXPECT_FALSE(notesHold(in, "rounding"));

    // A "1" never stands beside a "0": values a hair below 1 wrap.
    ASSERT_FALSE(import(p1Cif("Na1 Na 0.25 0 0\nCl1 Cl 0.2499999999999 0.5 0.9999999999999\n"),
                        in, "Na1"));
    EXPECT_EQ(rowOf(in, "Cl1")->x + " " + rowOf(in, "Cl1")->z, "0 0");
}

TEST(CifReader, SymmetryImagesWithinThreeHundredthsOfAnAngstromAreOneAtom) {
    CifImport in;
    const std::string inversion = operations({"x,y,z", "-x,-y,-z"});
    // 0.0003 off the inversion centre at (0, 1/2, 1/2) on a 30 Angstrom axis: 0.018 A from its
    // image, one atom.
    ASSERT_FALSE(import(p1Cif("Pb1 Pb 0.5 0 0\nO1 O 0.0003 0.5 0.5\n", 30.0, inversion), in));
    EXPECT_EQ(in.model.atomCount, 2);
    // Two sites 0.1 A apart stay two, and so do their images.
    ASSERT_FALSE(import(p1Cif("Pb1 Pb 0.5 0 0\nO1 O 0.2 0.5 0.5\nO2 O 0.20333 0.5 0.5\n", 30.0,
                              inversion),
                        in));
    EXPECT_EQ(in.model.atomCount, 5);
}

// Every number of a listed operation is checked before use; anything but a symmetry operation
// is refused by name, in English and in Japanese.
TEST(CifReader, OperationsAreCheckedBeforeUse) {
    // Numbers that make no symmetry operation, and texts that do not read as one.
    const char* noSymmetry[] = {
        "x+1/4294967298,y,z",  // a denominator past 32 bits, once read as 1/2
        "4294967297*x,y,z",    // a coefficient past 32 bits, once read as 1
        "-99999999999999999999999x,y,z",
        "2*x,y,z", "3x,y,z", "x+x,y,z", "0.5x,y,z", "x+1/5,y,z", "x,x,z", "x,y,z+1/0"};
    const char* unreadable[] = {"x,y", "x,y,z,1", "x,y,z+", "x y,y,z", "x/2,y,z", "x,y,q"};
    for (bool japanese : {false, true}) {
        core::setJapaneseTexts(japanese);
        for (const auto& [ops, reason] :
             {std::pair{std::vector<const char*>(std::begin(noSymmetry), std::end(noSymmetry)),
                        japanese ? "1/24" : "multiples of 1/24"},
              std::pair{std::vector<const char*>(std::begin(unreadable), std::end(unreadable)),
                        japanese ? "読めません" : "Unreadable symmetry operation"}})
            for (const char* op : ops) {
                CifImport in;
                const auto refusal =
                    import(p1Cif("Si1 Si 0.1 0.2 0.3\n", 10.0, operations({"x,y,z", op})), in);
                ASSERT_TRUE(refusal) << op;
                EXPECT_NE(refusal->find(std::string("\"") + op + "\""), std::string::npos)
                    << *refusal;
                EXPECT_NE(refusal->find(reason), std::string::npos) << *refusal;
            }
    }
    core::setJapaneseTexts(false);

    // The usual spellings are read, and their images land where the operations put them.
    CifImport in;
    ASSERT_FALSE(import(p1Cif("Si1 Si 0.1 0.2 0.3\n", 10.0,
                              operations({"x,y,z", "1/2+X, -y+1/2, z", "-x+y, -x, z+1/3",
                                          "x+0.5, y, -z+1000000", "-x,-y,-z+2/3"})),
                        in));
    ASSERT_EQ(in.model.atomCount, 5);
    std::vector<std::string> got;
    for (int i = 0; i < 5; ++i) {
        const AtomSite& s = in.model.atoms[i];
        got.push_back(s.x + " " + s.y + " " + s.z);
    }
    std::sort(got.begin(), got.end());
    // Shifted by the reference (0.1, 0.2, 0.3): images (0.6,0.3,0.3), (0.1,0.9,0.6333333),
    // (0.6,0.2,0.7), (0.9,0.8,0.3666667) less the reference.
    const std::vector<std::string> want = {"0", "0.5 0.1 0", "0.5 0 0.4", "0 0.7 0.3333333",
                                           "0.8 0.6 0.0666667"};
    std::vector<std::string> sortedWant = want;
    sortedWant[0] = "0 0 0";
    std::sort(sortedWant.begin(), sortedWant.end());
    EXPECT_EQ(got, sortedWant);

    // More operations than a space group has: refused with the count, before any is read.
    std::string many = "loop_\n_symmetry_equiv_pos_as_xyz\n";
    for (int i = 0; i < 200000; ++i) many += "x,y,z\n";
    const auto start = std::chrono::steady_clock::now();
    const auto refusal = import(p1Cif("Si1 Si 0 0 0\n", 10.0, many), in);
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("200000 symmetry operations"), std::string::npos) << *refusal;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              2.0);
}

TEST(CifReader, ExpansionStopsPastTheHundredthAtomAndSharedPositionsAreCounted) {
    using Clock = std::chrono::steady_clock;
    // 30,000 general sites in F d -3 m (192 operations each): refused at the 101st atom.
    std::string sites;
    for (long long i = 0; i < 30000; ++i) {
        sites += "S";
        sites += std::to_string(i);
        sites += " Si 0.";
        sites += std::to_string(1000 + (i * 7919) % 8999);
        sites += " 0.";
        sites += std::to_string(1000 + (i * 104729) % 8999);
        sites += " 0.";
        sites += std::to_string(1000 + (i * 1299709) % 8999);
        sites += " 1\n";
    }
    for (bool japanese : {false, true}) {
        core::setJapaneseTexts(japanese);
        CifImport in;
        const auto start = Clock::now();
        const auto refusal = import(cubicCif(sites, "'F d -3 m'"), in);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        ASSERT_TRUE(refusal);
        EXPECT_EQ(*refusal, japanese ? "CIF の単位格子には 100 個を超える原子があります。"
                                       "使えるのは 100 個までです。"
                                     : "The CIF gives more than 100 atoms in the unit cell; at "
                                       "most 100 can be used.");
        EXPECT_LT(seconds, 1.0);
    }
    core::setJapaneseTexts(false);

    // 50,000 sites at one position: one atom, the first pair named and the rest counted.
    std::string shared;
    for (int i = 0; i < 50000; ++i) {
        shared += "A";
        shared += std::to_string(i);
        shared += " Si 0.1 0.1 0.1 0.5\n";
    }
    CifImport in;
    const auto start = Clock::now();
    ASSERT_FALSE(import(cubicCif(shared, "'P 1'"), in));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
    EXPECT_EQ(in.model.atomCount, 1);
    int sharedLines = 0;
    for (const std::string& n : in.notes) sharedLines += n.find("share") != std::string::npos;
    EXPECT_EQ(sharedLines, 2);
    EXPECT_TRUE(notesHold(in, "Sites A0 and A1 share a position"));
    EXPECT_TRUE(notesHold(in, "49998 more sites share a position"));
}

TEST(CifReader, NotesAreMarkedAsWarningsOrInformation) {
    CifImport in;
    ASSERT_FALSE(import(p1Cif("Zr1 Zr 0 0 0 \nO1 O 0.3333 0.1 0.2\n"), in));
    ASSERT_EQ(in.notes.size(), in.noteIsWarning.size());
    for (std::size_t i = 0; i < in.notes.size(); ++i) {
        const std::string& n = in.notes[i];
        const bool info = n.find("Reference atom") != std::string::npos ||
                          n.find("atoms in the unit cell") != std::string::npos ||
                          n.find("rounding") != std::string::npos;
        EXPECT_EQ(in.noteIsWarning[i], !info) << n;
    }
    EXPECT_TRUE(notesHold(in, "no symmetry"));
}

TEST(CifReader, FilesAreReadOnlyFromRegularFilesOfBoundedSize) {
    core::RecordingSink sink;
    CifImport in;
    EXPECT_FALSE(readCifFile("/dev/zero", "", in, sink));
    CrystalModel model;
    EXPECT_FALSE(loadCrystalFile("/dev/zero", model, sink, false));
    const std::string big = ::testing::TempDir() + "/big_crystal.txt";
    {
        std::FILE* f = std::fopen(big.c_str(), "wb");
        ASSERT_TRUE(f);
        std::string row = "Sr 38 0 0 0 BLACK\r\n";
        for (int i = 0; i < 4000; ++i) std::fputs(row.c_str(), f);
        std::fclose(f);
    }
    EXPECT_FALSE(loadCrystalFile(big, model, sink, false));
    std::remove(big.c_str());
    const auto said = sink.messages();
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said[0].text, "The CIF is not a regular file.");
    EXPECT_EQ(said[1].text, "The file is not a regular file.");
    EXPECT_EQ(said[2].text, "The crystal data file is too large (more than 64 KB).");
}
