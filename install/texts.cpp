#include "install/texts.h"

#include <cstdio>

namespace install {

namespace {
std::string identity(const char* utf8) {
    return utf8;
}
TextEncoder g_encoder = identity;

std::string pick(const char* english, const char* japanese) {
    return say(core::Localized{english, japanese});
}
}  // namespace

void setTextEncoder(TextEncoder encoder) {
    g_encoder = encoder ? encoder : identity;
}
std::string say(const core::Localized& text) {
    return g_encoder(core::text(text));
}
bool japanese() {
    return core::japaneseTexts();
}

namespace texts {

std::string error() {
    return pick("Error", "エラー");
}
std::string dialogFailed() {
    return pick("Unable to open a dialog box.", "ダイアログボックスを開けません。");
}
std::string confirmation() {
    return pick("Confirmation", "上書き確認");
}

std::string windows3() {
    return pick(
        "Unable to execute the program on Windows 3.X.\nNeeds Windows 95/NT(4.0) or later for "
        "the execution.",
        "Windows 3.X では実行できません。\n実行には Windows 95/NT(4.0) 以降が必要です。");
}
std::string damaged() {
    return pick("Damaged file, or NO Information file.",
                "設定ファイルが壊れているか、または見つかりません。");
}
std::string descriptionTooLarge() {
    return pick("The installation description is larger than 64 KB; it cannot be read.",
                "設定ファイルが 64 KB を超えているため読み込めません。");
}
std::string registryRead() {
    return pick("Unable to read string(s) from registry.",
                "レジストリから文字列を読みとれません。");
}
std::string startUp() {
    return pick("Unable to install in the StartUp.", "スタートアップにはインストールできません。");
}
std::string subFolder() {
    return pick("Do not assign a sub-folder in the installation folder.",
                "インストールするフォルダーにサブフォルダーが含まれていてはいけません。");
}
std::string leavesFolder(const std::string& entry) {
    return japanese() ? entry + pick("",
                                     " - このパスはインストール先フォルダーの外を指しています。"
                                     "インストールを中止します。")
                      : pick("The entry ", "") + entry +
                            pick(
                                " points outside the installation folder.  Nothing is "
                                "installed.",
                                "");
}
std::string notAName(const std::string& key) {
    return japanese() ? pick("", "設定ファイルが壊れています。") + key +
                            pick("", " の値はファイル名またはフォルダー名として使えません。")
                      : pick("Damaged file: the value of ", "") + key +
                            pick(" cannot be used as a file or folder name.", "");
}
std::string foreignSource(const std::string& entry) {
    return japanese() ? entry + pick("",
                                     " - このファイルは配布フォルダーの外にあります。"
                                     "インストールを中止します。")
                      : pick("The entry ", "") + entry +
                            pick(
                                " takes a file from outside the distribution folder.  Nothing "
                                "is installed.",
                                "");
}
std::string openNotInstalled(const std::string& open) {
    return japanese() ? pick("", "設定ファイルが壊れています。Open の ") + open +
                            pick("", " はインストールされるファイルではありません。")
                      : pick("Damaged file: Open names ", "") + open +
                            pick(", which is not a file this installation installs.", "");
}
std::string entryTaken(const std::string& folder) {
    return japanese() ? pick("", "プログラムの一覧の ") + folder +
                            pick("", " は別の製品の項目です。インストールを中止します。")
                      : pick("The entry ", "") + folder +
                            pick(
                                " of the list of programs belongs to another product.  Nothing "
                                "is installed.",
                                "");
}

std::string prompt(const std::string& title) {
    return japanese() ? title + pick("", "のインストール先を指定してください：")
                      : pick("Assign a destination folder for ", "") + title + " :";
}
std::string sheetTitle(const std::string& title) {
    return japanese() ? title + pick("", "のインストール") : pick("Installation of ", "") + title;
}
std::string root() {
    return pick("Unable to install in the route directory.",
                "ルートディレクトリにはインストールできません。");
}
std::string driveAndPath() {
    return pick("Assign a correct drive and path, e.g. C:\\Soft\\.",
                "「C:\\Soft\\」のように、ドライブ名も含めた正しいパス名を指定してください。");
}
std::string badFolderName() {
    return pick(
        "Assign a folder name without a trailing dot or blank, without * ? \" < > |, and other "
        "than a device name such as CON or NUL.",
        "フォルダー名の末尾にピリオドや空白を付けず、* ? \" < > | を含めず、CON や NUL "
        "などのデバイス名以外を指定してください。");
}
std::string linkedFolder(const std::string& path) {
    return japanese() ? path + pick("",
                                    " は別の場所へのリンクです。"
                                    "別のフォルダーを指定してください。")
                      : path + pick(" is a link to another place.  Assign another folder.", "");
}
std::string foreignCharacter(const std::string& characterUtf8) {
    return core::text(core::Localized{"The path holds the character ",
                                      "パスに、このシステムのコードページで表せない文字 "}) +
           characterUtf8 +
           core::text(core::Localized{
               ", which the system's code page cannot hold.  Use a path without it.",
               " が含まれています。この文字を含まないパスを使ってください。"});
}
std::string freeSpace(unsigned megabytes) {
    const std::string format =
        pick("Free space of the assigned drive is %u MB.  Do you continue the installation?",
             "指定されたドライブの残り容量が "
             "%uメガバイトしかありません。かまわずにインストールしますか？");
    char text[512];
    std::snprintf(text, sizeof text, format.c_str(), megabytes);
    return text;
}
std::string destroysUninstall() {
    return pick(
        "Uninstall information will be destroyed except upgrade.\nDo you assign an other folder?",
        "バージョンアップ以外では既にあるアンインストール情報が壊されます。\n別のフォルダーを指定し"
        "ますか？");
}
std::string folderInTheWay(const std::string& path) {
    return japanese()
               ? path +
                     pick("", " - 同じ名前のファイルが既に存在するのでフォルダが作成できません。")
               : "Unable to create a folder, " + path + ", because it already exists.";
}
std::string folderFailed(const std::string& path) {
    return japanese() ? path + pick("", " のフォルダ作成に失敗しました。")
                      : "Failed in creating a folder, " + path + ".";
}

std::string inUse(const std::string& path) {
    return path + pick(" is in use so that overwriting cannot be executed.",
                       " は他で使用中のため上書きできません。");
}
std::string copyFailed(const std::string& source) {
    return japanese() ? source + pick("", " のコピーに失敗しました。")
                      : "Failed in copying " + source;
}
std::string overwriteQuestion(const std::string& targetUpper, const std::string& targetLine,
                              const std::string& sourceLine) {
    return targetUpper +
           pick(" is already exists.\nDo you overwrite the existing file?\n\n Copy To   : ",
                " は既に存在します。\n既存ファイルに上書きしますか？\n\n コピー先： ") +
           targetLine + pick("\n Copy From : ", "\n コピー元： ") + sourceLine;
}
std::string succeeded() {
    return pick("Installation succeeded.  Press <Finish> for completion.",
                "インストールが完了しました。「完了」を押すと終了します。");
}
std::string notSucceeded() {
    return pick("Installation failed.  Some parts were not installed.  Press <Finish> to close.",
                "インストールに失敗しました。インストールされていない部分があります。"
                "「完了」を押すと終了します。");
}
std::string notCompleted() {
    return pick("Installation was not completed.  Some parts were not installed.",
                "インストールは完了しませんでした。インストールされていない部分があります。");
}
std::string registerFailed() {
    return pick("Failed in registering the uninstallation in the list of programs.",
                "プログラムの一覧へのアンインストール情報の登録に失敗しました。");
}
std::string renameFailed(const std::string& path) {
    return japanese() ? path + pick("", " の名前の変更に失敗しました。")
                      : "Failed in renaming " + path + ".";
}
std::string completed() {
    return pick("Installation has been completed.", "インストールが完了しました。");
}
std::string interrupted() {
    return pick("Installation was interrupted.", "インストールは中断されました。");
}

std::string willUninstall(const std::string& title, bool resident) {
    std::string text = title + pick(" will be uninstalled.", "を削除します。");
    if (resident)
        text += pick(
            "  If resident applications still exist, close them and then press <OK> "
            "button.",
            "まだ常駐している場合は、今すぐ終了させてからOKボタンを押してください。");
    return text;
}
std::string execFailed() {
    return pick(
        "Failed in executing the uninstallation program.  Uninstall unnecessary files manually.",
        "アンインストール用プログラムの起動に失敗しました。手動で削除してください。");
}
std::string uninstallTitle(const std::string& title) {
    return japanese() ? title + pick("", "の削除") : "Uninstallation of " + title;
}
std::string uninstalled(const std::string& title) {
    return title + pick(" has been successfully uninstalled.", "は正常に削除されました。");
}
std::string someFileIn(const std::string& installDir) {
    return japanese()
               ? installDir + pick("", " にはまだファイルが残っています。後で削除してください。")
               : "Some file in " + installDir + ".  Uninstall them later.";
}
std::string abnormalReg() {
    return pick("Found abnormal Reg section.", "Regセクションがおかしいです。");
}
std::string deleteFailed(const std::string& path) {
    return japanese()
               ? path +
                     pick("", "の削除に失敗しました。このファイルをスキップして処理を続行します。")
               : "Failed in uninstalling " + path +
                     ".  Continue the process without uninstalling the file.";
}
std::string tryAgain(const std::string& path, const std::string& title) {
    return japanese() ? path + pick("", " の削除に失敗しました。") + title +
                            pick("", "を終了して、もう一度アンインストールをやり直してください。")
                      : "Failed in uninstalling " + path + "." +
                            "  Try again the uninstallation, after closing " + title + ".";
}
std::string askDelete(const std::string& path) {
    return japanese() ? path + pick("", " - このファイルを削除してもいいですか？")
                      : "Do you uninstall " + path + "?";
}
std::string folderNotDeleted(const std::string& path) {
    return japanese() ? path + pick("", " - ディレクトリの削除に失敗しました。")
                      : "Failed in deleting the folder, " + path + ".";
}
std::string notAnInstallation(const std::string& folder) {
    return japanese()
               ? folder +
                     pick("", " はインストール先のフォルダーではありません。何も削除しません。")
               : folder + pick(" is not an installation folder.  Nothing is uninstalled.", "");
}

}  // namespace texts
}  // namespace install
