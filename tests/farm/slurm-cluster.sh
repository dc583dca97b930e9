#!/usr/bin/env bash
# A private one-node Slurm cluster on 127.0.0.1 for the farm tests: its own
# munge daemon (key and socket in DIR), its own slurm.conf and ports, the
# controller and the node daemon, all run as the calling user (root).
#
#   slurm-cluster.sh start DIR   starts it; prints the SLURM_CONF to export
#   slurm-cluster.sh stop DIR    stops every daemon it started
set -euo pipefail
action=$1
dir=$(realpath -m "$2")

stop() {
  for pidfile in slurmd.pid slurmctld.pid munged.pid; do
    if [[ -s $dir/$pidfile ]]; then
      local pid
      pid=$(cat "$dir/$pidfile")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
      rm -f "$dir/$pidfile"
    fi
  done
}

free_port() {
  local port
  for port in $(seq "$1" "$(($1 + 200))"); do
    if ! ss -Htan "sport = :$port" | grep -q . && ! ss -Htan "sport = :$((port + 1))" | grep -q .; then
      echo "$port"
      return
    fi
  done
  echo "no free port pair from $1" >&2
  return 1
}

case $action in
  stop)
    stop
    exit 0 ;;
  start) ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac

if [[ $(id -u) -ne 0 ]]; then
  echo "the private Slurm cluster runs its daemons as root" >&2
  exit 77
fi
mkdir -p "$dir/state" "$dir/spool" "$dir/munge"
chmod 700 "$dir" "$dir/munge"
dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$dir/munge/munge.key"

# munged refuses keys and sockets that others could touch; the folder is
# private, so --force only lets it run as root.
munged --force --key-file="$dir/munge/munge.key" --socket="$dir/munge/munge.socket" \
  --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munge/seed" \
  --num-threads=2

port=$(free_port $((17000 + RANDOM % 2000)))
cat >"$dir/slurm.conf" <<CONF
ClusterName=lumafex
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$dir/munge/munge.socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
SlurmctldTimeout=30
SlurmdTimeout=30
NodeName=lumafexnode NodeAddr=127.0.0.1 NodeHostname=$(hostname) CPUs=$(nproc) State=UNKNOWN
PartitionName=lumafex Nodes=lumafexnode Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$dir/slurm.conf

slurmctld -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF" -N lumafexnode
for _ in $(seq 100); do
  if sinfo -h -o %T 2>/dev/null | grep -qx idle; then
    echo "$SLURM_CONF"
    exit 0
  fi
  sleep 0.2
done
echo "the private Slurm cluster did not come up; logs in $dir" >&2
tail -5 "$dir"/slurmctld.log "$dir"/slurmd.log >&2 || true
stop
exit 1
