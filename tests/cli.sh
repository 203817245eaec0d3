#!/bin/sh
# qzhost from the command line: what it prints, and one clear line with exit
# code 2 for each kind of bad input.
set -u
qzhost=$1 module=$2 fixtures=$3
failed=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME="$tmp/data"  # where a panel's preset shelf goes: never the user's
shelf=$tmp/shelf.sqlite corpus=$(dirname "$0")/fuzz/corpus/preset
mkdir "$tmp/mine" "$tmp/quiet" "$tmp/saving" "$tmp/gone" "$tmp/bin"
fail() { echo "FAIL: $*"; failed=1; }

# Results go to stdout; errors, one line each, and progress to stderr, so
# that a script can take the output of a command as it is.
expect() {  # expect CODE PATTERN ARGS...: on stdout for code 0, else alone on stderr
    code=$1 pattern=$2
    shift 2
    "$qzhost" "$@" >"$tmp/out" 2>"$tmp/err"
    got=$?
    stream=$tmp/out
    [ "$code" = 0 ] || stream=$tmp/err
    [ "$got" = "$code" ] && grep -q -- "$pattern" "$stream" ||
        fail "qzhost $* gave exit $got (wanted $code and '$pattern' on std${stream##*/}): $(cat "$tmp/out" "$tmp/err")"
    [ "$code" = 0 ] || [ ! -s "$tmp/out" ] || fail "qzhost $* failed but printed a result: $(cat "$tmp/out")"
    [ "$code" != 2 ] || [ "$(wc -l <"$tmp/err")" = 1 ] || fail "qzhost $* printed more than one error line"
}

refused() {  # refused CODE PATTERN ARGS...: as expect, rendering nothing into the folder it names with -o
    expect "$@" -o "$tmp/unrendered"
    shift 2
    [ ! -e "$tmp/unrendered" ] || { fail "qzhost $* rendered before refusing"; rm -rf "$tmp/unrendered"; }
}

edited() {  # edited NAME SED-SCRIPT: writes the scene as the script edits it to $tmp/NAME.json, and names that
    sed "$2" "$tmp/scene.json" >"$tmp/$1.json"
    echo "$tmp/$1.json"
}

expect 0 'PixelFilterHandler  "Vorlux"' describe "$module"
[ "$(cat "$tmp/out")" = "$("$qzhost" --version)
$module: 2 servers
  PixelFilterHandler  \"Vorlux\"
  PixelFilterInterface  \"Vorlux\"" ] || fail "describe printed $(cat "$tmp/out")"
expect 0 'MODULE' describe --help
expect 2 'no such file' describe "$tmp/missing.p"
printf 'not a module' >"$tmp/text.p"
expect 2 'is not loadable: .*text.p' describe "$tmp/text.p"
expect 2 'has no _mod_descrip' describe "$fixtures/no_descriptor.p"
expect 2 'has wrong codes 0x04121995 0x00000003 0x00000300 ' describe "$fixtures/bad_magic.p"
expect 2 'has wrong codes 0x04121994 0x00000004 0x00000300 ' describe "$fixtures/bad_code2.p"
expect 2 'has wrong codes 0x04121994 0x00000003 0x00000301 ' describe "$fixtures/bad_code3.p"
expect 2 'start-up failed' describe "$fixtures/startup_fails.p"
expect 2 'has a descriptor with a null start-up, shutdown or server table' describe "$fixtures/no_shutdown.p"
# A module refused after its start-up is shut down before it is unloaded.
export QZHOST_FIXTURE_SHUTDOWN="$tmp/shut-down"
expect 2 'no server table terminator within 256' describe "$fixtures/unterminated.p"
[ -e "$tmp/shut-down" ] || fail "a module refused after its start-up was not shut down"
expect 2 'has a server record 0 without class, name or activation' describe "$fixtures/no_activation.p"
expect 2 '^qzhost: .* (see qzhost --help)$' describe
expect 2 '^qzhost: .* (see qzhost --help)$'

# A scene's module comes from a trusted folder only, never from beside the
# scene: here the module beside it is a decoy that is not loadable.
cp "$module" "$tmp/mine/vorlux.p"
printf 'not a module' >"$tmp/vorlux.p"
cat >"$tmp/scene.json" <<'JSON'
{"frames": {"width": 64, "height": 48, "pixelAspect": 1, "fps": 24, "first": 0, "last": 3},
 "filters": [{"module": "vorlux.p", "server": "Vorlux"}]}
JSON
expect 0 'filter 1: Vorlux  (-0.222, 0.8)  15' scene show "$tmp/scene.json"
[ "$(cat "$tmp/out")" = "$tmp/scene.json: 64x48, pixel aspect 1, 24 fps, frames 0-3
  filter 1: Vorlux  (-0.222, 0.8)  15" ] || fail "scene show printed $(cat "$tmp/out")"
expect 2 "to allow it, run with --modules '$tmp/mine'" scene show "$(edited path 's|"vorlux.p"|"mine/vorlux.p"|')"
expect 0 'filter 1: Vorlux' scene show "$tmp/path.json" --modules "$tmp/mine"
mv "$tmp/mine/vorlux.p" "$tmp/mine/mine.p"
expect 2 "module 'mine.p' not found in .*--modules DIR" scene show "$(edited mine 's|"vorlux.p"|"mine.p"|')"
export QZHOST_MODULE_PATH="$tmp/elsewhere:$tmp/mine"
expect 0 'filter 1: Vorlux' scene show "$tmp/mine.json"
unset QZHOST_MODULE_PATH
expect 0 '1 frames written' render "$tmp/mine.json" --modules "$tmp/mine" --frames 0 -o "$tmp/frames"
# A folder named that is not there is refused, even when the scene's module is found without it.
refused 2 "$tmp/none" render --modules "$tmp/none" --frames 0 --size 8x6

# Input that is not a file, or too large a one, is refused before it is read.
expect 2 "scene '/dev/zero' is not a regular file" scene show /dev/zero
expect 2 "preset file '$tmp' is a folder, not a file" presets import "$tmp" --shelf "$shelf"
truncate -s 17M "$tmp/big.json"
expect 2 'is larger than 16 MiB' panel "$tmp/big.json"
expect 2 "the preset's settings nest deeper than 64 levels" presets import "$corpus/deep-settings.png" --shelf "$shelf"
expect 2 'at most 268435456 (16384x16384)' render --size 32768x32768 -o "$tmp/frames"
expect 2 "the scene's frame size 20000x20000 has 400000000 pixels" \
    render "$(edited vast 's/"width": 64, "height": 48/"width": 20000, "height": 20000/')" -o "$tmp/frames"
expect 2 'bad.json:1:58: frames.fps must be above 0, not 0' scene show "$(edited bad 's/"fps": 24/"fps": 0/')"
expect 2 'reversed' render --frames 5-2 -o "$tmp/frames"
expect 2 "--frames 'abc' is not a frame or a range A-B" render --frames abc -o "$tmp/frames"
expect 2 'nameless.json:2:15: filters.0.module must be a non-empty text, not string ""' \
    scene show "$(edited nameless 's|"module": "vorlux.p"|"module": ""|')"
expect 2 'each side must be from 1 to 32768' render --size 0x10 -o "$tmp/frames"
expect 2 'is not png, png16 or exr' render --format gif -o "$tmp/frames"
expect 2 'is not WIDTHxHEIGHT' render --size -5x10 -o "$tmp/frames"
expect 2 'each side must be from 1 to 32768' render --size 40000x10 -o "$tmp/frames"
expect 2 'negative.json:1:13: frames.width must be from 1 to 32768, not -5' \
    render "$(edited negative 's/"width": 64/"width": -5/')" -o "$tmp/frames"
expect 2 'frames.height must be from 1 to 32768, not 40000' scene show "$(edited huge 's/"height": 48/"height": 40000/')"
expect 2 "output folder: cannot write '/proc/probe'" render --frames 0 --size 8x6 -o /proc  # no files there, even for root
for threads in 0 1025; do expect 2 'threads must be from 1 to 1024' render --threads $threads -o "$tmp/frames"; done
# Options for a cluster render mean nothing without --slurm, and a chunk has frames.
for option in --chunk=5 --partition=p --sbatch-arg=--x --wait '--slurm --chunk=0'; do
    name=${option##* }
    refused 2 "${name%=*}" render $option --frames 0 --size 8x6
done
expect 0 "^2 frames written to $tmp/frames/ (frame-0000.png to frame-0001.png) in [0-9.e-]* s\$" \
    render "$tmp/scene.json" --frames 0-1 -o "$tmp/frames"
[ "$(ls "$tmp/frames")" = "$(printf 'frame-0000.png\nframe-0001.png')" ] || fail "render wrote $(ls "$tmp/frames")"
grep -q '^frame 1 (2 of 2)' "$tmp/err" || fail "render progress belongs on stderr: $(cat "$tmp/out" "$tmp/err")"
# On a terminal, progress is one bar on stderr, redrawn in place and cleared at the end.
script -qec "'$qzhost' render '$tmp/scene.json' --frames 0-1 -o '$tmp/bar' >/dev/null" /dev/null >"$tmp/tty"
bar() { printf '\r\033[Kframe %s  [%s] %s  ' "$1" "$2" "$3"; }
grep -q -F "$(bar 0 '###############...............' 1/2)" "$tmp/tty" &&
    grep -q -F "$(bar 1 '##############################' 2/2)" "$tmp/tty" &&
    [ "$(tail -c 4 "$tmp/tty" | od -An -c | tr -d ' ')" = '\r033[K' ] ||
    fail "progress on a terminal: $(od -c "$tmp/tty" | head)"
# Quiet is silent on both streams; frames go to ./render by default, as PNG.
(cd "$tmp/quiet" && exec "$qzhost" render "$tmp/scene.json" --frames 0-1 --threads 1024 -q >"$tmp/out" 2>"$tmp/err") &&
    [ ! -s "$tmp/out" ] && [ ! -s "$tmp/err" ] || fail "render -q printed $(cat "$tmp/out" "$tmp/err")"
[ "$(ls "$tmp/quiet/render" | tr '\n' ' ')" = "frame-0000.png frame-0001.png " ] || fail "render -q wrote $(ls -R "$tmp/quiet")"
# Part of a long scene is named as the whole scene would be.
expect 0 'frame-09998.png to frame-09999.png' \
    render "$(edited long 's/"last": 3/"last": 10003/')" --frames 9998-9999 --size 8x6 -o "$tmp/long"

# A panel without a scene file saves to a new file in the working folder, never over an old one.
touch "$tmp/saving/vorlux-scene.json"
edit_panel() {  # edit_panel ARGS...: in $tmp/saving, once it says where it saves, one edit, then SIGTERM
    (cd "$tmp/saving" && exec "$qzhost" panel --port 0 "$@" >"$tmp/panel.out" 2>"$tmp/panel.err") &
    panel=$!
    for _ in $(seq 100); do grep -q 'writes' "$tmp/panel.out" && break; sleep 0.1; done
    port=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$tmp/panel.out")
    curl -s -o /dev/null -H "Origin: http://127.0.0.1:$port" -H 'Content-Type: application/json' \
        -d '{"id": 32771, "value": 20}' "http://127.0.0.1:$port/api/value" || fail "the panel took no edit"
    kill -TERM $panel
    wait $panel || fail "a panel stopped by SIGTERM exited $?"
}
# A shelf it cannot read is told on stderr, and the panel goes on without
# presets; at the end, so are changes not saved.
edit_panel --shelf "$tmp/text.p"
[ "$(sed 's/:[0-9][0-9]*\//:PORT\//' "$tmp/panel.out")" = "Panel of Vorlux  (-0.222, 0.8)  15 at http://127.0.0.1:PORT/
\"Save scene\" writes $tmp/saving/vorlux-scene-2.json. Press Ctrl-C to stop.
Panel closed." ] || fail "a panel without a scene file: $(cat "$tmp/panel.out")"
[ "$(cat "$tmp/panel.err")" = "qzhost: shelf database '$tmp/text.p': cannot be read: file is not a database; the panel works without presets
qzhost: the changes since the last save were not saved" ] ||
    fail "a panel with an unreadable shelf: $(cat "$tmp/panel.err")"
edit_panel "$tmp/scene.json" --scene-out out.json
grep -q "^\"Save scene\" writes $tmp/saving/out.json\." "$tmp/panel.out" || fail "--scene-out: $(cat "$tmp/panel.out")"

expect 0 "wrote $tmp/new.json" scene new "$tmp/new.json"
echo '{"kept": true}' >"$tmp/kept.json"
expect 2 "'$tmp/kept.json' exists; use --force to replace it" scene new "$tmp/kept.json"
[ "$(cat "$tmp/kept.json")" = '{"kept": true}' ] || fail "scene new replaced a file without --force"
expect 0 "wrote $tmp/kept.json" scene new --force "$tmp/kept.json"
long=$(printf '%0300d' 0)
expect 2 'File name too long' scene new "$tmp/$long/scene.json"
expect 2 "cannot write '$tmp/$long.json': File name too long" scene new "$tmp/$long.json"
# A module name the system refuses to look at is bad input as well.
expect 2 'File name too long' scene show --modules "$tmp/mine" "$(edited long-module "s|\"vorlux.p\"|\"mine/$long.p\"|")"
ln -s loop "$tmp/loop"
expect 2 "cannot write '$tmp/loop/scene.json': Too many levels of symbolic links" scene new "$tmp/loop/scene.json"
(cd "$tmp/gone" && rmdir "$tmp/gone" && expect 2 'the working folder cannot be found' panel --port 0; exit $failed) || failed=1

expect 2 '--preview .2000x10.: each side must be from 1 to 1024' panel --preview 2000x10 "$tmp/scene.json"
expect 2 '^qzhost: .* (see qzhost --help)$' panel --port 70000
expect 2 'no such file\|cannot' panel "$tmp/missing.json"
expect 2 'no filter whose panel to show' panel "$(edited empty 's/"filters": \[.*\]}/"filters": []}/')"
expect 0 'no presets in' presets list --shelf "$shelf"

# Preset names are text a person typed, whatever gives them: no terminal
# escapes, no bytes that are not UTF-8.
expect 0 "imported '.*' as preset 1" presets import --shelf "$shelf" "$corpus/seed.png"
expect 2 'may not hold control characters' presets rename --shelf "$shelf" 1 "$(printf 'a\033[2Jb')"
expect 2 'must be UTF-8 text' presets rename --shelf "$shelf" 1 "$(printf 'caf\351')"
"$qzhost" presets rename --shelf "$shelf" 1 ' Seahorse '
expect 0 '^1  Seahorse  (' presets list --shelf "$shelf"
# A preset that is not there is told, not passed over.
expect 2 "there is no preset 2 in $shelf" presets rename --shelf "$shelf" 2 Name
expect 2 "there is no preset 2 in $shelf" presets delete --shelf "$shelf" 2
expect 0 "^preset 1 written to $tmp/seahorse.png\$" presets export --shelf "$shelf" 1 "$tmp/seahorse.png"
expect 0 "imported 'Seahorse' as preset 2" presets import --shelf "$shelf" "$tmp/seahorse.png"
for id in 1 2; do "$qzhost" presets delete --shelf "$shelf" $id; done
expect 0 'no presets in' presets list --shelf "$shelf"

# A real video: the scene's rate, odd sides padded to even ones, every frame, and no files of its own left.
(cd "$tmp" && expect 0 '^video: real.mp4$' render scene.json --frames 0-2 --size 63x47 -o real --video real.mp4; exit $failed) ||
    failed=1
[ "$(ffprobe -v error -count_frames -show_entries stream=codec_name,width,height,pix_fmt,r_frame_rate,nb_read_frames \
    -of csv=p=0 "$tmp/real.mp4")" = "h264,64,48,yuv420p,24/1,3" ] || fail "the video is $(ffprobe "$tmp/real.mp4" 2>&1)"
[ "$(ls -A "$tmp" | grep real | tr '\n' ' ')" = "real real.mp4 " ] || fail "a video left $(ls -A "$tmp" | grep real)"
env PATH="$tmp/none" "$qzhost" render "$tmp/scene.json" --video "$tmp/zoom.mp4" -o "$tmp/unrendered" 2>"$tmp/err"
[ $? = 2 ] && grep -q 'needs ffmpeg, which is not installed' "$tmp/err" && [ ! -e "$tmp/unrendered" ] ||
    fail "a video without ffmpeg: $(cat "$tmp/err")"

# What would fail a video only after the whole render is refused before it.
# This ffmpeg fails whatever it is given: none of these may reach it.
printf '#!/bin/sh\nexit 1\n' >"$tmp/bin/ffmpeg"
chmod +x "$tmp/bin/ffmpeg"
PATH="$tmp/bin:$PATH"
refused 2 "there is no folder '$tmp/nowhere' to put it in" render "$tmp/scene.json" --video "$tmp/nowhere/zoom.mp4"
refused 2 "is a folder; name a file in it, e.g. $tmp/video.mp4" render "$tmp/scene.json" --video "$tmp"
refused 2 "video '/proc/zoom.mp4': cannot write '/proc/zoom.mp4'" render "$tmp/scene.json" --video /proc/zoom.mp4
refused 2 'ffmpeg cannot encode frames of 16386x2' render "$tmp/scene.json" --size 16386x2 --video "$tmp/zoom.mp4"
refused 2 'cannot make a video of 1e-07 frames per second' \
    render "$(edited slow 's/"fps": 24/"fps": 1e-7/')" --video "$tmp/zoom.mp4"
# The widest frame and slowest rate ffmpeg takes reach it; it fails, and leaves nothing.
expect 1 "cannot write video '$tmp/zoom.mp4': ffmpeg" render "$(edited slowest 's/"fps": 24/"fps": 0.001/')" \
    --size 16384x2 --frames 0 --video "$tmp/zoom.mp4" -o "$tmp/wide"
[ -z "$(ls -A "$tmp" | grep zoom)" ] || fail "a failed video left $(ls -A "$tmp" | grep zoom)"
exit $failed
