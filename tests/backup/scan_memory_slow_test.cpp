// The scan and the incremental comparison over a tree of 100,000 files in a child process: the
// growth of its peak memory per file stays within the budget that keeps a million files under
// 256 MiB, and the comparison finds exactly the files that changed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "backup/file_list.hpp"
#include "backup/file_scan.hpp"
#include "backup/incremental_state.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

constexpr int Files = 100000;
constexpr int ChangedEvery = 100;
// 256 MiB for a million files, names of this length included.
constexpr long BudgetBytesPerFile = 256;

// Names of a home directory's length (about 80 bytes with the temporary root).
std::string FileName(const std::string& root, int i) {
    char name[96];
    std::snprintf(name, sizeof name, "/Dokumenty projektu %03d/podsložka %d/soubor číslo %06d.txt",
                  i / 1000, (i / 100) % 10, i);
    return root + name;
}

long ResidentKib() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

struct TChildResult {
    long GrowthKib = 0;
    long Changed = 0;
    long WrongChanged = 0;
    long Recorded = 0;
};

// What an incremental run does with the state and the tree, in a fresh child process.
TChildResult CompareInChild(const std::string& root, const std::string& state) {
    int pipeEnds[2];
    EXPECT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        TChildResult result;
        const long before = ResidentKib();
        {
            TFileList oldState;
            TFileList newState;
            TFileList previous;
            oldState.LoadFromFile(state);
            TChangeSelector selector(oldState, newState, &previous);
            ScanSelection({root}, {}, [&](const TScannedFile& file) { selector.Offer(file, {}); });
            selector.Finish();
            newState.SaveToFile(state);
            for (std::size_t i = 0; i < selector.Changed().size(); ++i) {
                const std::string name(selector.Changed().At(i).Name);
                const int number = std::stoi(name.substr(name.size() - 10, 6));
                result.WrongChanged += number % ChangedEvery == 0 ? 0 : 1;
            }
            result.Changed = static_cast<long>(selector.Changed().size());
            result.Recorded = newState.Count();
        }
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        result.GrowthKib = usage.ru_maxrss - before;
        const bool written = ::write(pipeEnds[1], &result, sizeof result) == sizeof result;
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    TChildResult result;
    EXPECT_EQ(::read(pipeEnds[0], &result, sizeof result), static_cast<ssize_t>(sizeof result));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return result;
}

TEST(ScanMemorySlowTest, IncrementalComparisonOf100000FilesStaysWithinItsBudgetPerFile) {
    TTempDir dir;
    const std::string root = dir / "tree";
    for (int i = 0; i < Files; ++i) {
        const std::string name = FileName(root, i);
        if (i % 100 == 0) {
            ForceDirectories(ExtractFileDir(name));
        }
        std::ofstream(name) << "obsah " << i;
    }
    TFileList initial;
    ScanSelection({root}, {}, [&](const TScannedFile& file) { AddFileState(initial, file, {}); });
    ASSERT_EQ(initial.Count(), Files);
    const std::string state = dir / "IncSelect.ini";
    initial.SaveToFile(state);
    initial.Clear();
    // Every hundredth file gets new content and a later stamp.
    for (int i = 0; i < Files; i += ChangedEvery) {
        const std::string name = FileName(root, i);
        std::ofstream(name, std::ios::app) << " změněno";
        const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 3600, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
    }

    const TChildResult result = CompareInChild(root, state);
    EXPECT_EQ(result.Changed, Files / ChangedEvery);
    EXPECT_EQ(result.WrongChanged, 0);
    EXPECT_EQ(result.Recorded, Files);
    EXPECT_LE(result.GrowthKib * 1024 / Files, BudgetBytesPerFile)
        << "peak grew by " << result.GrowthKib << " KiB for " << Files << " files";
    RecordProperty("bytes_per_file", static_cast<int>(result.GrowthKib * 1024 / Files));
}

}  // namespace
}  // namespace sejfko
