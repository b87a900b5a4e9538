#!/usr/bin/env bash
# The demonstration: filters the bundled micrograph and slices the bundled strontium titanate
# crystal along [1 1 0] with the command-line tools, writes everything to one folder and says
# what each file is. ./run.sh demo builds the tools and runs this; the tests run it too.
# Usage: demo.sh TOOLS_FOLDER OUT_FOLDER
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$1
out=$2
# The spots of the micrograph's spectrum that the demonstration keeps: the centre and the six
# first-order reflections, in spectrum pixels (x, y, radius).
DEMO_SPOTS="300,240,10;300,155,8;300,325,8;193,202,8;407,202,8;193,278,8;407,278,8"
sample="$root/tests/data/sample/lattice.bmp" crystal="$root/tests/data/crystal/srtio3.txt"
mkdir -p "$out"
echo "== The micrograph: $sample"
"$bin/voralin00-cli" info "$sample"
"$bin/voralin00-cli" spectrum "$sample" "$out/spectrum.bmp" --log --quiet
"$bin/voralin00-cli" filter "$sample" "$out/filtered.bmp" --filter low --wa 0.3 --quiet
"$bin/voralin00-cli" filter "$sample" "$out/masked.bmp" --circles-outside "$DEMO_SPOTS" --quiet
"$bin/voralin00-cli" linewave "$sample" "$out/linewave.txt" --angle 20 --quiet
echo "== The crystal: $crystal, sliced along [1 1 0]"
"$bin/kestral-cli" layers "$crystal" --uvw 1 1 0
rm -f "$out"/srtio3-110-slice*.dat
"$bin/kestral-cli" slice "$crystal" --uvw 1 1 0 --quiet \
    --reference "$out/srtio3-110-reference.txt" --normal "$out/srtio3-110-slice.dat" \
    --convergent "$out/srtio3-110.xyz" --pages "$out/srtio3-110-page.bmp"
/usr/bin/python3 "$root/tools/overview_picture.py" "$out" "$sample" "$DEMO_SPOTS" \
    "$out/overview.png" || echo "(no overview picture: Pillow is missing)"
echo "== Written to $out/:"
echo "   spectrum.bmp                 the spectrum, log scale"
echo "   filtered.bmp                 the image after a low-pass filter (--wa 0.3)"
echo "   masked.bmp                   the image keeping only the centre and six spots"
echo "   linewave.txt                 the spectrum along a line at 20 degrees (FFT data file)"
echo "   srtio3-110-reference.txt     the planes and atoms of the super cell, readable"
echo "   srtio3-110-slice1..4.dat     the normal-beam slice files"
echo "   srtio3-110.xyz               the convergent-beam atom list"
echo "   srtio3-110-page.bmp          the page of sliced planes"
echo "   overview.png                 all of it side by side"
echo "== The tools: $bin/voralin00-cli and $bin/kestral-cli ('--help' lists the commands)."
echo "   The Windows programs and the .exe tools: ./run.sh build, then see README.md."
