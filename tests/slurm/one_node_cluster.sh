#!/bin/bash
# Runs a command inside a private one-node Slurm cluster, started for it and
# stopped afterwards: both daemons in the foreground as the invoking user, no
# authentication, state in a fresh short temporary folder, ports bound to
# 127.0.0.1 only. The command sees SLURM_CONF and the cluster's partition
# "render"; its exit code is the script's. Usage: one_node_cluster.sh COMMAND...
set -u

state=$(mktemp -d /tmp/slurm.XXXXXX)  # short: Unix socket paths stay under 108 bytes
user=$(id -un)
ctld="" node=""

# A port on 127.0.0.1 that nothing listens on, from a range outside the usual
# ephemeral ports; runs that start at the same time draw different ones.
free_port() {  # free_port [TAKEN]
    local port
    while :; do
        port=$((20000 + RANDOM % 12000))
        [ "$port" != "${1:-}" ] || continue
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
}

# Polls a test until it holds or the deadline (in tenths of a second) passes.
poll() {  # poll TENTHS TEST...
    for _ in $(seq "$1"); do "${@:2}" && return 0; sleep 0.1; done
    "${@:2}"
}

node_idle() { sinfo --noheader --nodes=node1 --format=%T 2>/dev/null | grep -qx idle; }
queue_empty() { [ -z "$(squeue --noheader --format=%i 2>/dev/null)" ]; }
gone() { ! kill -0 "$1" 2>/dev/null; }

stop_cluster() {
    if [ -n "$ctld" ]; then
        scancel --full --quiet --user="$user" 2>/dev/null
        poll 100 queue_empty || echo "one_node_cluster: jobs still queued at shutdown" >&2
    fi
    for daemon in $node $ctld; do  # those started
        kill -TERM "$daemon" 2>/dev/null
        poll 50 gone "$daemon" || kill -KILL "$daemon" 2>/dev/null
        wait "$daemon" 2>/dev/null
    done
    rm -rf "$state"
}
trap stop_cluster EXIT
trap 'exit 130' INT TERM

ctld_port=$(free_port)
node_port=$(free_port "$ctld_port")
export SLURM_CONF=$state/slurm.conf
mkdir -p "$state/ctld" "$state/spool"
cat >"$SLURM_CONF" <<CONF
ClusterName=qztest
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$node_port
CommunicationParameters=NoCtldInAddrAny,NoInAddrAny
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/none
CredType=cred/none
StateSaveLocation=$state/ctld
SlurmdSpoolDir=$state/spool
SlurmctldPidFile=$state/ctld.pid
SlurmdPidFile=$state/node.pid
SlurmctldLogFile=$state/ctld.log
SlurmdLogFile=$state/node.log
ProctrackType=proctrack/linuxproc
MailProg=/bin/true
SchedulerParameters=batch_sched_delay=0
SlurmdParameters=config_overrides
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
NodeName=node1 NodeAddr=127.0.0.1 NodeHostname=localhost CPUs=$(nproc) State=UNKNOWN
PartitionName=render Nodes=node1 Default=YES MaxTime=INFINITE State=UP
CONF

slurmctld -D -i -f "$SLURM_CONF" >>"$state/ctld.out" 2>&1 &
ctld=$!
slurmd -D -N node1 -f "$SLURM_CONF" >>"$state/node.out" 2>&1 &
node=$!
if ! poll 100 node_idle; then
    echo "one_node_cluster: the node did not come up; the daemons said:" >&2
    tail -n 5 "$state/ctld.log" "$state/node.log" "$state/ctld.out" "$state/node.out" >&2
    exit 1
fi
"$@"
