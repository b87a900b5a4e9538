// voralin00-cli's commands: the image spectrum engine without a window, for batch work and
// scripting.
//
// Every input is validated and normalised exactly as the program's Open does; the pictures
// written are what the program's Save BMP writes after the same steps.
#include "cli/voralin00_tool.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "cli/cli_texts.h"
#include "cli/file_names.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/terminal.h"
#include "core/busy.h"
#include "core/disk.h"
#include "core/localized.h"
#include "core/message_sink.h"
#include "core/stderr_sink.h"
#include "image/bmp_file.h"
#include "image/file_io.h"
#include "image/open_image.h"
#include "image/tiff_write.h"
#include "spectrum/engine/big_grid.h"
#include "spectrum/engine/contrast.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/inverse.h"
#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/live_box.h"
#include "spectrum/engine/png_writer.h"
#include "spectrum/engine/radial.h"
#include "spectrum/engine/readout.h"
#include "spectrum/engine/save.h"
#include "spectrum/engine/spot_finder.h"

namespace voralin00cli {

namespace {

constexpr const char* kProgram = "voralin00-cli";
// The release of the image program whose steps the tool repeats.
constexpr const char* kVersion = "1.20";

struct Options {
    std::vector<std::string> positional;
    spectrum::SpectrumSettings settings;
    bool haveAngle = false, haveContrast = false, haveBrightness = false;
    int contrast = 0, brightness = 0, angle = 0;
    bool haveDark = false, haveBright = false;
    std::string specialPath, outDir;
    int filterChoices = 0;
    bool haveWa = false, haveWb = false, haveClip = false, haveFilter = false, quiet = false;
    // lattice tools
    int pairs = 8;
    double minRadius = 0.0, pixelSize = 0.0;
    std::string csvPath, plotPath, differencePath, npyPath, differenceNpyPath;
    bool haveLattice = false, haveRadius = false, haveBasis = false, haveEdge = false;
    bool autoRadius = false;  // --radius auto: from the width of the basis spots
    bool haveNoiseScale = false, haveSmoothing = false;
    int latticeMode = 0;
    bool havePixelSize = false;  // --pixel-size given: it overrides the file's calibration
    image::ImportChoice choice;  // which signal of an EMD file, which image of a stack
    bool allImages = false;      // --all-images: every image of each input
    bool calibrated = false;
    bool tif = false;  // filter --out-dir: float TIFF results
    int precision = 0;  // --precision: 0 single, 1 double
    bool haveBox = false;  // --box: a square region of the image alone
    spectrum::Box box;
    int binChoice = 0;  // --bin: 0, 1, 2 for 1, 2, 4
};

bool parseCircles(const std::string& text, std::vector<spectrum::MaskCircle>& out) {
    std::stringstream all(text);
    std::string item;
    while (std::getline(all, item, ';')) {
        if (item.find_first_not_of(" \t") == std::string::npos) continue;
        long values[3];
        std::stringstream fields(item);
        std::string field;
        int count = 0;
        while (std::getline(fields, field, ',')) {
            const auto value =
                cli::parseInteger(field.substr(field.find_first_not_of(" \t") == std::string::npos
                                                   ? 0
                                                   : field.find_first_not_of(" \t")));
            if (!value || count == 3 || *value < 0 || *value > 100000) return false;
            values[count++] = *value;
        }
        if (count != 3 || values[2] < 1) return false;
        out.push_back({static_cast<int>(values[0]), static_cast<int>(values[1]),
                       static_cast<int>(values[2])});
    }
    return !out.empty() && out.size() <= spectrum::kMaxMaskCircles;
}


// The options, grouped by what they do, each with the commands that take it and its help (see
// cli/options.h).

// The spectrum picture and the frame it is computed in.
std::vector<cli::Option> displayOptions(Options& o) {
    auto& s = o.settings;
    return {
        {"--quantity", "spectrum", 1, "root|real|imag",
         {"root power (default), real or imaginary part", "パワーの平方根（既定）、実部、虚部"},
         cli::oneOf({"root", "real", "imag"}, s.display.displayQuantity)},
        {"--log", "spectrum", 0, "", {"logarithmic scale", "対数表示"},
         cli::flag(s.display.logScale)},
        {"--clip", "spectrum", 1, "C",
         {"upper clipping at average x C (1..10000, default 10; linear scale only)",
          "平均 x C で上限を切る（1..10000、既定 10。線形表示のみ）"},
         cli::also(cli::numberIn(1, 10000, s.display.upperClipFactor),
                   [&o] { o.haveClip = true; })},
        {"--lower-clip", "spectrum", 1, "D",
         {"lower clipping at average x 0.9 / D (1..10000)",
          "平均 x 0.9 / D で下限を切る（1..10000）"},
         cli::also(cli::numberIn(1, 10000, s.display.lowerClipDivisor),
                   [&s] { s.display.lowerClipping = true; })},
        {"--invert", "spectrum", 0, "", {"inverted grey levels", "階調の反転"},
         cli::flag(s.display.invertedDisplay)},
        {"--rainbow", "spectrum", 0, "", {"rainbow colours", "虹色表示"},
         cli::flag(s.display.rainbowPalette)},
        {"--no-expand", "spectrum filter linewave spots radial", 0, "",
         {"the frame without margins", "余白なしの枠"},
         [&s](const std::string&, const std::vector<std::string>&) {
             s.useExpandedImage = false;
             return std::string();
         }},
        {"--frame", "spectrum filter linewave radial", 1, "mirror|windowed",
         {"mirror copies around the image (default), or the image times a Hann window in zeros "
          "(no mirror ghosts); the inverse transform always uses the mirror frame",
          "画像の周りを鏡像で埋める（既定）か、ハン窓をかけた画像の周りを 0 で埋める（鏡像の"
          "ゴーストなし）。逆変換は常に鏡像フレームを使います"},
         cli::oneOf({"mirror", "windowed"}, s.frame)},
        {"--whole-frame", "spectrum", 0, "",
         {"the whole frame up to the sampling limit, binned to the picture",
          "サンプリングの限界までのフレーム全体を縮小して表示"},
         cli::flag(s.display.wholeFrame)},
        {"--precision", "spectrum filter linewave radial", 1, "single|double",
         {"storage of a frame above the full-frame limit (default: double where the memory "
          "allows, else single)",
          "全フレーム上限を超えるフレームの保持精度（既定: メモリが足りれば倍精度、足りなければ"
          "単精度）"},
         cli::also(cli::oneOf({"single", "double"}, o.precision),
                   [&o] {
                       o.settings.precision = o.precision == 0 ? spectrum::Precision::Single
                                                               : spectrum::Precision::Double;
                   })},
        {"--full-frame-limit", "spectrum filter linewave spots radial", 1, "N",
         {"frames above N x N (a power of two, 64..8192, default 8192) keep only the half "
          "spectrum of the real frame",
          "N x N（2 のべき、64..8192、既定 8192）を超えるフレームは実数フレームの半スペクトル"
          "だけを保持する"},
         cli::wholeIn(spectrum::kMinFullFrameLimit, spectrum::kFullFrameLimit,
                      s.fullFrameLimit)},
    };
}

// The filters that choose what the inverse transform keeps; one of them at a time.
std::vector<cli::Option> filterOptions(Options& o) {
    auto& s = o.settings;
    const auto circles = [&o](int kind) -> cli::Apply {
        return [&o, kind](const std::string& name, const std::vector<std::string>& values) {
            if (!parseCircles(values[0], o.settings.filter.circles))
                return name + " needs \"x,y,r;...\" with 1 to 100 circles of whole, non-negative "
                              "numbers";
            o.settings.filter.kind = kind;
            ++o.filterChoices;
            return std::string();
        };
    };
    const auto choose = [&o](int kind) -> cli::Apply {
        return [&o, kind](const std::string&, const std::vector<std::string>&) {
            o.settings.filter.kind = kind;
            ++o.filterChoices;
            return std::string();
        };
    };
    return {
        {"--filter", "filter", 1, "none|low|high|band-pass|band-cut",
         {"a standard radial filter", "標準の同心円フィルター"},
         cli::also(
             cli::oneOf({"none", "low", "high", "band-pass", "band-cut"}, s.filter.standardType),
             [&o] {
                 o.settings.filter.kind = spectrum::kStandardFilter;
                 o.haveFilter = true;
                 ++o.filterChoices;
             })},
        {"--wa", "filter", 1, "X",
         {"its first radius, a fraction of half the image diagonal (0..1, default 0.5); needs "
          "--filter",
          "その 1 つ目の半径（画像の対角線の半分に対する比、0..1、既定 0.5）。--filter "
          "と一緒に指定します"},
         cli::also(cli::numberIn(0, 1, s.filter.wa), [&o] { o.haveWa = true; })},
        {"--wb", "filter", 1, "X",
         {"its second radius (0..1, default 0.8); needs --filter",
          "その 2 つ目の半径（0..1、既定 0.8）。--filter と一緒に指定します"},
         cli::also(cli::numberIn(0, 1, s.filter.wb), [&o] { o.haveWb = true; })},
        {"--special", "filter", 1, "PROFILE.ini",
         {"the radial profile of an INI file's [Special Filter] section",
          "INI ファイルの [Special Filter] の動径プロファイル"},
         cli::also(cli::text(o.specialPath),
                   [&o] {
                       o.settings.filter.kind = spectrum::kSpecialFilter;
                       ++o.filterChoices;
                   }),
         "--special needs a file"},
        {"--circles-outside", "filter", 1, "\"x,y,r;...\"",
         {"keep only the spots inside the circles (a mask): picture pixels of the spectrum, x "
          "from the left, y from the top, radius; 1 to 100 circles",
          "円の内側のスポットだけを残す（マスク）: スペクトル画像の画素で x は左から、y "
          "は上から、半径。1 から 100 個の円"},
         circles(spectrum::kCirclesCutOutside),
         "--circles-outside needs \"x,y,r;...\" with 1 to 100 circles of whole, non-negative "
         "numbers"},
        {"--circles-inside", "filter", 1, "\"x,y,r;...\"",
         {"cut the spots inside the circles (given as for --circles-outside)",
          "円の内側のスポットを除く（指定は --circles-outside と同じ）"},
         circles(spectrum::kCirclesCutInside),
         "--circles-inside needs \"x,y,r;...\" with 1 to 100 circles of whole, non-negative "
         "numbers"},
        {"--symmetric", "filter", 0, "",
         {"every circle also gets its centro-symmetric mate (counts as two circles)",
          "各円に中心対称の相方の円も置く（2 個の円と数えます）"},
         cli::flag(s.filter.symmetricCircles)},
        {"--lattice-mask", "filter", 1, "keep|remove",
         {"keep or cut discs of --radius frame samples at every lattice point n g1 + m g2",
          "格子点 n g1 + m g2 ごとに半径 --radius（フレームサンプル）の円を残す／除く"},
         cli::also(cli::oneOf({"keep", "remove"}, o.latticeMode),
                   [&o] {
                       o.settings.filter.kind =
                           o.latticeMode == 0 ? spectrum::kLatticeKeep : spectrum::kLatticeRemove;
                       o.haveLattice = true;
                       ++o.filterChoices;
                   })},
        {"--radius", "filter", 1, "PX|auto",
         {"the radius of the lattice mask's discs in frame samples; needed by --lattice-mask; "
          "auto: twice the mean half width at half maximum of the basis spots (at least 3)",
          "格子マスクの円の半径（フレームサンプル）。--lattice-mask に必要です。auto: 基本ベクトル"
          "のスポットの半値半幅の平均の 2 倍（3 以上）"},
         [&o, number = cli::numberIn(-1e9, 1e9, s.filter.lattice.radius)](
             const std::string& name, const std::vector<std::string>& values) {
             o.haveRadius = true;
             o.autoRadius = values[0] == "auto";
             return o.autoRadius ? std::string() : number(name, values);
         }},
        {"--basis", "filter", 1, "\"x1,y1;x2,y2\"",
         {"the lattice basis in samples of the shown spectrum from its centre (default: the "
          "spot finder's)",
          "格子の基本ベクトル（表示したスペクトルの中心からのサンプル。既定はスポット探索の"
          "結果）"},
         [&o](const std::string& name, const std::vector<std::string>& values) {
             const auto basis = spectrum::parseBasisText(values[0]);
             if (!basis)
                 return name + " needs \"x1,y1;x2,y2\": two vectors in samples of the spectrum";
             o.settings.filter.lattice.g1 = basis->first;
             o.settings.filter.lattice.g2 = basis->second;
             o.haveBasis = true;
             return std::string();
         }},
        {"--wiener", "filter", 0, "",
         {"the Wiener filter, its noise floor the radially averaged power times --noise-scale",
          "ウィーナーフィルター（雑音レベルは動径平均したパワー x --noise-scale）"},
         choose(spectrum::kWienerFilter)},
        {"--absf", "filter", 0, "",
         {"the average background subtraction filter, with the same noise floor",
          "平均背景差分フィルター（雑音レベルは同じ）"},
         choose(spectrum::kAbsfFilter)},
    };
}

// How the chosen filter is shaped, and what else the inverse transform writes.
std::vector<cli::Option> inverseOptions(Options& o) {
    auto& s = o.settings;
    return {
        {"--edge-sigma", "filter", 1, "PX",
         {"Gaussian edges of that width for circles, lattice and standard filters (0..1000; 0: "
          "hard edges)",
          "円・格子・標準フィルターの縁をこの幅のガウス型でぼかす（0..1000。0: ぼかさない）"},
         cli::also(cli::numberIn(0, 1000, s.filter.edgeSigma), [&o] { o.haveEdge = true; })},
        {"--noise-scale", "filter", 1, "C",
         {"the noise floor of --wiener and --absf: radially averaged power x C (0..1000, "
          "default 1)",
          "--wiener と --absf の雑音レベル: 動径平均したパワー x C（0..1000、既定 1）"},
         cli::also(cli::numberIn(0, 1000, s.filter.noise.noiseScale),
                   [&o] { o.haveNoiseScale = true; })},
        {"--smoothing", "filter", 1, "H",
         {"--wiener: the power averaged over (2H+1)^2 elements (0..10, default 1)",
          "--wiener: (2H+1)^2 要素で平均したパワー（0..10、既定 1）"},
         cli::also(cli::wholeIn(0, 10, s.filter.noise.smoothing),
                   [&o] { o.haveSmoothing = true; })},
        {"--dark", "filter", 1, "D",
         {"the dark end of a new brightness range (0..100) instead of the original one",
          "元の明るさの範囲の代わりに使う範囲の暗い側（0..100）"},
         cli::also(cli::wholeIn(0, 100, s.brightness.darkLevel), [&o] { o.haveDark = true; })},
        {"--bright", "filter", 1, "B",
         {"the bright end of that range (155..255)", "その範囲の明るい側（155..255）"},
         cli::also(cli::wholeIn(155, 255, s.brightness.brightLevel),
                   [&o] { o.haveBright = true; })},
        {"--difference", "filter", 1, "OUT.bmp",
         {"also write the removed part (the inverse of the spectrum times one minus the filter) "
          "as a picture; OUT.tif: in the source's units",
          "除いた部分（スペクトル x (1 - フィルター) の逆変換）も画像で書き出す。出力.tif "
          "なら元の画像の単位で"},
         cli::text(o.differencePath)},
        {"--npy", "filter spectrum", 1, "OUT.npy",
         {"filter: also write the filtered image as a float64 array in levels (the source's "
          "range on 0..255); spectrum with --box: the box's spectrum as a complex128 array, SIZE "
          "x SIZE, the zero frequency at (SIZE/2, SIZE/2)",
          "filter: フィルター後の画像も float64 配列で書き出す（元の範囲を 0..255 "
          "に写したレベル）。spectrum で --box と一緒に: ボックスのスペクトルを complex128 "
          "配列（SIZE x SIZE、ゼロ周波数は (SIZE/2, SIZE/2)）で書き出す"},
         cli::text(o.npyPath)},
        {"--difference-npy", "filter", 1, "OUT.npy",
         {"also write the removed part as such an array", "除いた部分も同じ配列で書き出す"},
         cli::text(o.differenceNpyPath)},
        {"--tif", "filter", 0, "",
         {"with --out-dir: the results as 32-bit float TIFFs, DIR/NAME.tif (a single OUT.tif "
          "is one already)",
          "--out-dir と一緒に: 結果を 32 ビット float TIFF（フォルダー/名前.tif）で書く（1 "
          "つの出力は 出力.tif で float TIFF になります）"},
         cli::flag(o.tif)},
    };
}

// The line profile, the spot finder, the radial profile and the contrast steps.
std::vector<cli::Option> measureOptions(Options& o) {
    return {
        {"--angle", "linewave", 1, "DEG",
         {"the angle of the line through the centre in whole degrees (-90..90)",
          "中心を通る線の角度（-90..90 の整数の度）"},
         cli::also(cli::wholeIn(-90, 90, o.angle),
                   [&o] {
                       o.settings.lineWave.angle = o.angle;
                       o.haveAngle = true;
                   })},
        {"--calibrated", "linewave", 0, "",
         {"also write OUT_calibrated.csv with each sample's spatial frequency (1/nm, or 1/pixel "
          "without a pixel size)",
          "各サンプルの空間周波数（1/nm。ピクセルサイズがなければ 1/画素）を "
          "OUT_calibrated.csv にも書き出す"},
         cli::flag(o.calibrated)},
        {"--count", "spots", 1, "N",
         {"at most N pairs of spots (1..1000, default 8)",
          "スポットの対を最大 N 組（1..1000、既定 8）"},
         cli::wholeIn(1, 1000, o.pairs)},
        {"--min-radius", "spots", 1, "PX",
         {"leave out the centre up to PX frame samples (default: four widths of the window's "
          "resolution)",
          "中心から PX サンプルまでを除く（既定: 窓の分解能の 4 倍）"},
         cli::numberIn(0, 8192, o.minRadius)},
        {"--csv", "spots", 1, "OUT.csv",
         {"write the list with a header row: number, mate, x and y (frame samples from the "
          "centre, x right, y down), |g|, d-spacing, angle (degrees counter-clockwise from x), "
          "power, significance",
          "見出し行付きで一覧を書き出す: 番号、対、x と y（中心からのフレームサンプル、x "
          "は右、y は下）、|g|、面間隔、角度（x から反時計回りの度）、パワー、有意度"},
         cli::text(o.csvPath)},
        {"--plot", "radial", 1, "OUT.png",
         {"also write a PNG plot of the profile", "プロファイルのグラフも PNG で書き出す"},
         cli::text(o.plotPath)},
        {"--contrast", "adjust", 1, "K",
         {"contrast steps (-10..10)", "コントラストの段階（-10..10）"},
         cli::also(cli::wholeIn(-10, 10, o.contrast), [&o] { o.haveContrast = true; })},
        {"--brightness", "adjust", 1, "K",
         {"brightness steps (-10..10)", "明るさの段階（-10..10）"},
         cli::also(cli::wholeIn(-10, 10, o.brightness), [&o] { o.haveBrightness = true; })},
    };
}

// Reads the three words of --box: the top-left pixel and an offered side.
std::string parseBox(const std::vector<std::string>& words, Options& o) {
    const auto x = cli::parseInteger(words[0]);
    const auto y = cli::parseInteger(words[1]);
    const auto side = cli::parseInteger(words[2]);
    if (!x || !y || !side || *x < 0 || *y < 0 || *x > (1L << 30) || *y > (1L << 30))
        return "--box needs X Y SIZE: the top-left pixel (from 0) and the side";
    if (!spectrum::isBoxSide(static_cast<int>(*side)) || *side > 1024)
        return core::text(spectrum::boxSideText());
    o.box = {static_cast<int>(*x), static_cast<int>(*y), static_cast<int>(*side)};
    o.haveBox = true;
    return "";
}

// A square region of the image: its spectrum, its spots, its crop.
std::vector<cli::Option> boxOptions(Options& o) {
    return {
        {"--box", "spectrum spots region", 3, "X Y SIZE",
         {"the square region whose top-left pixel is X, Y (from 0) and whose side is SIZE (64, "
          "128, 256, 512 or 1024 pixels), alone: its spectrum is that of the region times the "
          "sin^2 window, without padding",
          "左上の画素が X, Y（0 から）で辺が SIZE（64、128、256、512、1024 ピクセル）の正方形"
          "の領域だけを使う: スペクトルは領域に sin^2 の窓をかけたもの（パディングなし）"},
         [&o](const std::string&, const std::vector<std::string>& words) {
             return parseBox(words, o);
         },
         "--box needs X Y SIZE: the top-left pixel (from 0) and the side"},
    };
}

// Which image of a file is read, its calibration, and the batch form.
std::vector<cli::Option> inputOptions(Options& o) {
    constexpr const char* kAll =
        "info normalise spectrum filter linewave adjust spots radial region";
    constexpr const char* kBatch = "normalise spectrum filter linewave adjust";
    return {
        {"--pixel-size", kAll, 1, "NM",
         {"the calibration in nanometres per pixel, overriding the file's own (spots and "
          "radial give |g| in 1/nm and d in nm with it)",
          "1 画素あたりのナノメートル（ファイル自身の値より優先。spots と radial は |g| を "
          "1/nm、d を nm で示します）"},
         cli::also(cli::numberIn(1e-9, 1e9, o.pixelSize), [&o] { o.havePixelSize = true; })},
        {"--signal", kAll, 1, "N",
         {"an EMD file's signal (detector) N as info lists them (default: the largest real "
          "image)",
          "EMD ファイルの信号（検出器）N、info の一覧の番号で（既定: 最大の実数画像）"},
         cli::wholeIn(1, 4096, o.choice.signal)},
        {"--image", kAll, 1, "N",
         {"image N (from 1) of a stack: a multi-page TIFF, an MRC stack, a DM movie or series, "
          "a TIA series, EMD frames (default: the first)",
          "スタックの N 番目（1 から）の画像: 複数ページの TIFF、MRC スタック、DM "
          "の動画やシリーズ、TIA シリーズ、EMD のフレーム（既定: 最初の画像）"},
         cli::also(cli::wholeIn(1, 1 << 30, o.choice.image), [&o] { --o.choice.image; })},
        {"--bin", kAll, 1, "1|2|4",
         {"sum N x N pixels into one after choosing the image (the pixel size grows by N, a "
          "last partial row or column is dropped; an 8-bit image becomes a 16-bit source)",
          "画像を選んだあと N x N 画素を 1 画素に足し合わせる（ピクセルサイズは N 倍、端の足りない"
          "行・列は除く。8 ビットの画像は 16 ビットの元画像になります）"},
         cli::also(cli::oneOf({"1", "2", "4"}, o.binChoice),
                   [&o] { o.choice.bin = 1 << o.binChoice; })},
        {"--quiet", "*", 0, "", {"no success messages", "成功のメッセージを出さない"},
         cli::flag(o.quiet)},
        {"--out-dir", kBatch, 1, "DIR",
         {"several inputs at once: each result goes to DIR under its input's name (see the "
          "general usage)",
          "複数の入力をまとめて処理: 各結果を入力の名前で フォルダー に書く（全体の使い方を"
          "参照）"},
         cli::text(o.outDir)},
        {"--all-images", kBatch, 0, "",
         {"with --out-dir: every image of each input, DIR/NAME_0001.EXT and on (side outputs "
          "led by NAME_0001 alike)",
          "--out-dir と一緒に: 各入力のすべての画像を フォルダー/名前_0001.拡張子 "
          "から順に書く（副出力も 名前_0001 を先頭に）"},
         cli::flag(o.allImages)},
    };
}

// Every option, with the commands that take it.
std::vector<cli::Option> optionTable(Options& o) {
    std::vector<cli::Option> table;
    for (auto group :
         {displayOptions, filterOptions, inverseOptions, measureOptions, boxOptions, inputOptions})
        for (cli::Option& option : group(o)) table.push_back(std::move(option));
    return table;
}


constexpr core::Localized kAllImagesNeedsOutDir{
    "--all-images needs --out-dir DIR: each image gives its own result",
    "--all-images には --out-dir フォルダー が必要です（画像ごとに結果を書きます）"};
constexpr core::Localized kImageOrAll{"choose one of --image and --all-images",
                                      "--image と --all-images はどちらか一方を指定してください"};

// Parses the options after the subcommand; returns an error text or "".
std::string parseOptions(const std::string& command, const std::vector<std::string>& args,
                         Options& o) {
    const std::vector<cli::Option> table = optionTable(o);
    const auto stray = [&](const std::string& a, const std::vector<std::string>&) {
        return cli::notAnOption(table, command, a);
    };
    const std::string error = cli::parseOptions(table, command, args, o.positional, stray);
    if (!error.empty()) return error;
    if (o.filterChoices > 1)
        return "choose one of --filter, --special, --circles-outside, --circles-inside, "
               "--lattice-mask, --wiener, --absf";
    const int kind = o.settings.filter.kind;
    const bool circles = kind == spectrum::kCirclesCutOutside || kind == spectrum::kCirclesCutInside;
    if ((o.haveRadius || o.haveBasis) && !o.haveLattice)
        return "--radius and --basis belong to --lattice-mask";
    if (o.haveLattice && !o.haveRadius) return "--lattice-mask needs --radius PX";
    if (o.haveEdge && !(circles || o.haveLattice || (o.haveFilter && kind == spectrum::kStandardFilter)))
        return "--edge-sigma needs --filter, --circles-outside, --circles-inside or --lattice-mask";
    if ((o.haveNoiseScale || o.haveSmoothing) && kind != spectrum::kWienerFilter &&
        kind != spectrum::kAbsfFilter)
        return std::string(o.haveNoiseScale ? "--noise-scale" : "--smoothing") +
               (o.haveNoiseScale ? " needs --wiener or --absf" : " needs --wiener");
    if (o.haveSmoothing && kind != spectrum::kWienerFilter) return "--smoothing needs --wiener";
    if (o.settings.filter.symmetricCircles && !circles)
        return "--symmetric needs --circles-outside or --circles-inside";
    if (o.settings.filter.symmetricCircles &&
        o.settings.filter.circles.size() * 2 > spectrum::kMaxMaskCircles)
        return "--symmetric: with their mates the circles would be more than 100";
    // Options that would change nothing are refused rather than ignored.
    const bool standardFilter =
        o.haveFilter && o.settings.filter.standardType != spectrum::kNoFilter;
    if ((o.haveWa || o.haveWb) && !standardFilter)
        return cli::fill(cli::texts::kNeedsFilter, {o.haveWa ? "--wa" : "--wb"});
    if (o.haveClip && o.settings.display.logScale) return core::text(cli::texts::kClipNeedsLinear);
    if (o.haveDark || o.haveBright) o.settings.brightness.keepImageBrightness = false;
    if (o.tif && o.outDir.empty()) return core::text(cli::texts::kTifNeedsOutDir);
    if (o.allImages && o.outDir.empty()) return core::text(kAllImagesNeedsOutDir);
    if (o.allImages && o.choice.image != 0) return core::text(kImageOrAll);
    if (command == "spectrum" && !o.npyPath.empty() && !o.haveBox)
        return "--npy with spectrum needs --box X Y SIZE";
    return "";
}

// The program's state for one run: the current picture, its geometry and the spectrum.
struct Session {
    explicit Session(bool quiet) : sink(kProgram, quiet) {}
    cli::ToolSink sink;
    cli::DelayedBusy busy;
    image::CurrentImage image;
    image::ImageGeometry geometry;
    spectrum::SpectrumBuffers buffers;
    std::optional<image::GreyImage> source;  // a microscope image, without its samples
    std::shared_ptr<const image::PreciseLevels> precise;
};

bool openInput(Session& s, const std::string& path, const image::ImportChoice& choice) {
    // Nothing is shown: the picture keeps its full size.
    const image::PictureArea unlimited{1 << 20, 1 << 20};
    image::OpenOutcome outcome = image::openImageFile(
        path, s.image, s.sink, s.busy, core::systemDisk(), unlimited, [] {}, choice);
    if (outcome.result != image::OpenResult::Opened) {
        cli::explainInput(kProgram, path);
        return false;
    }
    s.geometry = outcome.geometry;
    s.source = std::move(outcome.source);
    s.precise = std::move(outcome.precise);
    return true;
}

// OUT.txt -> OUT_calibrated.csv
std::string calibratedName(const std::string& output) {
    const std::size_t dot = output.find_last_of('.');
    const std::size_t slash = output.find_last_of("/\\");
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (extension ? output.substr(0, dot) : output) + "_calibrated.csv";
}

// A settings file holds 256 short lines; a file past this size is none, and is not read.
constexpr std::size_t kMaxProfileBytes = 64 * 1024;

// Reads the profile file of --special: a regular file (a device or a pipe could be endless) of
// at most kMaxProfileBytes. Through stdio: a stream iterator throws on a read error. Reports a
// refusal on stderr.
bool readProfile(const std::string& path, std::string& out) {
    std::error_code error;
    const auto status = std::filesystem::status(cli::fsPath(path), error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     cli::fill(cli::texts::kProfileNotAFile, {path}).c_str());
        return false;
    }
    image::FileHandle file(image::fopenUtf8(path, "rb"));
    char buffer[4096];
    std::size_t got = 0;
    while (file && (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        out.append(buffer, got);
        if (out.size() > kMaxProfileBytes) {
            std::fprintf(stderr, "%s: %s\n", kProgram,
                         cli::fill(cli::texts::kProfileTooLarge,
                                   {path, std::to_string(kMaxProfileBytes / 1024)})
                             .c_str());
            return false;
        }
    }
    if (!file || std::ferror(file.get()) != 0) {
        std::fprintf(stderr, "%s: cannot read the profile file '%s'\n", kProgram, path.c_str());
        return false;
    }
    return true;
}

// Writes a whole output file as every other output is written: under a temporary name beside
// it, moved over the old file only when every byte is on disk, so a full disk or an
// interruption leaves the old file as it was. Reports a failure on stderr.
bool writeBytes(const std::string& path, const void* data, std::size_t size) {
    const bool ok = image::replaceFileContents(
        path, std::string_view(static_cast<const char*>(data), size));
    if (!ok)
        std::fprintf(stderr, "%s: %s '%s'\n", kProgram,
                     core::text({"cannot write", "書き込めません:"}), path.c_str());
    return ok;
}

// A float64 array in the .npy format (version 1.0), rows top first.
bool writeNpy(const std::string& path, const std::vector<double>& values, int width, int height) {
    std::string header = "{'descr': '<f8', 'fortran_order': False, 'shape': (" +
                         std::to_string(height) + ", " + std::to_string(width) + "), }";
    while ((10 + header.size() + 1) % 64 != 0) header += ' ';
    header += '\n';
    std::string out = "\x93NUMPY";
    out += '\x01';
    out += '\x00';
    out += static_cast<char>(header.size() & 0xFF);
    out += static_cast<char>(header.size() >> 8);
    out += header;
    for (double v : values) {
        unsigned char bytes[8];
        std::memcpy(bytes, &v, 8);  // the build targets are little-endian
        out.append(reinterpret_cast<const char*>(bytes), 8);
    }
    return writeBytes(path, out.data(), out.size());
}

// The frame size the spectrum of this picture gets.
int frameSizeOf(const spectrum::GreyPixels& pixels, const spectrum::SpectrumSettings& settings) {
    const spectrum::GridPlan plan = spectrum::planGrid(
        pixels.width, pixels.height, settings.useExpandedImage,
        [&] { return spectrum::edgesAreSeamless(pixels); }, settings.fullFrameLimit);
    return plan.n;
}

// The spot finder over the opened picture, or over the source's own levels when it has more
// than 8 bits; reports why it found nothing.
bool runFinder(image::CurrentImage& picture, const image::ImageGeometry& geometry,
               const image::PreciseLevels* precise, const Options& o,
               spectrum::SpotResult& result) {
    spectrum::GreyPixels pixels;
    if (!spectrum::greyPixelsOf(picture, geometry, pixels)) return false;
    const int n = frameSizeOf(pixels, o.settings);
    if (n == 0) {
        std::fprintf(stderr, "%s: Unable to carry out the FFT.\nbecause of the image size being too large.\n", kProgram);
        return false;
    }
    spectrum::SpotOptions options;
    options.pairs = o.pairs;
    options.minRadius = o.minRadius;
    options.pixelSizeNm = o.settings.pixelSizeNm;
    result = spectrum::findSpots(pixels, precise, n, options);
    if (result.status == spectrum::SpotStatus::kNoMemory ||
        result.status == spectrum::SpotStatus::kBadImage) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     core::text(spectrum::spotStatusText(result.status)));
        return false;
    }
    return true;
}

// The box of --box on the opened picture: false (said) when it does not lie on it.
bool checkBox(const Session& s, const Options& o) {
    const int w = s.geometry.width, h = s.geometry.height, side = o.box.side;
    if (spectrum::boxInside(o.box, w, h)) return true;
    const std::string message =
        side > w || side > h
            ? core::formatMessage(core::text(spectrum::boxTooLargeText()), side, side, w, h)
            : core::formatMessage(core::text(spectrum::boxOutsideText()), o.box.x, o.box.y,
                                  side, side, w, h);
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return false;
}

// The spot finder on the box alone, in the box's frame.
bool runBoxFinder(Session& s, const Options& o, spectrum::SpotResult& result) {
    spectrum::GreyPixels pixels;
    if (!checkBox(s, o) || !spectrum::greyPixelsOf(s.image, s.geometry, pixels)) return false;
    spectrum::SpotOptions options;
    options.pairs = o.pairs;
    options.minRadius = o.minRadius;
    options.pixelSizeNm = o.settings.pixelSizeNm;
    result = spectrum::findBoxSpots(pixels, s.precise.get(), o.box, options);
    if (result.status == spectrum::SpotStatus::kNoMemory ||
        result.status == spectrum::SpotStatus::kBadImage) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     core::text(spectrum::spotStatusText(result.status)));
        return false;
    }
    return true;
}

int runSpots(Session& s, const Options& o) {
    spectrum::SpotResult result;
    if (o.haveBox ? !runBoxFinder(s, o, result)
                  : !runFinder(s.image, s.geometry, s.precise.get(), o, result))
        return 1;
    const bool nm = o.settings.pixelSizeNm.has_value();
    if (result.status == spectrum::SpotStatus::kNoneFound) {
        std::printf("%s\n", core::text(spectrum::spotStatusText(result.status)));
    } else {
        std::printf("Frame %d x %d, central radius %.2f samples\n", result.n, result.n,
                    result.minRadius);
        std::printf("  #  mate        x        y  %s  %s     angle      power\n",
                    nm ? "    |g| 1/nm" : "   |g| 1/px", nm ? "      d nm" : "      d px");
        // Positions and angles as "%8.3f" would print them, but a zero never signed (the mate of
        // a spot on an axis).
        const auto f3 = [](double v) { return spectrum::fixedDecimals(v, 3); };
        for (const spectrum::Spot& spot : result.spots)
            std::printf("%3d  %4d %8s %8s  %11.6f  %10.4g  %8s  %9.4g\n", spot.number, spot.mate,
                        f3(spot.position.x).c_str(), f3(spot.position.y).c_str(), spot.g, spot.d,
                        f3(spot.angleDegrees).c_str(), spot.power);
        if (result.haveBasis)
            std::printf("Basis g1 = (%s, %s), g2 = (%s, %s)\n", f3(result.g1.x).c_str(),
                        f3(result.g1.y).c_str(), f3(result.g2.x).c_str(), f3(result.g2.y).c_str());
        else
            std::printf("%s\n", core::text(spectrum::noBasisText()));
    }
    if (!o.csvPath.empty()) {
        const std::string csv = spectrum::spotsCsv(result, nm ? o.settings.pixelSizeNm->x : 0.0);
        if (!writeBytes(o.csvPath, csv.data(), csv.size())) return 1;
    }
    return 0;
}

int runRadial(Session& s, const Options& o, const std::string& output) {
    const spectrum::RadialProfile profile = spectrum::radialProfile(s.buffers);
    // Pixels that are not square have no rotational average in 1/nm: the profile stays in
    // 1/pixel and the message says why.
    const std::string notSquare = spectrum::radialNotSquareText(o.settings.pixelSizeNm);
    if (!notSquare.empty()) std::fprintf(stderr, "%s: %s\n", kProgram, notSquare.c_str());
    const double nmPerPixel =
        notSquare.empty() && o.settings.pixelSizeNm ? o.settings.pixelSizeNm->x : 0.0;
    const std::string csv = spectrum::radialProfileCsv(profile, nmPerPixel);
    if (!writeBytes(output, csv.data(), csv.size())) return 1;
    if (!o.plotPath.empty()) {
        const spectrum::Plot plot = spectrum::plotRadialProfile(profile, 480, 320);
        const std::vector<std::uint8_t> png = spectrum::encodePng(plot.width, plot.height, plot.rgb);
        if (!writeBytes(o.plotPath, png.data(), png.size())) return 1;
    }
    return 0;
}

// One input to one output; 0 when it was written, 1 when something was refused. The options

// One input to one output: the steps of a command once its arguments are checked. 0 when it
// was written, 1 when something was refused. The options are a copy: the steps may change the
// settings, and each file of a batch starts afresh.
using Step = int (*)(Options o, const std::string& input, const std::string& output);

// Opens the input; every step then takes the file's calibration unless one is given.
bool openStep(Session& s, Options& o, const std::string& input) {
    if (!openInput(s, input, o.choice)) return false;
    if (s.source) o.settings.pixelSizeNm = s.source->pixelSizeNm;
    if (o.havePixelSize) o.settings.pixelSizeNm = image::PixelSize{o.pixelSize, o.pixelSize};
    return true;
}

// The forward transform of the opened picture into the session's spectrum buffers.
bool transformStep(Session& s, const Options& o) {
    if (spectrum::forwardTransform(s.image, s.geometry, o.settings, s.buffers, s.sink, s.busy,
                                   s.precise)) {
        // A big frame says what it is: its kind and its storage.
        if (s.buffers.isHalf() && !o.quiet)
            std::fprintf(stderr, "%s: %s\n", kProgram, spectrum::bigGridNote(s.buffers).c_str());
        return true;
    }
    if (s.sink.refusals() == 0)
        std::fprintf(stderr, "%s: the spectrum is flat (a uniform image) and cannot be shown\n",
                     kProgram);
    return false;
}

// What Save BMP writes: the picture shown.
int saveShown(Session& s, const std::string& output) {
    const bool written =
        spectrum::saveBitmapTo(output, s.image, s.geometry, s.sink, core::systemDisk(), false);
    if (!written) cli::explainOutput(kProgram, output);
    return written ? 0 : 1;
}

int infoStep(Options o, const std::string& input, const std::string&) {
    Session s(o.quiet);
    const auto description = image::describeBitmapFile(input);
    if (description) std::printf("%s\n", description->c_str());
    if (!openInput(s, input, o.choice)) return 1;
    if (s.source) {
        if (o.havePixelSize) image::setPixelSize(*s.source, o.pixelSize, "nm");
        std::printf("%s\n", image::describeImport(*s.source).c_str());
        for (const std::string& note : s.source->notes) std::printf("%s\n", note.c_str());
    } else if (o.havePixelSize) {
        std::printf("%s\n", core::formatMessage(core::text({"Pixel size %.6g nm",
                                                             "ピクセルサイズ %.6g nm"}),
                                                 o.pixelSize)
                                 .c_str());
    }
    std::printf("Opens as %ld x %ld, rows of %ld bytes, normalised file of %lu bytes\n",
                static_cast<long>(s.geometry.width), static_cast<long>(s.geometry.height),
                static_cast<long>(s.geometry.paddedWidth),
                static_cast<unsigned long>(s.geometry.fileSize));
    return 0;
}

int normaliseStep(Options o, const std::string& input, const std::string& output) {
    Session s(o.quiet);
    if (!openStep(s, o, input)) return 1;
    return saveShown(s, output);  // nothing between Open and Save BMP
}

int adjustStep(Options o, const std::string& input, const std::string& output) {
    Session s(o.quiet);
    if (!openStep(s, o, input)) return 1;
    spectrum::adjustContrastBrightness(s.image, s.geometry, o.contrast, o.brightness);
    return saveShown(s, output);
}

// A complex array in the .npy format (version 1.0): (re, im) pairs, rows top first.
bool writeComplexNpy(const std::string& path, const spectrum::BoxSpectrum& values) {
    const int n = values.side;
    std::string header = "{'descr': '<c16', 'fortran_order': False, 'shape': (" +
                         std::to_string(n) + ", " + std::to_string(n) + "), }";
    while ((10 + header.size() + 1) % 64 != 0) header += ' ';
    header += '\n';
    std::string out = "\x93NUMPY";
    out += '\x01';
    out += '\x00';
    out += static_cast<char>(header.size() & 0xFF);
    out += static_cast<char>(header.size() >> 8);
    out += header;
    const std::size_t count = static_cast<std::size_t>(n) * n;
    out.reserve(out.size() + count * 16);
    for (std::size_t i = 0; i < count; ++i) {
        out.append(reinterpret_cast<const char*>(&values.real[i]), 8);
        out.append(reinterpret_cast<const char*>(&values.imag[i]), 8);
    }
    return writeBytes(path, out.data(), out.size());
}

// The live view's picture of the box: its spectrum mapped as FFT Mode maps the main one, at one
// sample per pixel.
int boxSpectrumStep(Session& s, const Options& o, const std::string& output) {
    spectrum::GreyPixels pixels;
    spectrum::BoxSpectrum values;
    if (!checkBox(s, o) || !spectrum::greyPixelsOf(s.image, s.geometry, pixels)) return 1;
    if (!spectrum::boxSpectrum(pixels, s.precise.get(), o.box, values)) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     core::text(spectrum::spotStatusText(spectrum::SpotStatus::kNoMemory)));
        return 1;
    }
    if (!o.npyPath.empty() && !writeComplexNpy(o.npyPath, values)) return 1;
    image::CurrentImage picture;
    image::ImageGeometry geometry;
    if (spectrum::mapBoxSpectrum(std::move(values), o.settings.display, s.image, picture,
                                 geometry) != 0) {
        std::fprintf(stderr, "%s: the spectrum is flat (a uniform image) and cannot be shown\n",
                     kProgram);
        return 1;
    }
    const bool written =
        spectrum::saveBitmapTo(output, picture, geometry, s.sink, core::systemDisk(), false);
    if (!written) cli::explainOutput(kProgram, output);
    return written ? 0 : 1;
}

int spectrumStep(Options o, const std::string& input, const std::string& output) {
    Session s(o.quiet);
    if (!openStep(s, o, input)) return 1;
    if (o.haveBox) return boxSpectrumStep(s, o, output);
    if (!transformStep(s, o)) return 1;
    return saveShown(s, output);
}

constexpr core::Localized kRegionWantsBmp{
    "The region of an 8-bit image is written as a bitmap: name the output .bmp.",
    "8 ビット画像の領域はビットマップで書き出します。出力の名前を .bmp にしてください。"};
constexpr core::Localized kRegionWantsTiff{
    "The region keeps the source's %s samples in a TIFF file: name the output .tif or .tiff.",
    "領域は元の %s のサンプルのまま TIFF ファイルに書き出します。出力の名前を .tif か .tiff "
    "にしてください。"};
constexpr core::Localized kRegionSaved{"A TIFF file\n%s\nhas been successfully saved.",
                                       "TIFF ファイル\n%s\nを保存しました。"};

// The box's samples in the source's own type, little-endian, top row first (half floats
// widen to 32 bits, which holds them exactly).
std::vector<std::uint8_t> boxSamples(const image::GreyImage& source, const spectrum::Box& box,
                                     int& bits, int& format) {
    using image::SampleType;
    bits = 32;
    format = image::kSampleFloat;
    switch (source.type) {
        case SampleType::U8: bits = 8, format = image::kSampleUnsigned; break;
        case SampleType::I8: bits = 8, format = image::kSampleSigned; break;
        case SampleType::U16: bits = 16, format = image::kSampleUnsigned; break;
        case SampleType::I16: bits = 16, format = image::kSampleSigned; break;
        case SampleType::U32: bits = 32, format = image::kSampleUnsigned; break;
        case SampleType::I32: bits = 32, format = image::kSampleSigned; break;
        case SampleType::F64: bits = 64; break;
        case SampleType::F16:
        case SampleType::F32: break;
    }
    const int bytes = bits / 8;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(box.side) * box.side * bytes);
    std::uint8_t* to = out.data();
    for (int r = 0; r < box.side; ++r)
        for (int c = 0; c < box.side; ++c, to += bytes) {
            const double v = source.at(box.x + c, box.y + r);
            const auto put = [&](auto value) { std::memcpy(to, &value, sizeof value); };
            switch (source.type) {
                case SampleType::U8: put(static_cast<std::uint8_t>(v)); break;
                case SampleType::I8: put(static_cast<std::int8_t>(v)); break;
                case SampleType::U16: put(static_cast<std::uint16_t>(v)); break;
                case SampleType::I16: put(static_cast<std::int16_t>(v)); break;
                case SampleType::U32: put(static_cast<std::uint32_t>(v)); break;
                case SampleType::I32: put(static_cast<std::int32_t>(v)); break;
                case SampleType::F64: put(v); break;
                case SampleType::F16:
                case SampleType::F32: put(static_cast<float>(v)); break;
            }
        }
    return out;
}

// The box cut out of the image: an 8-bit source as a bitmap of its picture, any other in a
// TIFF of its own sample type with its pixel size.
int regionStep(Options o, const std::string& input, const std::string& output) {
    Session s(o.quiet);
    if (!openStep(s, o, input) || !checkBox(s, o)) return 1;
    if (!s.precise) {
        if (!spectrum::hasExtension(output, ".bmp")) {
            std::fprintf(stderr, "%s: %s\n", kProgram, core::text(kRegionWantsBmp));
            return 1;
        }
        spectrum::GreyPixels pixels;
        if (!spectrum::greyPixelsOf(s.image, s.geometry, pixels)) return 1;
        const int side = o.box.side;
        image::ImageGeometry geometry;
        geometry.width = geometry.height = geometry.paddedWidth = side;  // a multiple of 4
        geometry.fileSize = static_cast<std::uint32_t>(side) * side + 1078;
        image::CurrentImage crop;
        crop.dib.block.assign(spectrum::kGreyPixelOffset + static_cast<std::size_t>(side) * side, 0);
        std::memcpy(crop.dib.block.data(), s.image.dib.block.data(), spectrum::kGreyPixelOffset);
        crop.dib.setU32(image::info::biWidth, static_cast<std::uint32_t>(side));
        crop.dib.setU32(image::info::biHeight, static_cast<std::uint32_t>(side));
        crop.dib.setU32(image::info::biSizeImage, static_cast<std::uint32_t>(side) * side);
        spectrum::GreyPixels to;
        if (!spectrum::greyPixelsOf(crop, geometry, to)) return 1;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) to.at(x, y) = pixels.at(o.box.x + x, o.box.y + y);
        const bool written =
            spectrum::saveBitmapTo(output, crop, geometry, s.sink, core::systemDisk(), false);
        if (!written) cli::explainOutput(kProgram, output);
        return written ? 0 : 1;
    }
    const std::string typeName = s.source ? image::sampleTypeName(s.source->type) : "";
    if (!spectrum::hasTiffExtension(output)) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     core::formatMessage(core::text(kRegionWantsTiff), typeName.c_str()).c_str());
        return 1;
    }
    // The opened picture keeps no samples: the image is read again, alone, for them.
    const auto format = image::formatOfPath(input);
    std::optional<image::GreyImage> source;
    if (format) source = image::importImageFile(input, *format, s.sink, o.choice);
    if (!source || source->width != s.geometry.width || source->height != s.geometry.height)
        return 1;
    int bits = 0, sampleFormat = 0;
    const std::vector<std::uint8_t> samples = boxSamples(*source, o.box, bits, sampleFormat);
    const auto file = image::encodeGreyTiff(o.box.side, o.box.side, bits, sampleFormat,
                                            samples.data(), o.settings.pixelSizeNm);
    if (!file || !writeBytes(output, file->data(), file->size())) return 1;
    if (!o.quiet)
        s.sink.ask(core::formatMessage(core::text(kRegionSaved), output.c_str()), "Information",
                   core::kIconInformation);
    return 0;
}

int linewaveStep(Options o, const std::string& input, const std::string& output) {
    Session s(o.quiet);
    if (!openStep(s, o, input) || !transformStep(s, o)) return 1;
    if (!spectrum::saveFftDataTo(output, s.buffers, s.geometry, o.settings.lineWave.angle, s.sink,
                                 core::systemDisk(), false)) {
        cli::explainOutput(kProgram, output);
        return 1;
    }
    if (o.calibrated) {
        const std::string table = calibratedName(output);
        if (!spectrum::saveCalibratedLineTo(table, s.buffers, s.geometry,
                                            o.settings.lineWave.angle, o.settings.pixelSizeNm,
                                            s.sink, core::systemDisk())) {
            cli::explainOutput(kProgram, table);
            return 1;
        }
    }
    return 0;
}

int spotsStep(Options o, const std::string& input, const std::string&) {
    Session s(o.quiet);
    if (!openStep(s, o, input)) return 1;
    return runSpots(s, o);
}

int radialStep(Options o, const std::string& input, const std::string& output) {
    Session s(o.quiet);
    if (!openStep(s, o, input)) return 1;
    o.settings.display = spectrum::DisplaySettings{};
    if (!transformStep(s, o)) return 1;
    return runRadial(s, o, output);
}

// A lattice mask without a basis takes the finder's, found before the transform replaces the
// picture with the spectrum.
bool latticeBasisStep(Session& s, Options& o) {
    if (!o.haveLattice || (o.haveBasis && !o.autoRadius)) return true;
    spectrum::SpotResult found;
    if (!runFinder(s.image, s.geometry, s.precise.get(), o, found)) return false;
    if (found.status != spectrum::SpotStatus::kFound || !found.haveBasis) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     core::text(found.status == spectrum::SpotStatus::kFound
                                    ? spectrum::noBasisText()
                                    : spectrum::spotStatusText(found.status)));
        return false;
    }
    if (o.autoRadius) {
        o.settings.filter.lattice.radius = spectrum::autoLatticeRadius(found);
        std::printf("%s\n", spectrum::autoRadiusLine(found, o.settings.pixelSizeNm).c_str());
    }
    if (o.haveBasis) return true;
    o.settings.filter.lattice.g1 = found.g1;
    o.settings.filter.lattice.g2 = found.g2;
    return true;
}

// The drawn circles' mates and the lattice's check, in the frame of the spectrum.
bool placeMasks(Session& s, Options& o) {
    auto& filter = o.settings.filter;
    if (filter.symmetricCircles) {
        const std::size_t drawn = filter.circles.size();
        for (std::size_t i = 0; i < drawn; ++i)
            filter.circles.push_back(spectrum::symmetricMate(
                filter.circles[i], s.buffers.n, s.buffers.offsetX, s.buffers.offsetY));
    }
    if (!o.haveLattice) return true;
    const spectrum::LatticeCheck check = spectrum::checkLattice(filter.lattice, s.buffers.n);
    if (check == spectrum::LatticeCheck::kOk) return true;
    std::fprintf(stderr, "%s: %s\n", kProgram, core::text(spectrum::latticeCheckText(check)));
    return false;
}

// The removed part and the arrays asked for beside the filtered image.
bool writeParts(Session& s, const Options& o, const spectrum::InverseParts& parts) {
    if (!o.npyPath.empty() && !writeNpy(o.npyPath, parts.filtered, parts.width, parts.height))
        return false;
    if (!o.differenceNpyPath.empty() &&
        !writeNpy(o.differenceNpyPath, parts.removed, parts.width, parts.height))
        return false;
    if (o.differencePath.empty()) return true;
    bool written = false;
    if (spectrum::hasTiffExtension(o.differencePath)) {
        // The removed part in the source's units, as the filtered image's float TIFF.
        const spectrum::RestoredImage values = spectrum::removedPartValues(parts);
        written = spectrum::saveFloatTiffTo(o.differencePath, values, o.settings.pixelSizeNm,
                                            s.sink, core::systemDisk(), false);
    } else {
        image::CurrentImage removed = s.image;
        spectrum::renderRemovedPart(parts, removed, s.geometry);
        written = spectrum::saveBitmapTo(o.differencePath, removed, s.geometry, s.sink,
                                         core::systemDisk(), false);
    }
    if (!written) cli::explainOutput(kProgram, o.differencePath);
    return written;
}

int filterStep(Options o, const std::string& input, const std::string& output) {
    Session s(o.quiet);
    // Only the filtered image is written: the spectrum's rendering would be overwritten unseen.
    o.settings.renderSpectrum = false;
    if (!openStep(s, o, input) || !latticeBasisStep(s, o) || !transformStep(s, o) ||
        !placeMasks(s, o))
        return 1;
    // A .tif name takes the filter applied to the source's samples, in their units.
    const bool tiff = spectrum::hasTiffExtension(output);
    spectrum::RestoredImage restored;
    // The parts are two image-sized arrays of doubles: formed only for the outputs that take
    // them.
    spectrum::InverseParts parts;
    const bool wantParts =
        !o.npyPath.empty() || !o.differenceNpyPath.empty() || !o.differencePath.empty();
    if (!spectrum::inverseTransform(s.image, s.geometry, o.settings, s.buffers, s.sink, s.busy,
                                    wantParts ? &parts : nullptr, tiff ? &restored : nullptr))
        return 1;
    if (!writeParts(s, o, parts)) return 1;
    if (!tiff) return saveShown(s, output);
    const bool written = spectrum::saveFloatTiffTo(output, restored, o.settings.pixelSizeNm,
                                                   s.sink, core::systemDisk(), false);
    if (!written) cli::explainOutput(kProgram, output);
    return written ? 0 : 1;
}

// Every file one input gives: the result (`output`, "" for a command without one) and the side
// outputs, labelled for the messages.
std::vector<cli::OutputName> outputsOf(const Options& o, const std::string& output, int owner) {
    std::vector<cli::OutputName> names;
    const auto add = [&](const std::string& label, const std::string& path) {
        if (!path.empty())
            names.push_back({label.empty() ? "'" + path + "'" : label, path, true, false, owner});
    };
    add("", output);
    if (o.calibrated) add("--calibrated", calibratedName(output));
    add("--csv", o.csvPath);
    add("--plot", o.plotPath);
    add("--difference", o.differencePath);
    add("--npy", o.npyPath);
    add("--difference-npy", o.differenceNpyPath);
    return names;
}

// The files a call reads: its images and the profile file.
std::vector<std::string> inputsOf(const Options& o, std::size_t images) {
    std::vector<std::string> inputs(o.positional.begin(), o.positional.begin() + images);
    if (!o.specialPath.empty()) inputs.push_back(o.specialPath);
    return inputs;
}

// In batch work each side output goes into the output folder led by its input's name, as
// kestral-cli names its outputs: --npy s.npy for a.bmp gives DIR/a-s.npy.
Options placedFor(const Options& o, const std::string& input) {
    const std::string stem = cli::utf8Of(cli::fsPath(input).stem());
    const auto place = [&](std::string& name) {
        if (!name.empty())
            name = cli::utf8Of(cli::fsPath(o.outDir) /
                               cli::fsPath(stem + "-" + cli::utf8Of(cli::fsPath(name).filename())));
    };
    Options placed = o;
    for (std::string* name : {&placed.csvPath, &placed.plotPath, &placed.differencePath,
                              &placed.npyPath, &placed.differenceNpyPath})
        place(*name);
    return placed;
}

// How many images an input holds, for --all-images: a stack's count, 1 for a single picture or
// a file that does not open (its run says why).
int imageCountOf(const std::string& input, const Options& o) {
    const auto format = image::formatOfPath(input);
    if (!format || *format == image::ImageFormat::Bmp) return 1;
    class Quiet final : public core::MessageSink {
      public:
        int ask(std::string_view, std::string_view, unsigned) override { return core::kAnswerOk; }
    } quiet;
    image::ImportChoice first = o.choice;
    first.image = 0;
    try {
        const auto opened = image::importImageFile(input, *format, quiet, first);
        return opened ? std::max(1, opened->imageCount) : 1;
    } catch (const std::bad_alloc&) {
        return 1;
    }
}


// What a command does with each input, and what it needs besides the files.
struct Work {
    Step step;
    const char* extension = ".bmp";  // of its results in batch work
    const char* needs = nullptr;     // the usage error when its own option is missing
    bool (*satisfied)(const Options&) = nullptr;
};

// Several inputs, each result in the output folder under its input's name; with --all-images
// one result per image, under the name numbered from 0001.
int runBatch(const Work& work, const Options& o) {
    namespace fs = std::filesystem;
    std::vector<std::string> outputs;
    std::vector<Options> placed;
    std::vector<std::string> sources;  // the input of each run
    std::vector<cli::OutputName> names;
    for (std::size_t owner = 0; owner < o.positional.size(); ++owner) {
        const std::string& input = o.positional[owner];
        const int images = o.allImages ? imageCountOf(input, o) : 1;
        for (int k = 0; k < images; ++k) {
            // Every picture is written as a bitmap whatever the input's format; a float TIFF
            // only when asked for.
            fs::path name = cli::fsPath(input).filename();
            const char* extension = o.tif ? ".tif" : work.extension;
            if (o.allImages) {
                char number[16];
                std::snprintf(number, sizeof number, "_%04d", k + 1);
                name = cli::fsPath(cli::utf8Of(name.stem()) + number + extension);
            } else {
                name.replace_extension(extension);
            }
            outputs.push_back(cli::utf8Of(cli::fsPath(o.outDir) / name));
            placed.push_back(placedFor(o, o.allImages ? cli::utf8Of(name) : input));
            if (o.allImages) placed.back().choice.image = k;
            sources.push_back(input);
            const auto own = outputsOf(placed.back(), outputs.back(), static_cast<int>(owner));
            names.insert(names.end(), own.begin(), own.end());
        }
    }
    const std::vector<std::string> inputs = inputsOf(o, o.positional.size());
    if (const auto clash = cli::findClash(inputs, names))
        return cli::usageError(tool(), cli::clashMessage(inputs, names, *clash));
    std::error_code error;
    fs::create_directories(cli::fsPath(o.outDir), error);
    if (!fs::is_directory(cli::fsPath(o.outDir), error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     cli::fill(cli::texts::kCannotMakeFolder, {o.outDir}).c_str());
        return 1;
    }
    std::vector<std::string> summary;
    int written = 0;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const bool ok = work.step(placed[i], sources[i], outputs[i]) == 0;
        written += ok ? 1 : 0;
        summary.push_back(ok ? cli::fill(cli::texts::kSummaryWritten, {sources[i], outputs[i]})
                             : cli::fill(cli::texts::kSummaryRefused, {sources[i]}));
    }
    for (const std::string& line : summary) std::printf("%s\n", line.c_str());
    std::printf("%s\n", cli::fill(cli::texts::kSummaryTotal,
                                  {std::to_string(written), std::to_string(outputs.size())})
                            .c_str());
    return written == static_cast<int>(outputs.size()) ? 0 : 1;
}

// Reads and checks a command's arguments, then runs its steps on one input or, with --out-dir,
// on every input.
int runImageCommand(const Work& work, const std::string& command,
                    const std::vector<std::string>& args) {
    Options o;
    const std::string error = parseOptions(command, args, o);
    if (!error.empty()) return cli::usageError(tool(), error);
    const bool batch = !o.outDir.empty();
    const std::size_t wantPositional = cli::findCommand(tool(), command)->inputs;
    if (batch && o.positional.empty())
        return cli::usageError(tool(), cli::fill(cli::texts::kOutDirNeedsInputs, {command}));
    if (!batch && o.positional.size() != wantPositional)
        return cli::usageError(tool(), command + " takes " + std::to_string(wantPositional) +
                                           " file name" + (wantPositional > 1 ? "s" : ""));
    if (work.satisfied && !work.satisfied(o)) return cli::usageError(tool(), work.needs);
    // The single form's output; batch work names its own.
    const std::string output =
        !batch && wantPositional > 1 ? o.positional[1] : std::string();
    if (!batch) {
        // No output may replace an input or another output: refused before anything is read.
        const std::vector<std::string> inputs = inputsOf(o, 1);
        const auto names = outputsOf(o, output, -1);
        if (const auto clash = cli::findClash(inputs, names))
            return cli::usageError(tool(), cli::clashMessage(inputs, names, *clash));
    }
    if (!o.specialPath.empty()) {
        std::string ini;
        if (!readProfile(o.specialPath, ini)) return 1;
        o.settings.filter.specialProfile = spectrum::specialProfileFromIni(ini);
    }
    if (batch) return runBatch(work, o);
    return work.step(o, o.positional[0], output);
}

cli::Run imageCommand(Work work) {
    return [work](const std::string& command, const std::vector<std::string>& args) {
        return runImageCommand(work, command, args);
    };
}

// The forms that read one file and write one; with --out-dir, several.
constexpr core::Localized kOneToOne{
    "IN.bmp OUT.bmp [options]\n[options] --out-dir DIR IN.bmp...",
    "入力.bmp 出力.bmp [オプション]\n[オプション] --out-dir フォルダー 入力.bmp..."};

std::vector<cli::Command> commands() {
    return {
        {"info",
         1,
         {{"FILE [options]", "ファイル [オプション]"},
          {"describe the file and check that it can be opened",
           "ファイルの内容を表示し、開けるか確かめる"},
          {"Describes the bitmap file and checks that it opens as the image program opens it.",
           "ビットマップファイルの内容を表示し、画像プログラムと同じように開けるか確かめます。"},
          "voralin00-cli info lattice.bmp"},
         imageCommand({infoStep})},
        {"normalise",
         2,
         {kOneToOne,
          {"write the opened (normalised) image", "開いた（正規化した）画像を書き出す"},
          {"Writes the opened image: 8-bit grey, bottom-up, rows padded to four bytes.",
           "開いた画像（8 ビットグレー、下から上、行は 4 バイト境界）を書き出します。"},
          "voralin00-cli normalise lattice.bmp opened.bmp"},
         imageCommand({normaliseStep})},
        {"spectrum",
         2,
         {kOneToOne,
          {"write the spectrum picture", "スペクトル画像を書き出す"},
          {"Writes the spectrum picture (the Fourier transform of the image).",
           "スペクトル画像（画像のフーリエ変換）を書き出します。"},
          "voralin00-cli spectrum lattice.bmp spectrum.bmp --log"},
         imageCommand({spectrumStep})},
        {"filter",
         2,
         {kOneToOne,
          {"filter the spectrum and write the inverse transform",
           "スペクトルにフィルターをかけ、逆変換した画像を書き出す"},
          {"Filters the spectrum and writes the inverse transform (the filtered image). The "
           "original brightness range is kept unless --dark or --bright is given. OUT.tif or "
           "OUT.tiff: the filter applied to the source's samples, in their units, as a 32-bit "
           "float TIFF with its pixel size.",
           "スペクトルにフィルターをかけ、逆変換した画像（フィルター後の画像）を書き出します。"
           "--dark か --bright を指定しない限り元の明るさの範囲を保ちます。出力.tif または "
           "出力.tiff: 元の画像のサンプルにその単位のままフィルターをかけ、ピクセルサイズ付きの "
           "32 ビット float TIFF で書き出します。"},
          "voralin00-cli filter lattice.bmp filtered.bmp --circles-outside \"300,240,12\"\n"
          "voralin00-cli filter lattice.bmp bragg.bmp --lattice-mask keep --radius 4 "
          "--edge-sigma 1"},
         imageCommand({filterStep})},
        {"linewave",
         2,
         {{"IN.bmp OUT.txt --angle DEG [options]\n--angle DEG [options] --out-dir DIR IN.bmp...",
           "入力.bmp 出力.txt --angle 角度 [オプション]\n--angle 角度 [オプション] --out-dir "
           "フォルダー 入力.bmp..."},
          {"write the spectrum values along a line through the centre",
           "中心を通る線に沿ったスペクトルの値を書き出す"},
          {"Writes the spectrum values along the line through the centre at the angle as the "
           "FFT data text file.",
           "中心を通る指定角度の線に沿ったスペクトルの値を FFT データのテキストファイルに書き"
           "出します。"},
          "voralin00-cli linewave lattice.bmp line.txt --angle 20"},
         imageCommand({linewaveStep, ".txt", "linewave needs --angle DEG",
                       [](const Options& o) { return o.haveAngle; }})},
        {"adjust",
         2,
         {kOneToOne,
          {"change contrast and brightness in steps", "コントラストと明るさを段階で変える"},
          {"Changes contrast and brightness in steps (at least one of them).",
           "コントラストと明るさを段階で変えます（少なくとも一方を指定）。"},
          "voralin00-cli adjust lattice.bmp brighter.bmp --brightness 2"},
         imageCommand({adjustStep, ".bmp", "adjust needs --contrast K and/or --brightness K",
                       [](const Options& o) { return o.haveContrast || o.haveBrightness; }})},
        {"spots",
         1,
         {{"IN.bmp [options]", "入力.bmp [オプション]"},
          {"find the lattice spots and the lattice basis in the spectrum",
           "スペクトルから格子スポットと格子の基本ベクトルを探す"},
          {"Finds the lattice spots in the spectrum of the image times a Hann window (no mirror "
           "ghosts), lists them with their Friedel mates (position in frame samples from the "
           "centre, x right, y down; |g|, d-spacing, angle in degrees counter-clockwise from x, "
           "power) and gives the lattice basis g1, g2.",
           "画像にハン窓をかけたスペクトル（鏡像のゴーストなし）から格子スポットを探し、フリー"
           "デル対とともに一覧にし（位置は中心からのフレームサンプルで x は右、y は下。|g|、"
           "面間隔、x から反時計回りの角度、パワー）、格子の基本ベクトル g1, g2 を示します。"},
          "voralin00-cli spots lattice.bmp --csv spots.csv"},
         imageCommand({spotsStep})},
        {"radial",
         2,
         {{"IN.bmp OUT.csv [options]", "入力.bmp 出力.csv [オプション]"},
          {"write the rotationally averaged power spectrum as CSV",
           "回転平均したパワースペクトルを CSV に書き出す"},
          {"Writes the rotationally averaged power spectrum against |g| as CSV (bins of one frame "
           "sample up to the sampling limit).",
           "回転平均したパワースペクトルを |g| に対して CSV に書き出します（1 サンプル幅の区間、"
           "サンプリングの限界まで）。"},
          "voralin00-cli radial lattice.bmp profile.csv --plot profile.png --frame windowed"},
         imageCommand({radialStep})},
        {"region",
         2,
         {{"IN OUT --box X Y SIZE [options]", "入力 出力 --box X Y SIZE [オプション]"},
          {"write a square region of the image", "画像の正方形の領域を書き出す"},
          {"Writes the region of --box: an 8-bit image as a bitmap (OUT.bmp), any other in a "
           "TIFF of the source's own sample type with its pixel size (OUT.tif).",
           "--box の領域を書き出します: 8 ビット画像はビットマップ（出力.bmp）、それ以外は元の"
           "サンプル型のままピクセルサイズ付きの TIFF（出力.tif）で。"},
          "voralin00-cli region lattice.bmp corner.bmp --box 0 0 256"},
         imageCommand({regionStep, ".bmp", "region needs --box X Y SIZE",
                       [](const Options& o) { return o.haveBox; }})},
    };
}

std::vector<cli::OptionInfo> listedOptions() {
    Options scratch;
    return cli::describe(optionTable(scratch));
}

}  // namespace

const cli::Tool& tool() {
    static const cli::Tool kTool{
        kProgram,
        kVersion,
        commands(),
        listedOptions,
        {"Opens an 8-bit grey BMP (uncompressed or RLE8, at least 64 x 64) as the image program "
         "does, and writes what its Save BMP or Save File would write after the same steps. "
         "Every command also opens microscope images by their extension: TIFF (.tif, .tiff), "
         "PNG, MRC (.mrc, .mrcs, .map), DM3/DM4, TIA series (.ser) and EMD (.emd), 8 to 64 bits "
         "a sample; a source above 8 bits is transformed at full precision and shown between "
         "its 0.1 and 99.9 percentiles.",
         "8 ビットグレーの BMP（無圧縮または RLE8、64 x 64 以上）を画像プログラムと同じように"
         "開き、同じ手順の後にその Save BMP や Save File が書くものを書き出します。どのコマンド"
         "も顕微鏡の画像を拡張子で見分けて開きます: TIFF (.tif, .tiff)、PNG、MRC (.mrc, .mrcs, "
         ".map)、DM3/DM4、TIA シリーズ (.ser)、EMD (.emd)、1 サンプル 8 から 64 ビット。8 "
         "ビットを超える画像は元の精度のまま変換し、0.1 から 99.9 パーセンタイルの範囲で表示"
         "します。"},
        {"normalise, spectrum, filter, linewave and adjust take --out-dir DIR with one or more "
         "inputs of any format the single form opens: each result goes to DIR under its input's "
         "name as a bitmap (DIR/NAME.bmp; .txt for linewave; filter --tif: DIR/NAME.tif, the "
         "32-bit float TIFF), side outputs led by the input's name (--npy s.npy for a.bmp gives "
         "DIR/a-s.npy), one summary line per file follows, and the exit status is 1 when any "
         "file was refused. No output may replace an input or another output.\n"
         "Messages go to standard error; the exit status is 0 on success, 1 when the input or "
         "an output was refused, 2 for a usage error.\n",
         "normalise, spectrum, filter, linewave, adjust は --out-dir フォルダー と 1 つ以上の"
         "入力（1 つずつの形で開ける形式ならどれでも）を受け付けます: 各結果は入力の名前で "
         "フォルダー にビットマップとして書きます（フォルダー/名前.bmp。linewave は .txt、"
         "filter --tif は 32 ビット float TIFF のフォルダー/名前.tif）。副出力は入力の名前を"
         "先頭に付け（a.bmp の --npy s.npy は フォルダー/a-s.npy）、ファイルごとに 1 行の"
         "まとめが続きます。拒否されたファイルがあれば終了コードは 1 です。出力が入力や別の"
         "出力を上書きすることはできません。\n"
         "メッセージは標準エラーに出ます。終了コードは成功で 0、入力か出力が拒否されたとき "
         "1、使い方の誤りで 2 です。\n"},
    };
    return kTool;
}

}  // namespace voralin00cli
