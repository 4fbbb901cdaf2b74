#!/usr/bin/env bash
# A sharded build on a real Slurm scheduler, end to end.
#
# Installs Debian's slurm-wlm and munge when missing (as root, through
# scripts/bootstrap.sh --slurm), starts munged,
# slurmctld and slurmd for one node on localhost by hand (no systemd; every
# file, socket and port of theirs is private to this run), submits the sample
# city as a job array of 3 shards (scripts/slurm/kmztile-array.sbatch, which
# uses --shard auto) and the merge (scripts/slurm/kmztile-merge.sbatch) with
# --dependency=afterok, waits for both, and checks that the merged output is
# byte for byte that of a `--jobs 1` build of the same source. Every daemon it
# started is stopped on exit, whatever happened; on failure their logs and the
# jobs' output are printed.
#
#   bash scripts/slurm-e2e.sh            # uses build/tools/kmztile (make demo builds it)
#   KMZTILE=/path/to/kmztile bash scripts/slurm-e2e.sh
#   KEEP=1 ...                           # keep the work folder for a look afterwards
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
KMZTILE=${KMZTILE:-$repo/build/tools/kmztile}
SHARDS=3
START_TIMEOUT=${START_TIMEOUT:-60}   # seconds for the daemons and the node to come up
JOB_TIMEOUT=${JOB_TIMEOUT:-300}      # seconds for the array and the merge to finish
started=$SECONDS

say() { echo "slurm-e2e: $*"; }
failure=""
fail() {
  failure=$*
  echo "slurm-e2e: FAILED: $*" >&2
  exit 1
}

[[ -x $KMZTILE ]] || fail "$KMZTILE is not built (run 'make demo' first, or set KMZTILE)"
KMZTILE=$(cd "$(dirname "$KMZTILE")" && pwd)/$(basename "$KMZTILE")
if [[ $(id -u) != 0 ]]; then
  # The daemons run as SlurmUser=root, and the packages install as root.
  command -v sudo >/dev/null || fail "run as root (it installs packages and runs slurmctld/slurmd as root)"
  exec sudo KMZTILE="$KMZTILE" START_TIMEOUT="$START_TIMEOUT" JOB_TIMEOUT="$JOB_TIMEOUT" KEEP="${KEEP:-}" bash "$0" "$@"
fi

bash "$repo/scripts/bootstrap.sh" --slurm  # slurm-wlm and munge, when missing

work=$(mktemp -d /tmp/kmztile-slurm-XXXXXX)
chmod 0755 "$work"
mkdir -p "$work/munge" "$work/state" "$work/spool" "$work/logs"
chmod 0700 "$work/munge"
daemon_pids=()
jobs_submitted=()

show_logs() {
  local f
  for f in "$work"/munge/munged.log "$work"/slurmctld.log "$work"/slurmd.log "$work"/logs/*; do
    [[ -f $f ]] || continue
    echo "----- $f (last 40 lines)" >&2
    tail -n 40 "$f" >&2
  done
}

cleanup() {
  local rc=$?
  trap - EXIT
  set +e
  if ((${#jobs_submitted[@]})); then
    scancel "${jobs_submitted[@]}" 2>/dev/null
    for _ in $(seq 20); do
      [[ -z $(squeue -h -o %i 2>/dev/null) ]] && break
      sleep 0.5
    done
  fi
  ((rc != 0)) && show_logs
  # Stop the daemons in reverse order of their start, by the PIDs this script
  # started; a daemon that ignores SIGTERM for 10 s is killed.
  local i pid
  for ((i = ${#daemon_pids[@]} - 1; i >= 0; i--)); do
    pid=${daemon_pids[i]}
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  if [[ ${KEEP:-} == 1 ]]; then say "work folder kept: $work"; else rm -rf "$work"; fi
  ((rc == 0)) && say "passed in $((SECONDS - started)) s"
  ((rc != 0)) && echo "slurm-e2e: FAILED${failure:+: $failure} (daemons stopped; their logs are above)" >&2
  exit "$rc"
}
trap cleanup EXIT
trap 'failure=interrupted; exit 130' INT TERM

# A TCP port nothing listens on.
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
  fail "no free TCP port found"
}

# Waits until "$@" succeeds, at most $1 seconds; fails naming $2.
wait_for() {
  local timeout=$1 what=$2
  shift 2
  local deadline=$((SECONDS + timeout))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || fail "$what did not happen within $timeout s"
    sleep 0.5
  done
}

alive() {
  local pid=$1 name=$2
  kill -0 "$pid" 2>/dev/null || fail "$name (pid $pid) is no longer running (see its log below)"
}

# The Slurm daemons run in the foreground and log to standard error, which
# goes to $work/slurmctld.log and $work/slurmd.log.
# munged with a key, socket and logs of its own.
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 0400 "$work/munge/munge.key"
munged --foreground --force --key-file="$work/munge/munge.key" --socket="$work/munge/munge.socket" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" --seed-file="$work/munge/munged.seed" \
  2>>"$work/munge/munged.log" &
daemon_pids+=($!)
wait_for 10 "munged's socket" test -S "$work/munge/munge.socket"
alive "${daemon_pids[-1]}" munged

node=$(hostname -s)
cpus=$(nproc)
export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=kmztile-e2e
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
SwitchType=switch/none
ReturnToService=2
MinJobAge=600
MailProg=/bin/true
SlurmctldTimeout=30
SlurmdTimeout=30
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=e2e Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF

slurmctld -D -i -f "$SLURM_CONF" >>"$work/slurmctld.log" 2>&1 &
daemon_pids+=($!)
wait_for "$START_TIMEOUT" "slurmctld answering (scontrol ping)" bash -c 'scontrol ping | grep -q UP'
alive "${daemon_pids[-1]}" slurmctld
slurmd -D -f "$SLURM_CONF" -N "$node" >>"$work/slurmd.log" 2>&1 &
daemon_pids+=($!)
wait_for "$START_TIMEOUT" "node $node becoming idle" bash -c "sinfo -h -n '$node' -o %T | grep -qx idle"
alive "${daemon_pids[-1]}" slurmd
say "slurmctld and slurmd up after $((SECONDS - started)) s"

# The array and the merge, as the README shows them.
export SRC=$repo/samples/city OUT=$work/out KMZTILE CRS=EPSG:4527
submit() { sbatch --parsable --chdir="$work" --output="$work/logs/%x-%A_%a.out" "$@" | cut -d';' -f1; }
array=$(submit --array=0-$((SHARDS - 1)) "$repo/scripts/slurm/kmztile-array.sbatch")
jobs_submitted+=("$array")
merge=$(submit --dependency=afterok:"$array" --kill-on-invalid-dep=yes "$repo/scripts/slurm/kmztile-merge.sbatch")
jobs_submitted+=("$merge")
say "submitted array job $array ($SHARDS tasks) and merge job $merge"

# The reference build runs meanwhile, outside the scheduler.
"$KMZTILE" build "$SRC" "$work/one" --crs "$CRS" --jobs 1 --quiet 2>"$work/logs/reference-build.log" ||
  fail "the --jobs 1 reference build failed"

deadline=$((SECONDS + JOB_TIMEOUT))
while [[ -n $(squeue -h -j "$array,$merge" -o %i 2>/dev/null) ]]; do
  ((SECONDS < deadline)) || fail "jobs still queued or running after $JOB_TIMEOUT s: $(squeue -j "$array,$merge" 2>&1)"
  alive "${daemon_pids[1]}" slurmctld
  alive "${daemon_pids[2]}" slurmd
  sleep 1
done

# Every task and the merge must have completed with exit code 0.
states=$(scontrol -o show job "$array"; scontrol -o show job "$merge")
completed=$(grep -c 'JobState=COMPLETED .*ExitCode=0:0' <<<"$states" || true)
if ((completed != SHARDS + 1)); then
  grep -o 'JobId=[0-9]* .*JobName=[^ ]*\|ArrayTaskId=[^ ]*\|JobState=[^ ]*\|ExitCode=[^ ]*' <<<"$states" >&2 || true
  fail "$completed of $((SHARDS + 1)) jobs completed with exit code 0"
fi
for ((k = 1; k <= SHARDS; k++)); do
  [[ -f $OUT/tileset-shard-$k-of-$SHARDS.json ]] || fail "no record of shard $k/$SHARDS in $OUT"
done

tiles=$(find "$work/one/tiles" -name '*.kmz' | wc -l)
((tiles > 0)) || fail "the reference build wrote no tiles"
diff -r --exclude=.kmztile --exclude=.kmztile.lock --exclude='tileset-shard-*' "$work/one" "$OUT" >"$work/diff.txt" 2>&1 ||
  { head -n 20 "$work/diff.txt" >&2; fail "the merged Slurm build differs from the --jobs 1 build"; }
say "the merged output of $SHARDS Slurm array tasks equals the --jobs 1 build ($tiles tiles)"
