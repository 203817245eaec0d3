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

# A file where the output folder should be.
touch "$tmp/taken"
"$qzhost" render --frames 0 --size 64x36 -o "$tmp/taken/frames" 2>"$tmp/err"
[ $? = 2 ] && grep -q "cannot make output folder" "$tmp/err" || fail "unwritable folder: $(cat "$tmp/err")"

# A disk that fills up: files may grow to 8 KiB only, and frames are larger.
for format in png exr; do
    (ulimit -f 16; "$qzhost" render --frames 0-2 --size 320x180 --format $format -o "$tmp/full" -q 2>"$tmp/err")
    code=$?
    [ $code = 1 ] && grep -q "^qzhost: cannot write '$tmp/full/frame-0000.$format': " "$tmp/err" ||
        fail "full disk ($format) gave $code: $(cat "$tmp/err")"
    [ -z "$(ls -A "$tmp/full")" ] || fail "full disk left frames or temporary files: $(ls -A "$tmp/full")"
done

# This ffmpeg keeps its input as the video; the failing one takes every frame
# and then fails.
mkdir "$tmp/bin" "$tmp/failing"
printf '#!/bin/sh\nfor last; do :; done\ncat >"$last"\n' >"$tmp/bin/ffmpeg"
printf '#!/bin/sh\nfor last; do :; done\ncat >"$last"\nprintf "a warning\\ndisk quota exceeded\\n\\n" >&2\nexit 1\n' >"$tmp/failing/ffmpeg"
chmod +x "$tmp/bin/ffmpeg" "$tmp/failing/ffmpeg"

# Ctrl-C once a few frames are done, then resume. The video of a part is no video.
PATH="$tmp/bin:$PATH" "$qzhost" render --frames 0-40 --size 480x270 --threads 1 -o "$tmp/stopped" -q \
    --video "$tmp/stopped.rgb" 2>"$tmp/err" &
pid=$!
for _ in $(seq 200); do [ -e "$tmp/stopped/frame-0002.png" ] && break; sleep 0.05; done
kill -INT $pid
wait $pid
code=$?
! ls -A "$tmp/stopped" | grep -q '^\.' || fail "temporary files left by Ctrl-C: $(ls -A "$tmp/stopped")"
[ -z "$(ls -A "$tmp" | grep stopped.rgb)" ] || fail "an interrupted render left a video: $(ls -A "$tmp")"
kept=$(ls "$tmp/stopped" | wc -l)
[ $code = 130 ] && [ "$(cat "$tmp/err")" = "qzhost: interrupted: $kept frames written to $tmp/stopped/; run again with --skip-existing to resume" ] ||
    fail "Ctrl-C gave $code: $(cat "$tmp/err")"
[ "$kept" -ge 3 ] && [ "$kept" -lt 41 ] || fail "Ctrl-C kept $kept frames"
# A Ctrl-C that was ignored when qzhost started (as for a background job of a
# shell) stays ignored; SIGTERM stops it, with its own code.
(trap '' INT; exec "$qzhost" render --frames 0-40 --size 480x270 --threads 1 -o "$tmp/terminated" -q 2>"$tmp/err") &
pid=$!
for _ in $(seq 200); do [ -e "$tmp/terminated/frame-0000.png" ] && break; sleep 0.05; done
kill -INT $pid
for _ in $(seq 200); do [ -e "$tmp/terminated/frame-0003.png" ] && break; sleep 0.05; done
kill -TERM $pid
wait $pid
code=$?
[ $code = 143 ] && grep -q "^qzhost: interrupted: " "$tmp/err" || fail "SIGTERM after an ignored Ctrl-C gave $code: $(cat "$tmp/err")"
"$qzhost" render --frames 0-40 --size 480x270 -o "$tmp/stopped" --skip-existing 2>"$tmp/err" >"$tmp/out" ||
    fail "resume failed: $(cat "$tmp/err")"
grep -q "$kept already there" "$tmp/out" || fail "resume did not keep the $kept frames: $(cat "$tmp/out")"
# A kept frame took no time here: no rate, and no time left until a frame is
# rendered. The frames rendered after the kept ones are told as written.
grep -q -x "frame 0 (1 of 41) kept $tmp/stopped/frame-0000.png, 0.0 Mpixels/s, 0:00 left" "$tmp/err" &&
    grep -q "^frame 40 (41 of 41) written to $tmp/stopped/frame-0040.png, " "$tmp/err" ||
    fail "resume progress: $(head -1 "$tmp/err") ... $(tail -1 "$tmp/err")"
[ "$(ls "$tmp/stopped" | wc -l)" = 41 ] || fail "resume left $(ls "$tmp/stopped" | wc -l) frames"
# A resume keeps only whole frames of the render: one cut short, an empty one
# and one of another width, height or depth are rendered again. It removes the
# temporary file a killed run left of one of its frames, and leaves those a
# live writer holds or that belong to frames outside its range (another run's).
"$qzhost" render --frames 0-5 --size 48x27 -o "$tmp/whole" -q
"$qzhost" render --frames 0-5 --size 48x27 -o "$tmp/damaged" -q
head -c 100 "$tmp/whole/frame-0001.png" >"$tmp/damaged/frame-0001.png"
: >"$tmp/damaged/frame-0002.png"
"$qzhost" render --frames 3 --size 24x27 -o "$tmp/damaged" -q
"$qzhost" render --frames 4 --size 48x27 --format png16 -o "$tmp/damaged" -q
"$qzhost" render --frames 5 --size 48x26 -o "$tmp/damaged" -q
touch "$tmp/damaged/".frame-000{0,5,9}.png.Ab12Cd "$tmp/damaged/.frame-0001.exr.Ab12Cd" "$tmp/damaged/.frame-1.png.Ab12Cd"
flock "$tmp/damaged/.frame-0000.png.Live12" sleep 60 &
locker=$!
for _ in $(seq 100); do [ -e "$tmp/damaged/.frame-0000.png.Live12" ] && break; sleep 0.05; done
"$qzhost" render --frames 0-5 --size 48x27 -o "$tmp/damaged" --skip-existing >"$tmp/out" 2>"$tmp/err" ||
    fail "resume over damaged frames: $(cat "$tmp/err")"
kill -- -$locker
grep -q "5 frames written.*1 already there" "$tmp/out" || fail "resume over damaged frames: $(cat "$tmp/out")"
diff -r -x '.*' "$tmp/whole" "$tmp/damaged" || fail "the frames were not made whole"
[ "$(ls -A "$tmp/damaged" | grep '^\.' | tr '\n' ' ')" = ".frame-0000.png.Live12 .frame-0001.exr.Ab12Cd .frame-0009.png.Ab12Cd .frame-1.png.Ab12Cd " ] ||
    fail "temporary files after a resume: $(ls -A "$tmp/damaged")"

# Resuming with a video: frames already there are read back, and the video
# gets the same input as from one whole render; a frame cut short, and frames
# of another height or width, are rendered again.
for format in png png16 exr; do
    PATH="$tmp/bin:$PATH" "$qzhost" render --frames 0-5 --size 48x27 --format $format -o "$tmp/whole-$format" \
        --video "$tmp/whole-$format.rgb" -q || fail "whole render with a video ($format) failed"
    "$qzhost" render --frames 0-2 --size 48x27 --format $format -o "$tmp/resumed-$format" -q
    "$qzhost" render --frames 4 --size 48x26 --format $format -o "$tmp/resumed-$format" -q
    "$qzhost" render --frames 5 --size 47x27 --format $format -o "$tmp/resumed-$format" -q
    file=frame-0003.${format%16}
    head -c 2000 "$tmp/whole-$format/$file" >"$tmp/resumed-$format/$file"
    PATH="$tmp/bin:$PATH" "$qzhost" render --frames 0-5 --size 48x27 --format $format -o "$tmp/resumed-$format" \
        --video "$tmp/resumed-$format.rgb" --skip-existing -q 2>"$tmp/err" || fail "resume with a video: $(cat "$tmp/err")"
    cmp -s "$tmp/whole-$format.rgb" "$tmp/resumed-$format.rgb" || fail "a resumed video ($format) got other frames"
done

# An ffmpeg that fails: the render says why on one line, exits 1, and puts no
# video in place; the frames are kept.
PATH="$tmp/failing:$PATH" "$qzhost" render --frames 0-2 --size 48x27 -o "$tmp/unfinished" \
    --video "$tmp/unfinished.mp4" -q 2>"$tmp/err"
code=$?
[ $code = 1 ] && [ "$(cat "$tmp/err")" = "qzhost: cannot write video '$tmp/unfinished.mp4': ffmpeg failed (disk quota exceeded)" ] ||
    fail "a failing ffmpeg gave $code: $(cat "$tmp/err")"
[ "$(ls -A "$tmp/unfinished" | tr '\n' ' ')" = "frame-0000.png frame-0001.png frame-0002.png " ] ||
    fail "a failed video left $(ls -A "$tmp/unfinished")"
[ "$(ls -A "$tmp" | grep unfinished)" = unfinished ] || fail "a failed video left files: $(ls -A "$tmp" | grep unfinished)"
exit $failed
