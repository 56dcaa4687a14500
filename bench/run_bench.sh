#!/bin/sh
# Times kvengine against the ffmpeg tool for the same conversion: a 48 kHz stereo AAC
# source to MP3 at 128 kbit/s, 44100 Hz. Run by hand (not in CI):
#
#   bench/run_bench.sh [BUILD_DIR] [MINUTES] [RUNS]
#
# Prints each run, the median times, their ratio and both peak memory figures, then
# the engine's peak memory for a source a fifth as long (it should not grow with the
# length of the source).
set -eu

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC_DIR/build-bench}
MINUTES=${2:-10}
RUNS=${3:-3}

cmake -S "$SRC_DIR" -B "$BUILD" >/dev/null
cmake --build "$BUILD" --target kvengine kvbench_job -j2 >/dev/null

WORK=$(mktemp -d /tmp/velmora-bench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cp -r "$BUILD/program" "$WORK/program"
rm -rf "$WORK/program/tmp" && mkdir -p "$WORK/program/tmp"

make_source() { # seconds file
    ffmpeg -v error -y -f lavfi -i "aevalsrc=0.3*sin(2*PI*(220+110*sin(t))*t)|0.3*sin(2*PI*440*t):s=48000:d=$1" \
        -c:a aac -b:a 192k "$2"
}
peak_kb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
# User + system CPU seconds: steadier than wall time on a busy machine.
cpu_s() { awk -F': ' '/User time|System time/ { t += $2 } END { printf "%.2f", t }' "$1"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

SECONDS_LONG=$((MINUTES * 60))
SECONDS_SHORT=$((SECONDS_LONG / 5))
make_source "$SECONDS_LONG" "$WORK/long.m4a"
make_source "$SECONDS_SHORT" "$WORK/short.m4a"

engine_run() { # source seconds -> prints "wall peak"
    rm -f "$WORK/engine.mp3"
    line=$("$BUILD/bench/kvbench_job" "$WORK/program" "$1" "$2" "$WORK/engine.mp3" "$WORK/engine.time")
    case "$line" in *"bConvertFailed=0"*) ;; *) echo "engine run failed: $line" >&2; exit 1 ;; esac
    echo "$(echo "$line" | sed 's/^wall=\([0-9.]*\).*/\1/') $(peak_kb "$WORK/engine.time") $(cpu_s "$WORK/engine.time")"
}
ffmpeg_run() { # source -> prints "wall peak"
    start=$(date +%s.%N)
    /usr/bin/time -v -o "$WORK/ffmpeg.time" ffmpeg -v error -y -i "$1" -vn -ar 44100 -b:a 128k -c:a libmp3lame "$WORK/ffmpeg.mp3"
    end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc) $(peak_kb "$WORK/ffmpeg.time") $(cpu_s "$WORK/ffmpeg.time")"
}

: >"$WORK/engine.runs"
: >"$WORK/ffmpeg.runs"
i=1
while [ "$i" -le "$RUNS" ]; do
    e=$(engine_run "$WORK/long.m4a" "$SECONDS_LONG")
    f=$(ffmpeg_run "$WORK/long.m4a")
    echo "run $i: kvengine $(echo "$e" | awk '{ print $1 " s, " $2 " kB, cpu " $3 " s" }');" \
        "ffmpeg $(echo "$f" | awk '{ print $1 " s, " $2 " kB, cpu " $3 " s" }')"
    echo "$e" >>"$WORK/engine.runs"
    echo "$f" >>"$WORK/ffmpeg.runs"
    i=$((i + 1))
done

ET=$(cut -d' ' -f1 "$WORK/engine.runs" | median)
FT=$(cut -d' ' -f1 "$WORK/ffmpeg.runs" | median)
EM=$(cut -d' ' -f2 "$WORK/engine.runs" | median)
FM=$(cut -d' ' -f2 "$WORK/ffmpeg.runs" | median)
EC=$(cut -d' ' -f3 "$WORK/engine.runs" | median)
FC=$(cut -d' ' -f3 "$WORK/ffmpeg.runs" | median)
echo "source: ${MINUTES} min 48 kHz stereo AAC -> MP3 128 kbit/s 44100 Hz, median of $RUNS runs"
echo "kvengine: ${ET} s, peak ${EM} kB"
echo "ffmpeg:   ${FT} s, peak ${FM} kB"
echo "time ratio kvengine/ffmpeg: $(echo "scale=3; $ET / $FT" | bc) (CPU: ${EC} s / ${FC} s = $(echo "scale=3; $EC / $FC" | bc))"
echo "engine output: $(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate -of csv=p=0 "$WORK/engine.mp3")"

s=$(engine_run "$WORK/short.m4a" "$SECONDS_SHORT")
echo "kvengine peak for a $((SECONDS_SHORT / 60))-min source: $(echo "$s" | cut -d' ' -f2) kB (vs ${EM} kB for ${MINUTES} min)"
