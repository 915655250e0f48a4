// What the engine holds per file of a large tree: two runs in child processes, over 10,000 and
// over 100,000 files of the same tree, and the growth of the peak resident set between them.
// The fixed costs (threads, buffers, the library) cancel out; what stays is the cost per file.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.hpp"
#include "zipengine/engine_harness.hpp"

namespace sejfko::test {
namespace {

constexpr int DIRS = 100;
constexpr int FILES_PER_DIR = 1000;
// Stored name, its record and index slot, the central directory's record: about 120 bytes.
// The walker that listed the whole tree first held about 600.
constexpr long MAX_BYTES_PER_FILE = 256;

// The peak resident set in KiB of a child that archives the first `dirs` directories.
long PeakOfRun(const TTempDir& dir, int dirs) {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        long peak = -1;
        {
            TEngineRun engine;
            engine.Record = false;
            std::vector<TEngineRun::TSpecLine> specs;
            for (int d = 0; d < dirs; ++d) {
                specs.emplace_back(dir / ("t/d" + std::to_string(d) + "/*.*"), true, dir / "t");
            }
            const int32_t added =
                engine.Exec != nullptr
                    ? engine.Run(dir / ("out" + std::to_string(dirs) + ".zip"), specs)
                    : -1;
            rusage usage{};
            if (added == dirs * FILES_PER_DIR && getrusage(RUSAGE_SELF, &usage) == 0) {
                peak = usage.ru_maxrss;
            }
        }
        const ssize_t ignored = write(fds[1], &peak, sizeof peak);
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    long peak = -1;
    if (read(fds[0], &peak, sizeof peak) != static_cast<ssize_t>(sizeof peak)) {
        peak = -1;
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return peak;
}

TEST(ZipEngineMemory, PeakGrowsByLittleMoreThanTheNamesPerFile) {
    TTempDir dir;
    // Names like those of a home directory's depths, so that the names count as they would.
    const std::string content(100, 'x');
    for (int d = 0; d < DIRS; ++d) {
        for (int f = 0; f < FILES_PER_DIR; ++f) {
            dir.WriteFile("t/d" + std::to_string(d) + "/file-" + std::to_string(f) + ".txt",
                          std::string_view(content).substr(0, static_cast<size_t>(f % 100)));
        }
    }
    const long small = PeakOfRun(dir, DIRS / 10);
    const long large = PeakOfRun(dir, DIRS);
    ASSERT_GT(small, 0);
    ASSERT_GT(large, 0);
    const long files = (DIRS - DIRS / 10) * FILES_PER_DIR;
    const long perFile = (large - small) * 1024 / files;
    RecordProperty("bytes_per_file", static_cast<int>(perFile));
    EXPECT_LE(perFile, MAX_BYTES_PER_FILE)
        << "peak " << small << " KiB for " << DIRS / 10 * FILES_PER_DIR << " files, " << large
        << " KiB for " << DIRS * FILES_PER_DIR;
}

}  // namespace
}  // namespace sejfko::test
