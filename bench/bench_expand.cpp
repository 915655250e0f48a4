// Times ExpandSelection over one directory tree: the best of several runs, to compare with a
// listing tool walking the same (cached) tree. Prints one line: files=N seconds=S.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backup/file_scan.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [RUNS]\n", argv[0]);
        return 2;
    }
    const std::vector<std::string> selection{argv[1]};
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    double best = 0;
    std::size_t files = 0;
    for (int run = 0; run < runs; ++run) {
        sejfko::TExpandedFileList dest;
        const auto start = std::chrono::steady_clock::now();
        const bool done = sejfko::ExpandSelection(dest, selection, nullptr);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (!done) {
            return 1;
        }
        files = dest.size();
        if (run == 0 || took.count() < best) {
            best = took.count();
        }
    }
    std::printf("files=%zu seconds=%.4f\n", files, best);
    return 0;
}
