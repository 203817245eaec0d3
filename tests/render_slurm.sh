#!/bin/bash
# qzhost render --slurm on a real one-node Slurm cluster (run inside
# slurm/one_node_cluster.sh): chunks give the files of a local render, a
# failed range is named and rendered alone when run again, Ctrl-C cancels,
# and what cannot be submitted is one line with exit code 2.
# Usage: render_slurm.sh QZHOST
set -u -m
qzhost=$1
failed=0
# Not in /tmp or memory: qzhost refuses folders that each machine keeps for
# itself, so a build tree there (a clone in /tmp) works in the home folder.
base=$PWD
case "$base" in /tmp | /tmp/* | /var/tmp | /var/tmp/* | /dev/shm/* | /run/*) base=$HOME/.cache ;; esac
[ "$(stat -f -c %T "$base" 2>/dev/null)" = tmpfs ] && base=$HOME/.cache
mkdir -p "$base"
work=$(cd "$(mktemp -d "$base/qzhost-slurm-test.XXXXXX")" && pwd -P)  # as qzhost names it
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; failed=1; }
# Following a job has no end of its own: Ctrl-C after a minute cancels it.
follow() { timeout -s INT 60 "$@"; }
job() { sed -n "$1s/^Slurm job \([0-9]*\):.*/\1/p" out; }  # job LINE: the job id the result's line LINE names

expect() {  # expect CODE PATTERN COMMAND...: the code, and the pattern in what it printed
    local code=$1 pattern=$2
    shift 2
    "$@" >out 2>err
    local got=$?
    [ "$got" = "$code" ] && grep -q -- "$pattern" out err || fail "$* gave $got (wanted $code and '$pattern'): $(cat out err)"
}
tool() {  # tool FILE SCRIPT: makes FILE, in a folder of its own, an executable script that printf makes of SCRIPT
    mkdir -p "${1%/*}"
    printf "$2" >"$1"
    chmod +x "$1"
}
interrupt() {  # interrupt TEST...: Ctrl-C to the last background job once TEST holds (30 s at most); code is its exit
    local pid=$!
    for _ in $(seq 300); do "$@" && break; sleep 0.1; done
    kill -INT $pid
    wait $pid
    code=$?
}

# An ffmpeg that keeps its input as the video: the tasks inherit the PATH.
tool bin/ffmpeg '#!/bin/sh\nfor last; do :; done\ncat >"$last"\n'
export PATH="$work/bin:$PATH"

# Five chunks, the last one shorter, give the frames and the video input of one local render.
"$qzhost" render --size 48x27 -o local --video local.rgb -q || fail "local render failed"
expect 0 "5 tasks render frames 0-119 in chunks of 25" \
    follow "$qzhost" render --slurm --wait --chunk 25 --size 48x27 -o split --video split.rgb
array=$(job 1) video=$(job 2)
[ "$(cat out)" = "Slurm job $array: 5 tasks render frames 0-119 in chunks of 25 into $work/split/
Slurm job $video: the video $work/split.rgb, once job $array has succeeded
follow with: squeue -j $array,$video   logs: $work/split/slurm/
all 120 frames are in $work/split/, and the video in $work/split.rgb" ] || fail "a cluster render printed $(cat out)"
# What the jobs are doing is progress, for standard error alone, a line when it changes.
grep -q '^slurm: ' err && ! grep -q '^slurm: ' out && [ -z "$(uniq -d err)" ] &&
    [ "$(tail -1 err)" = "slurm: 120 of 120 frames present; tasks: 5 done, 0 running, 0 waiting; video job: COMPLETED" ] ||
    fail "the jobs' progress is not on standard error alone: $(cat err)"
diff -r -q -x slurm local split || fail "frames from the cluster differ from a local render"
cmp -s local.rgb split.rgb || fail "the video job got other frames than a local render's video"
[ "$(ls split/slurm/render-*.log | wc -l)" = 5 ] || fail "expected 5 task logs: $(ls split/slurm)"
# Every frame is the work of one task: a chunk that ran into the next would
# render the frame at each boundary twice.
[ "$(cat split/slurm/render-*.log | grep -c '^frame [0-9]* (')" = 120 ] ||
    fail "the tasks rendered other than 120 frames: $(grep -c '^frame [0-9]* (' split/slurm/render-*.log)"

# A folder in the place of frame 60 fails the chunk 50-74, even for root, and
# the video job never starts.
mkdir -p broken/frame-0060.png
expect 1 "frames 50-74 FAILED (log .*/broken/slurm/render-[0-9]*_2.log)" \
    follow "$qzhost" render --slurm --wait --chunk 25 --size 48x27 -o broken --video broken.rgb
grep -q "frame-0060.png': Is a directory" broken/slurm/render-*_2.log || fail "the failed task's log does not say why"
array=$(job 1)
[ "$(tail -1 err)" = "qzhost: on Slurm: frames 50-74 FAILED (log $work/broken/slurm/render-${array}_2.log); the video was not made; run the same command again to render what is missing" ] &&
    grep -q -x 'slurm: 105 of 120 frames present; tasks: 4 done, 0 running, 0 waiting, 1 failed; video job: .*' err ||
    fail "a failed task was told as $(cat err)"
[ ! -e broken.rgb ] && ! ls broken/slurm/video-*.log 2>/dev/null || fail "the video job ran after a failed render"
rmdir broken/frame-0060.png
ls -i broken/*.png >before
expect 0 "1 tasks render frames 0-119 in chunks of 25 .*(4 of 5 chunks are complete already)" \
    follow "$qzhost" render --slurm --wait --chunk 25 --size 48x27 -o broken
ls -i broken/*.png | grep -v -x -F -f - before && fail "the second run wrote frames that were there"
diff -r -q -x slurm local broken || fail "the resumed frames differ from a local render"
expect 0 "all 120 frames are already in" "$qzhost" render --slurm --chunk 25 --size 48x27 -o broken
"$qzhost" render --slurm --chunk 25 --size 48x27 -o broken -q >out 2>err && [ ! -s out ] && [ ! -s err ] ||
    fail "a quiet cluster render printed $(cat out err)"
# With every frame there, a missing video is still made.
expect 0 "Slurm job [0-9]*: the video .*/broken.rgb" \
    follow "$qzhost" render --slurm --wait --chunk 25 --size 48x27 -o broken --video broken.rgb
cmp -s local.rgb broken.rgb || fail "the video of frames already there differs from a local render's"

# Ctrl-C while following cancels the job. Files of its own: the last command's
# progress in err would be taken for this one's before it has started.
"$qzhost" render --slurm --wait --chunk 2 --size 640x360 --threads 1 -o stopped >stopped.out 2>stopped.err &
interrupt grep -q "^slurm: " stopped.err
[ $code = 130 ] && grep -q "interrupted: cancelled Slurm jobs [0-9]* (scancel)" stopped.err ||
    fail "Ctrl-C gave $code: $(cat stopped.err)"
job=$(grep -o 'Slurm job [0-9]*' stopped.out | grep -o '[0-9]*')
for _ in $(seq 100); do squeue -h -j "$job" -t PD,R,CG | grep -q . || break; sleep 0.1; done
squeue -h -j "$job" -t PD,R,CG | grep -q . && fail "job $job still runs after Ctrl-C"

# A controller that forgets jobs before their end is seen: the frames are
# what is left to judge them by, and none are there. Its sbatch keeps the
# options it was given: the user's come last, so that they win. Without
# --chunk, the one node gets two tasks. The tasks find a module where the submission did.
mkdir own
cp "$(dirname "$qzhost")/modules/vorlux.p" own/own.p
"$qzhost" scene new scene.json >/dev/null && sed -i 's/"vorlux.p"/"own.p"/' scene.json
tool forgetful/sbatch '#!/bin/sh\nprintf "%%s\\n" "$@" >sbatch.options\necho "4242;one"\n'
tool forgetful/squeue '#!/bin/sh\necho "slurm_load_jobs error: Invalid job id specified" >&2\nexit 1\n'
expect 1 "frames 0-59 missing .*; frames 60-119 missing" \
    env PATH="$work/forgetful:$PATH" "$qzhost" render scene.json --modules own --slurm --wait --size 48x27 \
    --format exr --threads 3 -o "it's forgotten" --sbatch-arg=--job-name=mine
[ "$(sed '/^--wrap=/,$d' sbatch.options | tr '\n' ' ')" = "--parsable --cpus-per-task=3 --job-name=qzhost-render \
--output=$work/it's forgotten/slurm/render-%A_%a.log --array=0-1 --job-name=mine " ] ||
    fail "sbatch was given $(cat sbatch.options)"
# The job's second task, run here, renders the second half of the frames as asked;
# submitted again, only the first chunk is left.
sed -n '/^--wrap=/,$p' sbatch.options | sed '1s/^--wrap=//' >task.sh
SLURM_ARRAY_TASK_ID=1 SLURM_CPUS_ON_NODE=2 sh task.sh 2>/dev/null || fail "task 1 failed: $(cat task.sh)"
[ "$(ls "it's forgotten" | sed -n '1p;$p' | tr '\n' ' ')" = "frame-0060.exr slurm " ] &&
    [ "$(ls "it's forgotten" | wc -l)" = 61 ] || fail "task 1 wrote $(ls "it's forgotten")"
expect 0 "1 tasks render frames 0-119 in chunks of 60 .*(1 of 2 chunks are complete already)" \
    env PATH="$work/forgetful:$PATH" "$qzhost" render --slurm --size 48x27 --format exr -o "it's forgotten"
grep -q -x -e --array=0 sbatch.options || fail "the chunk left was submitted as $(cat sbatch.options)"
# A node that does not see the submission's folder renders nothing into one of its own.
rm "it's forgotten"/slurm/.submitted-*
SLURM_ARRAY_TASK_ID=0 sh task.sh 2>err
[ $? = 1 ] && grep -q "^qzhost: $work/it's forgotten on .* is not the output folder of the machine that submitted" err &&
    [ "$(ls "it's forgotten" | wc -l)" = 61 ] || fail "a task that cannot see the folder: $(cat err)"

# A task whose end was seen keeps it when the controller forgets the job;
# the others are judged by their frames. A state seen twice is told once.
tool remembering/squeue '#!/bin/sh\necho >>squeue.calls\n[ "$(wc -l <squeue.calls)" -gt 2 ] && exec forgetful/squeue
printf "4242|0|COMPLETED\\n4242|1|RUNNING\\n4242|2|COMPLETING\\n4242|3|TIMEOUT\\n"\n'
expect 1 "" env PATH="$work/remembering:$work/forgetful:$PATH" "$qzhost" render --slurm --wait --chunk 30 --size 48x27 -o remembered
log=$work/remembered/slurm/render-4242
[ "$(cat err)" = "slurm: 0 of 120 frames present; tasks: 1 done, 2 running, 0 waiting, 1 failed
slurm: 0 of 120 frames present; tasks: 1 done, 0 running, 2 waiting, 1 failed
qzhost: on Slurm: frames 30-59 missing (log ${log}_1.log); frames 60-89 missing (log ${log}_2.log); \
frames 90-119 TIMEOUT (log ${log}_3.log); run the same command again to render what is missing" ] ||
    fail "following a forgetful controller: $(cat err)"

# Ctrl-C while following quietly, when scancel fails: the jobs to cancel by hand are named.
tool remembering/squeue '#!/bin/sh\ntouch held.polled\necho "4242|0|RUNNING"\n'
tool remembering/scancel '#!/bin/sh\necho "scancel: error: Kill job error on job id 4242: Access denied" >&2\nexit 1\n'
env PATH="$work/remembering:$work/forgetful:$PATH" "$qzhost" render --slurm --wait --chunk 120 --size 48x27 -o held -q \
    >held.out 2>held.err &
interrupt [ -e held.polled ]
[ $code = 130 ] && [ ! -s held.out ] && [ "$(cat held.err)" = "qzhost: interrupted, but scancel failed (Kill job error on job id 4242: \
Access denied): cancel jobs 4242 yourself" ] || fail "Ctrl-C when scancel fails gave $code: $(cat held.err)"

# A video job the scheduler refuses takes the frames' job back with it.
tool refusing/sbatch '#!/bin/sh\nprintf "%%s\\n" "$@" >sbatch.options
case "$*" in *qzhost-video*) printf "sbatch: error: no videos\\n\\nsbatch: fatal: none\\n" >&2; exit 1 ;; esac\necho 4343\n'
tool refusing/scancel '#!/bin/sh\necho "$@" >scancel.jobs\n'
expect 2 "sbatch refused the job: no videos" \
    env PATH="$work/refusing:$PATH" "$qzhost" render --slurm --chunk 60 --size 48x27 -o refused --video refused.mp4
[ "$(cat err)" = "qzhost: sbatch refused the job: no videos; none" ] || fail "a refused job was told as $(cat err)"
[ "$(sed '/^--wrap=/,$d' sbatch.options | tr '\n' ' ')" = "--parsable --exclusive --job-name=qzhost-video \
--output=$work/refused/slurm/video-%j.log --dependency=afterok:4343 --kill-on-invalid-dep=yes " ] ||
    fail "the video job was given $(cat sbatch.options)"
[ "$(cat scancel.jobs 2>&1)" = 4343 ] || fail "a refused video job left the frames' job: $(cat scancel.jobs 2>&1)"

# What cannot be submitted.
expect 2 "sbatch refused the job: invalid partition specified: nowhere" \
    "$qzhost" render --slurm --partition nowhere --size 48x27 -o refused
for folder in /tmp /var/tmp/qzhost-slurm-$$ /dev/shm/qzhost-slurm-$$ /run/qzhost-slurm-$$; do
    expect 2 "output folder $folder is in ${folder%/qzhost-slurm-*}, which each machine keeps for itself" \
        "$qzhost" render --slurm --size 48x27 -o $folder
    [ "$folder" = /tmp ] || rmdir $folder
done
expect 2 "needs Slurm's client tools" env PATH="$work/bin" "$qzhost" render --slurm --size 48x27 -o nowhere
exit $failed
