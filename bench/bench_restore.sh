#!/usr/bin/env bash
# Restores the benchmark corpus archive with `sejfko-cli restore` and unpacks the same archive
# with `unzip -q` in the same run; prints the wall and CPU time of each (best of RUNS) and the
# ratio restore / unzip (goal: at most 0.4), the peak memory of each, and checks that both trees
# are identical.
#
# The corpus is the seeded one of bench_pack.sh (both run make_corpus.py), packed once by
# `sejfko-cli pack` into a complete archive. Both sides write into a fresh directory on the same
# file system after `sync`, with the archive in the page cache.
#
# Environment: BUILD_DIR (Release build holding src/sejfko-cli and src/libzipengine.so, default
# ../build-job-rel), BENCH_DIR (default /var/tmp), SCALE (default 0.3), RUNS (default 3), KEEP=1
# keeps the data. Exit status: 2 a tool is missing, 3 too little free space, 1 the trees differ
# or a command failed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
scale=${SCALE:-0.3}
runs=${RUNS:-3}
bench_cli "$here/../build-job-rel"
bench_tools unzip gzip awk df diff /usr/bin/time
# Corpus, archive and two restored trees.
bench_workdir restore "$(awk -v s="$scale" -v r="$runs" \
    'BEGIN { printf "%d", s * (1.4 + 2 * r * 1.1) * 1024 * 1024 }')"

"$python" "$here/make_corpus.py" "$work/corpus" "$scale"
(cd "$work" && "$cli" pack arch corpus > /dev/null 2>&1)
archive=$(ls "$work"/arch/Backup_*_full.fbk)
echo "archive: $archive, $(stat -c %s "$archive") bytes," \
    "$(find "$work/corpus" -type f | wc -l) files" >&2

# best NAME COMMAND: best wall time (with its CPU time and peak memory) of RUNS runs, each into
# a fresh directory. Nothing is deleted between runs: ext4 passes over inodes freed in the last
# minutes when it makes new ones, which would charge a tree deleted just before to the next run.
results=$work/results.txt
: > "$results"
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
