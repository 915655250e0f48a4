#!/usr/bin/env bash
# Restores the benchmark corpus archive with `sejfko-cli restore` and unpacks the same archive
# with `unzip -q` in the same run; prints the wall and CPU time of each (best of RUNS) and the
# ratio restore / unzip (goal: at most 1.0), and checks that both trees are identical.
#
# The corpus is the seeded one of bench_pack.sh (its generator is taken from that script, so the
# two always agree), packed once by `sejfko-cli pack` into a complete archive. Both sides write
# into a fresh directory on the same file system after `sync`, with the archive in the page
# cache.
#
# Environment: BUILD_DIR (Release build holding src/sejfko-cli and src/libzipengine.so, default
# ../build-job-rel), BENCH_DIR (default /var/tmp), SCALE (default 0.3), RUNS (default 3), KEEP=1
# keeps the data. Exit status: 2 a tool is missing, 3 too little free space, 1 the trees differ
# or a command failed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$here/../build-job-rel}
scale=${SCALE:-0.3}
runs=${RUNS:-3}
cli=$build/src/sejfko-cli
if [[ ! -x $cli ]]; then
    echo "missing $cli: cmake -S $here/.. -B $build -DCMAKE_BUILD_TYPE=Release" \
        "-DSEJFKO_WITH_GUI=OFF && cmake --build $build --target sejfko-cli zipengine" >&2
    exit 2
fi
cli=$(cd "$build/src" && pwd)/sejfko-cli
for tool in unzip gzip awk df diff; do
    command -v "$tool" > /dev/null || { echo "missing $tool" >&2; exit 2; }
done
python=/usr/bin/python3
[[ -x $python ]] || python=$(command -v python3) || { echo "missing python3" >&2; exit 2; }

base=${BENCH_DIR:-/var/tmp}
mkdir -p "$base"
# Corpus, archive and two restored trees.
need_kib=$(awk -v s="$scale" 'BEGIN { printf "%d", s * 3.2 * 1024 * 1024 }')
free_kib=$(df -Pk "$base" | awk 'NR == 2 { print $4 }')
if (( free_kib < need_kib )); then
    echo "too little space in $base: $((free_kib / 1024)) MiB free, $((need_kib / 1024)) MiB" \
        "needed (lower SCALE or set BENCH_DIR)" >&2
    exit 3
fi
work=$(mktemp -d "$base/sejfko-bench-restore.XXXXXX")
cleanup() { [[ ${KEEP:-0} == 1 ]] || rm -rf "$work"; }
trap cleanup EXIT

generator=$work/corpus.py
sed -n "/^\"\$python\" - \"\$work\/corpus\" \"\$scale\" <<'PY'\$/,/^PY\$/p" "$here/bench_pack.sh" |
    sed '1d;$d' > "$generator"
[[ -s $generator ]] || { echo "corpus generator not found in bench_pack.sh" >&2; exit 2; }
echo "corpus: generating in $work/corpus (SCALE=$scale)" >&2
"$python" "$generator" "$work/corpus" "$scale"
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
