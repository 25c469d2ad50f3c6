#!/usr/bin/env bash
# Fuzzes the header parser and the received-name check, then the private port's message
# reader and body parsers, then both ends of the private port over loopback, then the
# reader of LocalSend devices' announcements, then the HTTP requests and JSON documents
# they send to TCP 53317, each for a while (60 seconds unless given
# another number).
# Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/install-deps.sh
command -v clang++ >/dev/null || { echo "The fuzz targets need clang: apt-get install clang" >&2; exit 1; }
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DQUILLO_FUZZ=ON -DBUILD_TESTING=OFF
cmake --build build/fuzz --target fuzz_header fuzz_privatemessage fuzz_privateport \
    fuzz_announcement fuzz_devicerequest
mkdir -p build/fuzz/corpus
printf 'FILENAME plan.txt #2500\r\nabc' > build/fuzz/corpus/example
printf 'FILENAME ../../a b #2.txt #12\r\n' > build/fuzz/corpus/path
build/fuzz/fuzz_header -max_total_time="$seconds" -max_len=8192 -artifact_prefix=build/fuzz/ build/fuzz/corpus

# A HELLO, a FILE, a DATA and an END, after a first byte that says where to cut them.
mkdir -p build/fuzz/private-corpus
printf '\x07\x01\x00\x00\x00\x0cQUILLO\x00\x01\x00\x00\x00\x00\x10\x00\x00\x00\x0b\x00\x00\x00\x00\x00\x00\x00\x03a.b\x20\x00\x00\x00\x03abc\x21\x00\x00\x00\x10\x06\xb0\x5a\xb6\x73\x3a\x61\x85\x78\xaf\x5f\x94\x89\x2f\x39\x50' \
    > build/fuzz/private-corpus/example
build/fuzz/fuzz_privatemessage -max_total_time="$seconds" -max_len=300000 \
    -artifact_prefix=build/fuzz/ build/fuzz/private-corpus

# Whatever a stranger may send to the private port, or answer from one, starting from the
# probes the test suite replays (tests/fuzz/privateport); what the fuzzer finds is kept in
# a corpus of its own.
mkdir -p build/fuzz/privateport-corpus
build/fuzz/fuzz_privateport -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -artifact_prefix=build/fuzz/ build/fuzz/privateport-corpus tests/fuzz/privateport

# LocalSend devices' multicast announcements, which anyone on the network can send.
mkdir -p build/fuzz/announcement-corpus
printf '{"alias":"Phone","version":"2.1","deviceType":"mobile","fingerprint":"f","port":53317,"protocol":"https","download":false,"announce":true}' \
    > build/fuzz/announcement-corpus/example
build/fuzz/fuzz_announcement -max_total_time="$seconds" -max_len=8192 \
    -artifact_prefix=build/fuzz/ build/fuzz/announcement-corpus

# What LocalSend devices may send to TCP 53317: HTTP requests cut into arrivals by the first
# byte, and the JSON documents in their bodies.
mkdir -p build/fuzz/device-corpus
printf '\x07POST /api/localsend/v2/prepare-upload HTTP/1.1\r\nContent-Length: 96\r\n\r\n{"info":{"alias":"a"},"files":{"1":{"id":"1","fileName":"Trip/a.txt","size":3,"fileType":"x"}}}' \
    > build/fuzz/device-corpus/offer
build/fuzz/fuzz_devicerequest -max_total_time="$seconds" -max_len=20000 \
    -artifact_prefix=build/fuzz/ build/fuzz/device-corpus
