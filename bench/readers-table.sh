#!/usr/bin/env bash
# readers-table.sh - runs the benchmarks of the readers of outside data once
# each and prints their table.
#
# Usage: bench/readers-table.sh [build folder] [benchmark arguments...]
# The build folder (default: build-rel of this checkout) holds the Release
# programs bench_readers_text, _json, _xml and _files; further arguments go to
# each program (for instance --benchmark_filter='^(xliff|uti):'; every name
# ends in "/real_time", so anchor the reader's name). Each case runs at
# its two sizes, eight times apart; the table gives the real time of each, the
# ratio of the larger to the smaller (about 8 for a reader in step with its
# input, 64 for a quadratic one; marked "!" past 10) and the peak memory each
# size added. A case whose reader refused its input shows the refusal instead.
# With --benchmark_repetitions=N (N > 1) among the arguments, the median of
# the repetitions stands for each size. The programs' own output goes to
# standard error as they run; needs python3.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-rel}
[ $# -gt 0 ] && shift
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

for program in bench_readers_text bench_readers_json bench_readers_xml bench_readers_files; do
    if [ ! -x "$build/$program" ]; then
        echo "$program: not built in $build" >&2
        continue
    fi
    "$build/$program" --benchmark_repetitions=1 --benchmark_out="$out/$program.json" \
        --benchmark_out_format=json "$@" >&2
done

python3 - "$out" <<'EOF'
import glob, json, os, sys

rows = {}
order = []
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.json"))):
    # A program none of whose cases matched the filter writes nothing.
    try:
        with open(path) as f:
            runs = json.load(f).get("benchmarks", [])
    except ValueError:
        continue
    for run in runs:
        kind = run.get("run_type", "iteration")
        if kind == "aggregate" and run.get("aggregate_name") != "median":
            continue
        name, _, size = run.get("run_name", run["name"]).partition("/")
        size = int(size.split("/")[0])
        if name not in rows:
            rows[name] = {}
            order.append(name)
        # With repetitions, the median stands for the case; else its one run.
        if kind == "aggregate" or size not in rows[name]:
            rows[name][size] = run

def time_of(run):
    if run is None:
        return "-"
    if run.get("error_occurred"):
        return run.get("error_message", "error")
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run.get("time_unit", "ns")]
    return "%.3f ms" % (run["real_time"] * scale)

def ms(run):
    if run is None or run.get("error_occurred"):
        return None
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run.get("time_unit", "ns")]
    return run["real_time"] * scale

def peak(run):
    if run is None or "peak_MB" not in run:
        return "-"
    return "%.1f" % run["peak_MB"]

header = ["reader", "shape", "small", "large", "time small", "time large", "ratio", "peak MB small", "peak MB large"]
table = [header]
for name in order:
    reader, _, shape = name.partition(":")
    sizes = sorted(rows[name])
    small, large = sizes[0], sizes[-1]
    a, b = rows[name][small], rows[name][large]
    ratio = "-"
    if ms(a) and ms(b) is not None:
        r = ms(b) / ms(a)
        ratio = "%.1f%s" % (r, " !" if r > 10 else "")
    table.append([reader, shape, str(small), str(large), time_of(a), time_of(b), ratio, peak(a), peak(b)])

widths = [max(len(row[i]) for row in table) for i in range(len(header))]
for i, row in enumerate(table):
    print("| " + " | ".join(cell.ljust(widths[j]) for j, cell in enumerate(row)) + " |")
    if i == 0:
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
EOF
