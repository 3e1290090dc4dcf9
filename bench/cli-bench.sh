#!/usr/bin/env bash
# bench/cli-bench.sh [BUILD_DIR] [ROUNDS]: tintavo-cli against the codec floor, whole processes.
#
# On a generated 20-megapixel photograph-like JPEG, each figure is printed as a ratio to the
# floor measured in the same run: `djpeg | cjpeg -quality 90 -baseline`, the least any tool
# that decodes and re-encodes the picture does. Needs hyperfine, djpeg and cjpeg
# (libjpeg-turbo-progs) and GNU time; `make cli-bench` builds what it runs and calls it.
set -euo pipefail

build=${1:-build}
rounds=${2:-7}
cli=$build/tools/cli/tintavo-cli
maker=$build/bench/tintavo-make-photo
for tool in hyperfine djpeg cjpeg /usr/bin/time "$cli" "$maker"; do
    command -v "$tool" >/dev/null || { echo "cli-bench: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tintavo-cli-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
photo=$work/photo.jpg
"$maker" "$photo"
batch=()
for i in 1 2 3 4 5 6; do
    cp "$photo" "$work/photo$i.jpg"
    batch+=("$work/photo$i.jpg")
done
mkdir "$work/out"

keep="--cc 200,40,30 --thresholds 40"
floor="djpeg $photo | cjpeg -quality 90 -baseline > $work/floor.jpg"
echo "Machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg) at the start"

# Rounds of a few runs of every command, one after the other, so that each ratio compares
# runs made under the same load; the figure is the median of the rounds' ratios.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
median_of() { sort -g | awk '{ v[NR] = $1 } END { printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
: >"$work/ratios"
for round in $(seq "$rounds"); do
    hyperfine --style none --warmup 1 --runs 3 --export-csv "$work/round.csv" \
        -n floor "$floor" \
        -n keep "$cli $keep $photo -o $work/keep.jpg" \
        -n filter "$cli $keep --filter $photo -o $work/filter.jpg" \
        -n png "$cli $keep $photo -o $work/keep.png" \
        -n batch "$cli $keep --out-dir $work/out ${batch[*]}" >"$work/hyperfine.txt" 2>&1 ||
        { cat "$work/hyperfine.txt" >&2; exit 1; }
    # The median elapsed time of each command in this round, and its mean processor time
    # (user and system, all threads), in seconds.
    median() { awk -F, -v name="$1" '$1 == name { print $4 }' "$work/round.csv"; }
    cpu() { awk -F, -v name="$1" '$1 == name { print $5 + $6 }' "$work/round.csv"; }
    f=$(median floor)
    c=$(cpu floor)
    echo "$round $f $(ratio "$(median keep)" "$f") $(ratio "$(median filter)" "$f")" \
        "$(ratio "$(median png)" "$f") $(ratio "$(median batch)" "$(awk -v f="$f" 'BEGIN { print 6 * f }')")" \
        "$(ratio "$(cpu keep)" "$c") $(ratio "$(cpu filter)" "$c") $(ratio "$(cpu png)" "$c")" \
        "$(ratio "$(cpu batch)" "$(awk -v c="$c" 'BEGIN { print 6 * c }')")" >>"$work/ratios"
done
column() { awk -v c="$1" '{ print $c }' "$work/ratios" | median_of; }

# The peak resident memory of one run, in MiB.
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1 | awk '{ printf "%.1f", $1 / 1024 }'; }

printf '\nFloor (djpeg | cjpeg), median over %s rounds: %.0f ms; load at the end %s\n\n' \
    "$rounds" "$(awk -v f="$(column 2)" 'BEGIN { print f * 1000 }')" "$(cut -d' ' -f1-3 /proc/loadavg)"
# The targets are on elapsed time; processor time, which a busy machine disturbs less, is shown
# beside it.
printf '%-36s %8s %8s  %s\n' "figure" "elapsed" "cpu" "target (elapsed)"
printf '%-36s %8s %8s  %s\n' "keep and export / floor" "$(column 3)" "$(column 7)" "at most 0.75"
printf '%-36s %8s %8s  %s\n' "keep with --filter / floor" "$(column 4)" "$(column 8)" "at most 1.15"
printf '%-36s %8s %8s  %s\n' "keep to PNG / floor" "$(column 5)" "$(column 9)" "at most 2.5"
printf '%-36s %8s %8s  %s\n' "batch of six / six floors" "$(column 6)" "$(column 10)" "at most 0.6"
printf '%-36s %5s MB  %s\n' "peak memory, keep and export" \
    "$(peak "$cli" $keep "$photo" -o "$work/keep.jpg")" "at most 64 MB"
printf '%-36s %5s MB\n' "peak memory, with --filter" \
    "$(peak "$cli" $keep --filter "$photo" -o "$work/filter.jpg")"
printf '%-36s %5s MB\n' "peak memory, floor's djpeg" "$(peak djpeg "$photo")"
