#!/bin/bash
# qzhost render under faults: an unwritable folder, a full disk, Ctrl-C,
# resuming with a video, and a video that fails.
# Each leaves only whole frames, says so on one line, and exits with its code.
set -u -m
qzhost=$1
failed=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; failed=1; }
no_partial_files() {
    if ls -A "$1" | grep -q '^\.'; then fail "temporary files left in $1: $(ls -A "$1")"; fi
}

# A file where the output folder should be.
touch "$tmp/taken"
"$qzhost" render --frames 0 --size 64x36 -o "$tmp/taken/frames" 2>"$tmp/err"
[ $? = 2 ] && grep -q "cannot make output folder" "$tmp/err" || fail "unwritable folder: $(cat "$tmp/err")"

# A disk that fills up: files may grow to 8 KiB only, and frames are larger.
(ulimit -f 16; "$qzhost" render --frames 0-2 --size 320x180 -o "$tmp/full" -q 2>"$tmp/err")
code=$?
[ $code = 1 ] && grep -q "cannot write '.*frame-0000.png'" "$tmp/err" || fail "full disk gave $code: $(cat "$tmp/err")"
no_partial_files "$tmp/full"
[ -z "$(ls "$tmp/full")" ] || fail "full disk left frames: $(ls "$tmp/full")"

# This ffmpeg keeps its input as the video.
mkdir "$tmp/bin"
printf '#!/bin/sh\nfor last; do :; done\ncat >"$last"\n' >"$tmp/bin/ffmpeg"
chmod +x "$tmp/bin/ffmpeg"

# Ctrl-C once a few frames are done, then resume. The video of a part is no video.
PATH="$tmp/bin:$PATH" "$qzhost" render --frames 0-40 --size 480x270 --threads 1 -o "$tmp/stopped" -q \
    --video "$tmp/stopped.rgb" 2>"$tmp/err" &
pid=$!
for _ in $(seq 200); do [ -e "$tmp/stopped/frame-0002.png" ] && break; sleep 0.05; done
kill -INT $pid
wait $pid
code=$?
[ $code = 130 ] && grep -q "interrupted: .* frames written .*--skip-existing" "$tmp/err" || fail "Ctrl-C gave $code: $(cat "$tmp/err")"
no_partial_files "$tmp/stopped"
[ -z "$(ls -A "$tmp" | grep stopped.rgb)" ] || fail "an interrupted render left a video: $(ls -A "$tmp")"
kept=$(ls "$tmp/stopped" | wc -l)
[ "$kept" -ge 3 ] && [ "$kept" -lt 41 ] || fail "Ctrl-C kept $kept frames"
"$qzhost" render --frames 0-40 --size 480x270 -o "$tmp/stopped" --skip-existing 2>"$tmp/err" >"$tmp/out" ||
    fail "resume failed: $(cat "$tmp/err")"
grep -q "$kept already there" "$tmp/out" || fail "resume did not keep the $kept frames: $(cat "$tmp/out")"
[ "$(ls "$tmp/stopped" | wc -l)" = 41 ] || fail "resume left $(ls "$tmp/stopped" | wc -l) frames"
# A resume keeps only whole frames of the render: one cut short, an empty one
# and one of another size or depth are rendered again. It removes the
# temporary file a killed run left of one of its frames, and leaves those a
# live writer holds or that belong to frames outside its range (another run's).
"$qzhost" render --frames 0-4 --size 48x27 -o "$tmp/whole" -q
"$qzhost" render --frames 0-4 --size 48x27 -o "$tmp/damaged" -q
head -c 100 "$tmp/whole/frame-0001.png" >"$tmp/damaged/frame-0001.png"
: >"$tmp/damaged/frame-0002.png"
"$qzhost" render --frames 3 --size 24x27 -o "$tmp/other" -q
"$qzhost" render --frames 4 --size 48x27 --format png16 -o "$tmp/other" -q
cp "$tmp/other/frame-0003.png" "$tmp/other/frame-0004.png" "$tmp/damaged/"
touch "$tmp/damaged/.frame-0004.png.Ab12Cd" "$tmp/damaged/.frame-0009.png.Ab12Cd"
flock "$tmp/damaged/.frame-0000.png.Live12" sleep 60 &
locker=$!
for _ in $(seq 100); do [ -e "$tmp/damaged/.frame-0000.png.Live12" ] && break; sleep 0.05; done
"$qzhost" render --frames 0-4 --size 48x27 -o "$tmp/damaged" --skip-existing >"$tmp/out" 2>"$tmp/err" ||
    fail "resume over damaged frames: $(cat "$tmp/err")"
kill -- -$locker
grep -q "4 frames written.*1 already there" "$tmp/out" || fail "resume over damaged frames: $(cat "$tmp/out")"
for f in 0 1 2 3 4; do
    cmp -s "$tmp/whole/frame-000$f.png" "$tmp/damaged/frame-000$f.png" || fail "frame $f was not made whole"
done
[ "$(ls -A "$tmp/damaged" | grep '^\.' | tr '\n' ' ')" = ".frame-0000.png.Live12 .frame-0009.png.Ab12Cd " ] ||
    fail "temporary files after a resume: $(ls -A "$tmp/damaged")"

# Resuming with a video: frames already there are read back, and the video
# gets the same input as from one whole render.
for format in png exr; do
    PATH="$tmp/bin:$PATH" "$qzhost" render --frames 0-5 --size 48x27 --format $format -o "$tmp/whole-$format" \
        --video "$tmp/whole-$format.rgb" -q || fail "whole render with a video ($format) failed"
    "$qzhost" render --frames 0-2 --size 48x27 --format $format -o "$tmp/resumed-$format" -q
    PATH="$tmp/bin:$PATH" "$qzhost" render --frames 0-5 --size 48x27 --format $format -o "$tmp/resumed-$format" \
        --video "$tmp/resumed-$format.rgb" --skip-existing -q 2>"$tmp/err" || fail "resume with a video: $(cat "$tmp/err")"
    cmp -s "$tmp/whole-$format.rgb" "$tmp/resumed-$format.rgb" || fail "a resumed video ($format) got other frames"
done

# An ffmpeg that takes every frame and then fails: the render says why on one
# line, exits 1, and puts no video in place; the frames are kept.
mkdir "$tmp/failing"
printf '#!/bin/sh\nfor last; do :; done\ncat >"$last"\necho "disk quota exceeded" >&2\nexit 1\n' >"$tmp/failing/ffmpeg"
chmod +x "$tmp/failing/ffmpeg"
PATH="$tmp/failing:$PATH" "$qzhost" render --frames 0-2 --size 48x27 -o "$tmp/unfinished" \
    --video "$tmp/unfinished.mp4" -q 2>"$tmp/err"
code=$?
[ $code = 1 ] && grep -q "cannot write video '$tmp/unfinished.mp4': ffmpeg failed (disk quota exceeded)" "$tmp/err" ||
    fail "a failing ffmpeg gave $code: $(cat "$tmp/err")"
[ ! -e "$tmp/unfinished.mp4" ] || fail "a failed video was put in place"
[ "$(ls -A "$tmp/unfinished" | tr '\n' ' ')" = "frame-0000.png frame-0001.png frame-0002.png " ] ||
    fail "a failed video left $(ls -A "$tmp/unfinished")"
[ ! -e "$tmp/.unfinished.mp4.partial" ] || fail "a failed video left its temporary file"
exit $failed
