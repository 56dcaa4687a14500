# Sourced by the benchmarks that run "velmora --render": builds both programs in
# $BUILD, copies the program folder to a fresh $WORK (named after $WORK_PREFIX) with a
# work folder of its own, no display, and removes all of it on exit, the
# shared-memory objects of the copy's engine slots included.

cmake -S "$SRC_DIR" -B "$BUILD" >/dev/null
cmake --build "$BUILD" --target velmora kvengine -j2 >/dev/null

WORK=$(mktemp -d "/tmp/$WORK_PREFIX-XXXXXX")

# FNV-1a 64 of a (plain ASCII) path: the programs name their shared-memory objects
# with it.
fnv1a() {
    h=-3750763034362895579
    s=$1
    while [ -n "$s" ]; do
        c=$(printf '%d' "'$s")
        h=$(( (h ^ c) * 1099511628211 ))
        s=${s#?}
    done
    printf '%016x' "$h"
}
HASH=$(fnv1a "$WORK/program/")
trap 'rm -rf "$WORK"; rm -f /dev/shm/*"-$HASH-"*' EXIT
cp -r "$BUILD/program" "$WORK/program"
export XDG_STATE_HOME="$WORK/state"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
