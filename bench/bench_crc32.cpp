// Times FileCrc32 on one file: the best of several runs, to compare with another tool's checksum
// of the same (cached) file. Prints one line: crc=HEX seconds=S mbps=M bytes=N.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "backup/file_scan.hpp"
#include "platform/file_system.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const int64_t bytes = sejfko::GetFileStatus(path).Size;
    double best = 0;
    uint32_t crc = 0;
    for (int run = 0; run < runs; ++run) {
        uint16_t error = 0;
        const auto start = std::chrono::steady_clock::now();
        sejfko::FileCrc32(path, crc, error);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (error != 0) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        if (run == 0 || took.count() < best) {
            best = took.count();
        }
    }
    std::printf("crc=%08X seconds=%.4f mbps=%.0f bytes=%lld\n", crc, best,
                static_cast<double>(bytes) / best / 1e6, static_cast<long long>(bytes));
    return 0;
}
