#!/bin/sh
# A batch of files converted three ways: "velmora --render --jobs 1", "velmora
# --render --jobs N" (N = the processor cores) and a shell loop of the ffmpeg tool,
# over the same sources (8 two-minute 48 kHz stereo AAC files by default) to MP3 at
# 128 kbit/s, 44100 Hz. For reference also N such loops side by side, each over its
# share of the files: how much faster N conversions at once can be on this machine
# at this moment. Run by hand (not in CI):
#
#   bench/run_batch_bench.sh [BUILD_DIR] [FILES] [SECONDS] [RUNS]
#
# Prints every run (wall time, CPU time of the whole process tree, peak memory of the
# largest process and of all processes of the run together), the medians and the
# ratios: jobs 1 against the ffmpeg loop, jobs N against jobs 1. The machine's load
# when it starts and ends is printed too: other work on the machine shows in the
# wall times, not in the CPU times.
#
# Then the cost of many small rows: SHORT (default 300) one-second AAC files to MP3,
# "velmora --render --jobs 2" against "xargs -P2" running the ffmpeg tool once per
# file, with the ratio of the medians of RUNS runs (the target: at most 1.2). FILES=0
# runs only this case, SHORT=0 leaves it out.
set -eu

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC_DIR/build-bench}
FILES=${2:-8}
SECONDS_EACH=${3:-120}
RUNS=${4:-3}
SHORT=${SHORT:-300}
CORES=$(nproc)

WORK_PREFIX=velmora-batch
. "$SRC_DIR/bench/render_work.sh"

mkdir -p "$WORK/src" "$WORK/short"
i=1
while [ "$i" -le "$FILES" ]; do
    # Each file a little different, so no cache of one helps the next.
    ffmpeg -v error -y -f lavfi \
        -i "aevalsrc=0.3*sin(2*PI*(220+$i*11+110*sin(t))*t)|0.3*sin(2*PI*(440+$i*7)*t):s=48000:d=$SECONDS_EACH" \
        -c:a aac -b:a 192k "$WORK/src/source$i.m4a"
    i=$((i + 1))
done

peak_kb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
cpu_s() { awk -F': ' '/User time|System time/ { t += $2 } END { printf "%.2f", t }' "$1"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The largest sum of resident memory over pid and all its descendants, sampled every
# 50 ms until pid ends.
tree_peak_kb() {
    peak=0
    # (a child that has ended but is not yet waited for still answers kill -0)
    while kill -0 "$1" 2>/dev/null && [ "$(ps -o stat= -p "$1" | cut -c1)" != Z ]; do
        sum=$(ps -e -o pid=,ppid=,rss= | awk -v root="$1" '
            { parent[$1] = $2; rss[$1] = $3 }
            END {
                for (p in rss) {
                    q = p
                    while (q != "" && q != 0 && q != root) q = parent[q]
                    if (q == root) total += rss[p]
                }
                print total + 0
            }')
        [ "$sum" -gt "$peak" ] && peak=$sum
        sleep 0.05
    done
    echo "$peak"
}

# run NAME COMMAND...: prints "wall cpu peak treepeak"
run() {
    name=$1
    shift
    rm -rf "$WORK/out" && mkdir -p "$WORK/out"
    start=$(date +%s.%N)
    /usr/bin/time -v -o "$WORK/$name.time" "$@" >"$WORK/$name.log" 2>&1 &
    pid=$!
    tree=$(tree_peak_kb "$pid")
    wait "$pid" || { echo "$name failed:" >&2; cat "$WORK/$name.log" >&2; exit 1; }
    end=$(date +%s.%N)
    made=$(ls "$WORK/out" | grep -c '\.mp3$' || true)
    [ "$made" -eq "${EXPECT:-$FILES}" ] || { echo "$name made $made of ${EXPECT:-$FILES} files" >&2; exit 1; }
    echo "$(echo "$end - $start" | bc) $(cpu_s "$WORK/$name.time") $(peak_kb "$WORK/$name.time") $tree"
}

if [ "$FILES" -gt 0 ]; then
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $CORES cores"
: >"$WORK/ffmpeg.runs"
: >"$WORK/ffmpegN.runs"
: >"$WORK/jobs1.runs"
: >"$WORK/jobsN.runs"
r=1
while [ "$r" -le "$RUNS" ]; do
    # The way a user converts a folder with the ffmpeg tool: one file after another.
    f=$(run ffmpeg sh -c 'for f in "$1"/src/*.m4a; do
        ffmpeg -nostdin -v error -y -i "$f" -vn -ar 44100 -b:a 128k -c:a libmp3lame "$1/out/$(basename "$f" .m4a).mp3" || exit 1
    done' sh "$WORK")
    # The same, the files dealt out to N loops that run at once.
    fN=$(run ffmpegN sh -c 'n=$2; k=0; while [ "$k" -lt "$n" ]; do
        i=0
        for f in "$1"/src/*.m4a; do
            [ $((i % n)) -eq "$k" ] && { ffmpeg -nostdin -v error -y -i "$f" -vn -ar 44100 -b:a 128k -c:a libmp3lame "$1/out/$(basename "$f" .m4a).mp3" || exit 1; }
            i=$((i + 1))
        done &
        k=$((k + 1))
    done; wait' sh "$WORK" "$CORES")
    one=$(run jobs1 "$WORK/program/velmora" --render "$WORK/out" --format mp3 --bitrate 128 --rate 44100 --jobs 1 "$WORK/src")
    all=$(run jobsN "$WORK/program/velmora" --render "$WORK/out" --format mp3 --bitrate 128 --rate 44100 --jobs "$CORES" "$WORK/src")
    show() { echo "$2" | awk -v n="$1" '{ printf "  %-22s wall %7.2f s  cpu %7.2f s  peak %7d kB  all processes %7d kB\n", n, $1, $2, $3, $4 }'; }
    echo "run $r:"
    show "ffmpeg loop" "$f"
    show "ffmpeg $CORES loops" "$fN"
    show "velmora --jobs 1" "$one"
    show "velmora --jobs $CORES" "$all"
    echo "$f" >>"$WORK/ffmpeg.runs"
    echo "$fN" >>"$WORK/ffmpegN.runs"
    echo "$one" >>"$WORK/jobs1.runs"
    echo "$all" >>"$WORK/jobsN.runs"
    r=$((r + 1))
done

col() { cut -d' ' -f"$2" "$WORK/$1.runs" | median | awk '{ printf "%.2f", $1 }'; }
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$FILES sources of $SECONDS_EACH s, 48 kHz stereo AAC -> MP3 128 kbit/s 44100 Hz; median of $RUNS runs:"
for s in ffmpeg ffmpegN jobs1 jobsN; do
    case $s in ffmpeg) n="ffmpeg loop" ;; ffmpegN) n="ffmpeg $CORES loops" ;; jobs1) n="velmora --jobs 1" ;; jobsN) n="velmora --jobs $CORES" ;; esac
    echo "  $n: wall $(col $s 1) s, cpu $(col $s 2) s, peak $(col $s 3 | cut -d. -f1) kB, all processes $(col $s 4 | cut -d. -f1) kB"
done
ratio() { echo "$1 $2" | awk '{ printf "%.2f", $1 / $2 }'; }
echo "speed-up, --jobs $CORES over --jobs 1 (wall): $(ratio "$(col jobs1 1)" "$(col jobsN 1)")" \
    "(the ffmpeg tool, $CORES loops over one: $(ratio "$(col ffmpeg 1)" "$(col ffmpegN 1)"))"
echo "--jobs 1 against the ffmpeg loop: wall $(ratio "$(col jobs1 1)" "$(col ffmpeg 1)"), cpu $(ratio "$(col jobs1 2)" "$(col ffmpeg 2)")"
echo "--jobs $CORES against the ffmpeg loop: wall $(ratio "$(col jobsN 1)" "$(col ffmpeg 1)"), cpu $(ratio "$(col jobsN 2)" "$(col ffmpeg 2)")"
fi

if [ "$SHORT" -gt 0 ]; then
    i=1
    while [ "$i" -le "$SHORT" ]; do
        ffmpeg -v error -y -f lavfi -i "sine=frequency=$((200 + i)):sample_rate=48000:duration=1" -ac 2 \
            -c:a aac -b:a 128k "$WORK/short/short$i.m4a"
        i=$((i + 1))
    done
    EXPECT=$SHORT
    : >"$WORK/xargs.runs"
    : >"$WORK/short2.runs"
    echo "load before the short files: $(cut -d' ' -f1-3 /proc/loadavg)"
    r=1
    while [ "$r" -le "$RUNS" ]; do
        x=$(run xargs sh -c 'ls "$1"/short/*.m4a | xargs -P2 -I{} sh -c '"'"'ffmpeg -nostdin -v error -y -i "$1" -vn -ar 44100 -b:a 128k -c:a libmp3lame "$2/out/$(basename "$1" .m4a).mp3"'"'"' sh {} "$1"' sh "$WORK")
        v=$(run short2 "$WORK/program/velmora" --render "$WORK/out" --format mp3 --bitrate 128 --rate 44100 --jobs 2 "$WORK/short")
        echo "$x" >>"$WORK/xargs.runs"
        echo "$v" >>"$WORK/short2.runs"
        echo "run $r: xargs -P2 ffmpeg wall $(echo "$x" | cut -d' ' -f1) s, velmora --jobs 2 wall $(echo "$v" | cut -d' ' -f1) s"
        r=$((r + 1))
    done
    col() { cut -d' ' -f"$2" "$WORK/$1.runs" | median | awk '{ printf "%.2f", $1 }'; }
    ratio() { echo "$1 $2" | awk '{ printf "%.2f", $1 / $2 }'; }
    echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "$SHORT one-second 48 kHz stereo AAC files -> MP3 128 kbit/s 44100 Hz, two at once; median of $RUNS runs:"
    echo "  xargs -P2 ffmpeg: wall $(col xargs 1) s, cpu $(col xargs 2) s"
    echo "  velmora --jobs 2: wall $(col short2 1) s, cpu $(col short2 2) s"
    echo "velmora --jobs 2 against xargs -P2 ffmpeg: wall $(ratio "$(col short2 1)" "$(col xargs 1)"), cpu $(ratio "$(col short2 2)" "$(col xargs 2)")"
fi
