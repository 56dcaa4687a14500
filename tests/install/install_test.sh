#!/usr/bin/env bash
# Velmora installed as a Linux program, tried the way users meet it.
#
#   install_test.sh staging BUILD_DIR JOB_TOOL
#       cmake --install into a staging root (DESTDIR), the program folder made
#       read-only, then two unprivileged users convert with the installed engine at
#       the same time, each through a work folder of their own (the first one also
#       in engine slot 3 alongside slot 0).
#   install_test.sh package BUILD_DIR JOB_TOOL
#       cpack -G DEB; the package passes lintian, unpacks with dpkg-deb -x, its
#       velmora --version runs and its engine converts a job.
#
# Needs root (to make the users and drop to them with setpriv); exits 77 (skipped)
# without it.
set -euo pipefail

MODE=$1
BUILD=$(cd "$2" && pwd)
TOOL=$3
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: needs root to create the test users"
    exit 77
fi

WORK=$(mktemp -d /tmp/velmora-install-XXXXXX)
ROOT=$WORK/root
cleanup() {
    chmod -R u+w "$WORK" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
chmod 755 "$WORK"
FAILED=0

fail() {
    echo "FAIL: $*"
    FAILED=1
}

check_output() { # mp3 expected_seconds
    local codec duration
    codec=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of default=nw=1:nk=1 "$1" 2>/dev/null || true)
    duration=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1" 2>/dev/null || echo 0)
    if [ "$codec" != "mp3" ]; then
        fail "$1: codec '$codec', expected mp3"
        return
    fi
    if ! awk -v d="$duration" -v e="$2" 'BEGIN { exit !(d > e - 0.15 && d < e + 0.15) }'; then
        fail "$1: $duration s, expected $2 s"
        return
    fi
    echo "ok: $1 is mp3, $duration s"
}

# A source every user can read; the job tool where every user can run it.
mkdir -p "$WORK/media" "$WORK/bin"
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3" -ac 2 -c:a pcm_s16le "$WORK/media/source.wav"
cp "$TOOL" "$WORK/bin/velmora_installed_job"
chmod -R a+rX "$WORK/media" "$WORK/bin"

make_user() { # name -> prints uid
    id -u "$1" >/dev/null 2>&1 ||
        useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$1"
    id -u "$1"
}

# Runs a command as user with only the environment given (name=value ...) --.
as_user() { # user env... -- command...
    local user=$1
    shift
    local env=()
    while [ "$1" != "--" ]; do
        env+=("$1")
        shift
    done
    shift
    setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --clear-groups --inh-caps=-all \
        env -i PATH=/usr/bin:/bin "${env[@]}" "$@"
}

stage_install() {
    DESTDIR=$ROOT cmake --install "$BUILD" --prefix /usr >/dev/null
}

case "$MODE" in
staging)
    stage_install
    PROGRAM=$ROOT/usr/lib/velmora/
    for f in velmora kvengine skin/mainwnd.xml skin/btn/main-convert@2x.png; do
        [ -e "$PROGRAM$f" ] || fail "not installed: lib/velmora/$f"
    done
    [ "$(readlink "$ROOT/usr/bin/velmora")" = "../lib/velmora/velmora" ] || fail "bin/velmora is not the launcher link"
    chmod -R a-w "$PROGRAM"
    touch "$WORK/started"
    sleep 1

    U1=velmora-test1
    U2=velmora-test2
    UID1=$(make_user $U1)
    UID2=$(make_user $U2)
    # The first user has the default state folder under the home, the second one
    # sets XDG_STATE_HOME.
    mkdir -p "$WORK/home1" "$WORK/home2" "$WORK/state2" "$WORK/out1" "$WORK/out2"
    chown $U1: "$WORK/home1" "$WORK/out1"
    chown $U2: "$WORK/home2" "$WORK/state2" "$WORK/out2"

    as_user $U1 HOME="$WORK/home1" -- touch "$PROGRAM/tmp-probe" 2>/dev/null &&
        fail "user $U1 could write into the installed program folder"

    # Three jobs at once from one installation: user 1 in slots 0 and 3, user 2 in slot 0.
    as_user $U1 HOME="$WORK/home1" -- "$WORK/bin/velmora_installed_job" \
        "$PROGRAM" "$WORK/media/source.wav" 3 "$WORK/out1/slot0.mp3" >"$WORK/job1" 2>&1 &
    P1=$!
    as_user $U1 HOME="$WORK/home1" -- "$WORK/bin/velmora_installed_job" --slot=3 \
        "$PROGRAM" "$WORK/media/source.wav" 3 "$WORK/out1/slot3.mp3" >"$WORK/job1s" 2>&1 &
    P1S=$!
    as_user $U2 HOME="$WORK/home2" XDG_STATE_HOME="$WORK/state2" -- "$WORK/bin/velmora_installed_job" \
        "$PROGRAM" "$WORK/media/source.wav" 3 "$WORK/out2/slot0.mp3" >"$WORK/job2" 2>&1 &
    P2=$!
    for job in "$P1:job1" "$P1S:job1s" "$P2:job2"; do
        wait "${job%%:*}" || fail "${job#*:} did not finish"
        sed "s/^/  ${job#*:}: /" "$WORK/${job#*:}"
    done
    check_output "$WORK/out1/slot0.mp3" 3
    check_output "$WORK/out1/slot3.mp3" 3
    check_output "$WORK/out2/slot0.mp3" 3

    # Each user's own work folder, private, under the rule of the state folder.
    HASH=$(sed -n 's|^work=.*/velmora/\([0-9a-f]\{16\}\)/ .*|\1|p' "$WORK/job1")
    [ -n "$HASH" ] || fail "no work folder reported"
    W1=$WORK/home1/.local/state/velmora/$HASH
    W2=$WORK/state2/velmora/$HASH
    [ "$(stat -c '%a %U' "$W1")" = "700 $U1" ] || fail "$W1: $(stat -c '%a %U' "$W1")"
    [ "$(stat -c '%a %U' "$W2")" = "700 $U2" ] || fail "$W2: $(stat -c '%a %U' "$W2")"
    [ -f "$W1/tmp/option.dat" ] && [ -f "$W1/tmp/slot-3/option.dat" ] && [ -f "$W2/tmp/option.dat" ] ||
        fail "job files are not in the work folders"
    BLOCK="/{5DA50214-B4FD-483E-A189-CBE2EDA34F6F}-$HASH"
    grep -Fqx "work=$W1/ block=$BLOCK-$UID1" "$WORK/job1" || fail "user 1's work folder or block"
    grep -Fqx "work=$W1/ block=$BLOCK-$UID1-3" "$WORK/job1s" || fail "slot 3's work folder or block"
    grep -Fqx "work=$W2/ block=$BLOCK-$UID2" "$WORK/job2" || fail "user 2's work folder or block"
    ls /dev/shm | grep -q -- "-$HASH-" && fail "a job block was left behind: $(ls /dev/shm | grep -- "-$HASH-")"
    if [ -n "$(find "$ROOT" -newer "$WORK/started")" ]; then
        fail "the installation changed: $(find "$ROOT" -newer "$WORK/started")"
    fi

    # The launcher from the staging root, as a user, without a display.
    out=$(as_user $U1 HOME="$WORK/home1" -- "$ROOT/usr/bin/velmora" --version) || true
    [ "$out" = "velmora $VERSION" ] || fail "velmora --version printed '$out'"
    if as_user $U1 HOME="$WORK/home1" -- "$ROOT/usr/bin/velmora" >"$WORK/nodisplay" 2>&1; then
        fail "velmora without a display did not fail"
    fi
    grep -q "no display" "$WORK/nodisplay" || fail "velmora without a display said: $(cat "$WORK/nodisplay")"
    ;;

package)
    mkdir -p "$WORK/pkg"
    (cd "$BUILD" && cpack -G DEB -B "$WORK/pkg" >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; fail "cpack"; }
    DEB=$WORK/pkg/velmora_${VERSION}_amd64.deb
    [ -f "$DEB" ] || fail "no $(basename "$DEB"): $(ls "$WORK/pkg")"
    depends=$(dpkg-deb -f "$DEB" Depends)
    echo "Depends: $depends"
    for lib in libavformat libavcodec libqt6widgets6 libtinyxml; do
        case "$depends" in *"$lib"*) ;; *) fail "Depends lacks $lib" ;; esac
    done
    # Errors fail; warnings are shown.
    lintian --fail-on error "$DEB" >"$WORK/lintian" 2>&1 || fail "lintian reports errors"
    grep -v "root privileges" "$WORK/lintian" || true

    dpkg-deb -x "$DEB" "$ROOT"
    out=$("$ROOT/usr/bin/velmora" --version) || true
    [ "$out" = "velmora $VERSION" ] || fail "velmora --version printed '$out'"
    appstreamcli validate --no-net "$ROOT/usr/share/metainfo/org.velmora.Velmora.metainfo.xml" ||
        fail "appstreamcli rejects the metainfo"
    grep -q '^Icon=velmora$' "$ROOT/usr/share/applications/velmora.desktop" || fail "desktop entry has no icon"
    grep -q '^MimeType=.*video/mp4;.*audio/mpeg;' "$ROOT/usr/share/applications/velmora.desktop" ||
        fail "desktop entry lacks media types"
    file "$ROOT/usr/share/icons/hicolor/48x48/apps/velmora.png" | grep -q "48 x 48" || fail "icon is not 48x48"
    [ -s "$ROOT/usr/share/icons/hicolor/scalable/apps/velmora.svg" ] || fail "no scalable icon"
    file "$ROOT/usr/share/icons/hicolor/48x48@2/apps/velmora.png" | grep -q "96 x 96" || fail "2x icon is not 96x96"
    file "$ROOT/usr/lib/velmora/skin/btn/main-convert@2x.png" | grep -q "1008 x 80" || fail "the 2x skin is not packaged"

    mkdir -p "$WORK/state" "$WORK/out"
    XDG_STATE_HOME=$WORK/state "$WORK/bin/velmora_installed_job" "$ROOT/usr/lib/velmora" \
        "$WORK/media/source.wav" 3 "$WORK/out/deb.mp3" || fail "the packaged engine did not convert"
    check_output "$WORK/out/deb.mp3" 3
    ;;
*)
    echo "unknown mode $MODE"
    exit 2
    ;;
esac

[ "$FAILED" -eq 0 ] && echo "PASS: $MODE"
exit "$FAILED"
