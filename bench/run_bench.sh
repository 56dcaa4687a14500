#!/bin/sh
# Times kvengine against the ffmpeg tool for the same conversion of a 48 kHz stereo
# AAC source, to MP3 (libmp3lame) and to WMA (wmav2), both at 128 kbit/s, 44100 Hz,
# stereo, in a Release build. Run by hand (not in CI), on a machine as quiet as it
# gets (the load average is printed before and after):
#
#   bench/run_bench.sh [BUILD_DIR] [MINUTES] [RUNS]
#
# Defaults: build-bench, 10 minutes, 5 runs. The runs alternate between the programs,
# so a change in the machine's load hits both alike. For each format it prints every
# run, then the median and the spread (lowest to highest, and that range as a share
# of the median) of the wall time and of the CPU time (user + system), and the ratios
# of the medians. For MP3 it also times the ffmpeg tool with its sound rounded to 16
# bits before the encoder, as the engine's mix is: LAME's own work depends on that.
# The engine's wall time includes playing every output back before it gets its name;
# each round also times the engine without that check (--no-verify), and the check's
# share of the wall time is printed with each format. Last, the engine's peak memory for a
# source a fifth as long (it should not grow with the length of the source).
#
# BENCH_BASELINE=<program folder> also times the kvengine of that folder (an earlier
# build) in the same rounds.
set -eu

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC_DIR/build-bench}
MINUTES=${2:-10}
RUNS=${3:-5}
BASELINE=${BENCH_BASELINE:-}

cmake -S "$SRC_DIR" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target kvengine kvbench_job -j2 >/dev/null

WORK=$(mktemp -d /tmp/velmora-bench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
copy_program() { # from to
    cp -r "$1" "$2"
    rm -rf "$2/tmp" && mkdir -p "$2/tmp"
}
copy_program "$BUILD/program" "$WORK/program"
[ -n "$BASELINE" ] && copy_program "$BASELINE" "$WORK/baseline"

make_source() { # seconds file
    ffmpeg -v error -y -f lavfi -i "aevalsrc=0.3*sin(2*PI*(220+110*sin(t))*t)|0.3*sin(2*PI*440*t):s=48000:d=$1" \
        -c:a aac -b:a 192k "$2"
}
peak_kb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
cpu_s() { awk -F': ' '/User time|System time/ { t += $2 } END { printf "%.2f", t }' "$1"; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

SECONDS_LONG=$((MINUTES * 60))
SECONDS_SHORT=$((SECONDS_LONG / 5))
make_source "$SECONDS_LONG" "$WORK/long.m4a"
make_source "$SECONDS_SHORT" "$WORK/short.m4a"

# Each run prints "wall cpu peak". With "no-check" last: a job that does not play its
# output back before naming it (--no-verify), to time what that check costs.
engine_run() { # program-folder source seconds extension [no-check]
    rm -f "$WORK/engine.$4"
    nocheck=0
    [ "${5:-}" = no-check ] && nocheck=1
    line=$(KVBENCH_NO_CHECK=$nocheck "$BUILD/bench/kvbench_job" "$1" "$2" "$3" "$WORK/engine.$4" "$WORK/engine.time")
    case "$line" in *"bConvertFailed=0"*) ;; *) echo "engine run failed: $line" >&2; exit 1 ;; esac
    echo "$(echo "$line" | sed 's/^wall=\([0-9.]*\).*/\1/') $(cpu_s "$WORK/engine.time") $(peak_kb "$WORK/engine.time")"
}
ffmpeg_run() { # extension encoder [filter]
    start=$(date +%s.%N)
    /usr/bin/time -v -o "$WORK/ffmpeg.time" ffmpeg -v error -y -i "$WORK/long.m4a" -vn ${3:+-af "$3"} \
        -ar 44100 -ac 2 -b:a 128k -c:a "$2" "$WORK/ffmpeg.$1"
    end=$(date +%s.%N)
    echo "$(echo "$end $start" | awk '{ printf "%.3f", $1 - $2 }') $(cpu_s "$WORK/ffmpeg.time") $(peak_kb "$WORK/ffmpeg.time")"
}

# Column col of a runs file: "median lowest highest spread%".
stats() { # file col
    cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END {
        m = v[int((NR + 1) / 2)]; s = 0; if (m > 0) s = 100 * (v[NR] - v[1]) / m
        printf "%.2f %.2f %.2f %.0f", m, v[1], v[NR], s }'
}
show() { # label file
    w=$(stats "$2" 1)
    c=$(stats "$2" 2)
    printf "  %-26s wall %s s (%s-%s, %s%%)   cpu %s s (%s-%s, %s%%)   peak %s kB\n" "$1" \
        $(echo "$w" | cut -d' ' -f1-4) $(echo "$c" | cut -d' ' -f1-4) "$(stats "$2" 3 | cut -d' ' -f1 | cut -d. -f1)"
}
ratio() { echo "scale=3; $1 / $2" | bc; }

echo "load before: $(load)"
for FORMAT in mp3 wma; do
    ENCODER=libmp3lame
    [ "$FORMAT" = wma ] && ENCODER=wmav2
    : >"$WORK/engine.runs"
    : >"$WORK/nocheck.runs"
    : >"$WORK/baseline.runs"
    : >"$WORK/ffmpeg.runs"
    : >"$WORK/ffmpeg16.runs"
    i=1
    while [ "$i" -le "$RUNS" ]; do
        e=$(engine_run "$WORK/program" "$WORK/long.m4a" "$SECONDS_LONG" "$FORMAT")
        echo "$e" >>"$WORK/engine.runs"
        f=$(ffmpeg_run "$FORMAT" "$ENCODER")
        echo "$f" >>"$WORK/ffmpeg.runs"
        n=$(engine_run "$WORK/program" "$WORK/long.m4a" "$SECONDS_LONG" "$FORMAT" no-check)
        echo "$n" >>"$WORK/nocheck.runs"
        line="$FORMAT run $i: kvengine $e; ffmpeg $f; kvengine --no-verify $n"
        if [ -n "$BASELINE" ]; then
            b=$(engine_run "$WORK/baseline" "$WORK/long.m4a" "$SECONDS_LONG" "$FORMAT")
            echo "$b" >>"$WORK/baseline.runs"
            line="$line; baseline $b"
        fi
        if [ "$FORMAT" = mp3 ]; then
            g=$(ffmpeg_run "$FORMAT" "$ENCODER" "aresample=44100,aformat=sample_fmts=s16")
            echo "$g" >>"$WORK/ffmpeg16.runs"
            line="$line; ffmpeg 16-bit $g"
        fi
        echo "$line  (wall s, cpu s, peak kB)"
        i=$((i + 1))
    done
    echo "$FORMAT: ${MINUTES} min 48 kHz stereo AAC -> 128 kbit/s 44100 Hz stereo, median of $RUNS runs (range, spread):"
    show kvengine "$WORK/engine.runs"
    [ -n "$BASELINE" ] && show "baseline kvengine" "$WORK/baseline.runs"
    show "ffmpeg" "$WORK/ffmpeg.runs"
    [ "$FORMAT" = mp3 ] && show "ffmpeg, 16-bit before LAME" "$WORK/ffmpeg16.runs"
    EW=$(stats "$WORK/engine.runs" 1 | cut -d' ' -f1)
    EC=$(stats "$WORK/engine.runs" 2 | cut -d' ' -f1)
    FW=$(stats "$WORK/ffmpeg.runs" 1 | cut -d' ' -f1)
    FC=$(stats "$WORK/ffmpeg.runs" 2 | cut -d' ' -f1)
    echo "  kvengine / ffmpeg: wall $(ratio "$EW" "$FW"), cpu $(ratio "$EC" "$FC")"
    NW=$(stats "$WORK/nocheck.runs" 1 | cut -d' ' -f1)
    show "kvengine --no-verify" "$WORK/nocheck.runs"
    echo "  output check (played back as it is written): $(echo "$EW - $NW" | bc) s of the engine's $EW s" \
        "wall time ($(echo "scale=1; 100 * ($EW - $NW) / $EW" | bc)%)"
    if [ "$FORMAT" = mp3 ]; then
        GC=$(stats "$WORK/ffmpeg16.runs" 2 | cut -d' ' -f1)
        echo "  kvengine / ffmpeg with 16-bit sound: cpu $(ratio "$EC" "$GC")"
    fi
    echo "  engine output: $(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate -of csv=p=0 "$WORK/engine.$FORMAT")"
done
echo "load after: $(load)"

s=$(engine_run "$WORK/program" "$WORK/short.m4a" "$SECONDS_SHORT" mp3)
echo "kvengine peak for a $((SECONDS_SHORT / 60))-min source: $(echo "$s" | cut -d' ' -f3) kB"

# The formats beyond MP3 and WMA, through the whole program.
"$SRC_DIR/bench/run_format_bench.sh" "$BUILD" "$MINUTES" "$RUNS"
