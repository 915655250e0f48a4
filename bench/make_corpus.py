#!/usr/bin/env python3
"""The seeded benchmark corpus: make_corpus.py ROOT SCALE.

Text and source-like files, structured binaries, already-compressed files (.gz made with gzip,
.png), one 256 MiB file and a tree of 100,000 small files; 101,081 files and 857 MB at SCALE=1.
The same on every machine.
"""
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
