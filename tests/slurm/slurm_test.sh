#!/usr/bin/env bash
# tools/slurm-render against a real Slurm: a one-node cluster started here
# (munged, slurmctld and slurmd, as root, with a configuration in a
# temporary folder) and stopped again by the pids it started.
#
#   slurm_test.sh FOTOLUME SOURCE_DIR
#
# Skipped (status 77) where slurm-wlm or munge is missing, or not as root.
set -euo pipefail
fotolume=$1
source=$2
render=$source/tools/slurm-render
for program in munged slurmctld slurmd sbatch squeue scontrol scancel; do
  if ! command -v "$program" >/dev/null; then
    echo "skipped: $program is missing (Debian: slurm-wlm munge)"
    exit 77
  fi
done
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: a one-node cluster is started as root"
  exit 77
fi

work=$(mktemp -d)
pids=()
stop() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop EXIT
fail() {
  echo "FAILED: $*" >&2
  for log in "$work"/*.log; do echo "== $log" >&2; tail -5 "$log" >&2; done
  exit 1
}

# The daemons, each writing its pid where it is told.
mkdir -m 700 "$work/munge"
mkdir "$work/state" "$work/spool" "$work/images"
head -c 1024 /dev/urandom >"$work/munge/key"
chmod 400 "$work/munge/key"
munged -f --socket="$work/munge/socket" --key-file="$work/munge/key" --log-file="$work/munge.log" \
  --pid-file="$work/munge.pid" --seed-file="$work/munge/seed"
pids+=("$(cat "$work/munge.pid")")
host=$(hostname -s)
port=$((20000 + RANDOM % 20000))
cat >"$work/slurm.conf" <<EOF
ClusterName=fotolume-test
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
MpiDefault=none
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ReturnToService=2
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$work/slurm.conf
slurmctld -i
for _ in $(seq 100); do [ -s "$work/slurmctld.pid" ] && break; sleep 0.1; done
pids+=("$(cat "$work/slurmctld.pid")")
slurmd
for _ in $(seq 100); do [ -s "$work/slurmd.pid" ] && break; sleep 0.1; done
pids+=("$(cat "$work/slurmd.pid")")
for _ in $(seq 300); do
  sinfo -h -o %t 2>/dev/null | grep -q idle && break
  sleep 0.1
done
sinfo -h -o %t | grep -q idle || fail "the one-node cluster did not come up"

scene=$source/scenes/showcase.txt
images=$work/images

# The single render's bytes, PPM and PNG, with and without --samples.
for case in "out.ppm 160 120 --bands 3" "out.png 160 120 --bands 4 --samples 2" \
  "aa.ppm 97 61 --samples 3 --aa-threshold 0.1"; do
  read -r name w h options <<<"$case"
  # shellcheck disable=SC2086
  "$render" --wait "$scene" "$images/$name" "$w" "$h" $options >"$work/render.out" 2>&1 ||
    fail "slurm-render $case: $(cat "$work/render.out")"
  # shellcheck disable=SC2086
  "$fotolume" -q $(sed 's/--bands [0-9]*//' <<<"$options") "$scene" "$images/single-$name" "$w" "$h"
  cmp "$images/$name" "$images/single-$name" || fail "$case: not the single render's bytes"
done
[ -z "$(find "$images" -name '.*slurm-*')" ] || fail "a run folder was left behind"

# Bad input is refused before anything is submitted.
before=$(squeue -h | wc -l)
for bad in "--bands 0" "--bands 1001" "--bands 121" "--region 0,0,1,1" "--samples 99" "--watch"; do
  # shellcheck disable=SC2086
  if "$render" "$scene" "$images/bad.ppm" 160 120 $bad 2>"$work/bad.out"; then
    fail "slurm-render accepted $bad"
  fi
done
if "$render" "$work/missing.txt" "$images/bad.ppm" 160 120 2>/dev/null; then fail "a missing scene"; fi
printf '0 0 5\n0 0 0\n0 1 0\n0\n' >"$work/refused.txt"
if "$render" "$work/refused.txt" "$images/bad.ppm" 160 120 2>/dev/null; then
  fail "a refused scene was submitted"
fi
[ "$(squeue -h | wc -l)" -eq "$before" ] || fail "bad input was submitted"
[ -z "$(find "$images" -name '.*slurm-*')" ] || fail "bad input left a run folder"

# Slow bands, for what can happen while they run.
slow=$source/bench/scenes/recursion.txt
"$fotolume" -q --samples 3 "$slow" "$images/single-slow.png" 320 240
running() { # the task's state, once the bands are under way
  for _ in $(seq 600); do
    squeue -h -t R -o %i 2>/dev/null | grep -qx "$1" && return 0
    sleep 0.1
  done
  return 1
}

# A band cancelled mid-run: the join fails, naming the band's log, and the
# image there before stays.
echo "previous image" >"$images/slow.png"
"$render" --wait "$slow" "$images/slow.png" 320 240 --bands 4 --samples 3 >"$work/killed.out" 2>&1 &
waiting=$!
for _ in $(seq 100); do grep -q "bands: job" "$work/killed.out" && break; sleep 0.1; done
array=$(sed -n 's/.*bands: job \([0-9]*\) .*/\1/p' "$work/killed.out")
[ -n "$array" ] || fail "no job ids printed: $(cat "$work/killed.out")"
running "${array}_1" || fail "band 1 never ran"
scancel "${array}_1"
if wait "$waiting"; then fail "the join succeeded without band 1"; fi
grep -q "band 1 (rows from 60) failed: see .*band-1.log" "$work/killed.out" ||
  fail "the failed band was not named: $(cat "$work/killed.out")"
[ "$(cat "$images/slow.png")" = "previous image" ] || fail "the previous image was not kept"

# A band requeued mid-run still gives the single render's bytes.
"$render" --wait "$slow" "$images/requeued.png" 320 240 --bands 4 --samples 3 \
  >"$work/requeued.out" 2>&1 &
waiting=$!
for _ in $(seq 100); do grep -q "bands: job" "$work/requeued.out" && break; sleep 0.1; done
array=$(sed -n 's/.*bands: job \([0-9]*\) .*/\1/p' "$work/requeued.out")
running "${array}_2" || fail "band 2 never ran"
scontrol requeue "${array}_2"
# A requeued job waits two minutes before it may start again: told to
# start now, once it is pending again.
for _ in $(seq 100); do
  squeue -h -t PD -o %i | grep -qx "${array}_2" && break
  sleep 0.1
done
scontrol update JobId="${array}_2" StartTime=now
wait "$waiting" || fail "after a requeue: $(cat "$work/requeued.out")"
cmp "$images/requeued.png" "$images/single-slow.png" || fail "a requeued band changed the bytes"
echo "ok"
