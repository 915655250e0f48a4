#!/usr/bin/env bash
# Incremental backup runs of `sejfko-cli run` over a tree of 100,000 small files (SCALE shrinks
# it), against `find DIR -printf '%T@ %s %p\n'` on the same tree in the same run:
#   - nothing changed since the last run (the stamps are compared, no file is read);
#   - 1 % of the files changed (those are read, checksummed and archived);
# and a run whose stored state holds 250,000 and then 1,000,000 records of files that no longer
# exist (every record is looked up once and lands in the deletion list): the time should grow
# linearly with the count.
#
# Environment: BUILD_DIR (Release build holding src/sejfko-cli, default ../build-rel), BENCH_DIR
# (default /var/tmp), SCALE (default 1), KEEP=1 keeps the data.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
scale=${SCALE:-1}
bench_cli "$here/../build-rel"
bench_tools find awk
bench_workdir inc 0
cfg=$work/config
mkdir -p "$cfg"

files=$(awk -v s="$scale" 'BEGIN { printf "%d", s * 100000 }')
echo "tree: $files files in $work/tree" >&2
"$python" - "$work/tree" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
for i in range(count):
    d = f"{root}/d{i // 1000:03d}/e{(i // 100) % 10}"
    if i % 100 == 0:
        os.makedirs(d, exist_ok=True)
    with open(f"{d}/f{i:06d}.txt", "wb") as f:
        f.write(rng.randbytes(rng.randrange(16, 512)))
PY

c() { "$cli" --config-dir "$cfg" "$@" > /dev/null 2>&1; }
printf '%s\n' "$work/tree" > "$cfg/vyber.txt"
c config "File choose" vyber.txt
c config "Local directory" "$work/out"
c config "Backup count" 1000
c config "Backup kind" 1
# Weekly kind with the complete day set to tomorrow: every run today after the first is incremental.
c config "Completely week backup day" $(( $(date +%u) % 7 + 1 ))

# seconds COMMAND...: wall time of the command, best of three.
seconds() {
    local best=""
    for _ in 1 2 3; do
        local start end
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s.%N)
        best=$(awk -v a="$start" -v b="$end" -v best="$best" \
            'BEGIN { t = b - a; if (best == "" || t < best) best = t; printf "%.3f", best }')
    done
    echo "$best"
}
once() {
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

find_time=$(seconds find "$work/tree" -printf '%T@ %s %p\n')
full_time=$(once "$cli" --config-dir "$cfg" run)
# A run that finds nothing changed makes the next one complete (`c run` below), so each timed
# incremental run follows a complete one; the archive's pages are flushed first so that writeback does not land
# in the timed run. Best of three.
best() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b < a) a = b; printf "%.3f", a }'; }
change_files() {  # change_files ROUND: 1 % of the files, a different set each round
    "$python" - "$work/tree" "$files" "$1" <<'PY'
import os, sys
root, count, round_ = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(round_, count, 100):
    path = f"{root}/d{i // 1000:03d}/e{(i // 100) % 10}/f{i:06d}.txt"
    with open(path, "ab") as f:
        f.write(b"changed")
    st = os.stat(path)
    os.utime(path, (st.st_atime, st.st_mtime + 4))
PY
}
unchanged_time=""
changed_time=""
for round in 1 2 3; do
    # Start each round from a complete run with a fresh state.
    [[ $round == 1 ]] || { rm -f "$cfg/IncSelect.ini"; c run; }
    sync
    unchanged_time=$(best "$unchanged_time" "$(once "$cli" --config-dir "$cfg" run)")
    c run
    change_files "$round"
    sync
    changed_time=$(best "$changed_time" "$(once "$cli" --config-dir "$cfg" run)")
done

# Stored states of 250,000 and 1,000,000 records of vanished files, with a one-file selection.
state_run() {
    local records=$1
    mkdir -p "$work/one"
    echo x > "$work/one/x.txt"
    printf '%s\n' "$work/one" > "$cfg/vyber.txt"
    c run || true  # complete: a fresh state of the one file
    "$python" - "$cfg/IncSelect.ini" "$records" <<'PY'
import sys
path, count = sys.argv[1], int(sys.argv[2])
with open(path, "ab") as f:
    for i in range(count):
        f.write(b"/vanished/d%03d/file%07d.txt\r\n%d\r\n%d\r\n" % (i % 997, i, 1234567 + i, i))
PY
    once "$cli" --config-dir "$cfg" run
}
state_small=$(state_run 250000)
state_large=$(state_run 1000000)

echo
echo "tree: $files files, $(nproc) cores, SCALE=$scale"
printf '%-44s %9s %9s\n' "run" "wall s" "ratio"
printf '%-44s %9.3f %9s\n' "find -printf (best of 3)" "$find_time" "1.000"
awk -v f="$find_time" -v a="$full_time" -v b="$unchanged_time" -v d="$changed_time" 'BEGIN {
    printf "%-44s %9.3f %9.3f\n", "first run (complete, checksums)", a, a / f
    printf "%-44s %9.3f %9.3f\n", "incremental, nothing changed (goal <= 3x)", b, b / f
    printf "%-44s %9.3f %9.3f\n", "incremental, 1 % changed", d, d / f }'
awk -v s="$state_small" -v l="$state_large" 'BEGIN {
    printf "%-44s %9.3f\n", "stored state of 250,000 vanished records", s
    printf "%-44s %9.3f %9.2f (linear: 4.00)\n", "stored state of 1,000,000 vanished records", l, l / s }'
