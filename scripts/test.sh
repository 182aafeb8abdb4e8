#!/usr/bin/env bash
# Installs the dependencies, builds the optimised and the sanitizer
# configurations in fresh folders and runs the whole test suite in both.
# GoogleTest and Google Benchmark are required: without them the
# configuration stops instead of skipping the tests or the benchmarks.
# Exits non-zero on the first failure.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)

bash scripts/install-deps.sh

for config in release sanitize; do
  dir="build-test-$config"
  rm -rf "$dir"
  case "$config" in
    release)  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVELMORA_REQUIRE_TEST_FRAMEWORKS=ON ;;
    sanitize) cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON \
                -DVELMORA_REQUIRE_TEST_FRAMEWORKS=ON ;;
  esac
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
done
echo "test.sh: both configurations passed"
