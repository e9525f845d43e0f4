#!/usr/bin/env bash
# A single-node Slurm cluster on localhost for tests, everything in one
# scratch folder (configuration, keys, sockets, state, logs, pid files).
#
#   scripts/slurm_test_cluster.sh start [DIR]   installs Debian's slurm-wlm and munge when
#                                               missing, starts munged, slurmctld and slurmd,
#                                               waits until the node is idle and prints
#                                               SLURM_TEST_DIR=... and SLURM_CONF=...
#   scripts/slurm_test_cluster.sh stop DIR      cancels the cluster's jobs and stops the
#                                               three daemons it started (by their pid files)
#
# Use the cluster with SLURM_CONF=DIR/slurm.conf in the environment of sbatch,
# squeue, ...  DIR defaults to a new folder under ${TMPDIR:-/tmp}; the munge
# socket is in it, so every folder above it must be open to all (x bit).
# Exit status of start: 0 running; 77 the daemons cannot be started on this
# machine (not root, packages that cannot be installed, a daemon that stops
# at once) with the reason on standard error; 1 anything else.
set -uo pipefail

die() { echo "slurm_test_cluster: $*" >&2; exit 1; }
cannot() { echo "slurm_test_cluster: cannot start a test cluster here: $*" >&2; exit 77; }

# Kills the process of a pid file when it is the named program.
stop_pid() {
  local file=$1 name=$2 pid
  [ -f "$file" ] || return 0
  pid=$(cat "$file" 2>/dev/null) || return 0
  [[ "$pid" =~ ^[0-9]+$ ]] || return 0
  if [ "$(cat /proc/"$pid"/comm 2>/dev/null)" != "$name" ]; then return 0; fi
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.2
  done
  kill -KILL "$pid" 2>/dev/null || true
}

log_tail() {
  local f
  for f in "$@"; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 15 "$f"; }
  done
}

# Two free TCP ports on localhost.
free_ports() {
  /usr/bin/python3 -c '
import socket
a, b = socket.socket(), socket.socket()
a.bind(("127.0.0.1", 0)); b.bind(("127.0.0.1", 0))
print(a.getsockname()[1], b.getsockname()[1])'
}

start() {
  local dir=${1:-}
  [ "$(id -u)" -eq 0 ] || cannot "slurmd and munged need root (running as uid $(id -u))"
  local need=()
  command -v slurmctld >/dev/null && command -v slurmd >/dev/null && command -v sbatch >/dev/null ||
    need+=(slurm-wlm)
  command -v munged >/dev/null || need+=(munge)
  if ((${#need[@]})); then
    echo "slurm_test_cluster: installing ${need[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    { apt-get update -qq && apt-get install -y -qq "${need[@]}"; } >&2 ||
      cannot "apt-get install ${need[*]} failed"
  fi
  if [ -z "$dir" ]; then
    dir=$(mktemp -d "${TMPDIR:-/tmp}/mps1d-slurm.XXXXXX") || die "no scratch folder"
  fi
  mkdir -p "$dir" && dir=$(cd "$dir" && pwd) || die "cannot make $dir"
  chmod 755 "$dir"
  mkdir -p "$dir/munge" "$dir/socket" "$dir/state" "$dir/spool" "$dir/log"
  chmod 700 "$dir/munge"
  chmod 755 "$dir/socket"

  # munge: its own key, socket, pid and log in the scratch folder.
  dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 status=none
  chmod 400 "$dir/munge/munge.key"
  local socket="$dir/socket/munge.socket"
  munged --key-file="$dir/munge/munge.key" --socket="$socket" --pid-file="$dir/munge/munged.pid" \
    --log-file="$dir/log/munged.log" --seed-file="$dir/munge/munged.seed" 2>>"$dir/log/munged.log" ||
    cannot "munged does not start: $(log_tail "$dir/log/munged.log")"
  for _ in $(seq 50); do [ -S "$socket" ] && break; sleep 0.1; done
  [ -S "$socket" ] || cannot "munged made no socket: $(log_tail "$dir/log/munged.log")"
  munge -S "$socket" -n | unmunge -S "$socket" >/dev/null ||
    cannot "munge cannot encode and decode a credential"

  # The node as slurmd sees it (CPUs, sockets, cores, threads, memory).
  local hw cpus mem
  hw=$(slurmd -C 2>/dev/null | head -n 1)
  cpus=$(sed -n 's/.* CPUs=\([0-9]*\).*/\1/p' <<<"$hw")
  mem=$(sed -n 's/.* RealMemory=\([0-9]*\).*/\1/p' <<<"$hw")
  [ -n "$cpus" ] || cpus=$(nproc)
  [ -n "$mem" ] || mem=1000
  local topology
  topology=$(grep -o 'Boards=[0-9]* SocketsPerBoard=[0-9]* CoresPerSocket=[0-9]* ThreadsPerCore=[0-9]*' <<<"$hw")

  local ports
  read -r -a ports <<<"$(free_ports)"
  [ "${#ports[@]}" -eq 2 ] || die "no free ports"
  cat >"$dir/slurm.conf" <<EOF
# Single-node test cluster (scripts/slurm_test_cluster.sh)
ClusterName=mps1dtest
SlurmctldHost=localhost
SlurmctldPort=${ports[0]}
SlurmdPort=${ports[1]}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
SlurmctldTimeout=30
SlurmdTimeout=30
InactiveLimit=0
MinJobAge=300
KillWait=5
Waittime=0
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$cpus $topology RealMemory=$mem State=UNKNOWN
PartitionName=debug Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
  export SLURM_CONF="$dir/slurm.conf"
  echo "export SLURM_CONF=$dir/slurm.conf" >"$dir/env"

  slurmctld -f "$SLURM_CONF" >>"$dir/log/slurmctld.start" 2>&1 ||
    cannot "slurmctld does not start: $(log_tail "$dir/log/slurmctld.start" "$dir/log/slurmctld.log")"
  slurmd -f "$SLURM_CONF" -N localhost >>"$dir/log/slurmd.start" 2>&1 ||
    cannot "slurmd does not start: $(log_tail "$dir/log/slurmd.start" "$dir/log/slurmd.log")"

  local state=""
  for _ in $(seq 120); do
    state=$(sinfo -h -n localhost -o %T 2>/dev/null | head -n 1)
    case "$state" in idle | mixed | allocated) break ;; esac
    for d in slurmctld slurmd; do
      local pid
      pid=$(cat "$dir/$d.pid" 2>/dev/null || true)
      if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
        cannot "$d stopped after its start: $(log_tail "$dir/log/$d.log")"
      fi
    done
    sleep 0.5
  done
  case "$state" in
    idle | mixed | allocated) ;;
    *) die "the node is not idle after 60 s (state '${state}'): $(log_tail "$dir/log/slurmctld.log" "$dir/log/slurmd.log")" ;;
  esac
  echo "SLURM_TEST_DIR=$dir"
  echo "SLURM_CONF=$dir/slurm.conf"
}

stop() {
  local dir=${1:?usage: slurm_test_cluster.sh stop DIR}
  [ -f "$dir/slurm.conf" ] || die "$dir is not a test cluster folder"
  export SLURM_CONF="$dir/slurm.conf"
  scancel --full --quiet --user="$(id -un)" >/dev/null 2>&1 || true
  for _ in $(seq 20); do
    [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break
    sleep 0.5
  done
  stop_pid "$dir/slurmd.pid" slurmd
  stop_pid "$dir/slurmctld.pid" slurmctld
  stop_pid "$dir/munge/munged.pid" munged
  echo "slurm_test_cluster: stopped the daemons of $dir" >&2
}

case "${1:-}" in
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  *) echo "usage: $0 start [DIR] | stop DIR" >&2; exit 2 ;;
esac
