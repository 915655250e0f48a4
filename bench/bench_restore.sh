#!/usr/bin/env bash
# Restores the benchmark corpus archive with `sejfko-cli restore` and unpacks the same archive
# with `unzip -q` in the same run; prints the wall and CPU time of each (best of RUNS) and the
# ratio restore / unzip (goal: at most 1.0), and checks that both trees are identical.
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
bench_tools unzip gzip awk df diff
# Corpus, archive and two restored trees.
bench_workdir restore "$(awk -v s="$scale" 'BEGIN { printf "%d", s * 3.2 * 1024 * 1024 }')"

"$python" "$here/make_corpus.py" "$work/corpus" "$scale"
(cd "$work" && "$cli" pack arch corpus > /dev/null 2>&1)
archive=$(ls "$work"/arch/Backup_*_full.fbk)
echo "archive: $archive, $(stat -c %s "$archive") bytes," \
    "$(find "$work/corpus" -type f | wc -l) files" >&2

# best NAME COMMAND: best wall time (and its CPU time) of RUNS runs into a fresh directory.
results=$work/results.txt
: > "$results"
best() {
    local name=$1 command=$2 best_wall="" best_cpu="" TIMEFORMAT='%R %U %S'
    for _ in $(seq "$runs"); do
        rm -rf "$work/out"
        cat "$archive" > /dev/null
        sync
        local times
        times=$( { time bash -c "$command" > /dev/null 2>&1; } 2>&1 ) ||
            { echo "failed: $command" >&2; exit 1; }
        read -r best_wall best_cpu < <(awk -v t="$times" -v bw="$best_wall" -v bc="$best_cpu" \
            'BEGIN { split(t, p, " "); w = p[1]; c = p[2] + p[3];
                     if (bw == "" || w < bw) { bw = w; bc = c }
                     printf "%.3f %.3f\n", bw, bc }')
    done
    printf '%s|%s|%s\n' "$name" "$best_wall" "$best_cpu" >> "$results"
}

best "sejfko-cli restore" "'$cli' restore --to '$work/out' '$archive'"
mv "$work/out" "$work/ours"
best "unzip -q" "unzip -q '$archive' -d '$work/out'"
mv "$work/out" "$work/unzip"
diff -r "$work/ours" "$work/unzip" > /dev/null || { echo "the restored trees differ" >&2; exit 1; }

unzip_wall=$(awk -F'|' '$1 == "unzip -q" { print $2 }' "$results")
printf '%-20s %9s %9s %10s\n' tool "wall s" "CPU s" "time/unzip"
while IFS='|' read -r name wall cpu; do
    printf '%-20s %9s %9s %10s\n' "$name" "$wall" "$cpu" \
        "$(awk -v a="$wall" -v b="$unzip_wall" 'BEGIN { printf "%.3f", a / b }')"
done < "$results"
