#!/bin/sh
# What even loudness costs: a 10-minute rip (44.1 kHz stereo FLAC) converted to MP3
# plainly, normalised to -16 LUFS (`--loudness -16`: a measuring pass, then the
# conversion with its gain) and with ReplayGain tags (`--replaygain`: measured on the
# way), with the ffmpeg tool's plain conversion beside them; whole processes, Release
# build:
#
#   bench/run_loudness_bench.sh [BUILD_DIR] [MINUTES] [RUNS]
#
# Defaults: build-bench, 10 minutes, 5 runs. Prints the medians of the wall and CPU
# times (user + system) and each one's ratio to the plain conversion.
set -eu

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC_DIR/build-bench}
MINUTES=${2:-10}
RUNS=${3:-5}

. "$SRC_DIR/bench/timing.sh"
prepare "$BUILD" loudness
ffmpeg -v error -y -f lavfi -i "anoisesrc=color=pink:seed=1:amplitude=0.1:d=$((MINUTES * 60))" \
    -af "volume=-6dB" -ar 44100 -ac 2 -c:a flac -sample_fmt s16 "$WORK/rip.flac"
echo "source: $(du -m "$WORK/rip.flac" | cut -f1) MB, $MINUTES minutes"
render() { # options...
    rm -rf "$WORK/out" && mkdir -p "$WORK/out"
    timed "$BUILD/program/velmora" --render "$WORK/out" --format mp3 --bitrate 192 --rate 44100 "$@" "$WORK/rip.flac"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
: > "$WORK/plain" && : > "$WORK/normal" && : > "$WORK/tags" && : > "$WORK/ffmpeg"
run=1
while [ "$run" -le "$RUNS" ]; do
    render >> "$WORK/plain"
    render --loudness -16 >> "$WORK/normal"
    render --replaygain >> "$WORK/tags"
    timed ffmpeg -v error -y -i "$WORK/rip.flac" -c:a libmp3lame -b:a 192k "$WORK/ffmpeg.mp3" >> "$WORK/ffmpeg"
    run=$((run + 1))
done
printf '%-28s %8s %8s %12s\n' "" "wall s" "CPU s" "wall ratio"
for case in ffmpeg plain normal tags; do
    case $case in
    ffmpeg) label="ffmpeg tool, plain" ;;
    plain) label="velmora, plain" ;;
    normal) label="velmora, --loudness -16" ;;
    tags) label="velmora, --replaygain" ;;
    esac
    printf '%-28s %8s %8s %12s\n' "$label" "$(median "$WORK/$case" 1)" "$(median "$WORK/$case" 2)" \
        "$(ratio "$(median "$WORK/$case" 1)" "$(median "$WORK/plain" 1)")"
done
echo "target: --loudness at most 1.25 x the plain conversion's wall time"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
