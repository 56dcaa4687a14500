#!/bin/sh
# Times `velmora --render` against the ffmpeg tool, whole processes (start-up
# included), for the formats beyond MP3 and WMA, on the sound track of a 10-minute
# H.264 video with 192 kbit/s AAC sound (about 160 MB), in a Release build:
#
#   bench/run_format_bench.sh [BUILD_DIR] [MINUTES] [RUNS]
#
# Defaults: build-bench, 10 minutes, 5 runs. Original against `ffmpeg -vn -c:a copy`;
# FLAC (level 5), Opus (128 kbit/s), AAC (192 kbit/s) and Vorbis (quality 5) against
# the ffmpeg tool with the same encoder and settings at the source's rate and channels.
# BENCH_FORMATS="original flac" times only those.
# velmora plays every output back before it gets its name; each round also times it
# without that check (--no-verify). The runs alternate between the programs. For each
# format: the medians of the wall and CPU times (user + system) and their ratios.
set -eu

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC_DIR/build-bench}
MINUTES=${2:-10}
RUNS=${3:-5}

. "$SRC_DIR/bench/timing.sh"
prepare "$BUILD" format
SECONDS_LONG=$((MINUTES * 60))
ffmpeg -v error -y -f lavfi -i "testsrc2=s=640x360:r=25:d=$SECONDS_LONG" \
    -f lavfi -i "aevalsrc=0.3*sin(2*PI*(220+110*sin(t))*t)|0.3*sin(2*PI*440*t):s=48000:d=$SECONDS_LONG" \
    -c:v libx264 -preset ultrafast -b:v 2000k -c:a aac -b:a 192k -shortest "$WORK/film.mp4"
echo "source: $(du -m "$WORK/film.mp4" | cut -f1) MB, $(ffprobe -v error -select_streams a -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 "$WORK/film.mp4")"


velmora_run() { # format [options...]
    rm -rf "$WORK/out" && mkdir -p "$WORK/out"
    timed "$BUILD/program/velmora" --render "$WORK/out" --format "$@" "$WORK/film.mp4"
}
ffmpeg_run() { # extension ffmpeg-options...
    ext=$1
    shift
    timed ffmpeg -v error -y -i "$WORK/film.mp4" -vn "$@" "$WORK/ffmpeg.$ext"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for FORMAT in ${BENCH_FORMATS:-original flac opus aac vorbis}; do
    case $FORMAT in
    original) EXT=m4a; FF="-c:a copy" ;;
    flac) EXT=flac; FF="-c:a flac -compression_level 5 -sample_fmt s16" ;;
    opus) EXT=opus; FF="-c:a libopus -b:a 128k" ;;
    aac) EXT=m4a; FF="-c:a aac -b:a 192k" ;;
    vorbis) EXT=ogg; FF="-c:a libvorbis -q:a 5" ;;
    esac
    : >"$WORK/v.runs"
    : >"$WORK/n.runs"
    : >"$WORK/f.runs"
    i=1
    while [ "$i" -le "$RUNS" ]; do
        v=$(velmora_run "$FORMAT")
        echo "$v" >>"$WORK/v.runs"
        # shellcheck disable=SC2086
        f=$(ffmpeg_run "$EXT" $FF)
        echo "$f" >>"$WORK/f.runs"
        n=$(velmora_run "$FORMAT" --no-verify)
        echo "$n" >>"$WORK/n.runs"
        echo "$FORMAT run $i: velmora $v; ffmpeg $f; velmora --no-verify $n  (wall s, cpu s)"
        i=$((i + 1))
    done
    VW=$(median "$WORK/v.runs" 1); VC=$(median "$WORK/v.runs" 2)
    NW=$(median "$WORK/n.runs" 1); NC=$(median "$WORK/n.runs" 2)
    FW=$(median "$WORK/f.runs" 1); FC=$(median "$WORK/f.runs" 2)
    echo "$FORMAT: median of $RUNS: velmora wall $VW s cpu $VC s; --no-verify wall $NW s cpu $NC s; ffmpeg wall $FW s cpu $FC s"
    echo "  velmora / ffmpeg: wall $(ratio "$VW" "$FW"), cpu $(ratio "$VC" "$FC"); --no-verify: wall $(ratio "$NW" "$FW"), cpu $(ratio "$NC" "$FC")"
    echo "  velmora output: $(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate,sample_fmt -of csv=p=0 "$WORK"/out/*)"
    echo "  ffmpeg output:  $(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate,sample_fmt -of csv=p=0 "$WORK/ffmpeg.$EXT")"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
