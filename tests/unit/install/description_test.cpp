// The installation description: naming, reading with buffer limits, the comma split, counting,
// and the checks made when it is loaded.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "core/localized.h"
#include "install/ini_text.h"
#include "install/rules.h"
#include "install/texts.h"

namespace install {
namespace {

class Texts : public ::testing::Test {
  protected:
    void SetUp() override { core::setJapaneseTexts(false); }
    void TearDown() override { core::setJapaneseTexts(false); }
};

using DescriptionTest = Texts;

Description load(const std::string& text, bool dbcs = false) {
    IniText ini(text);
    return readDescription(ini.reader(), dbcs);
}

TEST(DescriptionNames, OwnNameAndLanguageFiles) {
    EXPECT_EQ(descriptionPath("C:\\dist\\install.exe"), "C:\\dist\\install.INF");
    EXPECT_EQ(descriptionPath("C:\\dist\\Uninstall.exe"), "C:\\dist\\Uninstall.INF");
    EXPECT_EQ(languageDescriptionPath("C:\\dist\\install.exe", false), "C:\\dist\\installE.INF");
    EXPECT_EQ(languageDescriptionPath("C:\\dist\\install.exe", true), "C:\\dist\\installJ.INF");
    EXPECT_EQ(languageDescriptionPath("Z:\\x\\Uninstall.exe", true), "Z:\\x\\UninstallJ.INF");
}

TEST(IniTextReading, CaseBlanksQuotesCommentsAndFirstSection) {
    IniText ini(
        "; comment\r\n[install]\r\n  title  =  \"Quoted Title\" \r\nFolder=A\r\n;1=commented\r\n"
        "[Install]\r\nTitle=Second\r\nOpen=later\r\n[Other]\r\nTitle=Other\r\n");
    EXPECT_EQ(ini.get("Install", "Title", 100), "Quoted Title");
    EXPECT_EQ(ini.get("INSTALL", "FOLDER", 100), "A");
    EXPECT_EQ(ini.get("Install", "1", 100), "");
    // The first section of a name is the one read.
    EXPECT_EQ(ini.get("Install", "Open", 100), "");
    EXPECT_EQ(ini.get("Other", "Title", 100), "Other");
    EXPECT_EQ(ini.get("Missing", "Title", 100), "");
}

TEST_F(DescriptionTest, BufferSizesCutEachKeyAtItsLimit) {
    const std::string long300(300, 'x');
    const Description d =
        load("[Install]\nTitle=" + long300 + "\nFolder=" + long300 + "\nTSR=" + long300 +
             "\nOpen=" + long300 + "\n1=" + long300 + "\n[Working Folder]\n1=" + long300 +
             "\n[Reg]\n1=" + long300 + "\n[Group]\n1=a," + long300 + "\n");
    EXPECT_EQ(d.title.size(), 99u);
    EXPECT_EQ(d.folder.size(), 99u);
    EXPECT_EQ(d.open.size(), 259u);
    ASSERT_EQ(d.files.size(), 1u);
    EXPECT_EQ(d.files[0].raw.size(), 259u);
    EXPECT_EQ(d.workingFolder.size(), 257u);
    ASSERT_EQ(d.regs.size(), 1u);
    EXPECT_EQ(d.regs[0].size(), 259u);
    ASSERT_EQ(d.groups.size(), 1u);
    EXPECT_EQ(d.groups[0].size(), 259u);
}

TEST_F(DescriptionTest, FilesSplitAtTheFirstCommaAndCountingStopsAtAGap) {
    const Description d = load(
        "[Install]\nTitle=T\nFolder=F\nTSR=1x\n1=bin\\a.exe,App\\a.exe\n2=b.txt\n3=c,d,e\n"
        "5=after gap\n[Group]\n1=Viewer,bin\\viewer.exe\n2=Big,bin\\viewer.exe,-large\n"
        "3=NoComma\n4=Later,x.exe\n");
    EXPECT_TRUE(d.resident);
    ASSERT_EQ(d.files.size(), 3u);
    EXPECT_EQ(d.files[0].source, "bin\\a.exe");
    EXPECT_EQ(d.files[0].destination, "App\\a.exe");
    EXPECT_EQ(d.files[1].source, "b.txt");
    EXPECT_EQ(d.files[1].destination, "b.txt");
    EXPECT_EQ(d.files[2].source, "c");
    EXPECT_EQ(d.files[2].destination, "d,e");
    // A Group entry without a comma ends the count.
    EXPECT_EQ(d.groups.size(), 2u);
}

TEST_F(DescriptionTest, TsrMustBeginWithOne) {
    EXPECT_FALSE(load("[Install]\nTSR=01\n").resident);
    EXPECT_FALSE(load("[Install]\n").resident);
    EXPECT_TRUE(load("[Install]\nTSR=1\n").resident);
}

TEST(CommaSplit, ACommaInsideADoubleByteCharacterDoesNotCount) {
    // 0x81 0x2C is not a real code page 932 pair, but a lead byte always takes the next byte.
    const std::string text = std::string("\x81,") + "x,y";
    const CommaSplit dbcs = splitAtComma(text, true);
    EXPECT_EQ(dbcs.before, std::string("\x81,") + "x");
    EXPECT_EQ(dbcs.after, "y");
    const CommaSplit single = splitAtComma(text, false);
    EXPECT_EQ(single.before, "\x81");
}

TEST(Backslashes, TheSecondByteOfADoubleByteCharacterIsNoSeparator) {
    // "表" in code page 932 is 0x95 0x5C: its second byte is a backslash.
    const std::string hyou = "\x95\x5C";
    EXPECT_FALSE(endsWithBackslash("C:\\" + hyou, true));
    EXPECT_TRUE(endsWithBackslash("C:\\" + hyou, false));
    EXPECT_EQ(withBackslash("C:\\" + hyou, true), "C:\\" + hyou + "\\");
    EXPECT_EQ(lastComponent("C:\\" + hyou, true), hyou);
    std::string dir = "C:\\" + hyou;
    EXPECT_EQ(checkDestination(dir, true), Destination::Ok);
    EXPECT_EQ(upper("a" + hyou +
                        "b\x81"
                        "a",
                    true),
              "A" + hyou +
                  "B\x81"
                  "a");
}

TEST_F(DescriptionTest, LoadChecksInOrderWithTheirTexts) {
    const std::string startup = "C:\\Users\\me\\Start Menu\\Programs\\StartUp";
    EXPECT_EQ(checkDescription(load("[Install]\nFolder=F\n"), startup, false),
              "Damaged file, or NO Information file.");
    EXPECT_EQ(checkDescription(load("[Install]\nTitle=T\n"), startup, false),
              "Damaged file, or NO Information file.");
    const Description ok = load("[Install]\nTitle=T\nFolder=F\n1=a.exe\n");
    EXPECT_EQ(checkDescription(ok, "", false), "Unable to read string(s) from registry.");
    EXPECT_EQ(checkDescription(ok, "C:\\ends\\", false), "Unable to read string(s) from registry.");
    EXPECT_EQ(checkDescription(load("[Install]\nTitle=startup\nFolder=F\n"), startup, false),
              "Unable to install in the StartUp.");
    EXPECT_EQ(checkDescription(load("[Install]\nTitle=T\nFolder=F\\G\n"), startup, false),
              "Do not assign a sub-folder in the installation folder.");
    EXPECT_EQ(checkDescription(ok, startup, false), "");
}

TEST_F(DescriptionTest, JapaneseLoadTexts) {
    core::setJapaneseTexts(true);
    EXPECT_EQ(checkDescription(load("[Install]\n"), "x\\StartUp", false),
              "設定ファイルが壊れているか、または見つかりません。");
    EXPECT_EQ(checkDescription(load("[Install]\nTitle=StartUp\nFolder=F\n"), "x\\StartUp", false),
              "スタートアップにはインストールできません。");
}

TEST_F(DescriptionTest, EntriesLeavingTheInstallationFolderAreRefusedAtLoad) {
    for (const char* bad :
         {"a.exe,..\\a.exe", "a.exe,sub\\..\\..\\a.exe", "a.exe,C:\\Windows\\a.exe",
          "a.exe,\\a.exe", "a.exe,\\\\server\\share\\a.exe", "a.exe,d:a.exe", "a.exe,../a.exe",
          "..\\a.exe", "a.exe,sub\\.. \\a.exe"}) {
        const Description d = load(std::string("[Install]\nTitle=T\nFolder=F\n1=") + bad + "\n");
        EXPECT_EQ(checkDescription(d, "x\\StartUp", false),
                  std::string("The entry ") + bad +
                      " points outside the installation folder.  Nothing is installed.")
            << bad;
    }
    const Description group =
        load("[Install]\nTitle=T\nFolder=F\n1=a.exe\n[Group]\n1=Evil,..\\..\\cmd.exe\n");
    EXPECT_NE(checkDescription(group, "x\\StartUp", false), "");
    const Description arguments =
        load("[Install]\nTitle=T\nFolder=F\n1=a.exe\n[Group]\n1=Ok,a.exe,..\\x C:\\y\n");
    EXPECT_EQ(checkDescription(arguments, "x\\StartUp", false), "");
    // Names with dots stay allowed.
    const Description fine = load(
        "[Install]\nTitle=T\nFolder=F\n1=dist\\a.exe,a..b\\...x.exe\nUninstall=Uninstall."
        "exe\n");
    EXPECT_EQ(checkDescription(fine, "x\\StartUp", false), "");
    const Description uninstaller =
        load("[Install]\nTitle=T\nFolder=F\n1=a.exe\nUninstall=..\\evil.exe\n");
    EXPECT_NE(checkDescription(uninstaller, "x\\StartUp", false), "");
    core::setJapaneseTexts(true);
    EXPECT_EQ(checkDescription(group, "x\\StartUp", false),
              "Evil,..\\..\\cmd.exe - このパスはインストール先フォルダーの外を指しています。"
              "インストールを中止します。");
}

std::string corpusFile(const std::string& name) {
    std::ifstream in(std::string(SUITE_TEST_DATA) + "/../fuzz/corpus/install/" + name,
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Descriptions of tens of thousands of sections or entries are read in one pass; the program
// refuses any description above its size limit before asking the profile functions.
TEST_F(DescriptionTest, HugeDescriptionsReadInLinearTimeAndAreRefusedBySize) {
    const std::string sections = corpusFile("install_100k_sections.inf");
    const std::string files = corpusFile("install_50k_files.inf");
    ASSERT_GT(sections.size(), 1000000u);
    ASSERT_GT(files.size(), 800000u);

    // Processor time, so a busy machine does not make the bound flaky.
    const std::clock_t start = std::clock();
    const IniText manySections(sections);
    EXPECT_EQ(manySections.get("S99999", "K", 260), "v");
    EXPECT_EQ(manySections.get("s100000", "k", 260), "");
    const Description d = load(files);
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    EXPECT_LT(seconds, 0.5);
    ASSERT_EQ(d.files.size(), 50000u);
    EXPECT_EQ(d.files.back().source, "f50000.exe");
    EXPECT_EQ(d.title, "x");

    EXPECT_EQ(checkDescriptionSize(64 * 1024), "");
    EXPECT_EQ(checkDescriptionSize(64 * 1024 + 1),
              "The installation description is larger than 64 KB; it cannot be read.");
    EXPECT_EQ(checkDescriptionSize(files.size()), checkDescriptionSize(sections.size()));
    core::setJapaneseTexts(true);
    EXPECT_EQ(checkDescriptionSize(sections.size()),
              "設定ファイルが 64 KB を超えているため読み込めません。");
}

TEST(IniTextReading, RepeatedSectionsAndKeysKeepTheirFirstOccurrenceInAnyCase) {
    const IniText ini("[A]\nk=1\nK=2\n[b]\nk=3\n[a]\nk=4\nj=5\n[B]\nj=6\n");
    EXPECT_EQ(ini.get("a", "K", 10), "1");
    EXPECT_EQ(ini.get("B", "k", 10), "3");
    EXPECT_EQ(ini.get("a", "j", 10), "");
    EXPECT_EQ(ini.get("b", "j", 10), "");
}

TEST(StartUp, OsCodesAndCommandLines) {
    EXPECT_EQ(osCodeFromVersion("4.0"), 3);
    EXPECT_EQ(osCodeFromVersion("5.0"), 4);
    EXPECT_EQ(osCodeFromVersion("5.1"), 5);
    EXPECT_EQ(osCodeFromVersion("5.2"), 5);
    EXPECT_EQ(osCodeFromVersion("6.0"), 6);
    EXPECT_EQ(osCodeFromVersion("6.1"), 7);
    EXPECT_EQ(osCodeFromVersion("6.3"), 8);
    EXPECT_EQ(osCodeFromProductName("Microsoft Windows ME"), 2);
    EXPECT_EQ(osCodeFromProductName("Microsoft Windows 98"), 1);
    EXPECT_EQ(osCodeFromProductName("Microsoft Windows 95"), 0);

    std::string path;
    EXPECT_EQ(commandMode(""), Mode::Install);
    EXPECT_EQ(commandMode("/r"), Mode::Request);
    EXPECT_EQ(commandMode("R"), Mode::Request);
    EXPECT_EQ(commandMode("/Remove"), Mode::Request);
    EXPECT_EQ(commandMode("X C:\\a"), Mode::Install);
    EXPECT_EQ(commandMode("x C:\\Soft\\install.exe", &path), Mode::Run);
    EXPECT_EQ(path, "C:\\Soft\\install.exe");
    EXPECT_EQ(commandMode("/x C:\\My Soft\\install.exe", &path), Mode::Run);
    EXPECT_EQ(path, "C:\\My Soft\\install.exe");
    EXPECT_EQ(commandMode("/q"), Mode::Install);
}

TEST(EarlierInstallation, UninstallStringsThatNameAnInstaller) {
    EXPECT_TRUE(qualifiesAsInstaller("\"C:\\Soft\\Uninstall.exe\" /r"));
    EXPECT_TRUE(qualifiesAsInstaller("C:\\SOFT\\INSTALL.EXE /R"));
    EXPECT_FALSE(qualifiesAsInstaller("C:\\Soft\\Install.exe /r"));
    EXPECT_FALSE(qualifiesAsInstaller("C:\\Soft\\install.exe -r"));
    EXPECT_EQ(uninstallFolder("\"C:\\Soft\\Uninstall.exe\" /r", false), "C:\\Soft\\");
    EXPECT_EQ(uninstallFolder("C:\\A\\B\\install.exe /r", false), "C:\\A\\B\\");
    EXPECT_EQ(uninstallFolder("install.exe /r", false), "");
    EXPECT_EQ(defaultInstallDir("c:\\windows", "TEMSuite"), "C:\\TEMSuite\\");
}

}  // namespace
}  // namespace install
