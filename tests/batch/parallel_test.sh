#!/usr/bin/env bash
# One library converted by two "machines" at once into one folder, shared out by GNU
# parallel as on a cluster (here two local jobs; over ssh it is --sshlogin): every file
# is converted exactly once, under the names one run alone gives, the --json lines
# parse, and a second round skips everything.
set -euo pipefail
velmora=$1
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 77; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
lib=$work/library
mkdir -p "$lib/Rock/A b" "$lib/Rock/A" "$lib/talk" "$lib/Ünï"
tone() { ffmpeg -v error -f lavfi -i "sine=frequency=$1:duration=0.5" "${@:3}" "$2"; }
tone 220 "$lib/Rock/A b/01 one.flac"
tone 330 "$lib/Rock/A b/02 two.opus"
tone 440 "$lib/Rock/A/03.wav"
tone 550 "$lib/Rock/A/04.m4b" -c:a aac
tone 660 "$lib/talk/lecture.webm" -c:a libopus
tone 770 "$lib/Ünï/é.mka" -c:a flac
for i in 1 2 3 4 5 6; do tone $((800 + i * 50)) "$lib/talk/part $i.wav"; done
files=12

export LC_ALL=C.UTF-8
mkdir -p "$work/alone" "$work/shared"
"$velmora" --render "$work/alone" --keep-tree --format flac --jobs 2 "$lib" >/dev/null

round() {
  parallel -j2 "$velmora" --render "$work/shared" --keep-tree --skip-existing --json --format flac --jobs 1 \
    --shard {}/2 "$lib" ::: 0 1 2>"$work/stderr"
}
round >"$work/first.jsonl"
round >"$work/second.jsonl"

python3 - "$work" "$files" <<'PY'
import json, os, sys
work, files = sys.argv[1], int(sys.argv[2])

def listing(root):
    return sorted(os.path.relpath(os.path.join(d, f), root)
                  for d, _, names in os.walk(root) for f in names if not f.startswith("."))

def objects(name):
    with open(os.path.join(work, name), encoding="utf-8") as lines:
        return [json.loads(line) for line in lines]

first, second = objects("first.jsonl"), objects("second.jsonl")
done = [o for o in first if o["state"] == "done"]
assert len(first) == files and len(done) == files, first
assert len({o["output"] for o in done}) == files, "an output written twice"
assert all(o["seconds"] > 0 and o["speed"] > 0 for o in done), done
alone, shared = listing(os.path.join(work, "alone")), listing(os.path.join(work, "shared"))
assert alone == shared, (alone, shared)
assert len(alone) == files and "Rock/A/(output001)03.flac" in alone, alone
assert sorted(o["state"] for o in second) == ["skipped"] * files, second
assert {o["output"] for o in second} == {o["output"] for o in done}
with open(os.path.join(work, "shared", ".velmora-manifest.jsonl"), encoding="utf-8") as manifest:
    entries = [json.loads(line) for line in manifest]
assert sorted(e["state"] for e in entries) == ["done"] * files, entries
print("ok:", files, "files, each once, the names of one run; the second round skipped them all")
PY
