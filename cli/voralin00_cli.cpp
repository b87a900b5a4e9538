// voralin00-cli: the image spectrum engine without a window, for batch work and scripting.
//
// Every input is validated and normalised exactly as the program's Open does; the pictures
// written are what the program's Save BMP writes after the same steps.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/cli_common.h"
#include "cli/cli_texts.h"
#include "core/busy.h"
#include "core/disk.h"
#include "core/localized.h"
#include "core/message_sink.h"
#include "core/stderr_sink.h"
#include "image/bmp_file.h"
#include "image/file_io.h"
#include "image/normalise.h"
#include "spectrum/engine/contrast.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/inverse.h"
#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/png_writer.h"
#include "spectrum/engine/radial.h"
#include "spectrum/engine/save.h"
#include "spectrum/engine/spot_finder.h"

namespace {

constexpr const char* kProgram = "voralin00-cli";
// The release of the image program whose steps the tool repeats.
constexpr const char* kVersion = "1.20";

constexpr const char* kUsage =
    "Usage:\n"
    "  voralin00-cli info FILE\n"
    "  voralin00-cli normalise IN.bmp OUT.bmp\n"
    "  voralin00-cli spectrum IN.bmp OUT.bmp [--quantity root|real|imag] [--log] [--clip C]\n"
    "                [--lower-clip D] [--invert] [--rainbow] [--no-expand]\n"
    "  voralin00-cli filter IN.bmp OUT.bmp [--filter none|low|high|band-pass|band-cut]\n"
    "                [--wa X] [--wb X] [--special PROFILE.ini] [--circles-outside \"x,y,r;...\"]\n"
    "                [--circles-inside \"x,y,r;...\"] [--dark D --bright B] [--no-expand]\n"
    "  voralin00-cli linewave IN.bmp OUT.txt --angle DEG [--no-expand] [--calibrated]\n"
    "  voralin00-cli adjust IN.bmp OUT.bmp --contrast K --brightness K\n"
    "  voralin00-cli spots IN.bmp [--count N] [--min-radius PX] [--csv OUT.csv]\n"
    "                [--pixel-size NM] [--no-expand]\n"
    "  voralin00-cli radial IN.bmp OUT.csv [--plot OUT.png] [--frame mirror|windowed]\n"
    "                [--pixel-size NM] [--no-expand]\n"
    "Lattice and frame options:\n"
    "  spectrum, filter, linewave: [--frame mirror|windowed]; spectrum: [--whole-frame]\n"
    "  filter: [--lattice-mask keep|remove --radius PX [--basis \"x1,y1;x2,y2\"]]\n"
    "          [--wiener | --absf] [--noise-scale C] [--smoothing H] [--edge-sigma PX]\n"
    "          [--symmetric] [--difference OUT.bmp] [--npy OUT.npy] [--difference-npy OUT.npy]\n"
    "  voralin00-cli COMMAND [options] --out-dir DIR IN.bmp...\n"
    "  voralin00-cli COMMAND --help | --version\n"
    "\n"
    "Opens an 8-bit grey BMP (uncompressed or RLE8, at least 64 x 64) as the image program does,\n"
    "and writes what its Save BMP or Save File would write after the same steps.\n"
    "Every command also opens microscope images by their extension: TIFF (.tif, .tiff), PNG,\n"
    "MRC (.mrc, .mrcs, .map), DM3/DM4, TIA series (.ser) and EMD (.emd), 8 to 64 bits a\n"
    "sample; a source above 8 bits is transformed at full precision and shown between its 0.1\n"
    "and 99.9 percentiles.\n"
    "  --pixel-size NM  the calibration in nanometres per pixel (any command; overrides the\n"
    "             file's own)\n"
    "  --signal N  an EMD file's signal (detector) N as info lists them (any command; the\n"
    "             largest real image by default)\n"
    "  --image N  image N (from 1) of a stack: a multi-page TIFF, an MRC stack, a DM movie or\n"
    "             series, a TIA series, EMD frames (any command; the first by default)\n"
    "  --all-images  with --out-dir: every image of each input, DIR/NAME_0001.EXT and on\n"
    "             (side outputs led by NAME_0001 alike)\n"
    "  info       describe the file and check that it can be opened\n"
    "  normalise  write the opened (normalised) image\n"
    "  spectrum   write the spectrum picture: --quantity root power (default), real or imaginary\n"
    "             part; --log scale; --clip C: upper clipping at average x C (1..10000, default\n"
    "             10, linear scale); --lower-clip D: lower clipping at average x 0.9 / D\n"
    "             (1..10000); --invert; --rainbow colours; --no-expand: frame without margins\n"
    "  filter     filter the spectrum and write the inverse transform: a standard filter with\n"
    "             fractions --wa/--wb of half the image diagonal (0..1, defaults 0.5 and 0.8), a\n"
    "             special radial profile from the [Special Filter] section of an INI file, or\n"
    "             mask circles in picture pixels (x from the left, y from the top, radius).\n"
    "             The original brightness range is kept unless --dark (0..100) and --bright\n"
    "             (155..255) are given. OUT.tif or OUT.tiff: the filter applied to the source's\n"
    "             samples, in their units, as a 32-bit float TIFF with its pixel size\n"
    "  linewave   write the spectrum values along the line through the centre at --angle\n"
    "             (whole degrees -90..90) as the FFT data text file; --calibrated also writes\n"
    "             OUT_calibrated.csv with each sample's spatial frequency (1/nm, or 1/pixel\n"
    "             without a pixel size)\n"
    "  adjust     change contrast and brightness in steps (-10..10 each)\n"
    "  spots      find the lattice spots in the spectrum of the Hann-windowed image: the --count\n"
    "             strongest Friedel pairs (default 8) outside --min-radius frame samples, with\n"
    "             position (samples from the centre, x right, y down), |g|, d-spacing, angle\n"
    "             (degrees counter-clockwise from x) and power; the lattice basis g1, g2; --csv\n"
    "             writes the list; --pixel-size (nm per pixel) gives |g| in 1/nm and d in nm\n"
    "  radial     write the rotationally averaged power spectrum as CSV, --plot as a PNG\n"
    "  --frame windowed: the image times a Hann window in zeros instead of mirror copies (the\n"
    "             inverse transform always uses the mirror frame); --whole-frame: show the whole\n"
    "             frame up to the sampling limit, binned to the picture\n"
    "  --lattice-mask keep|remove: keep or cut discs of --radius frame samples at every point\n"
    "             n g1 + m g2 of the lattice (--basis in samples of the shown spectrum from its\n"
    "             centre; without it the spot finder's basis); --edge-sigma: Gaussian edges of\n"
    "             that width for circles, lattice and standard filters (0: hard edges)\n"
    "  --wiener, --absf: Wiener and average background subtraction filters, noise floor the\n"
    "             radially averaged power times --noise-scale (default 1); --smoothing: Wiener\n"
    "             power averaged over (2H+1)^2 elements (default 1)\n"
    "  --symmetric: every circle also gets its centro-symmetric mate (counts as two circles)\n"
    "  --difference: write the removed part (the inverse of the spectrum times one minus the\n"
    "             filter) as a picture; --npy, --difference-npy: the filtered image and the\n"
    "             removed part as float64 arrays\n"
    "Every command but info takes --out-dir DIR with one or more inputs of any format the single\n"
    "form opens: each result goes to DIR under its input's name as a bitmap (DIR/NAME.bmp; .txt\n"
    "for linewave; filter --tif: DIR/NAME.tif, the 32-bit float TIFF), side outputs led by the\n"
    "input's name (--npy s.npy for a.bmp gives DIR/a-s.npy), one summary line per file follows,\n"
    "and the exit status is 1 when any file was refused. No output may replace an input or\n"
    "another output. --quiet leaves out the success messages.\n"
    "Messages go to standard error; the exit status is 0 on success, 1 when the input or an\n"
    "output was refused, 2 for a usage error.\n";

int usageError(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n(run '%s --help' for usage)\n", kProgram, what.c_str(), kProgram);
    return 2;
}

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
    bool haveNoiseScale = false, haveSmoothing = false;
    int latticeMode = 0;
    bool havePixelSize = false;  // --pixel-size given: it overrides the file's calibration
    image::ImportChoice choice;  // which signal of an EMD file, which image of a stack
    bool allImages = false;      // --all-images: every image of each input
    bool calibrated = false;
    bool tif = false;  // filter --out-dir: float TIFF results
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

// The commands, the file names each takes and their help.
const std::vector<cli::Command> kCommands = {
    {"info",
     1,
     {"Usage: voralin00-cli info FILE\n"
      "Describes the bitmap file and checks that it opens as the image program opens it.\n"
      "Example:\n"
      "  voralin00-cli info lattice.bmp\n",
      "使い方: voralin00-cli info ファイル\n"
      "ビットマップファイルの内容を表示し、画像プログラムと同じように開けるか確かめます。\n"
      "例:\n"
      "  voralin00-cli info lattice.bmp\n"}},
    {"normalise",
     2,
     {"Usage: voralin00-cli normalise IN.bmp OUT.bmp [--quiet] | --out-dir DIR IN.bmp...\n"
      "Writes the opened image: 8-bit grey, bottom-up, rows padded to four bytes.\n"
      "Example:\n"
      "  voralin00-cli normalise lattice.bmp opened.bmp\n",
      "使い方: voralin00-cli normalise 入力.bmp 出力.bmp [--quiet] | --out-dir フォルダー "
      "入力.bmp...\n"
      "開いた画像（8 ビットグレー、下から上、行は 4 バイト境界）を書き出します。\n"
      "例:\n"
      "  voralin00-cli normalise lattice.bmp opened.bmp\n"}},
    {"spectrum",
     2,
     {"Usage: voralin00-cli spectrum IN.bmp OUT.bmp [options] | --out-dir DIR IN.bmp...\n"
      "Writes the spectrum picture (the Fourier transform of the image).\n"
      "  --quantity root|real|imag  root power (default), real or imaginary part\n"
      "  --log                      logarithmic scale\n"
      "  --clip C                   upper clipping at average x C (1..10000, default 10; linear\n"
      "                             scale only)\n"
      "  --lower-clip D             lower clipping at average x 0.9 / D (1..10000)\n"
      "  --invert, --rainbow        inverted grey levels, rainbow colours\n"
      "  --no-expand                the frame without margins\n"
      "  --frame mirror|windowed    mirror copies around the image (default), or the image\n"
      "                             times a Hann window in zeros (no mirror ghosts)\n"
      "  --whole-frame              the whole frame up to the sampling limit, binned\n"
      "  --quiet                    no success messages\n"
      "Example:\n"
      "  voralin00-cli spectrum lattice.bmp spectrum.bmp --log\n",
      "使い方: voralin00-cli spectrum 入力.bmp 出力.bmp [オプション] | --out-dir フォルダー "
      "入力.bmp...\n"
      "スペクトル画像（画像のフーリエ変換）を書き出します。\n"
      "  --quantity root|real|imag  パワーの平方根（既定）、実部、虚部\n"
      "  --log                      対数表示\n"
      "  --clip C                   平均 x C で上限を切る（1..10000、既定 10。線形表示のみ）\n"
      "  --lower-clip D             平均 x 0.9 / D で下限を切る（1..10000）\n"
      "  --invert, --rainbow        階調の反転、虹色表示\n"
      "  --no-expand                余白なしの枠\n"
      "  --frame mirror|windowed    画像の周りを鏡像で埋める（既定）か、ハン窓をかけた画像の\n"
      "                             周りを 0 で埋める（鏡像のゴーストなし）\n"
      "  --whole-frame              サンプリングの限界までのフレーム全体を縮小して表示\n"
      "  --quiet                    成功のメッセージを出さない\n"
      "例:\n"
      "  voralin00-cli spectrum lattice.bmp spectrum.bmp --log\n"}},
    {"filter",
     2,
     {"Usage: voralin00-cli filter IN.bmp OUT.bmp [options] | --out-dir DIR IN.bmp...\n"
      "Filters the spectrum and writes the inverse transform (the filtered image).\n"
      "  --filter none|low|high|band-pass|band-cut  a standard radial filter\n"
      "  --wa X, --wb X             its radii as fractions of half the image diagonal (0..1,\n"
      "                             defaults 0.5 and 0.8); they need --filter\n"
      "  --special PROFILE.ini      the radial profile of an INI file's [Special Filter]\n"
      "  --circles-outside \"x,y,r;...\"  keep only the spots inside the circles (mask)\n"
      "  --circles-inside \"x,y,r;...\"   cut the spots inside the circles\n"
      "                             (picture pixels of the spectrum: x from the left, y from\n"
      "                             the top, radius; 1 to 100 circles)\n"
      "  --dark D --bright B        new brightness range (0..100, 155..255) instead of the\n"
      "                             original one\n"
      "  --symmetric                every circle also gets its centro-symmetric mate\n"
      "  --lattice-mask keep|remove --radius PX [--basis \"x1,y1;x2,y2\"]\n"
      "                             keep or cut discs at every lattice point n g1 + m g2 (basis\n"
      "                             in samples from the centre; default: the spot finder's)\n"
      "  --edge-sigma PX            Gaussian edges for circles, lattice and standard filters\n"
      "  --wiener, --absf           Wiener or average background subtraction filter\n"
      "  --noise-scale C            their noise floor: radial mean power x C (default 1)\n"
      "  --smoothing H              Wiener: power averaged over (2H+1)^2 elements (default 1)\n"
      "  --frame mirror|windowed    the frame of the spectrum (the inverse uses the mirror frame)\n"
      "  --difference OUT.bmp       also write the removed part (OUT.tif: in the source's units)\n"
      "  --npy OUT.npy, --difference-npy OUT.npy  the filtered image, the removed part as\n"
      "                             float64 arrays in levels (the source's range on 0..255)\n"
      "  --tif                      with --out-dir: the results as float TIFFs, DIR/NAME.tif\n"
      "  --no-expand, --quiet\n"
      "Example:\n"
      "  voralin00-cli filter lattice.bmp filtered.bmp --circles-outside \"300,240,12\"\n"
      "  voralin00-cli filter lattice.bmp bragg.bmp --lattice-mask keep --radius 4 --edge-sigma 1\n",
      "使い方: voralin00-cli filter 入力.bmp 出力.bmp [オプション] | --out-dir フォルダー "
      "入力.bmp...\n"
      "スペクトルにフィルターをかけ、逆変換した画像（フィルター後の画像）を書き出します。\n"
      "  --filter none|low|high|band-pass|band-cut  標準の同心円フィルター\n"
      "  --wa X, --wb X             その半径（画像の対角線の半分に対する比、0..1、既定 0.5 と\n"
      "                             0.8）。--filter と一緒に指定します\n"
      "  --special PROFILE.ini      INI ファイルの [Special Filter] の動径プロファイル\n"
      "  --circles-outside \"x,y,r;...\"  円の内側のスポットだけを残す（マスク）\n"
      "  --circles-inside \"x,y,r;...\"   円の内側のスポットを除く\n"
      "                             （スペクトル画像の画素: x は左から、y は上から、半径。\n"
      "                             1 から 100 個の円）\n"
      "  --dark D --bright B        元の明るさの範囲の代わりに使う範囲（0..100、155..255）\n"
      "  --symmetric                各円に中心対称の相方の円も置く\n"
      "  --lattice-mask keep|remove --radius PX [--basis \"x1,y1;x2,y2\"]\n"
      "                             格子点 n g1 + m g2 ごとの円を残す／除く（基本ベクトルは\n"
      "                             中心からのサンプル。既定はスポット探索の結果）\n"
      "  --edge-sigma PX            円・格子・標準フィルターの縁をガウス型でぼかす幅\n"
      "  --wiener, --absf           ウィーナーフィルター、平均背景差分フィルター\n"
      "  --noise-scale C            その雑音レベル: 動径平均パワー x C（既定 1）\n"
      "  --smoothing H              ウィーナー: (2H+1)^2 要素で平均したパワー（既定 1）\n"
      "  --frame mirror|windowed    スペクトルのフレーム（逆変換は常に鏡像フレーム）\n"
      "  --difference 出力.bmp      除いた部分も書き出す（出力.tif なら元の画像の単位）\n"
      "  --npy 出力.npy, --difference-npy 出力.npy  フィルター後の画像と除いた部分を\n"
      "                             float64 配列で書き出す（元の範囲を 0..255 に写したレベル）\n"
      "  --tif                      --out-dir と一緒に: 結果を float TIFF（フォルダー/名前.tif）で\n"
      "  --no-expand, --quiet\n"
      "例:\n"
      "  voralin00-cli filter lattice.bmp filtered.bmp --circles-outside \"300,240,12\"\n"
      "  voralin00-cli filter lattice.bmp bragg.bmp --lattice-mask keep --radius 4 --edge-sigma 1\n"}},
    {"linewave",
     2,
     {"Usage: voralin00-cli linewave IN.bmp OUT.txt --angle DEG [--no-expand] [--quiet]\n"
      "Writes the spectrum values along the line through the centre at the angle (whole degrees\n"
      "-90..90) as the FFT data text file.\n"
      "Example:\n"
      "  voralin00-cli linewave lattice.bmp line.txt --angle 20\n",
      "使い方: voralin00-cli linewave 入力.bmp 出力.txt --angle 角度 [--no-expand] [--quiet]\n"
      "中心を通る指定角度（-90..90 の整数の度）の線に沿ったスペクトルの値を FFT データの\n"
      "テキストファイルに書き出します。\n"
      "例:\n"
      "  voralin00-cli linewave lattice.bmp line.txt --angle 20\n"}},
    {"adjust",
     2,
     {"Usage: voralin00-cli adjust IN.bmp OUT.bmp [--contrast K] [--brightness K] [--quiet]\n"
      "Changes contrast and brightness in steps (-10..10 each; at least one of them).\n"
      "Example:\n"
      "  voralin00-cli adjust lattice.bmp brighter.bmp --brightness 2\n",
      "使い方: voralin00-cli adjust 入力.bmp 出力.bmp [--contrast K] [--brightness K] [--quiet]\n"
      "コントラストと明るさを段階で変えます（それぞれ -10..10。少なくとも一方を指定）。\n"
      "例:\n"
      "  voralin00-cli adjust lattice.bmp brighter.bmp --brightness 2\n"}},
    {"spots",
     1,
     {"Usage: voralin00-cli spots IN.bmp [--count N] [--min-radius PX] [--csv OUT.csv]\n"
      "                           [--pixel-size NM] [--no-expand] [--quiet]\n"
      "Finds the lattice spots in the spectrum of the image times a Hann window (no mirror\n"
      "ghosts), lists them with their Friedel mates and gives the lattice basis g1, g2.\n"
      "  --count N          at most N pairs of spots (1..1000, default 8)\n"
      "  --min-radius PX    leave out the centre up to PX frame samples (default: four widths\n"
      "                     of the window's resolution)\n"
      "  --csv OUT.csv      write the list with a header row: number, mate, x and y (frame\n"
      "                     samples from the centre, x right, y down), |g|, d-spacing, angle\n"
      "                     (degrees counter-clockwise from x), power, significance\n"
      "  --pixel-size NM    nm per pixel: |g| in 1/nm and d in nm instead of per pixel\n"
      "Example:\n"
      "  voralin00-cli spots lattice.bmp --csv spots.csv\n",
      "使い方: voralin00-cli spots 入力.bmp [--count N] [--min-radius PX] [--csv 出力.csv]\n"
      "                           [--pixel-size NM] [--no-expand] [--quiet]\n"
      "画像にハン窓をかけたスペクトル（鏡像のゴーストなし）から格子スポットを探し、\n"
      "フリーデル対とともに一覧にし、格子の基本ベクトル g1, g2 を示します。\n"
      "  --count N          スポットの対を最大 N 組（1..1000、既定 8）\n"
      "  --min-radius PX    中心から PX サンプルまでを除く（既定: 窓の分解能の 4 倍）\n"
      "  --csv 出力.csv     見出し行付きで一覧を書き出す: 番号、対、x と y（中心からの\n"
      "                     フレームサンプル、x は右、y は下）、|g|、面間隔、角度（x から\n"
      "                     反時計回りの度）、パワー、有意度\n"
      "  --pixel-size NM    1 画素の nm: |g| を 1/nm、d を nm で示す\n"
      "例:\n"
      "  voralin00-cli spots lattice.bmp --csv spots.csv\n"}},
    {"radial",
     2,
     {"Usage: voralin00-cli radial IN.bmp OUT.csv [--plot OUT.png] [--frame mirror|windowed]\n"
      "                            [--pixel-size NM] [--no-expand] [--quiet]\n"
      "Writes the rotationally averaged power spectrum against |g| as CSV (bins of one frame\n"
      "sample up to the sampling limit), and with --plot a PNG plot of it.\n"
      "Example:\n"
      "  voralin00-cli radial lattice.bmp profile.csv --plot profile.png --frame windowed\n",
      "使い方: voralin00-cli radial 入力.bmp 出力.csv [--plot 出力.png] [--frame mirror|windowed]\n"
      "                            [--pixel-size NM] [--no-expand] [--quiet]\n"
      "回転平均したパワースペクトルを |g| に対して CSV に書き出します（1 サンプル幅の区間、\n"
      "サンプリングの限界まで）。--plot でその PNG のグラフも書き出します。\n"
      "例:\n"
      "  voralin00-cli radial lattice.bmp profile.csv --plot profile.png --frame windowed\n"}},
};

// Every option, with the commands that take it (see cli/cli_common.h).
std::vector<cli::Option> optionTable(Options& o) {
    auto& s = o.settings;
    const char* const circlesHelp =
        " needs \"x,y,r;...\" with 1 to 100 circles of whole, non-negative numbers";
    auto circles = [&o, circlesHelp](int kind) -> cli::Apply {
        return [&o, circlesHelp, kind](const std::string& name,
                                       const std::vector<std::string>& values) {
            if (!parseCircles(values[0], o.settings.filter.circles)) return name + circlesHelp;
            o.settings.filter.kind = kind;
            ++o.filterChoices;
            return std::string();
        };
    };
    return {
        {"--quantity", "spectrum", 1, "root|real|imag",
         cli::oneOf({"root", "real", "imag"}, s.display.displayQuantity)},
        {"--log", "spectrum", 0, "", cli::flag(s.display.logScale)},
        {"--clip", "spectrum", 1, "C",
         cli::also(cli::numberIn(1, 10000, s.display.upperClipFactor),
                   [&o] { o.haveClip = true; })},
        {"--lower-clip", "spectrum", 1, "D",
         cli::also(cli::numberIn(1, 10000, s.display.lowerClipDivisor),
                   [&s] { s.display.lowerClipping = true; })},
        {"--invert", "spectrum", 0, "", cli::flag(s.display.invertedDisplay)},
        {"--rainbow", "spectrum", 0, "", cli::flag(s.display.rainbowPalette)},
        {"--no-expand", "spectrum filter linewave spots radial", 0, "",
         [&s](const std::string&, const std::vector<std::string>&) {
             s.useExpandedImage = false;
             return std::string();
         }},
        {"--filter", "filter", 1, "none|low|high|band-pass|band-cut",
         cli::also(
             cli::oneOf({"none", "low", "high", "band-pass", "band-cut"}, s.filter.standardType),
             [&o] {
                 o.settings.filter.kind = spectrum::kStandardFilter;
                 o.haveFilter = true;
                 ++o.filterChoices;
             })},
        {"--wa", "filter", 1, "X",
         cli::also(cli::numberIn(0, 1, s.filter.wa), [&o] { o.haveWa = true; })},
        {"--wb", "filter", 1, "X",
         cli::also(cli::numberIn(0, 1, s.filter.wb), [&o] { o.haveWb = true; })},
        {"--special", "filter", 1, "PROFILE.ini",
         cli::also(cli::text(o.specialPath),
                   [&o] {
                       o.settings.filter.kind = spectrum::kSpecialFilter;
                       ++o.filterChoices;
                   }),
         "--special needs a file"},
        {"--circles-outside", "filter", 1, "\"x,y,r;...\"", circles(spectrum::kCirclesCutOutside),
         "--circles-outside needs \"x,y,r;...\" with 1 to 100 circles of whole, non-negative "
         "numbers"},
        {"--circles-inside", "filter", 1, "\"x,y,r;...\"", circles(spectrum::kCirclesCutInside),
         "--circles-inside needs \"x,y,r;...\" with 1 to 100 circles of whole, non-negative "
         "numbers"},
        {"--dark", "filter", 1, "D",
         cli::also(cli::wholeIn(0, 100, s.brightness.darkLevel), [&o] { o.haveDark = true; })},
        {"--bright", "filter", 1, "B",
         cli::also(cli::wholeIn(155, 255, s.brightness.brightLevel),
                   [&o] { o.haveBright = true; })},
        {"--angle", "linewave", 1, "DEG",
         cli::also(cli::wholeIn(-90, 90, o.angle),
                   [&o] {
                       o.settings.lineWave.angle = o.angle;
                       o.haveAngle = true;
                   })},
        {"--frame", "spectrum filter linewave radial", 1, "mirror|windowed",
         cli::oneOf({"mirror", "windowed"}, s.frame)},
        {"--whole-frame", "spectrum", 0, "", cli::flag(s.display.wholeFrame)},
        {"--count", "spots", 1, "N", cli::wholeIn(1, 1000, o.pairs)},
        {"--min-radius", "spots", 1, "PX", cli::numberIn(0, 8192, o.minRadius)},
        {"--csv", "spots", 1, "OUT.csv", cli::text(o.csvPath)},

        {"--plot", "radial", 1, "OUT.png", cli::text(o.plotPath)},
        {"--symmetric", "filter", 0, "", cli::flag(s.filter.symmetricCircles)},
        {"--lattice-mask", "filter", 1, "keep|remove",
         cli::also(cli::oneOf({"keep", "remove"}, o.latticeMode),
                   [&o] {
                       o.settings.filter.kind =
                           o.latticeMode == 0 ? spectrum::kLatticeKeep : spectrum::kLatticeRemove;
                       o.haveLattice = true;
                       ++o.filterChoices;
                   })},
        {"--radius", "filter", 1, "PX",
         cli::also(cli::numberIn(-1e9, 1e9, s.filter.lattice.radius),
                   [&o] { o.haveRadius = true; })},
        {"--basis", "filter", 1, "\"x1,y1;x2,y2\"",
         [&o](const std::string& name, const std::vector<std::string>& values) {
             const auto basis = spectrum::parseBasisText(values[0]);
             if (!basis)
                 return name + " needs \"x1,y1;x2,y2\": two vectors in samples of the spectrum";
             o.settings.filter.lattice.g1 = basis->first;
             o.settings.filter.lattice.g2 = basis->second;
             o.haveBasis = true;
             return std::string();
         }},
        {"--edge-sigma", "filter", 1, "PX",
         cli::also(cli::numberIn(0, 1000, s.filter.edgeSigma), [&o] { o.haveEdge = true; })},
        {"--wiener", "filter", 0, "",
         [&o](const std::string&, const std::vector<std::string>&) {
             o.settings.filter.kind = spectrum::kWienerFilter;
             ++o.filterChoices;
             return std::string();
         }},
        {"--absf", "filter", 0, "",
         [&o](const std::string&, const std::vector<std::string>&) {
             o.settings.filter.kind = spectrum::kAbsfFilter;
             ++o.filterChoices;
             return std::string();
         }},
        {"--noise-scale", "filter", 1, "C",
         cli::also(cli::numberIn(0, 1000, s.filter.noise.noiseScale),
                   [&o] { o.haveNoiseScale = true; })},
        {"--smoothing", "filter", 1, "H",
         cli::also(cli::wholeIn(0, 10, s.filter.noise.smoothing),
                   [&o] { o.haveSmoothing = true; })},
        {"--difference", "filter", 1, "OUT.bmp", cli::text(o.differencePath)},
        {"--npy", "filter", 1, "OUT.npy", cli::text(o.npyPath)},
        {"--difference-npy", "filter", 1, "OUT.npy", cli::text(o.differenceNpyPath)},
        {"--contrast", "adjust", 1, "K",
         cli::also(cli::wholeIn(-10, 10, o.contrast), [&o] { o.haveContrast = true; })},
        {"--brightness", "adjust", 1, "K",
         cli::also(cli::wholeIn(-10, 10, o.brightness), [&o] { o.haveBrightness = true; })},
        {"--pixel-size", "info normalise spectrum filter linewave adjust spots radial", 1, "NM",
         cli::also(cli::numberIn(1e-9, 1e9, o.pixelSize), [&o] { o.havePixelSize = true; })},
        {"--signal", "info normalise spectrum filter linewave adjust spots radial", 1, "N",
         cli::wholeIn(1, 4096, o.choice.signal)},
        {"--image", "info normalise spectrum filter linewave adjust spots radial", 1, "N",
         cli::also(cli::wholeIn(1, 1 << 30, o.choice.image), [&o] { --o.choice.image; })},
        {"--all-images", "normalise spectrum filter linewave adjust", 0, "",
         cli::flag(o.allImages)},
        {"--calibrated", "linewave", 0, "", cli::flag(o.calibrated)},
        {"--quiet", "*", 0, "", cli::flag(o.quiet)},
        {"--out-dir", "normalise spectrum filter linewave adjust", 1, "DIR", cli::text(o.outDir)},
        {"--tif", "filter", 0, "", cli::flag(o.tif)},
    };
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
    image::OpenOutcome outcome = image::openImageFile(
        path, s.image, s.sink, s.busy, core::systemDisk(), 1 << 20, 1 << 20, [] {}, choice);
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
    image::FileHandle file(image::openFile(path, "rb"));
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
    const spectrum::FramePlan plan =
        spectrum::planFrame(pixels.width, pixels.height, settings.useExpandedImage,
                            [&] { return spectrum::edgesAreSeamless(pixels); });
    return plan.exponent >= 14 ? 0 : plan.n;
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

int runSpots(Session& s, const Options& o) {
    spectrum::SpotResult result;
    if (!runFinder(s.image, s.geometry, s.precise.get(), o, result)) return 1;
    const bool nm = o.settings.pixelSizeNm.has_value();
    if (result.status == spectrum::SpotStatus::kNoneFound) {
        std::printf("%s\n", core::text(spectrum::spotStatusText(result.status)));
    } else {
        std::printf("Frame %d x %d, central radius %.2f samples\n", result.n, result.n,
                    result.minRadius);
        std::printf("  #  mate        x        y  %s  %s     angle      power\n",
                    nm ? "    |g| 1/nm" : "   |g| 1/px", nm ? "      d nm" : "      d px");
        for (const spectrum::Spot& spot : result.spots)
            std::printf("%3d  %4d %8.3f %8.3f  %11.6f  %10.4g  %8.3f  %9.4g\n", spot.number,
                        spot.mate, spot.position.x, spot.position.y, spot.g, spot.d,
                        spot.angleDegrees, spot.power);
        if (result.haveBasis)
            std::printf("Basis g1 = (%.3f, %.3f), g2 = (%.3f, %.3f)\n", result.g1.x, result.g1.y,
                        result.g2.x, result.g2.y);
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
// are a copy: the steps may change the settings, and each file of a batch starts afresh.
int runOne(const std::string& command, Options o, const std::string& input,
           const std::string& output) {
    Session s(o.quiet);
    if (command == "info") {
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
    if (!openInput(s, input, o.choice)) return 1;
    // Every step takes the file's calibration unless one is given.
    if (s.source) o.settings.pixelSizeNm = s.source->pixelSizeNm;
    if (o.havePixelSize) o.settings.pixelSizeNm = image::PixelSize{o.pixelSize, o.pixelSize};
    if (command == "spots") return runSpots(s, o);
    if (command == "radial") o.settings.display = spectrum::DisplaySettings{};
    // A lattice mask without a basis takes the finder's, found before the transform replaces
    // the picture with the spectrum.
    if (o.haveLattice && !o.haveBasis) {
        spectrum::SpotResult found;
        if (!runFinder(s.image, s.geometry, s.precise.get(), o, found)) return 1;
        if (found.status != spectrum::SpotStatus::kFound || !found.haveBasis) {
            std::fprintf(stderr, "%s: %s\n", kProgram,
                         core::text(found.status == spectrum::SpotStatus::kFound
                                        ? spectrum::noBasisText()
                                        : spectrum::spotStatusText(found.status)));
            return 1;
        }
        o.settings.filter.lattice.g1 = found.g1;
        o.settings.filter.lattice.g2 = found.g2;
    }

    bool written = false;
    if (command == "normalise") {
        // nothing between Open and Save BMP
    } else if (command == "adjust") {
        spectrum::adjustContrastBrightness(s.image, s.geometry, o.contrast, o.brightness);
    } else {
        if (!spectrum::forwardTransform(s.image, s.geometry, o.settings, s.buffers, s.sink,
                                        s.busy, s.precise)) {
            if (s.sink.refusals() == 0)
                std::fprintf(stderr,
                             "%s: the spectrum is flat (a uniform image) and cannot be shown\n",
                             kProgram);
            return 1;
        }
        if (command == "linewave") {
            written =
                spectrum::saveFftDataTo(output, s.buffers, s.geometry, o.settings.lineWave.angle,
                                        s.sink, core::systemDisk(), false);
            if (!written) {
                cli::explainOutput(kProgram, output);
                return 1;
            }
            if (o.calibrated) {
                const std::string table = calibratedName(output);
                if (!spectrum::saveCalibratedLineTo(table, s.buffers, s.geometry,
                                                    o.settings.lineWave.angle,
                                                    o.settings.pixelSizeNm, s.sink,
                                                    core::systemDisk())) {
                    cli::explainOutput(kProgram, table);
                    return 1;
                }
            }
            return 0;
        }
        if (command == "radial") return runRadial(s, o, output);
        if (command == "filter") {
            auto& filter = o.settings.filter;
            if (filter.symmetricCircles) {
                const std::size_t drawn = filter.circles.size();
                for (std::size_t i = 0; i < drawn; ++i)
                    filter.circles.push_back(spectrum::symmetricMate(
                        filter.circles[i], s.buffers.n, s.buffers.offsetX, s.buffers.offsetY));
            }
            if (o.haveLattice) {
                const spectrum::LatticeCheck check = spectrum::checkLattice(filter.lattice, s.buffers.n);
                if (check != spectrum::LatticeCheck::kOk) {
                    std::fprintf(stderr, "%s: %s\n", kProgram,
                                 core::text(spectrum::latticeCheckText(check)));
                    return 1;
                }
            }
            // A .tif name takes the filter applied to the source's samples, in their units.
            const bool tiff = spectrum::hasTiffExtension(output);
            spectrum::RestoredImage restored;
            // The parts are two image-sized arrays of doubles: formed only for the outputs
            // that take them.
            spectrum::InverseParts parts;
            const bool wantParts = !o.npyPath.empty() || !o.differenceNpyPath.empty() ||
                                   !o.differencePath.empty();
            if (!spectrum::inverseTransform(s.image, s.geometry, o.settings, s.buffers, s.sink,
                                            s.busy, wantParts ? &parts : nullptr,
                                            tiff ? &restored : nullptr))
                return 1;
            if (!o.npyPath.empty() &&
                !writeNpy(o.npyPath, parts.filtered, parts.width, parts.height))
                return 1;
            if (!o.differenceNpyPath.empty() &&
                !writeNpy(o.differenceNpyPath, parts.removed, parts.width, parts.height))
                return 1;
            if (!o.differencePath.empty() && spectrum::hasTiffExtension(o.differencePath)) {
                // The removed part in the source's units, as the filtered image's float TIFF.
                const spectrum::RestoredImage values = spectrum::removedPartValues(parts);
                if (!spectrum::saveFloatTiffTo(o.differencePath, values, o.settings.pixelSizeNm,
                                               s.sink, core::systemDisk(), false)) {
                    cli::explainOutput(kProgram, o.differencePath);
                    return 1;
                }
            } else if (!o.differencePath.empty()) {
                image::CurrentImage removed = s.image;
                spectrum::renderRemovedPart(parts, removed, s.geometry);
                if (!spectrum::saveBitmapTo(o.differencePath, removed, s.geometry, s.sink,
                                            core::systemDisk(), false)) {
                    cli::explainOutput(kProgram, o.differencePath);
                    return 1;
                }
            }
            if (tiff) {
                written = spectrum::saveFloatTiffTo(output, restored, o.settings.pixelSizeNm,
                                                    s.sink, core::systemDisk(), false);
                if (!written) cli::explainOutput(kProgram, output);
                return written ? 0 : 1;
            }
        }
    }
    written =
        spectrum::saveBitmapTo(output, s.image, s.geometry, s.sink, core::systemDisk(), false);
    if (!written) cli::explainOutput(kProgram, output);
    return written ? 0 : 1;
}

// Every file one input gives: the result (`output`, "" for a command without one) and the side
// outputs, labelled for the messages.
std::vector<cli::OutputName> outputsOf(const std::string& command, const Options& o,
                                       const std::string& output, int owner) {
    std::vector<cli::OutputName> names;
    const auto add = [&](const std::string& label, const std::string& path) {
        if (!path.empty())
            names.push_back({label.empty() ? "'" + path + "'" : label, path, true, false, owner});
    };
    add("", output);
    if (command == "linewave" && o.calibrated) add("--calibrated", calibratedName(output));
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

// Several inputs, each result in the output folder under its input's name; with --all-images
// one result per image, under the name numbered from 0001.
int runBatch(const std::string& command, const Options& o) {
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
            const char* extension = command == "linewave" ? ".txt" : o.tif ? ".tif" : ".bmp";
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
            const auto own =
                outputsOf(command, placed.back(), outputs.back(), static_cast<int>(owner));
            names.insert(names.end(), own.begin(), own.end());
        }
    }
    const std::vector<std::string> inputs = inputsOf(o, o.positional.size());
    if (const auto clash = cli::findClash(inputs, names))
        return usageError(cli::clashMessage(inputs, names, *clash));
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
        const bool ok = runOne(command, placed[i], sources[i], outputs[i]) == 0;
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

int run(const std::string& command, Options& o) {
    const bool batch = !o.outDir.empty();
    const std::size_t wantPositional = cli::findCommand(kCommands, command)->files;
    if (batch && o.positional.empty())
        return usageError(cli::fill(cli::texts::kOutDirNeedsInputs, {command}));
    if (!batch && o.positional.size() != wantPositional)
        return usageError(command + " takes " + std::to_string(wantPositional) + " file name" +
                          (wantPositional > 1 ? "s" : ""));
    if (command == "linewave" && !o.haveAngle) return usageError("linewave needs --angle DEG");
    if (command == "adjust" && !(o.haveContrast || o.haveBrightness))
        return usageError("adjust needs --contrast K and/or --brightness K");
    if (!batch) {
        // No output may replace an input or another output: refused before anything is read.
        const std::vector<std::string> inputs = inputsOf(o, 1);
        const auto names =
            outputsOf(command, o, wantPositional > 1 ? o.positional[1] : std::string(), -1);
        if (const auto clash = cli::findClash(inputs, names))
            return usageError(cli::clashMessage(inputs, names, *clash));
    }
    if (!o.specialPath.empty()) {
        std::string ini;
        if (!readProfile(o.specialPath, ini)) return 1;
        o.settings.filter.specialProfile = spectrum::specialProfileFromIni(ini);
    }
    if (batch) return runBatch(command, o);
    return runOne(command, o, o.positional[0], wantPositional > 1 ? o.positional[1] : "");
}

int runTool(const std::vector<std::string>& args) {
    if (args.empty()) return usageError("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("%s %s\n", kProgram, kVersion);
        return 0;
    }
    const std::string command = args[0];
    const cli::Command* entry = cli::findCommand(kCommands, command);
    if (!entry) return usageError("unknown command '" + command + "'");
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            cli::printCommandHelp(kProgram, *entry);
            return 0;
        }
    Options options;
    const std::string error = parseOptions(command, {args.begin() + 1, args.end()}, options);
    if (!error.empty()) return usageError(error);
    return run(command, options);
}

}  // namespace

int main(int argc, char** argv) {
    core::setJapaneseTexts(core::environmentAsksJapanese());
    cli::removeTemporariesOnInterrupt();
    return cli::checkedExit(kProgram, runTool(cli::argumentsOf(argc, argv)));
}
