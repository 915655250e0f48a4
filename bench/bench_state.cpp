// The incremental state at scale: builds N records with names shaped like a home directory's
// paths, saves them, loads them back, looks each one up, deletes them all as a run does. Prints
// the time of each step and the peak memory of one state (the built one is gone before the load).
// Prints one line per size: records=N build=S save=S load=S lookup=S delete=S peak_mib=M.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "backup/file_list.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string NameOf(int i) {
    return "/home/jana/Dokumenty/projekt " + std::to_string(i % 97) + "/podsložka " +
           std::to_string(i % 1009) + "/soubor číslo " + std::to_string(i) + ".txt";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RECORDS STATE-FILE\n", argv[0]);
        return 2;
    }
    const int records = std::atoi(argv[1]);
    const std::string path = argv[2];
    auto list = std::make_unique<sejfko::TFileList>();
    auto start = Clock::now();
    for (int i = 0; i < records; ++i) {
        list->Add(NameOf(i), i, static_cast<uint32_t>(i) * 2654435761u);
    }
    const double build = Since(start);
    start = Clock::now();
    list->SaveToFile(path);
    const double save = Since(start);
    // Gone before the load, so that the peak is that of one state, as in a run's load.
    list.reset();
    start = Clock::now();
    sejfko::TFileList loaded;
    loaded.LoadFromFile(path);
    const double load = Since(start);
    if (loaded.Count() != records) {
        std::fprintf(stderr, "loaded %d records of %d\n", loaded.Count(), records);
        return 1;
    }
    start = Clock::now();
    long long found = 0;
    for (int i = 0; i < records; ++i) {
        found += loaded.IndexOf(NameOf(i)) >= 0 ? 1 : 0;
    }
    const double lookup = Since(start);
    start = Clock::now();
    for (int i = 0; i < records; ++i) {
        const int index = loaded.IndexOf(NameOf(i));
        if (index >= 0) {
            loaded.Delete(index);
        }
    }
    const double removal = Since(start);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("records=%d build=%.3f save=%.3f load=%.3f lookup=%.3f delete=%.3f peak_mib=%.1f\n",
                records, build, save, load, lookup, removal, usage.ru_maxrss / 1024.0);
    return found == records && loaded.Count() == 0 ? 0 : 1;
}
