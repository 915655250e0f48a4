#!/usr/bin/env bash
# Restores an archive of 1,000,000 small files (0 to 4 KiB; SCALE shrinks the count) with
# `sejfko-cli restore` and unpacks it with `unzip -q` in the same run; prints wall and CPU time,
# peak memory and the ratio restore / unzip (goals: at most 0.5, peak memory under 256 MiB), and
# checks that both trees are identical.
#
# The tree is made on disk by the script (1,000 files a directory), packed once by
# `sejfko-cli pack`, and removed at the end unless KEEP=1. Environment: BUILD_DIR (Release build,
# default ../build-rel), BENCH_DIR (default /var/tmp), SCALE (default 1), RUNS (default 1).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
scale=${SCALE:-1}
runs=${RUNS:-1}
bench_cli "$here/../build-rel"
bench_tools unzip awk df diff /usr/bin/time
count=$(awk -v s="$scale" 'BEGIN { printf "%d", s * 1000000 }')
# Tree, archive and 2 x RUNS restored trees: about 6 KiB of disk a file each (blocks, inodes).
bench_workdir million "$(awk -v n="$count" -v r="$runs" 'BEGIN { printf "%d", n * 6 * (2 + 2 * r) }')"

"$python" - "$work/tree" "$count" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(20240601)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randrange(2, 9)))
         for _ in range(512)]
for i in range(count):
    if i % 1000 == 0:
        folder = f"{root}/d{i // 1000:04d}"
        os.makedirs(folder)
    size = rng.randrange(0, 4097)
    data = b" ".join(rng.choices(words, k=size // 4 + 1))[:size]
    with open(f"{folder}/f{i:07d}.txt", "wb") as f:
        f.write(data)
PY
(cd "$work" && "$cli" pack arch tree > /dev/null 2>&1)
archive=$(ls "$work"/arch/Backup_*_full.fbk)
echo "archive: $archive, $(stat -c %s "$archive") bytes, $count files" >&2
# The tree stays until the end: ext4 passes over inodes freed in the last minutes, which would
# charge its deletion to the first restore.

results=$work/results.txt
: > "$results"
# best NAME COMMAND LABEL: as in bench_restore.sh, each run into a fresh directory.
best() {
    local name=$1 command=$2 best_wall="" best_cpu="" best_rss="" run
    for run in $(seq "$runs"); do
        cat "$archive" > /dev/null
        sync
        local times
        times=$(/usr/bin/time -f '%e %U %S %M' bash -c "${command//OUT/$work/$3.$run}" 2>&1 \
            > /dev/null | tail -1) || { echo "failed: $command" >&2; exit 1; }
        read -r best_wall best_cpu best_rss < <(awk -v t="$times" -v bw="$best_wall" \
            -v bc="$best_cpu" -v br="$best_rss" \
            'BEGIN { split(t, p, " "); w = p[1]; c = p[2] + p[3];
                     if (bw == "" || w < bw) { bw = w; bc = c; br = p[4] }
                     printf "%.3f %.3f %s\n", bw, bc, br }')
    done
    printf '%s|%s|%s|%s\n' "$name" "$best_wall" "$best_cpu" "$best_rss" >> "$results"
}

best "sejfko-cli restore" "'$cli' restore --to 'OUT' '$archive'" ours
best "unzip -q" "unzip -q '$archive' -d 'OUT'" unzip
diff -r "$work/ours.1" "$work/unzip.1" > /dev/null || { echo "the restored trees differ" >&2; exit 1; }

unzip_wall=$(awk -F'|' '$1 == "unzip -q" { print $2 }' "$results")
printf '%-20s %9s %9s %9s %10s\n' tool "wall s" "CPU s" "peak MiB" "time/unzip"
while IFS='|' read -r name wall cpu rss; do
    printf '%-20s %9s %9s %9s %10s\n' "$name" "$wall" "$cpu" \
        "$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')" \
        "$(awk -v a="$wall" -v b="$unzip_wall" 'BEGIN { printf "%.3f", a / b }')"
done < "$results"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
