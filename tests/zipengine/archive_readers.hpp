#pragma once
// Readers no one here wrote, as judges of the engine's archives: unzip, 7zz and Python's zipfile.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "zipengine/engine_harness.hpp"

namespace sejfko::test {

struct TEntryInfo {
    uint64_t Size = 0;
    int Method = -1;
    int Flags = 0;
    std::string DateTime;
    std::string Sha;
};

// Every entry as Python's zipfile sees it; testzip() must find no bad entry. Names come back
// as the raw stored bytes, hex encoded, so invalid UTF-8 survives the trip.
inline std::map<std::string, TEntryInfo> ReadWithPython(const std::string& archive,
                                                        bool hash = true) {
    const std::string script =
        "import sys,zipfile,hashlib\n"
        "z=zipfile.ZipFile(sys.argv[1])\n"
        "print('bad', z.testzip() if sys.argv[2]=='1' else None)\n"
        "for i in z.infolist():\n"
        "  raw=i.filename.encode('utf-8' if i.flag_bits&0x800 else 'cp437')\n"
        "  h=hashlib.sha256(z.read(i)).hexdigest() if sys.argv[2]=='1' else '-'\n"
        "  "
        "print(raw.hex(),i.file_size,i.compress_type,i.flag_bits,'%d-%d-%d_%d:%d:%d'%i.date_time,h)"
        "\n";
    const auto [status, output] = RunCommand("/usr/bin/python3 -c " + Quote(script) + " " +
                                             Quote(archive) + (hash ? " 1" : " 0"));
    EXPECT_EQ(status, 0) << output;
    std::map<std::string, TEntryInfo> entries;
    std::istringstream lines(output);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "bad None");
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string hex;
        TEntryInfo info;
        fields >> hex >> info.Size >> info.Method >> info.Flags >> info.DateTime >> info.Sha;
        std::string name;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) {
            name += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        entries[name] = info;
    }
    return entries;
}

inline void ExpectReadersAccept(const std::string& archive) {
    const auto [unzipStatus, unzipOutput] = RunCommand("unzip -tqq " + Quote(archive));
    EXPECT_EQ(unzipStatus, 0) << unzipOutput;
    const auto [sevenStatus, sevenOutput] = RunCommand("7zz t " + Quote(archive));
    EXPECT_EQ(sevenStatus, 0) << sevenOutput;
}

inline std::string Sha256(const std::string& path) {
    const auto [status, output] = RunCommand("sha256sum " + Quote(path));
    return output.substr(0, 64);
}

}  // namespace sejfko::test
