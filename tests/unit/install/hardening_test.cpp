// What a hostile description, folder name or planted link must never reach: names that are not
// plain, paths that climb out, other code pages' double-byte characters, the registry outside
// the product's own keys, and a removal that follows links or reports a failure as success.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/localized.h"
#include "core/message_sink.h"
#include "install/ini_text.h"
#include "install/removal.h"
#include "install/rules.h"
#include "install/texts.h"

namespace install {
namespace {

Description load(const std::string& text, bool dbcs = false) {
    IniText ini(text);
    return readDescription(ini.reader(), dbcs);
}

// Lead bytes as the three East Asian code pages define them (Windows' tables, user-defined
// areas included), written out independently of the installer's own rule.
bool lead932(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool lead936(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}
bool lead950(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

class CodePage : public ::testing::Test {
  protected:
    void SetUp() override { core::setJapaneseTexts(false); }
    void TearDown() override {
        setLeadByteRule(nullptr);
        core::setJapaneseTexts(false);
    }
};

const std::string kStartup = "C:\\users\\u\\Start Menu\\Programs\\StartUp";
const std::string kSuite =
    "[Install]\nTitle=TEM Suite\nFolder=TEMSuite\n1=VORALIN00.exe\n"
    "2=docs\\guide.pdf\n";

std::string check(const std::string& extra, bool dbcs = false) {
    return checkDescription(load(extra, dbcs), kStartup, dbcs);
}

using Names = CodePage;

TEST_F(Names, ATitleOrCaptionIsOnePlainName) {
    const struct {
        const char* name;
        NameProblem problem;
    } cases[] = {{".\\StartUp", NameProblem::Separator},
                 {"StartUp.", NameProblem::TrailingDotOrBlank},
                 {"..\\Programs\\StartUp", NameProblem::Separator},
                 {"..\\..\\..\\..\\windows", NameProblem::Separator},
                 {"a/b", NameProblem::Separator},
                 {"C:x", NameProblem::Colon},
                 {"x::$DATA", NameProblem::Colon},
                 {"..", NameProblem::DotsOnly},
                 {"...", NameProblem::DotsOnly},
                 {"Suite ", NameProblem::TrailingDotOrBlank},
                 {"CON", NameProblem::DeviceName},
                 {"nul.txt", NameProblem::DeviceName},
                 {"Com1", NameProblem::DeviceName},
                 {"LPT9.lnk", NameProblem::DeviceName},
                 {"a*b", NameProblem::Forbidden},
                 {"a\tb", NameProblem::Forbidden},
                 {"", NameProblem::Empty},
                 {"COM10", NameProblem::None},
                 {"CONSOLE", NameProblem::None},
                 {"Orbilux [II]", NameProblem::None},
                 {".hidden", NameProblem::None}};
    for (const auto& c : cases) EXPECT_EQ(nameProblem(c.name, false), c.problem) << c.name;
}

TEST_F(Names, TheDescriptionIsRefusedAtLoadNamingTheKey) {
    const std::string title =
        "Damaged file: the value of Install/Title cannot be used as a file "
        "or folder name.";
    for (const char* t : {".\\StartUp", "StartUp.", "..\\Programs\\StartUp",
                          "..\\..\\..\\..\\..\\..\\..\\..\\windows", "CON", "a/b"})
        EXPECT_EQ(check(std::string("[Install]\nTitle=") + t + "\nFolder=F\n1=a.exe\n"), title)
            << t;
    // Compared with the start-up folder ignoring case, as always.
    EXPECT_EQ(check("[Install]\nTitle=startup\nFolder=F\n1=a.exe\n"),
              "Unable to install in the StartUp.");
    EXPECT_EQ(check(kSuite + "[Group]\n1=Viewer,VORALIN00.exe\n2=..\\..\\x,VORALIN00.exe\n"),
              "Damaged file: the value of Group/2 cannot be used as a file or folder name.");
    EXPECT_EQ(check("[Install]\nTitle=T\nFolder=..\n1=a.exe\n"),
              "Damaged file: the value of Install/Folder cannot be used as a file or folder name.");
    EXPECT_EQ(check("[Install]\nTitle=T\nFolder=Soft.\n1=a.exe\n"),
              "Damaged file: the value of Install/Folder cannot be used as a file or folder name.");
    EXPECT_EQ(check("[Install]\nTitle=T\nFolder=..\\x\n1=a.exe\n"),
              "Do not assign a sub-folder in the installation folder.");
    EXPECT_EQ(check(kSuite + "Open=docs\\guide.pdf\nUninstall=Uninstall.exe\n"), "");
    core::setJapaneseTexts(true);
    EXPECT_EQ(check("[Install]\nTitle=CON\nFolder=F\n1=a.exe\n"),
              "設定ファイルが壊れています。Install/Title "
              "の値はファイル名またはフォルダー名として使えません。");
}

TEST_F(Names, SourcesStayInTheDistributionAndOpenNamesAnInstalledFile) {
    EXPECT_EQ(check(kSuite + "3=C:\\Users\\Admin\\secret.txt,s.txt\n"),
              "The entry C:\\Users\\Admin\\secret.txt,s.txt takes a file from outside the "
              "distribution folder.  Nothing is installed.");
    for (const char* source : {"..\\x.txt", "\\\\server\\share\\x", "\\x", "a\\..\\..\\x", "...\\x",
                               "D:x.txt", ",x.txt"})
        EXPECT_NE(check(kSuite + "3=" + source + ",x.txt\n"), "") << source;
    const std::string open =
        "Damaged file: Open names C:\\windows\\system32\\cmd.exe, which is "
        "not a file this installation installs.";
    EXPECT_EQ(check(kSuite + "Open=C:\\windows\\system32\\cmd.exe\n"), open);
    for (const char* bad : {"cmd.exe", "..\\TEMSuite\\VORALIN00.exe", "docs\\..\\..\\x.exe",
                            "\\VORALIN00.exe", "docs"})
        EXPECT_NE(check(kSuite + "Open=" + bad + "\n"), "") << bad;
    for (const char* fine :
         {"VORALIN00.exe", "voralin00.EXE", "docs/guide.pdf", ".\\docs\\guide.pdf"})
        EXPECT_EQ(check(kSuite + "Open=" + fine + "\n"), "") << fine;
    core::setJapaneseTexts(true);
    EXPECT_EQ(check(kSuite + "3=..\\s.txt,s.txt\n"),
              "..\\s.txt,s.txt - このファイルは配布フォルダーの外にあります。"
              "インストールを中止します。");
}

TEST_F(Names, PathsNormaliseWithoutTheSystem) {
    const struct {
        const char* path;
        const char* normal;
    } cases[] = {{"C:\\.\\", "C:\\"},
                 {"C:\\..\\", "C:\\"},
                 {"C:\\...\\", "C:\\"},
                 {"C:\\a/b", "C:\\a\\b"},
                 {"C:\\Apps\\.\\", "C:\\Apps\\"},
                 {"C:\\Apps\\x\\..\\..\\..\\windows", "C:\\windows"},
                 {"C:/Apps//docs.\\", "C:\\Apps\\docs\\"},
                 {"a\\..\\..\\b", "..\\b"},
                 {"\\\\srv\\share\\..\\x", "\\\\srv\\share\\x"},
                 {"C:\\Apps\\.. \\x", "C:\\x"},
                 {"C:\\Apps", "C:\\Apps"}};
    for (const auto& c : cases) EXPECT_EQ(normalisePath(c.path, false), c.normal) << c.path;
    EXPECT_TRUE(liesInside("C:\\Start\\", "C:\\Start\\TEM Suite\\a.lnk", false));
    EXPECT_TRUE(liesInside("C:\\Start", "c:\\START\\a.lnk", false));
    EXPECT_FALSE(liesInside("C:\\Start\\", "C:\\Start\\..\\x.lnk", false));
    EXPECT_FALSE(liesInside("C:\\Start\\", "C:\\Start\\.", false));
    EXPECT_FALSE(liesInside("C:\\Start\\", "C:\\StartUp\\x.lnk", false));
}

TEST_F(Names, EveryShortcutStaysInItsPlace) {
    // Built by hand: a description the load checks would refuse never reaches the shortcuts,
    // and the shortcut code checks again.
    Description d = load(kSuite + "[Group]\n1=Viewer,VORALIN00.exe\n");
    EXPECT_TRUE(shortcutsStayInside(d, "C:\\Menu\\", "C:\\TEMSuite\\", Place::Menu, false));
    EXPECT_TRUE(shortcutsStayInside(d, "C:\\Desk\\", "C:\\TEMSuite\\", Place::Desktop, false));
    d.groups = {"..\\..\\x,VORALIN00.exe"};
    EXPECT_FALSE(shortcutsStayInside(d, "C:\\Menu\\", "C:\\TEMSuite\\", Place::Menu, false));
    d.title = "..\\StartUp";
    d.groups = {"Viewer,VORALIN00.exe"};
    EXPECT_FALSE(shortcutsStayInside(d, "C:\\Menu\\", "C:\\TEMSuite\\", Place::Menu, false));
    EXPECT_FALSE(shortcutsStayInside(d, "C:\\Desk\\", "C:\\TEMSuite\\", Place::Desktop, false));
    d.title = "..";
    EXPECT_FALSE(shortcutsStayInside(d, "C:\\Menu\\", "C:\\TEMSuite\\", Place::Menu, false));
}

TEST_F(Names, TheDestinationIsOnePlainFolderBelowARoot) {
    const struct {
        const char* typed;
        Destination result;
    } cases[] = {{"C:\\.\\", Destination::Root},        {"C:\\..\\", Destination::Root},
                 {"C:\\...\\", Destination::Root},      {"C:\\. .\\", Destination::Root},
                 {"C:\\a/b", Destination::SubFolder},   {"C:\\a.", Destination::BadName},
                 {"C:\\a \\", Destination::BadName},    {"C:\\CON", Destination::BadName},
                 {"C:\\nul.x\\", Destination::BadName}, {"C:\\a|b", Destination::BadName},
                 {"C:\\Soft", Destination::Ok}};
    for (const auto& c : cases) {
        std::string dir = c.typed;
        EXPECT_EQ(checkDestination(dir, false), c.result) << c.typed;
    }
    EXPECT_EQ(texts::badFolderName(),
              "Assign a folder name without a trailing dot or blank, without * ? \" < > |, and "
              "other than a device name such as CON or NUL.");
    // The "x" run refuses a folder named in any but its plain form.
    for (const char* forged : {"C:\\..\\", "C:\\Apps\\.\\", "C:\\Apps\\..\\", "C:\\windows\\.\\",
                               "C:/Apps/", "C:\\Apps\\\\"})
        EXPECT_TRUE(
            unsafeUninstallFolder(forged, "C:\\windows", "C:\\windows\\system32", true, false))
            << forged;
    EXPECT_FALSE(
        unsafeUninstallFolder("C:\\Apps\\", "C:\\windows", "C:\\windows\\system32", true, false));
}

TEST_F(Names, NewTextsInBothLanguages) {
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\X";
    EXPECT_EQ(texts::entryTaken(key), "The entry " + key +
                                          " of the list of programs belongs to another product.  "
                                          "Nothing is installed.");
    EXPECT_EQ(texts::linkedFolder("C:\\L"),
              "C:\\L is a link to another place.  Assign another folder.");
    EXPECT_EQ(texts::notSucceeded(),
              "Installation failed.  Some parts were not installed.  Press <Finish> to close.");
    EXPECT_EQ(texts::notCompleted(),
              "Installation was not completed.  Some parts were not installed.");
    EXPECT_EQ(texts::renameFailed("C:\\A\\installE.INF"),
              "Failed in renaming C:\\A\\installE.INF.");
    EXPECT_EQ(texts::foreignCharacter("Ω"),
              "The path holds the character Ω, which the system's "
              "code page cannot hold.  Use a path without it.");
    core::setJapaneseTexts(true);
    EXPECT_EQ(texts::entryTaken(key),
              "プログラムの一覧の " + key + " は別の製品の項目です。インストールを中止します。");
    EXPECT_EQ(texts::linkedFolder("C:\\L"),
              "C:\\L は別の場所へのリンクです。別のフォルダーを指定してください。");
    EXPECT_EQ(texts::notCompleted(),
              "インストールは完了しませんでした。インストールされていない部分があります。");
    EXPECT_EQ(texts::registerFailed(),
              "プログラムの一覧へのアンインストール情報の登録に失敗しました。");
    EXPECT_EQ(
        texts::openNotInstalled("x.exe"),
        "設定ファイルが壊れています。Open の x.exe はインストールされるファイルではありません。");
    EXPECT_EQ(texts::foreignCharacter("Ω"),
              "パスに、このシステムのコードページで表せない文字 Ω "
              "が含まれています。この文字を含まないパスを使ってください。");
    EXPECT_NE(texts::badFolderName().find("CON"), std::string::npos);
}

// ---- double-byte code pages ----

TEST_F(CodePage, TheLeadBytesOfTheSystemCodePage) {
    const std::string soft = "\x83\x5C\x83\x74\x83\x67\x8F\x57";  // ソフト集 in 932
    const std::string jou936 = "\xA0\x5C";                        // 燶 in 936
    const std::string kou950 = "\xA5\x5C";                        // 功 in 950
    setLeadByteRule(lead932);
    EXPECT_EQ(nameProblem(soft, true), NameProblem::None);
    EXPECT_EQ(check("[Install]\nTitle=" + soft + "\nFolder=F\n1=a.exe\n", true), "");
    EXPECT_EQ(nameProblem(soft, false), NameProblem::Separator);
    for (const auto& [rule, folder] :
         {std::pair{&lead936, jou936}, std::pair{&lead950, kou950}, std::pair{&lead932, soft}}) {
        setLeadByteRule(rule);
        // As a destination: one folder, the final 5C its own character's.
        std::string dir = "C:\\" + folder;
        EXPECT_EQ(checkDestination(dir, true), Destination::Ok);
        EXPECT_EQ(dir, "C:\\" + folder + "\\");
        dir = "C:\\" + folder + "\\";
        EXPECT_EQ(checkDestination(dir, true), Destination::Ok);
        EXPECT_EQ(subFoldersOf("C:\\F\\", folder + "\\a.exe", true),
                  std::vector<std::string>{"C:\\F\\" + folder + "\\"});
        EXPECT_EQ(nameProblem(folder, true), NameProblem::None);
        EXPECT_EQ(normalisePath("C:\\" + folder + "\\..\\", true), "C:\\");
        EXPECT_EQ(check("[Install]\nTitle=T\nFolder=" + folder + "\n1=a.exe\n", true), "");
    }
    // Without the right rule the same bytes are a sub-folder or a mis-joined path.
    setLeadByteRule(lead932);
    std::string dir = "C:\\" + kou950 + "\\";
    EXPECT_EQ(checkDestination(dir, true), Destination::SubFolder);
}

TEST_F(CodePage, OnlySingleByteCharactersAreFolded) {
    setLeadByteRule(lead932);
    const std::string a = "\x83\x41";   // ア
    const std::string di = "\x83\x61";  // ヂ
    EXPECT_FALSE(equalNoCase(a, di, true));
    EXPECT_TRUE(equalNoCase("x" + a + "Y", "X" + a + "y", true));
    // A title of one is not refused for a start-up folder named with the other.
    EXPECT_EQ(checkDescription(load("[Install]\nTitle=" + a + "\nFolder=F\n1=a.exe\n", true),
                               "C:\\Menu\\" + di, true),
              "");
    EXPECT_EQ(checkDescription(load("[Install]\nTitle=" + di + "\nFolder=F\n1=a.exe\n", true),
                               "C:\\Menu\\" + di, true),
              "Unable to install in the StartUp.");
    EXPECT_FALSE(liesInside("C:\\" + a + "\\", "C:\\" + di + "\\x.lnk", true));
}

// ---- the uninstall entry, the access list ----

TEST(UninstallEntryOwnership, TheDescriptionsAnEarlierInstallationKeeps) {
    EXPECT_EQ(uninstallerDescriptions("C:\\Apps\\", "Uninstall.exe", false),
              (std::vector<std::string>{"C:\\Apps\\Uninstall.INF", "C:\\Apps\\UninstallE.INF",
                                        "C:\\Apps\\UninstallJ.INF"}));
    EXPECT_EQ(uninstallerDescriptions("C:\\Apps", "Uninstall.exe", false)[1],
              "C:\\Apps\\UninstallE.INF");
    // Only the entry that records this very folder is deleted by its uninstallation.
    EXPECT_TRUE(recordsFolder("C:\\Apps\\", "C:\\Apps\\", false));
    EXPECT_TRUE(recordsFolder("c:\\apps", "C:\\Apps\\", false));
    EXPECT_FALSE(recordsFolder("C:\\Other\\", "C:\\Apps\\", false));
    EXPECT_FALSE(recordsFolder("C:\\Apps\\Sub\\", "C:\\Apps\\", false));
    EXPECT_FALSE(recordsFolder("", "C:\\Apps\\", false));
    EXPECT_TRUE(recordsFolder("C:\\Apps\\.\\", "C:\\Apps\\", false));
    const Description d = load(kSuite + "Uninstall=Uninstall.exe\nPublisher=TEM Suite\n");
    bool publisher = false;
    for (const auto& v : uninstallValues(d, "C:\\Apps\\"))
        if (std::string(v.name) == "Publisher") publisher = v.data == "TEM Suite";
    EXPECT_TRUE(publisher);
    for (const auto& v : uninstallValues(load(kSuite), "C:\\Apps\\"))
        EXPECT_NE(std::string(v.name), "Publisher");
}

// Reads the descriptor language the way the system does: "D:" flags, then
// (type;flags;rights;;;sid).
TEST(InstallFolderAccess, AdministratorsAndSystemOwnItUsersOnlyReadAndRun) {
    const std::string sddl = installFolderAccess();
    ASSERT_EQ(sddl.rfind("D:", 0), 0u);
    const std::string flags = sddl.substr(2, sddl.find('(') - 2);
    EXPECT_NE(flags.find('P'), std::string::npos) << "inherits from the drive root";
    std::map<std::string, std::string> rights;
    for (std::size_t at = sddl.find('('); at != std::string::npos; at = sddl.find('(', at + 1)) {
        const std::string ace = sddl.substr(at + 1, sddl.find(')', at) - at - 1);
        std::vector<std::string> field;
        std::size_t from = 0;
        for (std::size_t semi; (semi = ace.find(';', from)) != std::string::npos; from = semi + 1)
            field.push_back(ace.substr(from, semi - from));
        field.push_back(ace.substr(from));
        ASSERT_EQ(field.size(), 6u) << ace;
        EXPECT_EQ(field[0], "A") << ace;
        EXPECT_NE(field[1].find("OI"), std::string::npos) << ace;
        EXPECT_NE(field[1].find("CI"), std::string::npos) << ace;
        EXPECT_EQ(field[1].find("IO"), std::string::npos) << ace;
        rights[field[5]] = field[2];
    }
    EXPECT_EQ(rights, (std::map<std::string, std::string>{
                          {"SY", "FA"}, {"BA", "FA"}, {"BU", rights["BU"]}}));
    // Users: read data, read attributes and extended attributes, execute, read control,
    // synchronise; no bit that writes, appends, deletes or changes the access list.
    const unsigned long users = std::stoul(rights["BU"], nullptr, 16);
    EXPECT_EQ(users & 0x1u, 0x1u);    // FILE_READ_DATA / list
    EXPECT_EQ(users & 0x20u, 0x20u);  // FILE_EXECUTE / traverse
    const unsigned long writes =
        0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
    EXPECT_EQ(users & writes, 0u);
}

// ---- the step runner and the removal ----

TEST(StepRunner, AFailedStepGoesOnAStopOrAnEscapedFailureEndsTheRunFailed) {
    std::vector<int> ran;
    std::vector<std::string> reports;
    auto step = [&](int n, StepResult r) {
        return [&ran, n, r] {
            ran.push_back(n);
            return r;
        };
    };
    StepRunner going({step(1, StepResult::Failed), step(2, StepResult::Done)});
    while (going.runNext()) {
    }
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_TRUE(going.finished());
    EXPECT_FALSE(going.succeeded());

    ran.clear();
    StepRunner throwing({step(1, StepResult::Done),
                         [&]() -> StepResult {
                             ran.push_back(2);
                             throw std::runtime_error("disk gone");
                         },
                         step(3, StepResult::Done)},
                        [&](const char* what) { reports.push_back(what ? what : "?"); });
    EXPECT_FALSE(throwing.succeeded());  // not before it ran
    while (throwing.runNext()) {
    }
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_EQ(reports, std::vector<std::string>{"disk gone"});
    EXPECT_TRUE(throwing.finished());
    EXPECT_FALSE(throwing.succeeded());

    StepRunner clean({step(7, StepResult::Done)});
    clean.runNext();
    EXPECT_TRUE(clean.succeeded());
}

TEST(StepRunner, AFailureWhilePreparingTheStepsIsReportedOnceAndEndsTheRunFailed) {
    std::vector<std::string> reports;
    auto record = [&](const char* what) { reports.push_back(what ? what : "?"); };
    StepRunner broken = StepRunner::prepared(
        []() -> std::vector<Step> { throw std::runtime_error("no memory for the plan"); }, record);
    EXPECT_TRUE(reports.empty());  // reported by the run, as an escaped step is
    EXPECT_FALSE(broken.finished());
    EXPECT_FALSE(broken.runNext());
    EXPECT_EQ(reports, std::vector<std::string>{"no memory for the plan"});
    EXPECT_TRUE(broken.finished());
    EXPECT_FALSE(broken.succeeded());

    // Something that is no exception class is reported without a text.
    StepRunner odd = StepRunner::prepared([]() -> std::vector<Step> { throw 42; }, record);
    EXPECT_FALSE(odd.runNext());
    EXPECT_EQ(reports.back(), "?");
    EXPECT_FALSE(odd.succeeded());

    // Prepared without trouble, the steps run as they were made.
    int ran = 0;
    StepRunner fine = StepRunner::prepared(
        [&] {
            return std::vector<Step>{[&] { return ++ran, StepResult::Done; },
                                     [&] { return ++ran, StepResult::Done; }};
        },
        record);
    while (fine.runNext()) {
    }
    EXPECT_EQ(ran, 2);
    EXPECT_TRUE(fine.succeeded());
    EXPECT_EQ(reports.size(), 2u);
}

// A file system in memory where a link to a folder leads to its target, as a junction does.
class FakeSystem : public RemovalPort {
  public:
    std::set<std::string> files, folders;
    std::map<std::string, std::string> links;  // link path -> target folder
    std::set<std::string> keys, lockedKeys, lockedFiles;
    std::vector<std::string> messages, deletedKeys;
    std::vector<Place> shortcutsRemoved;
    bool shortcutsFail = false, throwOnKeys = false, entryDeleted = false;
    int answer = core::kAnswerYes;

    std::string resolve(const std::string& path) const {
        for (const auto& [link, target] : links)
            if (path.rfind(link + "\\", 0) == 0) return resolve(target + path.substr(link.size()));
        return path;
    }
    bool exists(const std::string& p) override {
        const std::string r = resolve(p);
        return files.count(r) || folders.count(r) || links.count(p);
    }
    bool isLink(const std::string& p) override { return links.count(p) > 0; }
    bool deleteFile(const std::string& p) override {
        if (lockedFiles.count(p)) return false;
        return files.erase(resolve(p)) > 0;
    }
    std::vector<FolderEntry> list(const std::string& folder) override {
        const std::string dir = resolve(folder);
        std::vector<FolderEntry> out;
        auto child = [&](const std::string& path) {
            return path.rfind(dir, 0) == 0 && path.size() > dir.size() &&
                   path.find('\\', dir.size()) == std::string::npos;
        };
        for (const auto& f : files)
            if (child(f)) out.push_back({f.substr(dir.size()), false, false});
        for (const auto& f : folders)
            if (child(f)) out.push_back({f.substr(dir.size()), true, false});
        for (const auto& [link, target] : links)
            if (child(link)) out.push_back({link.substr(dir.size()), true, true});
        return out;
    }
    bool removeFolder(const std::string& p) override {
        if (links.erase(p)) return true;
        const std::string r = resolve(p);
        for (const auto& f : files)
            if (f.rfind(r + "\\", 0) == 0) return false;
        return folders.erase(r) > 0;
    }
    bool deleteKeyTree(RegRoot, const std::string& subKey) override {
        if (throwOnKeys) throw std::runtime_error("registry gone");
        deletedKeys.push_back(subKey);
        return !lockedKeys.count(subKey);
    }
    bool deleteUninstallEntry() override {
        entryDeleted = true;
        return true;
    }
    bool removeShortcuts(Place place) override {
        shortcutsRemoved.push_back(place);
        return !shortcutsFail;
    }
    int message(const std::string& text, const std::string&, unsigned style) override {
        messages.push_back(text);
        return (style & core::kIconQuestion) ? answer : core::kAnswerOk;
    }
};

class RemovalRun : public ::testing::Test {
  protected:
    void SetUp() override {
        core::setJapaneseTexts(false);
        fs = FakeSystem{};
        fs.folders = {"C:\\Apps", "C:\\Apps\\sub", "C:\\Users\\Admin\\Documents"};
        fs.files = {"C:\\Apps\\VORALIN00.exe",
                    "C:\\Apps\\sub\\b.dll",
                    "C:\\Apps\\Uninstall.exe",
                    "C:\\Apps\\Uninstall.INF",
                    "C:\\Users\\Admin\\Documents\\secret.doc",
                    "C:\\Users\\Admin\\Documents\\index.gid"};
        description = load(
            "[Install]\nTitle=T\nFolder=Apps\n1=VORALIN00.exe\n2=sub\\b.dll\n"
            "3=docs\\secret.doc\n[Reg]\n1=HKEY_CURRENT_USER\\Software\\V\\P\n"
            "2=HKEY_CURRENT_USER\\Environment\n");
        plan = {&description, "T", "C:\\Apps\\", "Uninstall.INF", "Uninstall.exe", false};
    }
    bool run() {
        StepRunner runner(removalSteps(plan, fs), [&](const char* what) {
            fs.messages.push_back(std::string("escaped: ") + (what ? what : ""));
        });
        while (runner.runNext()) {
        }
        return runner.succeeded();
    }
    FakeSystem fs;
    Description description;
    RemovalPlan plan;
};

TEST_F(RemovalRun, AFolderLinkIsRemovedNeverFollowed) {
    // Any user planted C:\Apps\docs pointing at an administrator's documents.
    fs.links["C:\\Apps\\docs"] = "C:\\Users\\Admin\\Documents";
    EXPECT_TRUE(run());
    EXPECT_TRUE(fs.files.count("C:\\Users\\Admin\\Documents\\secret.doc"));
    EXPECT_TRUE(fs.files.count("C:\\Users\\Admin\\Documents\\index.gid"));
    EXPECT_FALSE(fs.links.count("C:\\Apps\\docs"));
    EXPECT_FALSE(fs.folders.count("C:\\Apps"));
    EXPECT_EQ(fs.deletedKeys, std::vector<std::string>{"Software\\V\\P"});
    EXPECT_EQ(fs.messages, std::vector<std::string>{"Found abnormal Reg section."});
}

TEST_F(RemovalRun, AnInstallationFolderThatIsALinkLosesOnlyTheLink) {
    fs.folders.erase("C:\\Apps");
    fs.links["C:\\Apps"] = "C:\\Users\\Admin\\Documents";
    fs.files.insert("C:\\Users\\Admin\\Documents\\VORALIN00.exe");
    run();
    EXPECT_TRUE(fs.files.count("C:\\Users\\Admin\\Documents\\VORALIN00.exe"));
    EXPECT_TRUE(fs.files.count("C:\\Users\\Admin\\Documents\\secret.doc"));
    EXPECT_FALSE(fs.links.count("C:\\Apps"));
}

TEST_F(RemovalRun, FailuresAreNeverReportedAsSuccess) {
    fs.lockedKeys = {"Software\\V\\P"};
    EXPECT_FALSE(run());
    SetUp();
    fs.shortcutsFail = true;
    EXPECT_FALSE(run());
    EXPECT_EQ(fs.shortcutsRemoved,
              (std::vector<Place>{Place::Menu, Place::Desktop, Place::Startup}));
    SetUp();
    EXPECT_TRUE(run());
}

TEST_F(RemovalRun, AFailureInsideAStepStopsTheRemovalFailed) {
    fs.throwOnKeys = true;
    EXPECT_FALSE(run());
    EXPECT_EQ(fs.messages, std::vector<std::string>{"escaped: registry gone"});
    // Nothing after the failed step ran: the files, the folder and the shortcuts stay.
    EXPECT_TRUE(fs.files.count("C:\\Apps\\VORALIN00.exe"));
    EXPECT_TRUE(fs.shortcutsRemoved.empty());
    EXPECT_FALSE(fs.entryDeleted);
}

TEST_F(RemovalRun, EntryOneInUseStopsBeforeTheFolderAndTheShortcuts) {
    fs.lockedFiles = {"C:\\Apps\\VORALIN00.exe"};
    EXPECT_FALSE(run());
    EXPECT_EQ(fs.messages.size(), 3u);
    EXPECT_EQ(fs.messages[2],
              "Failed in uninstalling C:\\Apps\\VORALIN00.exe.  Try again the uninstallation, "
              "after closing T.");
    EXPECT_TRUE(fs.files.count("C:\\Apps\\Uninstall.exe"));
    EXPECT_FALSE(fs.files.count("C:\\Apps\\sub\\b.dll"));
    EXPECT_TRUE(fs.shortcutsRemoved.empty());
}

}  // namespace
}  // namespace install
