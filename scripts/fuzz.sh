#!/usr/bin/env bash
# Fuzzes the header parser and the received-name check for a while (60 seconds unless
# given another number). Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/install-deps.sh
command -v clang++ >/dev/null || { echo "The fuzz targets need clang: apt-get install clang" >&2; exit 1; }
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQUILLO_FUZZ=ON -DBUILD_TESTING=OFF
cmake --build build/fuzz --target fuzz_header
mkdir -p build/fuzz/corpus
printf 'FILENAME plan.txt #2500\r\nabc' > build/fuzz/corpus/example
printf 'FILENAME ../../a b #2.txt #12\r\n' > build/fuzz/corpus/path
build/fuzz/fuzz_header -max_total_time="$seconds" -max_len=8192 -artifact_prefix=build/fuzz/ build/fuzz/corpus
