#!/usr/bin/env bash
# Measures the program side by side with the shell recipes a user might use
# instead, on this machine, and prints the tables of the README's
# Performance section. Needs a built default preset, valgrind and hyperfine.
#   bench/compare.sh [build directory, default build/default]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$root/tests/make-dumps.sh"

echo "## cut_range against a 64 KiB block copy (median of 3)"
echo
"$build/bench/romcutter_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only \
    --benchmark_out=bench.json --benchmark_out_format=json >/dev/null
python3 -c '
import json
print("| Benchmark | Time | Bytes per second | Peak RSS growth |")
print("|---|---|---|---|")
for b in json.load(open("bench.json"))["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    rss = b.get("peak_rss_growth_KiB")
    print("| {} | {:.2f} ms | {:.0f} MB/s | {} |".format(
        b["run_name"].replace("/real_time", ""), b["real_time"],
        b["bytes_per_second"] / 1e6, "-" if rss is None else "{:.0f} KiB".format(rss)))'

echo
echo "A complete run on dumps of the smallest lengths, counted by callgrind:"
"$root/tests/callgrind-budget.sh" "$build/romcutter" 2000000

head_tail='head -c 31744 FBASIC.BIN >FBASIC30.ROM
tail -c +22529 SUBMON.BIN | head -c 10240 >SUBSYS_C.ROM
head -c 512 BOOTROM.BIN >BOOT_BAS.ROM
tail -c +1025 BOOTROM.BIN | head -c 512 >BOOT_DOS.ROM'
dd_bs1='dd if=FBASIC.BIN of=FBASIC30.ROM bs=1 count=31744 status=none
dd if=SUBMON.BIN of=SUBSYS_C.ROM bs=1 skip=22528 count=10240 status=none
dd if=BOOTROM.BIN of=BOOT_BAS.ROM bs=1 count=512 status=none
dd if=BOOTROM.BIN of=BOOT_DOS.ROM bs=1 skip=1024 count=512 status=none'

# Each recipe must make the same four files as the program.
"$build/romcutter" >/dev/null
mkdir expected && mv ./*.ROM expected/
for recipe in "$head_tail" "$dd_bs1"; do
    bash -c "$recipe"
    for rom in expected/*.ROM; do cmp "$rom" "$(basename "$rom")"; done
done

echo
echo "## The four cuts, whole process, median of hyperfine's runs"
echo
hyperfine --warmup 5 --min-runs 30 --export-json times.json \
    -n romcutter "$build/romcutter >/dev/null" \
    -n "head -c / tail -c" "$head_tail" \
    -n "dd bs=1" "$dd_bs1" >/dev/null
python3 -c '
import json
print("| Command | Median | Mean ± σ |")
print("|---|---|---|")
for r in json.load(open("times.json"))["results"]:
    print("| {} | {:.2f} ms | {:.2f} ± {:.2f} ms |".format(
        r["command"], r["median"] * 1e3, r["mean"] * 1e3, r["stddev"] * 1e3))'
