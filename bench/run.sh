#!/usr/bin/env bash
# Benchmark of one cut: prints medians and ratios measured side by side in one
# hyperfine run, peak memory, and the instructions one cut takes. Every run
# cuts a fresh copy of its input, laid down by hyperfine's prepare step.
#
#   bash bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
command -v hyperfine >/dev/null || missing+=(hyperfine)
command -v valgrind >/dev/null || missing+=(valgrind)
command -v python3 >/dev/null || missing+=(python3)
[ -x /usr/bin/time ] || missing+=(time)
dpkg -s libeatmydata1 >/dev/null 2>&1 || missing+=(libeatmydata1)
if ((${#missing[@]})); then
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
eatmydata=$(dpkg -L libeatmydata1 | grep -m1 '/libeatmydata\.so')
# The fsync figure compares vorna with fsync made a no-op (libeatmydata) with
# vorna preloading a library that changes nothing (glibc's empty libdl), so
# that the cost of preloading itself cancels out.
control=$(gcc -print-file-name=libdl.so.2 2>/dev/null || true)
[ -f "$control" ] || control=/lib/x86_64-linux-gnu/libdl.so.2

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --target vorna >/dev/null
vorna=$PWD/build-bench/vorna

# On the project's disk, not a RAM disk, so that fsync costs what it costs.
work=$PWD/build-bench/work
rm -rf "$work"
mkdir -p "$work"
cd "$work"
printf '\000\000\377\377' >header                       # START=0000 END=ffff: keep 65,535 bytes
{ cat header; head -c 70000 /dev/urandom; } >widest.bin  # 65,535 kept, the rest dropped
{ cat header; head -c 65535 /dev/urandom; } >small.bin
fresh='rm -f f f.bak f.tmp f.$$$ && cp'
# Each prepare ends in sync, so that every run starts with nothing of the
# last one (a deleted 4 GiB file, say) left for its own fsync to write out.
settle='&& sync'

hyperfine --style basic --warmup 5 --runs 300 --export-json results.json \
  --command-name 'vorna, 65,535-byte body' --prepare "$fresh widest.bin f $settle" "$vorna f" \
  --command-name 'shell pipeline, same file' --prepare "$fresh widest.bin f $settle" \
  'tail -c +5 f | head -c 65535 > f.tmp && mv -n f f.bak && mv -n f.tmp f' \
  --command-name 'vorna, small input' --prepare "$fresh small.bin f $settle" "$vorna f" \
  --command-name 'vorna, 4 GiB sparse input' --prepare "$fresh header f && truncate -s 4G f $settle" "$vorna f" \
  --command-name 'vorna, fsync made a no-op' --prepare "$fresh widest.bin f $settle" \
  "LD_PRELOAD=$eatmydata $vorna f" \
  --command-name 'vorna, a library preloaded that changes nothing' \
  --prepare "$fresh widest.bin f $settle" "LD_PRELOAD=$control $vorna f" >hyperfine.log 2>&1

rm -f f f.bak && cp widest.bin f
peak_kib=$(/usr/bin/time -v "$vorna" f 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2}')
rm -f f f.bak && cp widest.bin f
instructions=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$vorna" f 2>&1 >/dev/null |
  awk '/Collected :/ {print $NF}')

python3 - "$peak_kib" "$instructions" <<'PY'
import json, sys
peak_kib, instructions = int(sys.argv[1]), int(sys.argv[2])
median = {r["command"]: r["median"] for r in json.load(open("results.json"))["results"]}
ms = lambda name: median[name] * 1000
vorna, pipeline = ms("vorna, 65,535-byte body"), ms("shell pipeline, same file")
small, sparse = ms("vorna, small input"), ms("vorna, 4 GiB sparse input")
no_fsync = ms("vorna, fsync made a no-op")
with_fsync = ms("vorna, a library preloaded that changes nothing")
def row(what, value, target, met):
    print(f"{what:<44} {value:<22} target {target:<12} {'met' if met else 'NOT met'}")
print("medians:")
for name, value in median.items():
    print(f"  {name:<50} {value * 1000:8.3f} ms")
row("vorna / shell pipeline (time per file)", f"{vorna / pipeline:.3f}x", "<= 0.35x", vorna / pipeline <= 0.35)
row("4 GiB sparse / small input", f"{sparse / small:.3f}x", "<= 1.1x", sparse / small <= 1.1)
row("peak memory of one cut", f"{peak_kib / 1024:.2f} MiB", "<= 4 MiB", peak_kib <= 4096)
print(f"{'fsync per cut (with - without)':<44} {with_fsync - no_fsync:.3f} ms")
row("instructions per cut (callgrind)", f"{instructions:,}", "<= 1.5M", instructions <= 1_500_000)
PY
