#!/usr/bin/env bash
# Installs the dependencies, builds the program (Release, in build/) and runs
# it on the sample pair examples/RubberWhale, the whole 584 x 388 image as
# one tile:
#   Velmora -inPath examples/RubberWhale.list -dx 584 -dy 388 -Dx 584 -Dy 388
# every other option at its default (3 levels, quadratic norms, alpha 10,
# beta 1). The list file's output prefix is out/, so the motion file
# out/UV_HS.motion and the weight images out/UV_HSDataOut.pgm,
# out/UV_HSRegOutX.pgm and out/UV_HSRegOutY.pgm land in out/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target Velmora flow_eval

mkdir -p out
./build/Velmora -inPath examples/RubberWhale.list -dx 584 -dy 388 -Dx 584 -Dy 388

echo
echo "run-example: outputs in $top/out:"
ls -l out/UV_HS.motion out/UV_HSDataOut.pgm out/UV_HSRegOutX.pgm out/UV_HSRegOutY.pgm
echo "run-example: against the ground truth:"
./build/tests/flow_eval out/UV_HS.motion examples/RubberWhale/flow10.flo
