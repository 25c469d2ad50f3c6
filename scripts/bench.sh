#!/usr/bin/env bash
# Builds Quillo in Release and runs the transfer benchmark (size of the big file in MiB,
# default 1024). It needs nc from netcat-openbsd, the yardstick, and /usr/bin/time, which
# measures each process's peak memory and CPU time; both are installed if missing.
#
# Over loopback by default. BENCH_LINK=veth scripts/bench.sh [MiB] runs it as root over a
# veth pair instead, since loopback hides the link: two network namespaces, the benchmark
# and every receiver in the receiving one (10.29.1.0/24 is its own, the veth end
# 10.29.0.1), every sender in the sending one (10.29.2.0/24, the veth end 10.29.0.2). The
# namespaces go when the run ends, however it ends; those of runs that were killed go at
# the start of the next one.
set -euo pipefail
cd "$(dirname "$0")/.."
link=${BENCH_LINK:-loopback}
case "$link" in
    loopback) scripts/install-deps.sh --with-bench-tools ;;
    veth) scripts/install-deps.sh --with-bench-tools --with-link-tools ;;
    *) echo "bench.sh: BENCH_LINK is loopback or veth, not $link" >&2; exit 2 ;;
esac

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQUILLO_BENCH=ON
cmake --build build/bench --target bench_transfer
bench=build/bench/bench/bench_transfer
if [ "$link" = loopback ]; then
    exec "$bench" "${1:-1024}"
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "bench.sh: BENCH_LINK=veth makes network namespaces, which needs root" >&2
    exit 1
fi
for name in $(ip netns list | awk '/^quillo-bench-[0-9]+-(send|recv)/ {print $1}'); do
    pid=${name#quillo-bench-}
    pid=${pid%-*}
    if ! kill -0 "$pid" 2>/dev/null; then
        ip netns delete "$name"
    fi
done

send=quillo-bench-$$-send
recv=quillo-bench-$$-recv
removeNamespaces() {
    ip netns delete "$send" 2>/dev/null || true
    ip netns delete "$recv" 2>/dev/null || true
}
trap removeNamespaces EXIT
trap 'exit 130' INT TERM

ip netns add "$send"
ip netns add "$recv"
ip link add veth-send netns "$send" type veth peer name veth-recv netns "$recv"
ip -n "$recv" addr add 10.29.0.1/30 dev veth-recv
ip -n "$send" addr add 10.29.0.2/30 dev veth-send
for ns in "$send" "$recv"; do
    ip -n "$ns" link set lo up
done
ip -n "$recv" link set veth-recv up
ip -n "$send" link set veth-send up
# Every address of a side's range is its own (bound by the rows, each its own pair), and
# the other side's range is across the link.
ip -n "$recv" route add local 10.29.1.0/24 dev lo
ip -n "$send" route add local 10.29.2.0/24 dev lo
ip -n "$recv" route add 10.29.2.0/24 via 10.29.0.2
ip -n "$send" route add 10.29.1.0/24 via 10.29.0.1

status=0
nsenter --net="/run/netns/$recv" env BENCH_LINK=veth BENCH_SENDER_NETNS="/run/netns/$send" \
    "$bench" "${1:-1024}" || status=$?
exit "$status"
