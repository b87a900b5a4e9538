// The command-line tools' own texts, in English and Japanese (%1, %2, ... are filled by
// cli::fill). Texts that the tools printed before these existed stay English literals where they
// are used, so scripts that read them keep working.
#pragma once

#include "core/localized.h"

namespace cli::texts {

// Values out of range: the option and its range.
inline constexpr core::Localized kNumberRange{
    "%1 must be between %2 and %3 (given: %4)",
    "%1 は %2 から %3 の範囲で指定してください（指定値: %4）"};
inline constexpr core::Localized kWholeRange{
    "%1 must be a whole number between %2 and %3 (given: %4)",
    "%1 は %2 から %3 の整数で指定してください（指定値: %4）"};

// Options that would do nothing.
inline constexpr core::Localized kNeedsFilter{
    "%1 needs --filter low, high, band-pass or band-cut (it would do nothing otherwise)",
    "%1 には --filter low, high, band-pass, band-cut "
    "のいずれかが必要です（それ以外では効果がありません）"};
inline constexpr core::Localized kClipNeedsLinear{
    "--clip applies to the linear scale only: leave out --log or --clip",
    "--clip は線形表示にのみ効きます: --log か --clip のどちらかを外してください"};
inline constexpr core::Localized kClientNeedsPages{
    "--client sets the size of the pages: it needs --pages",
    "--client はページの大きさを決めるものです: --pages と一緒に指定してください"};
inline constexpr core::Localized kSliceNeedsOutput{
    "slice writes nothing without an output: give --reference, --normal, --convergent, --pages "
    "or --crystal-out",
    "出力の指定がないため slice は何も書きません: --reference, --normal, --convergent, --pages, "
    "--crystal-out のいずれかを指定してください"};
inline constexpr core::Localized kSameOutput{
    "%1 and %2 name the same file '%3': give each output its own name",
    "%1 と %2 が同じファイル '%3' を指しています: 出力ごとに別の名前を指定してください"};
inline constexpr core::Localized kReplacesInput{
    "%1 would replace the input '%2': give the output another name",
    "%1 が入力ファイル '%2' を上書きしてしまいます: 出力に別の名前を指定してください"};
inline constexpr core::Localized kDirectionRange{
    "--uvw values must be whole numbers between -2147483647 and 2147483647 (given: %1)",
    "--uvw の値は -2147483647 から 2147483647 の整数で指定してください（指定値: %1）"};

// Batch work with --out-dir.
inline constexpr core::Localized kOutDirNeedsInputs{
    "%1 --out-dir DIR takes one or more input files",
    "%1 --out-dir DIR には入力ファイルを 1 つ以上指定してください"};
inline constexpr core::Localized kOutputIsInput{
    "the result of '%1' would replace the input '%2': choose another --out-dir",
    "'%1' の結果が入力ファイル '%2' を上書きしてしまいます: 別の --out-dir を指定してください"};
inline constexpr core::Localized kTwoInputsOneOutput{
    "'%1' and '%2' would both be written to '%3'",
    "'%1' と '%2' の結果がどちらも '%3' に書かれてしまいます"};
inline constexpr core::Localized kTifNeedsOutDir{
    "--tif names the results of --out-dir (DIR/NAME.tif); a single output is a float TIFF when "
    "its name ends in .tif",
    "--tif は --out-dir の結果（フォルダー/名前.tif）に使います。1 つの出力は名前を .tif で終える"
    "と float TIFF になります"};
inline constexpr core::Localized kCannotMakeFolder{"%1: the output folder cannot be made",
                                                   "%1: 出力フォルダーを作成できません"};
inline constexpr core::Localized kSummaryWritten{"written  %1 -> %2", "書き込み %1 -> %2"};
inline constexpr core::Localized kSummaryRefused{"refused  %1", "拒否     %1"};
inline constexpr core::Localized kSummaryTotal{"%1 of %2 files written",
                                               "%2 個のファイルのうち %1 個を書き込みました"};

// Files named when they were refused or could not be written.
inline constexpr core::Localized kNoSuchFile{"%1: no such file", "%1: ファイルがありません"};
inline constexpr core::Localized kIsFolder{"%1: is a folder, not a file",
                                           "%1: ファイルではなくフォルダーです"};
inline constexpr core::Localized kCannotRead{"%1: cannot be read (permission denied)",
                                             "%1: 読み取れません（アクセスが拒否されました）"};
inline constexpr core::Localized kInputRefused{
    "%1: refused (see the message above)", "%1: 受け付けられませんでした（上のメッセージを参照）"};
inline constexpr core::Localized kNoFolder{"%1: the folder '%2' does not exist",
                                           "%1: フォルダー '%2' がありません"};
inline constexpr core::Localized kFolderNotWritable{"%1: the folder '%2' cannot be written to",
                                                    "%1: フォルダー '%2' に書き込めません"};
inline constexpr core::Localized kOutputNotWritten{
    "%1: not written (see the message above)", "%1: 書き込まれていません（上のメッセージを参照）"};

// Standard output that could not be written (a full disk, a closed file).
inline constexpr core::Localized kStdoutNotWritten{
    "the output could not be written to standard output",
    "標準出力に書き込めませんでした"};

// The profile file of --special.
inline constexpr core::Localized kProfileNotAFile{
    "the profile file '%1' is not a regular file",
    "プロファイルファイル '%1' は通常のファイルではありません"};
inline constexpr core::Localized kProfileTooLarge{
    "the profile file '%1' is larger than %2 KB: a settings file is a few kilobytes",
    "プロファイルファイル '%1' が %2 KB を超えています: 設定ファイルは数 KB の大きさです"};

// Help.
inline constexpr core::Localized kUsageHeading{"Usage:", "使い方:"};
inline constexpr core::Localized kCommandUsage{"Usage: ", "使い方: "};
inline constexpr core::Localized kCommandsHeading{"Commands:", "コマンド:"};
inline constexpr core::Localized kCommonOptionsHeading{"Options of every command:",
                                                       "すべてのコマンドに使えるオプション:"};
inline constexpr core::Localized kOptionsHeading{"Options:", "オプション:"};
inline constexpr core::Localized kCommandHelpPointer{
    "Run '%1 COMMAND --help' or '%1 help COMMAND' for the options of a command.",
    "コマンドのオプションは '%1 COMMAND --help' または '%1 help COMMAND' で表示されます。"};
inline constexpr core::Localized kExample{"Example:", "例:"};
inline constexpr core::Localized kMoreHelp{"Run '%1 --help' for all commands.",
                                           "すべてのコマンドは '%1 --help' で表示されます。"};

}  // namespace cli::texts
