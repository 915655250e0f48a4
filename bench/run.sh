#!/usr/bin/env bash
# Compares our checksum and scanning with standard tools on the same data in one run:
#   FileCrc32 on a 1 GiB file            against  7zz h -scrcCRC32 FILE
#   ExpandSelection on a 100,000-file tree against find DIR -printf '%T@ %s %p\n'
# Both with a warm page cache, best of several runs, results checked against each other.
# Environment: BUILD_DIR (Release build with SEJFKO_BUILD_BENCH=ON, default ../build-bench),
# BENCH_DIR (where the data goes, default a fresh directory under /var/tmp), RUNS (default 5),
# KEEP=1 keeps the data.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$here/../build-bench}
runs=${RUNS:-5}
crc_bin=$build/bench/bench_crc32
expand_bin=$build/bench/bench_expand
for bin in "$crc_bin" "$expand_bin"; do
    if [[ ! -x $bin ]]; then
        echo "missing $bin: cmake -S $here/.. -B $build -DCMAKE_BUILD_TYPE=Release" \
            "-DSEJFKO_WITH_GUI=OFF -DSEJFKO_BUILD_BENCH=ON && cmake --build $build" \
            "--target bench_crc32 bench_expand" >&2
        exit 2
    fi
done
for tool in 7zz find python3 awk; do
    command -v "$tool" > /dev/null || { echo "missing $tool" >&2; exit 2; }
done

if [[ -n ${BENCH_DIR:-} ]]; then
    mkdir -p "$BENCH_DIR"
    data=$(mktemp -d "$BENCH_DIR/sejfko-bench.XXXXXX")
else
    data=$(mktemp -d /var/tmp/sejfko-bench.XXXXXX)
fi
if [[ ${KEEP:-0} != 1 ]]; then
    trap 'rm -rf "$data"' EXIT
fi

need_kib=$((1024 * 1024 + 600 * 1024))  # the file, the tree's blocks and some slack
free_kib=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
if ((free_kib < need_kib)); then
    echo "not enough space in $data: $((free_kib / 1024)) MiB free, $((need_kib / 1024)) MiB needed" >&2
    exit 3
fi

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.4f\", $1 }"; }
less_than() { awk "BEGIN { exit !($1 < $2) }"; }
# best_of N COMMAND...: the shortest wall time of N runs, in seconds.
best_of() {
    local n=$1 best= start took
    shift
    for ((i = 0; i < n; i++)); do
        start=$(now)
        "$@" > /dev/null
        took=$(calc "$(now) - $start")
        if [[ -z $best ]] || less_than "$took" "$best"; then
            best=$took
        fi
    done
    printf '%.4f\n' "$best"
}
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }
mbps() { awk "BEGIN { printf \"%.0f\", 1073.741824 / $1 }"; }
status=0

echo "== CRC-32 of a 1 GiB file ($data)"
file=$data/big.bin
# Non-trivial data: random blocks, cheap to make and impossible to shortcut.
head -c $((1024 * 1024 * 1024)) /dev/urandom > "$file"
cat "$file" > /dev/null
ours=$("$crc_bin" "$file" "$runs")
our_crc=$(sed -n 's/.*crc=\([0-9A-F]*\).*/\1/p' <<< "$ours")
our_s=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<< "$ours")
sz_crc=$(7zz h -scrcCRC32 "$file" | awk '/^CRC32 +for data:/ { print $NF }')
sz_s=$(best_of "$runs" 7zz h -scrcCRC32 "$file")
echo "FileCrc32:  $our_crc  ${our_s}s  $(mbps "$our_s") MB/s"
echo "7zz h:      $sz_crc  ${sz_s}s  $(mbps "$sz_s") MB/s"
echo "time ratio ours/7zz: $(ratio "$our_s" "$sz_s") (goal <= 1.00)"
if [[ $our_crc != "$sz_crc" ]]; then
    echo "MISMATCH: checksums differ" >&2
    status=1
fi
rm -f "$file"

echo "== Expansion of a 100,000-file tree"
tree=$data/tree
python3 - "$tree" << 'PY'
import os, sys
root = sys.argv[1]
for d in range(1000):
    sub = os.path.join(root, "d%03d" % (d // 100), "dir%04d" % d)
    os.makedirs(sub)
    for f in range(100):
        with open(os.path.join(sub, "file%03d.txt" % f), "wb") as out:
            out.write(b"x" * (f * 7 % 300))
for name in (".hidden", ".config/settings", "d000/.dotfile"):
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(b"dot")
PY
find "$tree" -printf '%T@ %s %p\n' > /dev/null
"$expand_bin" "$tree" 1 > /dev/null
find_count=$(find "$tree" -type f | wc -l)
ours=$("$expand_bin" "$tree" "$runs")
our_count=$(sed -n 's/.*files=\([0-9]*\).*/\1/p' <<< "$ours")
our_s=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<< "$ours")
find_s=$(best_of "$runs" find "$tree" -printf '%T@ %s %p\n')
echo "ExpandSelection: $our_count files  ${our_s}s"
echo "find -printf:    $find_count files  ${find_s}s"
echo "time ratio ours/find: $(ratio "$our_s" "$find_s") (goal <= 2.00)"
if [[ $our_count != "$find_count" ]]; then
    echo "MISMATCH: file counts differ" >&2
    status=1
fi
exit $status
