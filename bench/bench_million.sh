#!/usr/bin/env bash
# A tree of 1,000,000 files of 0-4 KiB (SCALE shrinks it), made on disk once, archived in the
# same run by `zip -r -q -9`, by a complete `sejfko-cli run` (kind 0) and by `sejfko-cli pack`;
# prints wall time, CPU time, peak memory (maximum resident set size, as `/usr/bin/time -v`
# reports it) and archive size of each, with the ratios against zip. Goals: the complete run at
# most 0.3x zip's wall time with a peak under 256 MiB.
#
# The files hold slices of a seeded text of words and numbers, so that they compress as
# ordinary small files do; 1000 files per directory, two levels of directories.
#
# Environment: BUILD_DIR (Release build holding src/sejfko-cli, default ../build-rel), BENCH_DIR
# (default /var/tmp), SCALE (default 1), KEEP=1 keeps the tree and the archives, TREE=DIR uses the
# tree a kept run made (its SCALE must match), SKIP_ZIP=1 leaves zip out (no ratios then). Exit status: 2 a tool is missing, 3 too little free space, 1 an archive
# did not verify or misses files.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
scale=${SCALE:-1}
bench_cli "$here/../build-rel"
bench_tools zip unzip awk tar
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time (package time)" >&2; exit 2; }
files=$(awk -v s="$scale" 'BEGIN { printf "%d", s * 1000000 }')
# Every file takes at least a block; the tree, three archives and room to spare.
bench_workdir million "$(awk -v n="$files" 'BEGIN { printf "%d", n * 10 + 1048576 }')"

if [[ -n ${TREE:-} ]]; then
    ln -s "$(cd "$TREE" && pwd)" "$work/tree"
else
echo "tree: making $files files in $work/tree" >&2
"$python" - "$work/tree" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(1000000)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randrange(2, 10)))
         for _ in range(4000)]
parts, length = [], 0
while length < (8 << 20):
    line = " ".join(rng.choice(words) for _ in range(rng.randrange(3, 14)))
    parts.append(f"{line} {rng.randrange(10**6)}\n")
    length += len(parts[-1])
pool = "".join(parts).encode()
for i in range(count):
    if i % 1000 == 0:
        folder = f"{root}/d{i // 100000:02d}/e{(i // 1000) % 100:02d}"
        os.makedirs(folder, exist_ok=True)
    size = rng.randrange(0, 4097)
    start = rng.randrange(0, len(pool) - size)
    with open(f"{folder}/f{i:07d}.txt", "wb") as f:
        f.write(pool[start:start + size])
PY
fi
tree_bytes=$(du -sbL --apparent-size "$work/tree" | awk '{ print $1 }')

cfg=$work/config
mkdir -p "$cfg" "$work/out"
c() { "$cli" --config-dir "$cfg" "$@" > /dev/null 2>&1; }
printf '%s\n' "$work/tree" > "$cfg/vyber.txt"
c config "File choose" vyber.txt
c config "Local directory" "$work/out"
c config "Backup count" 1000
c config "Backup kind" 0

# Reads the tree once so that each tool finds it in the page cache (GNU tar skips the reads when
# its output is /dev/null itself).
warm() { tar cf - -C "$work/tree/" . | cat > /dev/null; }

results=$work/results.txt
: > "$results"
# measure NAME OUTPUT COMMAND: runs COMMAND (a bash snippet, in $work) and appends one line.
measure() {
    local name=$1 output=$2 command=$3
    warm
    sync
    (cd "$work" && /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" bash -c "$command")
    [[ -n $output ]] || output=$(ls "$work"/out/*.fbk | tail -n 1)
    echo "$name $(tail -n 1 "$work/time.txt") $(stat -c %s "$output")" >> "$results"
    cp "$work/time.txt" "$work/time-${name// /_}.txt"
    echo "done: $name ($(tail -n 1 "$work/time.txt"))" >&2
    last_output=$output
}

status=0
check() {  # check ARCHIVE: every file of the tree is in it and it tests sound
    local entries
    entries=$(unzip -Z1 "$1" | grep -vc '/$' || true)
    if [[ $entries != "$files" ]]; then
        echo "$1 holds $entries files, the tree $files" >&2
        status=1
    fi
    if ! unzip -tqq "$1" > /dev/null; then
        echo "$1 does not verify with unzip -t" >&2
        status=1
    fi
}

if [[ ${SKIP_ZIP:-0} != 1 ]]; then
    measure "zip -r -q -9" "$work/zip9.zip" "zip -r -q -9 zip9.zip tree"
    rm -f "$work/zip9.zip"  # only its size is kept
fi
measure "sejfko-cli run" "" "'$cli' --config-dir '$cfg' run > /dev/null 2>&1"
check "$last_output"
rm -f "$work"/out/*.fbk
measure "sejfko-cli pack" "$work/pack.fbk" "'$cli' pack pack.fbk tree > /dev/null 2>&1"
check "$last_output"

echo
echo "tree: $files files, $tree_bytes bytes, $(nproc) cores, SCALE=$scale," \
    "load before: $(cut -d ' ' -f 1-3 /proc/loadavg)"
awk '
    { name[NR] = $1; for (i = 2; i <= NF - 5; ++i) name[NR] = name[NR] " " $i
      wall[NR] = $(NF - 4); cpu[NR] = $(NF - 3) + $(NF - 2); mem[NR] = $(NF - 1); size[NR] = $NF }
    name[NR] == "zip -r -q -9" { ref = NR }
    END {
        printf "%-16s %9s %9s %10s %14s %8s %8s\n", "tool", "wall s", "cpu s", "peak MiB",
            "bytes", "time/zip", "size/zip"
        for (i = 1; i <= NR; ++i)
            if (ref)
                printf "%-16s %9.2f %9.2f %10.1f %14d %8.3f %8.4f\n", name[i], wall[i], cpu[i],
                    mem[i] / 1024, size[i], wall[i] / wall[ref], size[i] / size[ref]
            else
                printf "%-16s %9.2f %9.2f %10.1f %14d %8s %8s\n", name[i], wall[i], cpu[i],
                    mem[i] / 1024, size[i], "-", "-"
    }' "$results"
exit $status
