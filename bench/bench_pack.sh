#!/usr/bin/env bash
# Archives one reproducible mixed corpus with `sejfko-cli pack` (default level 9), plain and
# encrypted (AES-256, password from a file), and, in the same run, with `zip -r -9`,
# `7zz a -tzip -mx=9` and `tar c | pigz -9`; prints wall time, CPU time
# (user + sys), peak memory and output size of each, the ratios against `zip -r -9`, and the
# time of the encrypted pack against the plain one.
#
# The corpus (seeded, the same on every machine): text and source-like files, structured
# binaries, already-compressed files (.gz made with gzip, .png), one 256 MiB file and a tree of
# 100,000 small files; 101,081 files and 857 MB at SCALE=1. SCALE (e.g. 0.1) shrinks
# every part. The page cache is warmed before each tool so the runs compare code, not the disk.
#
# Environment: BUILD_DIR (Release build holding src/sejfko-cli and src/libzipengine.so, default
# ../build-job-rel), BENCH_DIR (where the data goes, default a fresh directory under /var/tmp),
# SCALE (default 1), KEEP=1 keeps the corpus and the archives. Exit status: 2 a tool is missing,
# 3 too little free space, 1 an archive did not verify.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
scale=${SCALE:-1}
bench_cli "$here/../build-job-rel"
bench_tools zip unzip 7zz pigz tar gzip awk df
# Corpus plus five archives of it, with room to spare.
bench_workdir pack "$(awk -v s="$scale" 'BEGIN { printf "%d", s * 4.5 * 1024 * 1024 }')"

echo "corpus: generating in $work/corpus (SCALE=$scale)" >&2
"$python" "$here/make_corpus.py" "$work/corpus" "$scale"

corpus_bytes=$(du -sb "$work/corpus" | awk '{ print $1 }')
corpus_files=$(find "$work/corpus" -type f | wc -l)
echo "corpus: $corpus_files files, $corpus_bytes bytes" >&2

warm() { find "$work/corpus" -type f -print0 | xargs -0 cat > /dev/null; }

# measure NAME OUTPUT COMMAND: runs COMMAND (a bash snippet, in $work) and appends one result line.
results=$work/results.txt
: > "$results"
measure() {
    local name=$1 output=$2 command=$3 stats
    warm
    rm -f "$output"
    if [[ -x /usr/bin/time ]]; then
        (cd "$work" && /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" bash -c "$command")
        stats=$(tail -n 1 "$work/time.txt")
    else
        stats=$(cd "$work" && "$python" -c '
import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(["bash", "-c", sys.argv[1]], check=True)
wall = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{wall:.2f} {usage.ru_utime:.2f} {usage.ru_stime:.2f} {usage.ru_maxrss}")' "$command")
    fi
    echo "$name $stats $(stat -c %s "$output")" >> "$results"
    echo "done: $name" >&2
}

printf 'bench-heslo\n' > "$work/password.txt"
measure "sejfko-cli pack" "$work/sejfko.fbk" "'$cli' pack sejfko.fbk corpus > /dev/null 2>&1"
measure "sejfko-cli pack AES" "$work/sejfko-aes.fbk" \
    "'$cli' pack --password-file password.txt sejfko-aes.fbk corpus > /dev/null 2>&1"
measure "zip -r -9" "$work/zip9.zip" "zip -r -9 -q zip9.zip corpus"
measure "7zz -tzip -mx=9" "$work/7zz.zip" "7zz a -tzip -mx=9 -bso0 -bsp0 7zz.zip corpus"
measure "tar | pigz -9" "$work/pigz.tar.gz" "tar cf - corpus | pigz -9 > pigz.tar.gz"

status=0
if ! 7zz t -bso0 -bsp0 "$work/sejfko-aes.fbk" < "$work/password.txt"; then
    echo "sejfko-aes.fbk does not verify with 7zz t" >&2
    status=1
fi
if ! unzip -tq "$work/sejfko.fbk" > /dev/null; then
    echo "sejfko.fbk does not verify with unzip -t" >&2
    status=1
fi
ours_entries=$(unzip -Z1 "$work/sejfko.fbk" | grep -vc '/$' || true)
if [[ $ours_entries != "$corpus_files" ]]; then
    echo "sejfko.fbk holds $ours_entries files, the corpus $corpus_files" >&2
    status=1
fi

echo
echo "corpus: $corpus_files files, $corpus_bytes bytes, $(nproc) cores, SCALE=$scale"
awk '
    { name[NR] = $1; for (i = 2; i <= NF - 5; ++i) name[NR] = name[NR] " " $i
      wall[NR] = $(NF - 4); cpu[NR] = $(NF - 3) + $(NF - 2); mem[NR] = $(NF - 1); size[NR] = $NF }
    name[NR] == "zip -r -9" { ref = NR }
    name[NR] == "sejfko-cli pack" { plain = NR }
    name[NR] == "sejfko-cli pack AES" { aes = NR }
    END {
        printf "%-18s %9s %9s %10s %14s %8s %8s\n", "tool", "wall s", "cpu s", "peak MiB",
            "bytes", "time/zip", "size/zip"
        for (i = 1; i <= NR; ++i)
            printf "%-18s %9.2f %9.2f %10.1f %14d %8.3f %8.4f\n", name[i], wall[i], cpu[i],
                mem[i] / 1024, size[i], wall[i] / wall[ref], size[i] / size[ref]
        printf "encrypted pack / plain pack: wall %.3f, cpu %.3f\n", wall[aes] / wall[plain],
            cpu[aes] / cpu[plain]
    }' "$results"
exit $status
