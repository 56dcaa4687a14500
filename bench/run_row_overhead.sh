#!/bin/sh
# What a row costs beyond its conversion: from the queue starting the row to the
# engine's first output sample, plus from its last sample to the next row's start.
# Run by hand (not in CI):
#
#   bench/run_row_overhead.sh [BUILD_DIR] [ROWS] [RUNS]
#
# "velmora --render --jobs 1" converts ROWS (default 20) short WAV sources one after
# another, once with sources of 0.1 s and once of 2.1 s. A row takes
# overhead + length x cost-per-second, so the two medians give both: the cost of a
# second of sound from their difference, the overhead from what is left of the short
# rows. The machine's load is printed too: the wall figures include waiting for a core.
set -eu

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC_DIR/build-bench}
ROWS=${2:-20}
RUNS=${3:-3}

WORK_PREFIX=velmora-rows
. "$SRC_DIR/bench/render_work.sh"

for length in 0.1 2.1; do
    mkdir -p "$WORK/src-$length"
    i=1
    while [ "$i" -le "$ROWS" ]; do
        ffmpeg -v error -y -f lavfi -i "sine=frequency=$((300 + i * 10)):sample_rate=44100:duration=$length" -ac 2 \
            "$WORK/src-$length/row$i.wav"
        i=$((i + 1))
    done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
cpu_s() { awk -F': ' '/User time|System time/ { t += $2 } END { printf "%.3f", t }' "$1"; }

# batch LENGTH: prints "wall cpu" of one run over the sources of that length
batch() {
    rm -rf "$WORK/out" && mkdir -p "$WORK/out"
    start=$(date +%s.%N)
    /usr/bin/time -v -o "$WORK/time" "$WORK/program/velmora" --render "$WORK/out" --format mp3 --jobs 1 \
        "$WORK/src-$1" >"$WORK/log" 2>&1 || { cat "$WORK/log" >&2; exit 1; }
    end=$(date +%s.%N)
    made=$(ls "$WORK/out" | grep -c '\.mp3$' || true)
    [ "$made" -eq "$ROWS" ] || { echo "made $made of $ROWS files" >&2; exit 1; }
    echo "$(echo "$end - $start" | bc) $(cpu_s "$WORK/time")"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
: >"$WORK/short.runs"
: >"$WORK/long.runs"
r=1
while [ "$r" -le "$RUNS" ]; do
    s=$(batch 0.1)
    l=$(batch 2.1)
    echo "run $r: $ROWS rows of 0.1 s: $(echo "$s" | awk '{ printf "wall %.3f s, cpu %.3f s", $1, $2 }');" \
        "of 2.1 s: $(echo "$l" | awk '{ printf "wall %.3f s, cpu %.3f s", $1, $2 }')"
    echo "$s" >>"$WORK/short.runs"
    echo "$l" >>"$WORK/long.runs"
    r=$((r + 1))
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

SW=$(cut -d' ' -f1 "$WORK/short.runs" | median)
LW=$(cut -d' ' -f1 "$WORK/long.runs" | median)
SC=$(cut -d' ' -f2 "$WORK/short.runs" | median)
LC=$(cut -d' ' -f2 "$WORK/long.runs" | median)
echo "$SW $LW $SC $LC $ROWS" | awk '{
    perSecondWall = ($2 - $1) / ($5 * 2.0); perSecondCpu = ($4 - $3) / ($5 * 2.0)
    printf "per row, median of the runs: 0.1 s rows %.1f ms wall (%.1f ms cpu), 2.1 s rows %.1f ms wall\n", $1 * 1000 / $5, $3 * 1000 / $5, $2 * 1000 / $5
    printf "a second of sound costs %.1f ms wall (%.1f ms cpu)\n", perSecondWall * 1000, perSecondCpu * 1000
    printf "per-row overhead (start to first sample plus last sample to next start): %.1f ms wall, %.1f ms cpu\n", ($1 / $5 - 0.1 * perSecondWall) * 1000, ($3 / $5 - 0.1 * perSecondCpu) * 1000
}'
