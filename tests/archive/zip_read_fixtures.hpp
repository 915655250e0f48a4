#pragma once
// Archives for the zip reader's tests, written by writers no one here wrote: Python's zipfile
// (Debian's /usr/bin/python3) and Info-ZIP's zip, plus a small hand writer in Python for the
// Zip64 records that those two only write for gigabytes or tens of thousands of entries.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace sejfko::test {

struct TSampleFile {
    std::string Name;  // "/" at the end for a directory entry
    std::string Content;
    bool Stored = false;
};

// Repetitive text (compresses), binary bytes, an empty file, a Czech name, a directory.
inline std::vector<TSampleFile> SampleFiles() {
    std::string text;
    for (int line = 0; line < 2000; ++line) {
        text += "Řádek " + std::to_string(line) + ": příliš žluťoučký kůň úpěl ďábelské ódy\n";
    }
    std::string binary;
    for (int i = 0; i < 5000; ++i) {
        binary += static_cast<char>((i * 7919 + i / 13) & 0xFF);
    }
    binary.replace(100, 12, "STORED-MARK!");
    return {{"text.txt", text, false},
            {"stored.bin", binary, true},
            {"empty.txt", "", false},
            {"složka/", "", true},
            {"složka/žluťoučký kůň.txt", "Kůň\n", false}};
}

// Runs a Python script in `dir`; true on success.
inline bool RunPython(const TTempDir& dir, const std::string& script) {
    dir.WriteFile("make_fixture.py", script);
    const std::string command =
        "cd '" + dir.Path() + "' && /usr/bin/python3 make_fixture.py > py.log 2>&1";
    return std::system(command.c_str()) == 0;
}

inline bool RunShell(const TTempDir& dir, const std::string& command) {
    const std::string full = "cd '" + dir.Path() + "' && " + command;
    return std::system(full.c_str()) == 0;
}

// The sample files under dir/src, for the writers to pick up.
inline void WriteSampleSources(const TTempDir& dir) {
    for (const TSampleFile& file : SampleFiles()) {
        if (file.Name.back() == '/') {
            dir.MakeDir("src/" + file.Name);
        } else {
            dir.WriteFile("src/" + file.Name, file.Content);
        }
    }
}

// Python lines that define `files`: (name, data, stored) read from src/.
constexpr const char* PythonSampleList = R"(
import os, struct, zipfile, zlib
names = [("text.txt", False), ("stored.bin", True), ("empty.txt", False),
         ("složka/", True), ("složka/žluťoučký kůň.txt", False)]
files = [(n, b"" if n.endswith("/") else open("src/" + n, "rb").read(), s) for n, s in names]
STAMP = (2020, 5, 17, 13, 45, 30)
)";

// dir/sample.zip by zipfile; `forceZip64` puts Zip64 fields into every local header.
inline std::string WritePythonSample(const TTempDir& dir, bool forceZip64 = false) {
    WriteSampleSources(dir);
    std::string script = PythonSampleList;
    script += "force = " + std::string(forceZip64 ? "True" : "False") + R"(
with zipfile.ZipFile("sample.zip", "w") as z:
    z.comment = "Záloha".encode()
    for name, data, stored in files:
        info = zipfile.ZipInfo(name, date_time=STAMP)
        info.compress_type = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
        info.external_attr = (0o40755 if name.endswith("/") else 0o100644) << 16
        if force and not name.endswith("/"):
            with z.open(info, "w", force_zip64=True) as out:
                out.write(data)
        else:
            z.writestr(info, data)
)";
    EXPECT_TRUE(RunPython(dir, script)) << ReadWholeFile(dir / "py.log");
    return dir / "sample.zip";
}

// dir/sample.zip written by hand with every Zip64 record: sizes and offsets 0xFFFFFFFF in the
// central directory with a Zip64 extra field, a Zip64 end record and locator, 0xFFFF counts, an
// extended timestamp of ZIP64_MTIME on every entry.
constexpr int64_t Zip64SampleMtime = 1234567890;
inline std::string WriteZip64Sample(const TTempDir& dir) {
    WriteSampleSources(dir);
    std::string script = PythonSampleList;
    script += R"(
MTIME = 1234567890
dos_time = (13 << 11) | (45 << 5) | 15
dos_date = ((2020 - 1980) << 9) | (5 << 5) | 17
out = bytearray()
central = bytearray()
for name, data, stored in files:
    raw = name.encode()
    flags = 0 if raw.isascii() else 0x800
    method = 0 if stored else 8
    if stored:
        body = data
    else:
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        body = c.compress(data) + c.flush()
    crc = zlib.crc32(data)
    offset = len(out)
    local_extra = struct.pack("<HHQQ", 1, 16, len(data), len(body))
    out += struct.pack("<IHHHHHIIIHH", 0x04034b50, 45, flags, method, dos_time, dos_date,
                       crc, 0xFFFFFFFF, 0xFFFFFFFF, len(raw), len(local_extra))
    out += raw + local_extra + body
    extra = struct.pack("<HHQQQ", 1, 24, len(data), len(body), offset)
    extra += struct.pack("<HHBi", 0x5455, 5, 1, MTIME)
    central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 0x031e, 45, flags, method,
                           dos_time, dos_date, crc, 0xFFFFFFFF, 0xFFFFFFFF, len(raw),
                           len(extra), 0, 0, 0, 0o100644 << 16, 0xFFFFFFFF)
    central += raw + extra
cd_offset = len(out)
out += central
record_offset = len(out)
count = len(files)
out += struct.pack("<IQHHIIQQQQ", 0x06064b50, 44, 45, 45, 0, 0, count, count,
                   len(central), cd_offset)
out += struct.pack("<IIQI", 0x07064b50, 0, record_offset, 1)
comment = "Záloha".encode()
out += struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                   len(comment)) + comment
open("sample.zip", "wb").write(out)
)";
    EXPECT_TRUE(RunPython(dir, script)) << ReadWholeFile(dir / "py.log");
    return dir / "sample.zip";
}

inline void WriteBytes(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace sejfko::test
