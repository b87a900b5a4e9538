// Destination checks, folder rules, the overwrite rule, shortcut items, registry entries, the
// removal order, the uninstall-run guard and the WININIT.INI request.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/localized.h"
#include "install/ini_text.h"
#include "install/rules.h"
#include "install/texts.h"

namespace install {
namespace {

Description load(const std::string& text) {
    IniText ini(text);
    return readDescription(ini.reader(), false);
}

TEST(DestinationChecks, EveryFormInOrder) {
    struct Case {
        const char* typed;
        Destination result;
        const char* normalised;
    } cases[] = {{"C:\\", Destination::Root, "C:\\"},
                 {"", Destination::Root, "\\"},
                 {"C:", Destination::Root, "C:\\"},
                 {"C:\\Soft", Destination::Ok, "C:\\Soft\\"},
                 {"C:\\Soft\\", Destination::Ok, "C:\\Soft\\"},
                 {"Soft\\", Destination::DriveAndPath, "Soft\\"},
                 {"C:/Soft", Destination::DriveAndPath, "C:/Soft\\"},
                 {"C:\\Soft\\App\\", Destination::SubFolder, "C:\\Soft\\App\\"},
                 {"\\\\srv\\share\\", Destination::DriveAndPath, "\\\\srv\\share\\"}};
    for (const auto& c : cases) {
        std::string dir = c.typed;
        EXPECT_EQ(checkDestination(dir, false), c.result) << c.typed;
        EXPECT_EQ(dir, c.normalised) << c.typed;
    }
}

TEST(DestinationChecks, LowOnSpaceBelowOneHundredMegabytes) {
    EXPECT_TRUE(lowOnSpace(0));
    EXPECT_TRUE(lowOnSpace(99));
    EXPECT_FALSE(lowOnSpace(100));
}

// Stands for the conversion to the system's code page: every byte of a UTF-8 character becomes
// '?', so a fixed text that bypassed the encoder still shows its UTF-8 bytes.
std::string markEncoded(const char* utf8) {
    std::string out = utf8;
    for (char& c : out)
        if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    return out;
}

// The bytes of `text` above 0x7F once every occurrence of `joined` is taken out.
std::size_t foreignBytesBeside(std::string text, const std::string& joined) {
    if (!joined.empty())
        for (auto at = text.find(joined); at != std::string::npos; at = text.find(joined))
            text.erase(at, joined.size());
    std::size_t n = 0;
    for (unsigned char c : text) n += c >= 0x80;
    return n;
}

// A message joins fixed texts with paths and titles that are already in the system's code page:
// only the fixed texts may pass the encoder, and each must, or the message mixes encodings.
TEST(DestinationTexts, FixedWordsAreEncodedAndJoinedPathsKeptAsTheyAre) {
    const std::string path = "C:\\\x83\x5C\x83\x74\x83\x67";  // "C:\ソフト" in code page 932
    setTextEncoder(markEncoded);
    for (bool japaneseTexts : {false, true}) {
        core::setJapaneseTexts(japaneseTexts);
        const std::string joined[] = {texts::prompt(path), texts::sheetTitle(path),
                                      texts::linkedFolder(path), texts::folderInTheWay(path),
                                      texts::folderFailed(path)};
        for (const std::string& text : joined) {
            EXPECT_NE(text.find(path), std::string::npos) << text;
            EXPECT_EQ(foreignBytesBeside(text, path), 0u) << text;
        }
        const std::string fixed[] = {texts::root(), texts::driveAndPath(), texts::badFolderName(),
                                     texts::freeSpace(5), texts::destroysUninstall()};
        for (const std::string& text : fixed) EXPECT_EQ(foreignBytesBeside(text, ""), 0u) << text;
        EXPECT_NE(texts::freeSpace(57).find("57"), std::string::npos);
    }
    setTextEncoder(nullptr);
    core::setJapaneseTexts(false);
}

TEST(DestinationTexts, EachHasItsOwnJapanese) {
    using Text = std::string (*)();
    for (Text text : {Text(texts::root), Text(texts::driveAndPath), Text(texts::badFolderName),
                      Text(texts::destroysUninstall), Text(texts::error)}) {
        core::setJapaneseTexts(false);
        const std::string english = text();
        core::setJapaneseTexts(true);
        const std::string japanese = text();
        EXPECT_FALSE(english.empty());
        EXPECT_NE(english, japanese) << english;
        EXPECT_GT(foreignBytesBeside(japanese, ""), 0u) << japanese;
    }
    core::setJapaneseTexts(false);
}

TEST(FolderRules, PrefixesShortestFirst) {
    EXPECT_EQ(foldersToCreate("C:\\Soft\\", false), (std::vector<std::string>{"C:\\Soft\\"}));
    EXPECT_EQ(foldersToCreate("C:\\A\\B\\C\\", false),
              (std::vector<std::string>{"C:\\A\\", "C:\\A\\B\\", "C:\\A\\B\\C\\"}));
    EXPECT_EQ(foldersToCreate("Soft\\A\\", false), (std::vector<std::string>{"Soft\\A\\"}));
    EXPECT_EQ(subFoldersOf("C:\\S\\", "bin\\x\\a.exe", false),
              (std::vector<std::string>{"C:\\S\\bin\\", "C:\\S\\bin\\x\\"}));
    EXPECT_TRUE(subFoldersOf("C:\\S\\", "a.exe", false).empty());
    EXPECT_TRUE(isDriveRoot("C:\\"));
    EXPECT_FALSE(isDriveRoot("C:\\a"));
}

TEST(OverwriteRule, FixedNamesAndCalendarDays) {
    const Stamp morning{2024, 5, 6, 8, 0, 0}, evening{2024, 5, 6, 23, 59, 59},
        nextDay{2024, 5, 7, 0, 0, 1}, nextYear{2025, 1, 1, 0, 0, 0};
    EXPECT_EQ(overwriteRule("C:\\S\\a.exe", nextDay, evening), Overwrite::Silently);
    EXPECT_EQ(overwriteRule("C:\\S\\a.exe", evening, morning), Overwrite::Ask);  // same day
    EXPECT_EQ(overwriteRule("C:\\S\\a.exe", morning, nextYear), Overwrite::Ask);
    for (const char* fixed : {"C:\\S\\install.exe", "C:\\S\\INSTALL.EXE", "C:\\S\\Uninstall.exe",
                              "C:\\S\\install.inf", "C:\\S\\INSTALL.INF"})
        EXPECT_EQ(overwriteRule(fixed, morning, nextYear), Overwrite::Silently) << fixed;
    EXPECT_EQ(overwriteRule("C:\\S\\Install.Exe", morning, nextYear), Overwrite::Ask);
    EXPECT_EQ(overwriteRule("C:\\S\\UninstallE.INF", morning, nextYear), Overwrite::Ask);
}

TEST(OverwriteRule, QuestionTextInBothDateOrders) {
    core::setJapaneseTexts(false);
    const Stamp target{2030, 1, 2, 3, 4, 5}, source{2024, 11, 12, 13, 14, 15};
    EXPECT_EQ(overwriteQuestion("C:\\Soft\\App.exe", target, "App.exe", source, false),
              "C:\\SOFT\\APP.EXE is already exists.\nDo you overwrite the existing file?\n\n"
              " Copy To   : APP.EXE  01/02/2030  03:04:05\n Copy From : APP.EXE  11/12/2024  "
              "13:14:15");
    core::setJapaneseTexts(true);
    EXPECT_EQ(overwriteQuestion("C:\\Soft\\a.exe", target, "a.exe", source, false),
              "C:\\SOFT\\A.EXE は既に存在します。\n既存ファイルに上書きしますか？\n\n"
              " コピー先： A.EXE  2030/01/02  03:04:05\n コピー元： A.EXE  2024/11/12  13:14:15");
    EXPECT_EQ(texts::confirmation(), "上書き確認");
    core::setJapaneseTexts(false);
}

TEST(Shortcuts, GroupEntriesWithArgumentsAndTheSingleShortcut) {
    const Description d = load(
        "[Install]\nTitle=Tool\nFolder=Tool\n1=src\\viewer.exe,bin\\viewer.exe\n"
        "[Group]\n1=Viewer,bin\\viewer.exe\n2=Big,bin\\viewer.exe,-large\n");
    bool grouped = false;
    const auto menu = linkItems(d, "C:\\Tool\\", Place::Menu, false, &grouped);
    EXPECT_TRUE(grouped);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].caption, "Viewer");
    EXPECT_EQ(menu[0].target, "C:\\Tool\\bin\\viewer.exe");
    EXPECT_EQ(menu[0].arguments, "");
    EXPECT_EQ(menu[1].caption, "Big");
    EXPECT_EQ(menu[1].target, "C:\\Tool\\bin\\viewer.exe");
    EXPECT_EQ(menu[1].arguments, "-large");
    EXPECT_EQ(shortcutPath("C:\\Menu", "Tool", "Big", true), "C:\\Menu\\Tool\\Big.lnk");

    const auto desktop = linkItems(d, "C:\\Tool\\", Place::Desktop, false, &grouped);
    EXPECT_FALSE(grouped);
    ASSERT_EQ(desktop.size(), 1u);
    EXPECT_EQ(desktop[0].caption, "Tool");
    EXPECT_EQ(desktop[0].target, "C:\\Tool\\bin\\viewer.exe");
    EXPECT_EQ(shortcutPath("C:\\Desk", "Tool", "Tool", false), "C:\\Desk\\Tool.lnk");

    const Description plain = load("[Install]\nTitle=P\nFolder=P\n1=p.exe,p.exe,-x\n");
    const auto single = linkItems(plain, "C:\\P\\", Place::Menu, false, &grouped);
    EXPECT_FALSE(grouped);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].target, "C:\\P\\p.exe");
    EXPECT_EQ(single[0].arguments, "-x");
    EXPECT_EQ(placeValueName(Place::Startup), std::string("Startup"));

    EXPECT_EQ(defaultWorkingFolder("C:\\Tool\\", false), "C:\\Tool");
    EXPECT_EQ(defaultWorkingFolder("C:\\", false), "C:\\");
}

TEST(RegEntries, RootsExactCaseAndPositions) {
    RegEntry e = parseRegEntry("HKEY_CURRENT_USER\\Software\\Example");
    EXPECT_EQ(e.root, RegRoot::CurrentUser);
    EXPECT_EQ(e.subKey, "Software\\Example");
    e = parseRegEntry("HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\Sub");
    EXPECT_EQ(e.root, RegRoot::LocalMachine);
    EXPECT_EQ(e.subKey, "SOFTWARE\\Example\\Sub");
    e = parseRegEntry("HKEY_CLASSES_ROOT/.ext");
    EXPECT_EQ(e.root, RegRoot::ClassesRoot);
    EXPECT_EQ(e.subKey, ".ext");
    EXPECT_EQ(parseRegEntry("hkey_current_user\\Software\\Example").root, RegRoot::None);
    EXPECT_EQ(parseRegEntry("HKCU\\Software\\Example").root, RegRoot::None);
}

TEST(RegEntries, OnlyAProductsOwnKeysAreDeleted) {
    const Description d =
        load("[Install]\nTitle=T\nFolder=F\n1=viewer.exe\n2=guide.pdf\n3=cell.tem\n");
    for (const char* bad :
         {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\", "HKEY_LOCAL_MACHINE\\SOFTWARE",
          "HKEY_LOCAL_MACHINE\\software\\", "HKEY_LOCAL_MACHINE\\SYSTEM", "HKEY_LOCAL_MACHINE\\SAM",
          "HKEY_LOCAL_MACHINE\\SECURITY", "HKEY_LOCAL_MACHINE\\HARDWARE",
          "HKEY_LOCAL_MACHINE\\\\SYSTEM", "HKEY_CURRENT_USER\\Software", "HKEY_CLASSES_ROOT\\CLSID",
          "HKEY_CLASSES_ROOT\\Interface", "HKEY_CLASSES_ROOT\\TypeLib",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft", "HKEY_CURRENT_USER\\Software\\Classes",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Software\\Microsoft\\",
          "hkey_current_user\\Software\\Example\\App",
          // What a deny-list let through.
          "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
          "HKEY_CLASSES_ROOT\\exefile", "HKEY_CLASSES_ROOT\\.exe", "HKEY_CLASSES_ROOT\\*",
          "HKEY_CURRENT_USER\\Control Panel", "HKEY_CURRENT_USER\\Environment",
          "HKEY_CURRENT_USER\\Software\\Wine", "HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver",
          "HKEY_CURRENT_USER\\Software\\Microsoft\\Example",
          "HKEY_CURRENT_USER\\Software\\Policies\\Example",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Clients\\Mail",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\RegisteredApplications\\X",
          "HKEY_CURRENT_USER\\Software\\Example",  // a vendor alone is not a product's key
          "HKEY_CURRENT_USER\\Software\\Example\\..\\..\\Environment",
          "HKEY_CURRENT_USER\\Software\\Example\\\\App", "HKEY_CLASSES_ROOT\\CLSID\\{1234}",
          "HKEY_CLASSES_ROOT\\.dll", "HKEY_CLASSES_ROOT\\.LNK", "HKEY_CLASSES_ROOT\\.bat",
          "HKEY_CLASSES_ROOT\\.doc",  // not a type of a file it installs
          "HKEY_CLASSES_ROOT\\.tem\\shell", "HKEY_CLASSES_ROOT\\.t*"})
        EXPECT_FALSE(allowedRegKey(parseRegEntry(bad), d, false)) << bad;
    for (const char* fine :
         {"HKEY_CURRENT_USER\\Software\\Example\\App", "HKEY_CLASSES_ROOT\\.tem",
          "HKEY_CLASSES_ROOT\\.PDF", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Example\\App\\1.0",
          "HKEY_CURRENT_USER\\Software\\Example\\App\\"})
        EXPECT_TRUE(allowedRegKey(parseRegEntry(fine), d, false)) << fine;
    // Without the file that carries it, an extension is not the product's.
    EXPECT_FALSE(allowedRegKey(parseRegEntry("HKEY_CLASSES_ROOT\\.tem"),
                               load("[Install]\nTitle=T\nFolder=F\n1=viewer.exe\n"), false));
}

TEST(Removal, FilesFromTheLastEntryDownThenDescriptionThenInstaller) {
    const Description d = load("[Install]\nTitle=T\nFolder=F\n1=a.exe\n2=s,sub\\b.dll\n3=c.pdf\n");
    const auto targets = removalTargets(d, "C:\\F\\", "UninstallE.INF", "Uninstall.exe", false);
    ASSERT_EQ(targets.size(), 5u);
    EXPECT_EQ(targets[0].path, "C:\\F\\c.pdf");
    EXPECT_EQ(targets[1].path, "C:\\F\\sub\\b.dll");
    EXPECT_EQ(targets[2].path, "C:\\F\\a.exe");
    EXPECT_TRUE(targets[2].entryOne);
    EXPECT_FALSE(targets[0].entryOne || targets[1].entryOne || targets[3].entryOne);
    EXPECT_EQ(targets[3].path, "C:\\F\\UninstallE.INF");
    EXPECT_EQ(targets[4].path, "C:\\F\\Uninstall.exe");
    // The uninstaller copied as entries is removed last, so a stop at entry 1 leaves it.
    const Description suite = load(
        "[Install]\nTitle=T\nFolder=F\n1=a.exe\n2=b.pdf\n3=install.exe,Uninstall.exe\n"
        "4=installE.INF,UninstallE.INF\n");
    const auto order = removalTargets(suite, "C:\\F\\", "UninstallE.INF", "uninstall.EXE", false);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order[0].path, "C:\\F\\b.pdf");
    EXPECT_EQ(order[1].path, "C:\\F\\a.exe");
    EXPECT_TRUE(order[1].entryOne);
    EXPECT_EQ(order[2].path, "C:\\F\\UninstallE.INF");
    EXPECT_EQ(order[3].path, "C:\\F\\uninstall.EXE");
    EXPECT_TRUE(isHelpIndex("VORALIN00.GID"));
    EXPECT_TRUE(isHelpIndex("help.gid"));
    EXPECT_FALSE(isHelpIndex("help.x.gid"));
    EXPECT_FALSE(isHelpIndex("gid"));
}

TEST(Removal, AnUninstallRunNeverEmptiesARootOrTheSystemFolders) {
    const std::string win = "C:\\windows", sys = "C:\\windows\\system32";
    EXPECT_TRUE(unsafeUninstallFolder("C:\\", win, sys, true, false));
    EXPECT_TRUE(unsafeUninstallFolder("D:\\", win, sys, true, false));
    EXPECT_TRUE(unsafeUninstallFolder("C:\\WINDOWS\\", win, sys, true, false));
    EXPECT_TRUE(unsafeUninstallFolder("c:\\windows\\System32\\", win, sys, true, false));
    EXPECT_TRUE(unsafeUninstallFolder("\\\\server\\share\\", win, sys, true, false));
    EXPECT_TRUE(unsafeUninstallFolder("C:\\Soft\\", win, sys, false, false));
    EXPECT_FALSE(unsafeUninstallFolder("C:\\Soft\\", win, sys, true, false));
    EXPECT_FALSE(unsafeUninstallFolder("C:\\windows\\Soft\\", win, sys, true, false));
    EXPECT_FALSE(unsafeUninstallFolder("\\\\server\\share\\Soft\\", win, sys, true, false));
}

TEST(Removal, UninstallTexts) {
    core::setJapaneseTexts(false);
    EXPECT_EQ(texts::someFileIn("C:\\Soft\\"), "Some file in C:\\Soft\\.  Uninstall them later.");
    EXPECT_EQ(texts::tryAgain("C:\\Soft\\a.exe", "T"),
              "Failed in uninstalling C:\\Soft\\a.exe.  Try again the uninstallation, after "
              "closing T.");
    EXPECT_EQ(texts::willUninstall("T", true),
              "T will be uninstalled.  If resident applications still exist, close them and then "
              "press <OK> button.");
    core::setJapaneseTexts(true);
    EXPECT_EQ(texts::uninstallTitle("T"), "Tの削除");
    EXPECT_EQ(texts::askDelete("C:\\a.txt"), "C:\\a.txt - このファイルを削除してもいいですか？");
    EXPECT_EQ(texts::abnormalReg(), "Regセクションがおかしいです。");
    core::setJapaneseTexts(false);
}

TEST(UninstallEntry, ValuesNameTheUninstallerCopy) {
    const Description d = load(
        "[Install]\nTitle=TEM Suite\nFolder=TEMSuite\nUninstall=Uninstall.exe\nVersion=1.20\n"
        "1=VORALIN00.exe\n");
    const auto values = uninstallValues(d, "C:\\Apps\\");
    ASSERT_EQ(values.size(), 5u);
    EXPECT_EQ(values[1].data, "\"C:\\Apps\\Uninstall.exe\" /r");
    // The earlier-installation search finds what this entry writes.
    EXPECT_TRUE(qualifiesAsInstaller(values[1].data));
    EXPECT_EQ(uninstallFolder(values[1].data, false), "C:\\Apps\\");
    EXPECT_EQ(values[3].data, "C:\\Apps\\VORALIN00.exe");
    EXPECT_EQ(uninstallKeyPath("TEMSuite"),
              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TEMSuite");
}

class Wininit : public ::testing::Test {
  protected:
    std::string path = (std::filesystem::temp_directory_path() /
                        ("wininit-" + std::to_string(::getpid()) + ".ini"))
                           .string();
    void TearDown() override { std::remove(path.c_str()); }
    void write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string read() {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

TEST_F(Wininit, SectionRebuiltWithTheNewEntry) {
    const auto text = renameSection({{"NUL", "C:\\OLD.EXE"}, {"C:\\A.DLL", "C:\\B.DLL"}},
                                    "C:\\WINDOWS\\SYSTEM\\UNINST~1.EXE");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text,
              "[Rename]\r\nNUL=C:\\OLD.EXE\r\nC:\\A.DLL=C:\\B.DLL\r\n"
              "NUL=C:\\WINDOWS\\SYSTEM\\UNINST~1.EXE\r\n");
    std::vector<std::pair<std::string, std::string>> many(
        400, {"NUL", "C:\\WINDOWS\\SYSTEM\\SOMEFILE.EXE" + std::string(60, 'X')});
    EXPECT_FALSE(renameSection(many, "C:\\X.EXE"));
}

TEST_F(Wininit, AnEndOfFileMarkIsOverwritten) {
    write("[boot]\r\nx=1\r\n\x1A");
    ASSERT_TRUE(appendToWininit(path, "[Rename]\r\nNUL=C:\\X.EXE\r\n"));
    EXPECT_EQ(read(), "[boot]\r\nx=1\r\n[Rename]\r\nNUL=C:\\X.EXE\r\n");
}

TEST_F(Wininit, OtherwiseTheTextIsAppendedOrTheFileMade) {
    write("[boot]\r\nx=1\r\n");
    ASSERT_TRUE(appendToWininit(path, "[Rename]\r\n"));
    EXPECT_EQ(read(), "[boot]\r\nx=1\r\n[Rename]\r\n");
    std::remove(path.c_str());
    ASSERT_TRUE(appendToWininit(path, "[Rename]\r\n"));
    EXPECT_EQ(read(), "[Rename]\r\n");
    EXPECT_FALSE(appendToWininit("/nonexistent-dir/wininit.ini", "x"));
}

}  // namespace
}  // namespace install
