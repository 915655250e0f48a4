#!/usr/bin/env bash
# Incremental runs of `sejfko-cli run` (weekly kind) over a tree of FILES (default 1,000,000)
# files of 0-4 KiB made on disk once, against `find DIR -printf '%T@ %s %p\n'` on the same tree in
# the same run, with the wall time and peak memory of each whole process (/usr/bin/time):
#   - nothing changed since the last run (goal: at most 1.5x find, peak under 256 MiB);
#   - 1 % of the files changed (goal: at most 2x find).
# Every timed run starts from the same saved state (a copy of the configuration directory taken
# after the first, complete run), so no complete run is needed between them. Best of RUNS
# (default 3) for the time; the peak is the largest seen.
#
# Environment: BUILD_DIR (Release build holding src/sejfko-cli, default ../build-rel), BENCH_DIR
# (default /var/tmp), FILES, RUNS, KEEP=1 keeps the tree and the configuration, TREE=DIR uses the
# tree a kept run made (of the same FILES) instead of making one; it is never removed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
files=${FILES:-1000000}
runs=${RUNS:-3}
bench_cli "$here/../build-rel"
bench_tools find awk /usr/bin/time
# About 4 KiB of disk per file for the tree, as much again for the first archive.
bench_workdir million $((files * 9))
cfg=$work/config
mkdir -p "$cfg"

tree=${TREE:-$work/tree}
[[ -n ${TREE:-} ]] || { echo "tree: $files files in $tree" >&2; "$python" - "$tree" "$files"; } <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(11)
words = b"soubor zaloha data radek text " * 150
for i in range(count):
    d = f"{root}/d{i // 1000:04d}/e{(i // 100) % 10}"
    if i % 100 == 0:
        os.makedirs(d, exist_ok=True)
    size = rng.randrange(0, 4097)
    with open(f"{d}/f{i:07d}.txt", "wb") as f:
        f.write((rng.randbytes(16) + words)[:size])
PY

c() { "$cli" --config-dir "$cfg" "$@" > /dev/null 2>&1; }
printf '%s\n' "$tree" > "$cfg/vyber.txt"
c config "File choose" vyber.txt
c config "Local directory" "$work/out"
c config "Backup count" 1000
c config "Backup kind" 1
# Weekly kind with the complete day set to tomorrow: every run today after the first is incremental.
c config "Completely week backup day" $(( $(date +%u) % 7 + 1 ))

# measure COMMAND...: prints "wall_s cpu_s peak_kib" of the whole process; exits when it fails.
measure() {
    local out=$work/time.out
    /usr/bin/time -f '%e %U %S %M' -o "$out" "$@" > /dev/null 2>&1 ||
        { echo "failed: $*" >&2; exit 1; }
    tail -n 1 "$out" | awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }'
}
# best_of N COMMAND...: the least wall and CPU time and the largest peak of N runs, each after
# `prepare`.
best_of() {
    local n=$1 results=""
    shift
    for ((i = 0; i < n; ++i)); do
        prepare
        results+="$(measure "$@")"$'\n'
    done
    awk 'NF == 3 { if (w == "" || $1 < w) w = $1; if (c == "" || $2 < c) c = $2; if ($3 > m) m = $3 }
         END { print w, c, m }' <<< "$results"
}

prepare() { :; }
find_result=$(best_of "$runs" find "$tree" -printf '%T@ %s %p\n')
first_result=$(measure "$cli" --config-dir "$cfg" run)
cp -a "$cfg" "$work/config.base"
# The saved state back, and the archive's pages flushed so that writeback does not land in the
# timed run.
prepare() { rm -rf "$cfg"; cp -a "$work/config.base" "$cfg"; sync; }
unchanged_result=$(best_of "$runs" "$cli" --config-dir "$cfg" run)
"$python" - "$tree" "$files" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(0, count, 100):
    path = f"{root}/d{i // 1000:04d}/e{(i // 100) % 10}/f{i:07d}.txt"
    with open(path, "ab") as f:
        f.write(b"changed")
    st = os.stat(path)
    os.utime(path, (st.st_atime, st.st_mtime + 4))
PY
changed_result=$(best_of "$runs" "$cli" --config-dir "$cfg" run)
state_records=$(($(wc -l < "$work/config.base/IncSelect.ini") / 3))

echo
echo "tree: $files files, state: $state_records records, $(nproc) cores," \
    "load $(cut -d ' ' -f 1-3 /proc/loadavg)"
printf '%-40s %8s %8s %8s %8s %9s\n' "run" "wall s" "to find" "CPU s" "to find" "peak MiB"
report() {
    awk -v name="$1" -v find="$find_result" -v run="$2" 'BEGIN {
        split(find, f, " "); split(run, r, " ")
        printf "%-40s %8.2f %8.3f %8.2f %8.3f %9.1f\n", name, r[1], r[1] / f[1], r[2],
            r[2] / f[2], r[3] / 1024 }'
}
report "find -printf (best of $runs)" "$find_result"
report "first run (complete)" "$first_result"
report "incremental, nothing changed (<= 1.5x)" "$unchanged_result"
report "incremental, 1 % changed (<= 2x)" "$changed_result"
