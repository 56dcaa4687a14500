# Helpers the benchmarks source (SRC_DIR set to the source tree).
#   prepare BUILD NAME a Release build of both programs in BUILD, and WORK: a scratch
#                      folder /tmp/velmora-NAME-bench-*, removed on exit
#   timed COMMAND...   runs it quietly, prints "wall cpu" in seconds (cpu: user + system)
#   median FILE COL    the median of column COL of FILE's lines of "wall cpu"
#   ratio A B          A / B to two places

prepare() {
    cmake -S "$SRC_DIR" -B "$1" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$1" --target velmora kvengine -j2 >/dev/null
    WORK=$(mktemp -d "/tmp/velmora-$2-bench-XXXXXX")
    trap 'rm -rf "$WORK"' EXIT
}
cpu_s() { awk -F': ' '/User time|System time/ { t += $2 } END { printf "%.2f", t }' "$1"; }
timed() {
    start=$(date +%s.%N)
    /usr/bin/time -v -o "$WORK/time" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    echo "$(echo "$end $start" | awk '{ printf "%.3f", $1 - $2 }') $(cpu_s "$WORK/time")"
}
median() {
    cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END { printf "%.2f", v[int((NR + 1) / 2)] }'
}
ratio() { echo "scale=2; $1 / $2" | bc; }
