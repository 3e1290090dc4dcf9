#!/usr/bin/env bash
# bench/cli-selection-bench.sh [BUILD_DIR] [ROUNDS]: tintavo-cli's colour models and soft edge,
# whole processes, each as a ratio to one decode (`djpeg`) and to the codec floor
# (`djpeg | cjpeg -quality 90 -baseline`) measured in the same round, on the benchmarks'
# generated 20-megapixel photograph. Needs hyperfine, djpeg and cjpeg (as bench/cli-bench.sh).
set -euo pipefail

build=${1:-build}
rounds=${2:-3}
cli=$build/tools/cli/tintavo-cli
maker=$build/bench/tintavo-make-photo
for tool in hyperfine djpeg cjpeg "$cli" "$maker"; do
    command -v "$tool" >/dev/null || { echo "cli-selection-bench: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tintavo-selection-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
photo=$work/photo.jpg
"$maker" "$photo"
echo "Machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) at the start"

red="--cc 200,40,30"
names=(rgb rgb-two hue perceptual hue-feather hue-filter hue-pick)
commands=(
    "$cli $red --thresholds 40 $photo -o $work/out.jpg"
    "$cli $red --cc 40,90,160 --thresholds 40 $photo -o $work/out.jpg"
    "$cli $red --model hue $photo -o $work/out.jpg"
    "$cli $red --model perceptual $photo -o $work/out.jpg"
    "$cli $red --model hue --feather 4 $photo -o $work/out.jpg"
    "$cli $red --model hue --filter $photo -o $work/out.jpg"
    "$cli --pick 2000,1500 --model hue $photo -o $work/out.jpg"
)
args=(-n decode "djpeg $photo > /dev/null" -n floor "djpeg $photo | cjpeg -quality 90 -baseline > $work/floor.jpg")
for i in "${!names[@]}"; do
    args+=(-n "${names[$i]}" "${commands[$i]}")
done

median_of() { sort -g | awk '{ v[NR] = $1 } END { printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
: >"$work/ratios"
for round in $(seq "$rounds"); do
    hyperfine --style none --warmup 1 --runs 3 --export-csv "$work/round.csv" "${args[@]}" \
        >"$work/hyperfine.txt" 2>&1 || { cat "$work/hyperfine.txt" >&2; exit 1; }
    # name, elapsed / decode, elapsed / floor, cpu / decode, cpu / floor
    awk -F, 'NR > 1 { t[$1] = $4; c[$1] = $5 + $6; n[++k] = $1 }
        END { for (i = 1; i <= k; ++i) print n[i], t[n[i]] / t["decode"], t[n[i]] / t["floor"],
              c[n[i]] / c["decode"], c[n[i]] / c["floor"], t["decode"], t["floor"] }' \
        "$work/round.csv" >>"$work/ratios"
done

figure() { awk -v n="$1" -v c="$2" '$1 == n { print $c }' "$work/ratios" | median_of; }
printf '\nMedian over %s rounds: one decode %.0f ms, floor %.0f ms; load at the end %s\n\n' "$rounds" \
    "$(awk '{ print $6 * 1000 }' "$work/ratios" | median_of)" \
    "$(awk '{ print $7 * 1000 }' "$work/ratios" | median_of)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-12s %14s %14s %12s %12s\n' run "elapsed/decode" "elapsed/floor" "cpu/decode" "cpu/floor"
for name in floor "${names[@]}"; do
    printf '%-12s %14s %14s %12s %12s\n' "$name" "$(figure "$name" 2)" "$(figure "$name" 3)" \
        "$(figure "$name" 4)" "$(figure "$name" 5)"
done
