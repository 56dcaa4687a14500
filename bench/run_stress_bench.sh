#!/bin/sh
# Engine figures that must not depend on where an item sits or what its file carries.
# Run by hand (not in CI; the 3-hour project takes a minute or two):
#
#   bench/run_stress_bench.sh [BUILD_DIR] [TAG_MB]
#
# Prints:
#   1. peak memory of a one-item job and of a project whose second item starts at
#      3 h (10800 s), and whether they lie within 10% of each other;
#   2. how often the engine opens each source file in a conversion (counted with
#      strace; skipped when strace is not installed);
#   3. an MP3 behind an ID3 tag of TAG_MB megabytes (default 100): the engine's time,
#      peak memory and opens against the ffmpeg tool's time and peak memory.
set -eu

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC_DIR/build-bench}
TAG_MB=${2:-100}

cmake -S "$SRC_DIR" -B "$BUILD" >/dev/null
cmake --build "$BUILD" --target kvengine kvbench_job -j2 >/dev/null

WORK=$(mktemp -d /tmp/velmora-stress-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cp -r "$BUILD/program" "$WORK/program"
rm -rf "$WORK/program/tmp" && mkdir -p "$WORK/program/tmp"

peak_kb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
wall_s() { echo "$1" | sed 's/^wall=\([0-9.]*\).*/\1/'; }

run_job() { # source seconds output report [second_start [second_source]]
    src=$1 secs=$2 out=$3 rep=$4
    shift 4
    rm -f "$out"
    line=$("$BUILD/bench/kvbench_job" "$WORK/program" "$src" "$secs" "$out" "$rep" "$@" 2>&1) || true
    case "$line" in *"bConvertFailed=0"*) ;; *) echo "engine run failed: $line" >&2; exit 1 ;; esac
    echo "$line"
}
opens() { # file strace_log -> number of times the file was opened
    grep -F "\"$1\"" "$2" | grep -vc ENOENT || true
}

ffmpeg -v error -y -f lavfi -i "aevalsrc=0.3*sin(2*PI*(220+110*sin(t))*t)|0.3*sin(2*PI*440*t):s=48000:d=2" \
    -c:a aac -b:a 192k "$WORK/a.m4a"
cp "$WORK/a.m4a" "$WORK/b.m4a"

# 1. Memory against the position on the time line.
one=$(run_job "$WORK/a.m4a" 2 "$WORK/one.mp3" "$WORK/one.time")
far=$(run_job "$WORK/a.m4a" 2 "$WORK/far.mp3" "$WORK/far.time" 10800 "$WORK/b.m4a")
ONE=$(peak_kb "$WORK/one.time")
FAR=$(peak_kb "$WORK/far.time")
echo "peak memory, one 2-s item:                       ${ONE} kB ($(wall_s "$one") s)"
echo "peak memory, second 2-s item starting at 3 h:    ${FAR} kB ($(wall_s "$far") s, output $(ffprobe -v error -show_entries format=duration -of csv=p=0 "$WORK/far.mp3") s)"
echo "ratio 3 h / one item: $(echo "scale=3; $FAR / $ONE" | bc) -> $(echo "$FAR $ONE" | awk '{ d = ($1 - $2) / $2; if (d < 0) d = -d; print (d <= 0.10 ? "within 10%" : "NOT within 10%") }')"

# 2. Opens per source file in a conversion.
if command -v strace >/dev/null 2>&1; then
    rm -f "$WORK/one.mp3"
    strace -f -qq -e trace=open,openat -o "$WORK/one.strace" \
        "$BUILD/bench/kvbench_job" "$WORK/program" "$WORK/a.m4a" 2 "$WORK/one.mp3" "$WORK/one2.time" >/dev/null
    rm -f "$WORK/two.mp3"
    strace -f -qq -e trace=open,openat -o "$WORK/two.strace" \
        "$BUILD/bench/kvbench_job" "$WORK/program" "$WORK/a.m4a" 2 "$WORK/two.mp3" "$WORK/two.time" 3 "$WORK/b.m4a" >/dev/null
    echo "source opens, one-item job:  $(opens "$WORK/a.m4a" "$WORK/one.strace")"
    echo "source opens, two-item job:  first $(opens "$WORK/a.m4a" "$WORK/two.strace"), second $(opens "$WORK/b.m4a" "$WORK/two.strace")"
else
    echo "source opens: strace is not installed, not counted"
fi

# 3. A large ID3 tag: one large text frame in front of a 5-s MP3.
ffmpeg -v error -y -f lavfi -i "sine=f=440:d=5" -ac 2 -c:a libmp3lame -b:a 128k "$WORK/plain.mp3"
python3 - "$WORK/plain.mp3" "$WORK/tagged.mp3" "$TAG_MB" <<'EOF'
import struct, sys
audio = open(sys.argv[1], 'rb').read()
text = b'\0big\0' + b'a' * (int(sys.argv[3]) * 1024 * 1024)
frame = b'TXXX' + struct.pack('>I', len(text)) + b'\0\0' + text
n = len(frame)
size = bytes([(n >> 21) & 0x7f, (n >> 14) & 0x7f, (n >> 7) & 0x7f, n & 0x7f])
open(sys.argv[2], 'wb').write(b'ID3\x03\x00\x00' + size + frame + audio)
EOF
tagged=$(run_job "$WORK/tagged.mp3" 5 "$WORK/tagged-out.mp3" "$WORK/tagged.time")
start=$(date +%s.%N)
/usr/bin/time -v -o "$WORK/ffmpeg.time" ffmpeg -v error -y -i "$WORK/tagged.mp3" -ar 44100 -b:a 128k -c:a libmp3lame "$WORK/ffmpeg.mp3"
end=$(date +%s.%N)
echo "MP3 behind a ${TAG_MB} MB ID3 tag: kvengine $(wall_s "$tagged") s, peak $(peak_kb "$WORK/tagged.time") kB;" \
    "ffmpeg $(echo "$end - $start" | bc) s, peak $(peak_kb "$WORK/ffmpeg.time") kB"
if command -v strace >/dev/null 2>&1; then
    rm -f "$WORK/tagged-out.mp3"
    strace -f -qq -e trace=open,openat -o "$WORK/tagged.strace" \
        "$BUILD/bench/kvbench_job" "$WORK/program" "$WORK/tagged.mp3" 5 "$WORK/tagged-out.mp3" "$WORK/tagged2.time" >/dev/null
    echo "source opens, tagged MP3: $(opens "$WORK/tagged.mp3" "$WORK/tagged.strace")"
fi
