#!/bin/sh
# What splitting costs: a 60-minute album rip (44.1 kHz stereo FLAC with a CUE sheet
# of 20 tracks of 3 minutes) converted to MP3 whole and split into its 20 tracks by
# `velmora --render --split cue`, both two files at once, with the ffmpeg tool's own
# whole conversion beside them; whole processes (start-up included), Release build:
#
#   bench/run_split_bench.sh [BUILD_DIR] [MINUTES] [TRACKS] [RUNS]
#
# Defaults: build-bench, 60 minutes, 20 tracks, 3 runs. Each engine of a split seeks to
# its track, so the split should cost about what the whole file does: the CPU time is
# the fair measure (the whole file runs one engine, the split two at a time, so its
# wall time is shorter). Prints the medians of the wall and CPU times (user + system)
# and the split's ratios to the whole conversion.
set -eu

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC_DIR/build-bench}
MINUTES=${2:-60}
TRACKS=${3:-20}
RUNS=${4:-3}

. "$SRC_DIR/bench/timing.sh"
prepare "$BUILD" split
LENGTH=$((MINUTES * 60))
ffmpeg -v error -y -f lavfi \
    -i "aevalsrc=0.3*sin(2*PI*(220+110*sin(t))*t)|0.3*sin(2*PI*440*t):s=44100:d=$LENGTH" \
    -c:a flac -sample_fmt s16 "$WORK/album.flac"
{
    echo 'PERFORMER "Bench"'
    echo 'TITLE "Sixty Minutes"'
    echo 'FILE "album.flac" WAVE'
    k=1
    while [ "$k" -le "$TRACKS" ]; do
        at=$(( (k - 1) * LENGTH / TRACKS ))
        printf '  TRACK %02d AUDIO\n    TITLE "Piece %d"\n    INDEX 01 %02d:%02d:00\n' "$k" "$k" $((at / 60)) $((at % 60))
        k=$((k + 1))
    done
} > "$WORK/album.cue"
echo "source: $(du -m "$WORK/album.flac" | cut -f1) MB, $MINUTES minutes, $TRACKS tracks"

render() { # options...
    rm -rf "$WORK/out" && mkdir -p "$WORK/out"
    timed "$BUILD/program/velmora" --render "$WORK/out" --format mp3 --bitrate 192 --rate 44100 --jobs 2 "$@"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
: > "$WORK/whole" && : > "$WORK/split" && : > "$WORK/ffmpeg"
run=1
while [ "$run" -le "$RUNS" ]; do
    render "$WORK/album.flac" >> "$WORK/whole"
    render --split cue "$WORK/album.flac" >> "$WORK/split"
    [ "$(ls "$WORK/out" | wc -l)" -eq "$TRACKS" ] || { echo "the split wrote $(ls "$WORK/out" | wc -l) files" >&2; exit 1; }
    timed ffmpeg -v error -y -i "$WORK/album.flac" -c:a libmp3lame -b:a 192k "$WORK/ffmpeg.mp3" >> "$WORK/ffmpeg"
    run=$((run + 1))
done
printf '%-28s %8s %8s\n' "" "wall s" "CPU s"
printf '%-28s %8s %8s\n' "ffmpeg tool, whole" "$(median "$WORK/ffmpeg" 1)" "$(median "$WORK/ffmpeg" 2)"
printf '%-28s %8s %8s\n' "velmora, whole" "$(median "$WORK/whole" 1)" "$(median "$WORK/whole" 2)"
printf '%-28s %8s %8s\n' "velmora, $TRACKS tracks" "$(median "$WORK/split" 1)" "$(median "$WORK/split" 2)"
echo "split / whole: wall $(ratio "$(median "$WORK/split" 1)" "$(median "$WORK/whole" 1)")," \
    "CPU $(ratio "$(median "$WORK/split" 2)" "$(median "$WORK/whole" 2)") (target: at most 1.1)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
