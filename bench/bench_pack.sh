#!/usr/bin/env bash
# Archives one reproducible mixed corpus with `sejfko-cli pack` (default level 9) and, in the same
# run, with `zip -r -9`, `7zz a -tzip -mx=9` and `tar c | pigz -9`; prints wall time, CPU time
# (user + sys), peak memory and output size of each, and the ratios against `zip -r -9`.
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
build=${BUILD_DIR:-$here/../build-job-rel}
scale=${SCALE:-1}
cli=$build/src/sejfko-cli
if [[ ! -x $cli ]]; then
    echo "missing $cli: cmake -S $here/.. -B $build -DCMAKE_BUILD_TYPE=Release" \
        "-DSEJFKO_WITH_GUI=OFF && cmake --build $build --target sejfko-cli" >&2
    exit 2
fi
cli=$(cd "$build/src" && pwd)/sejfko-cli
for tool in zip unzip 7zz pigz tar gzip awk df; do
    command -v "$tool" > /dev/null || { echo "missing $tool" >&2; exit 2; }
done
python=/usr/bin/python3
[[ -x $python ]] || python=$(command -v python3) || { echo "missing python3" >&2; exit 2; }

base=${BENCH_DIR:-/var/tmp}
mkdir -p "$base"
# Corpus plus four archives of it, with room to spare.
need_kib=$(awk -v s="$scale" 'BEGIN { printf "%d", s * 3.5 * 1024 * 1024 }')
free_kib=$(df -Pk "$base" | awk 'NR == 2 { print $4 }')
if (( free_kib < need_kib )); then
    echo "too little space in $base: $((free_kib / 1024)) MiB free, $((need_kib / 1024)) MiB" \
        "needed (lower SCALE or set BENCH_DIR)" >&2
    exit 3
fi
work=$(mktemp -d "$base/sejfko-bench-pack.XXXXXX")
cleanup() { [[ ${KEEP:-0} == 1 ]] || rm -rf "$work"; }
trap cleanup EXIT

echo "corpus: generating in $work/corpus (SCALE=$scale)" >&2
"$python" - "$work/corpus" "$scale" <<'PY'
import os, random, struct, subprocess, sys, zlib

root, scale = sys.argv[1], float(sys.argv[2])
rng = random.Random(20240131)

def scaled(n):
    return max(1, int(n * scale))

# A vocabulary with a skewed distribution: common words repeat, as in real text.
syllables = ["ka", "ne", "po", "za", "lo", "ha", "te", "ri", "mo", "su", "ve", "di", "on", "st",
             "pr", "ch", "el", "an", "ob", "ju"]
words = []
for i in range(256):
    count = 1 + rng.randrange(4)
    words.append("".join(rng.choice(syllables) for _ in range(count)).encode())
weights = [1.0 / (i + 1) for i in range(256)]

def text(size):
    out, length = [], 0
    while length < size:
        line = b" ".join(rng.choices(words, weights, k=rng.randrange(4, 16))) + b".\n"
        out.append(line)
        length += len(line)
    return b"".join(out)[:size]

keywords = [b"int", b"return", b"if", b"for", b"const", b"auto", b"std::string", b"void",
            b"while", b"else", b"struct", b"static"]
idents = [w + b"_" + rng.choice(words) for w in words[:128]]

def source(size):
    out, length = [], 0
    while length < size:
        indent = b"    " * rng.randrange(0, 4)
        kind = rng.randrange(4)
        if kind == 0:
            line = b"%s%s %s(%s, %s) {\n" % (indent, rng.choice(keywords), rng.choice(idents),
                                              rng.choice(idents), rng.choice(idents))
        elif kind == 1:
            line = b"%s%s = %s + %d;\n" % (indent, rng.choice(idents), rng.choice(idents),
                                            rng.randrange(1000))
        elif kind == 2:
            line = b"%s// %s\n" % (indent, b" ".join(rng.choices(words, weights, k=8)))
        else:
            line = b"%s}\n" % indent
        out.append(line)
        length += len(line)
    return b"".join(out)[:size]

def binary(size):
    # Tables of slowly changing integers and floats between runs of noise: partly compressible.
    out, length, value = [], 0, 0
    while length < size:
        kind = rng.randrange(3)
        if kind == 0:
            block = bytearray()
            for _ in range(1024):
                value += rng.randrange(-3, 4)
                block += struct.pack("<i", value)
        elif kind == 1:
            block = struct.pack("<512d", *[rng.random() * 100 for _ in range(512)])
        else:
            block = rng.randbytes(2048)
        out.append(bytes(block))
        length += len(block)
    return b"".join(out)[:size]

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)

def png(path, width, height):
    rows = b"".join(b"\0" + rng.randbytes(width * 3) for _ in range(height))
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    write(path, b"\x89PNG\r\n\x1a\n" +
          chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
          chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))

MiB = 1 << 20
for i in range(scaled(300)):
    write(f"{root}/text/doc{i:04d}.txt", text(rng.randrange(64 << 10, 1200 << 10)))
for i in range(scaled(600)):
    write(f"{root}/src/module{i // 50:02d}/file{i:04d}.cpp", source(rng.randrange(8 << 10, 300 << 10)))
for i in range(scaled(80)):
    write(f"{root}/bin/data{i:03d}.bin", binary(rng.randrange(256 << 10, 3 * MiB)))
for i in range(scaled(60)):
    path = f"{root}/packed/log{i:03d}.txt"
    write(path, text(rng.randrange(512 << 10, 3 * MiB)))
    subprocess.run(["gzip", "-6", "-n", "-f", path], check=True)
for i in range(scaled(40)):
    png(f"{root}/packed/img{i:03d}.png", 512, rng.randrange(128, 1024))

# One large file: text, source and binary in 4 MiB stretches.
os.makedirs(f"{root}/big", exist_ok=True)
with open(f"{root}/big/large.dat", "wb") as f:
    for i in range(scaled(64)):
        f.write((text, source, binary)[i % 3](4 * MiB))

small = scaled(100000)
for i in range(small):
    kind = rng.randrange(3)
    size = rng.randrange(64, 2048)
    data = (text, source, binary)[kind](size)
    path = f"{root}/small/d{i // 100:04d}/f{i:06d}" + (".txt", ".c", ".dat")[kind]
    if i % 100 == 0:
        os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
PY

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

measure "sejfko-cli pack" "$work/sejfko.fbk" "'$cli' pack sejfko.fbk corpus > /dev/null 2>&1"
measure "zip -r -9" "$work/zip9.zip" "zip -r -9 -q zip9.zip corpus"
measure "7zz -tzip -mx=9" "$work/7zz.zip" "7zz a -tzip -mx=9 -bso0 -bsp0 7zz.zip corpus"
measure "tar | pigz -9" "$work/pigz.tar.gz" "tar cf - corpus | pigz -9 > pigz.tar.gz"

status=0
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
    END {
        printf "%-18s %9s %9s %10s %14s %8s %8s\n", "tool", "wall s", "cpu s", "peak MiB",
            "bytes", "time/zip", "size/zip"
        for (i = 1; i <= NR; ++i)
            printf "%-18s %9.2f %9.2f %10.1f %14d %8.3f %8.4f\n", name[i], wall[i], cpu[i],
                mem[i] / 1024, size[i], wall[i] / wall[ref], size[i] / size[ref]
    }' "$results"
exit $status
