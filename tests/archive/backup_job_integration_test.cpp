// The archive job with the real engine library; archives are judged by unzip and Python's
// zipfile, which no one here wrote.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "backup/update_batch.hpp"
#include "platform/clock.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/deletion_list_writer.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::WriteUpdateBatch;

using test::ReadWholeFile;
using test::TTempDir;

const TDateTime Stamp2315 = EncodeDateTime(2024, 1, 31, 23, 15, 42);
const std::string Success = "Záloha byla úspěšně dokončena.";

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

int Shell(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Python's zipfile: testzip finds nothing bad and the sorted names are as expected.
std::string PythonNames(const std::string& archive) {
    const std::string command =
        "/usr/bin/python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
        "assert z.testzip() is None; print(\"|\".join(sorted(z.namelist())))' " +
        Quote(archive) + " 2>&1";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, count);
        }
        ::pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

void WriteRandom(const std::string& path, std::size_t size) {
    std::mt19937 random(7);
    std::string data(size, '\0');
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    std::ofstream(path, std::ios::binary) << data;
}

// Names in `directory` other than the finished archives (a left-over temporary is hidden).
std::vector<std::string> Leftovers(const std::string& directory) {
    std::vector<TDirectoryEntry> entries;
    ListDirectory(directory, entries);
    std::vector<std::string> names;
    for (const TDirectoryEntry& entry : entries) {
        if (entry.Name.rfind(".fbk", 0) == 0) {
            names.push_back(entry.Name);
        }
    }
    return names;
}

class BackupJobEngine : public ::testing::Test {
protected:
    void SetUp() override { SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR); }
    void TearDown() override { SetZipEngineDirectory(""); }

    // Runs the job as the worker does, recording every percent it reports.
    bool Run(const std::vector<std::string>& files, const std::string& destination, bool full,
             const std::function<bool(int32_t)>& stop = {}) {
        Seen.clear();
        return DoBackup(
            files, destination, full, false,
            [&](int32_t percent, bool& abort) {
                Seen.push_back(percent);
                abort = stop && stop(percent);
            },
            true);
    }

    TTempDir Dir;
    TManualClock Clock{Stamp2315};
    TScopedClock ScopedClock{Clock};
    std::vector<int32_t> Seen;
};

TEST_F(BackupJobEngine, PacksATreeThatOtherReadersAccept) {
    Dir.WriteFile("data/a.txt", "alpha");
    Dir.WriteFile("data/.skryty", "hidden");
    Dir.WriteFile("data/prázdný soubor", "");
    Dir.WriteFile("data/deep/er/c.txt", std::string(300000, 'c'));
    const std::string single = Dir.WriteFile("single.txt", "one");

    ASSERT_TRUE(Run({Dir / "data", single}, Dir / "out", true)) << LastMessage();
    EXPECT_EQ(LastMessage(), Success);
    EXPECT_TRUE(LastSkippedFiles().empty());
    const std::string archive = Dir / "out/Backup_20240131_2315_full.fbk";
    ASSERT_TRUE(FileExists(archive));
    EXPECT_EQ(GetFileStatus(archive).Kind, TEntryKind::Regular);
    struct stat info {};
    ASSERT_EQ(::stat(archive.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(Shell("unzip -tq " + Quote(archive)), 0);

    const std::string root = Dir.Path().substr(1) + "/";  // stored without the leading "/"
    EXPECT_EQ(PythonNames(archive), root + "data/.skryty|" + root + "data/a.txt|" + root +
                                        "data/deep/er/c.txt|" + root + "data/prázdný soubor|" +
                                        root + "single.txt");
    ASSERT_GE(Seen.size(), 2u);
    EXPECT_EQ(Seen.front(), 0);
    EXPECT_EQ(Seen.back(), 100);
    EXPECT_TRUE(Leftovers(Dir / "out").empty());
    EXPECT_EQ(RunningJobs.load(), 0);
}

TEST_F(BackupJobEngine, SecondArchiveInTheSameMinuteTakesTheNextOne) {
    Dir.WriteFile("data/a.txt", "first");
    ASSERT_TRUE(Run({Dir / "data"}, Dir / "out/", true)) << LastMessage();
    const std::string first = ReadWholeFile(Dir / "out/Backup_20240131_2315_full.fbk");
    ASSERT_FALSE(first.empty());

    Dir.WriteFile("data/a.txt", "second, longer");
    ASSERT_TRUE(Run({Dir / "data"}, Dir / "out/", false)) << LastMessage();
    EXPECT_EQ(ReadWholeFile(Dir / "out/Backup_20240131_2315_full.fbk"), first);
    EXPECT_TRUE(FileExists(Dir / "out/Backup_20240131_2316.fbk"));
    EXPECT_FALSE(FileExists(Dir / "out/Backup_20240131_2315.fbk"));
}

TEST_F(BackupJobEngine, ExistingArchiveIsReplacedOnlyByACompleteOne) {
    Dir.WriteFile("data/a.txt", "new content");
    const std::string archive = Dir.WriteFile("out/zaloha.fbk", "old archive");
    ASSERT_TRUE(Run({Dir / "data"}, archive, true)) << LastMessage();
    EXPECT_EQ(Shell("unzip -tq " + Quote(archive)), 0);
    EXPECT_TRUE(Leftovers(Dir / "out").empty());
}

TEST_F(BackupJobEngine, FailedRenameKeepsTheOldArchive) {
    Dir.WriteFile("data/a.txt", "new content");
    const std::string archive = Dir.WriteFile("out/zaloha.fbk", "old archive");
    TScopedFault fault(FailUnder(archive, TFileOperation::Rename, EACCES));
    EXPECT_FALSE(Run({Dir / "data"}, archive, true));
    const std::string message = LastMessage();
    const std::string prefix = "Chyba při kopírování souboru '" + (Dir / "out/.fbk");
    EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
    EXPECT_EQ(message.substr(message.size() - archive.size() - 8), "' do '" + archive + "'.");
    EXPECT_EQ(ReadWholeFile(archive), "old archive");
    EXPECT_TRUE(Leftovers(Dir / "out").empty());
}

TEST_F(BackupJobEngine, DeletionListIsStoredAtTheArchiveRootAndDeletesOnlyThere) {
    Dir.WriteFile("data/a.txt", "alpha");
    const std::string gone = Dir / "data/it's gone.txt";
    const std::string wild = Dir / "data/*";
    WriteUpdateBatch({gone, wild});
    const std::vector<TArchiveItem> items = {{Dir / "data"}, {UpdateBatchPath(), true, true}};
    ASSERT_TRUE(DoBackup(items, Dir / "out", false, false, {}, true)) << LastMessage();
    const std::string archive = Dir / "out/Backup_20240131_2315.fbk";
    const std::string root = Dir.Path().substr(1) + "/";
    EXPECT_EQ(PythonNames(archive), std::string(UpdateBatchName) + "|" + root + "data/a.txt");
    EXPECT_EQ(Shell("unzip -tq " + Quote(archive)), 0);

    // A restore: the archive unpacked into a folder that also holds the vanished file from an
    // earlier archive of the chain; the list, run there, removes that file and nothing else.
    const std::string restore = Dir / "restore";
    ASSERT_EQ(Shell("unzip -q " + Quote(archive) + " -d " + Quote(restore)), 0);
    Dir.WriteFile("restore/" + gone.substr(1), "old");
    EXPECT_EQ(ReadWholeFile(restore + "/" + UpdateBatchName),
              "rm -f -- '" + root + "data/it'\\''s gone.txt'\nrm -f -- '" + root + "data/*'\n");
    ASSERT_EQ(Shell("cd " + Quote(restore) + " && sh ./" + UpdateBatchName), 0);
    EXPECT_FALSE(FileExists(restore + "/" + gone.substr(1)));
    EXPECT_EQ(ReadWholeFile(restore + "/" + root + "data/a.txt"), "alpha");
    EXPECT_TRUE(FileExists(Dir / "data/a.txt"));
    DeleteUpdateBatch();
}

// The temporary archive's name is the job's from its creation to the final rename: a link
// planted under it whenever it is free (the destination may be shared) must never redirect the
// archive.
TEST_F(BackupJobEngine, ALinkPlantedUnderTheTemporaryNameRedirectsNothing) {
    Dir.WriteFile("data/a.txt", "alpha");
    const std::string victim = Dir.WriteFile("victim", "precious");
    ForceDirectories(Dir / "out");
    std::string freed;
    bool planted = false;
    TScopedFault watch([&](TFileOperation operation, const std::string& path) {
        const std::string prefix = Dir / "out/.fbk";
        if (operation == TFileOperation::Remove && path.rfind(prefix, 0) == 0 && freed.empty()) {
            freed = path;  // about to be deleted: free from then on
        } else if (operation == TFileOperation::ListDirectory && !freed.empty() && !planted) {
            struct stat st {};
            planted =
                ::lstat(freed.c_str(), &st) != 0 && ::symlink(victim.c_str(), freed.c_str()) == 0;
        }
        return 0;
    });
    const bool done = Run({Dir / "data"}, Dir / "out", true);
    EXPECT_EQ(ReadWholeFile(victim), "precious");
    if (!planted) {
        EXPECT_TRUE(done) << LastMessage();
        EXPECT_EQ(PythonNames(Dir / "out/Backup_20240131_2315_full.fbk"),
                  Dir.Path().substr(1) + "/data/a.txt");
    }
}

// A job killed half-way leaves its temporary archive; the next job into that directory removes
// it, but never the file of a job that is still running (it holds its file locked).
TEST_F(BackupJobEngine, TemporaryArchivesOfKilledJobsAreRemovedByTheNextJob) {
    Dir.WriteFile("data/a.txt", "alpha");
    const std::string stale = Dir.WriteFile("out/.fbkAb12Cd", "left by a killed job");
    const std::string running = Dir.WriteFile("out/.fbkRunnin", "another job's");
    const int held = ::open(running.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::string user = Dir.WriteFile("out/.fbk-notes", "not ours");
    ASSERT_TRUE(Run({Dir / "data"}, Dir / "out", true)) << LastMessage();
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(running));
    EXPECT_TRUE(FileExists(user));
    ::close(held);
}

TEST_F(BackupJobEngine, StopDuringALargeAddLeavesNothingBehind) {
    ForceDirectories(Dir / "data");
    ASSERT_EQ(::truncate(Dir.WriteFile("data/big.bin", "").c_str(), 256ll << 20), 0);
    const std::string archive = Dir.WriteFile("out/zaloha.fbk", "old archive");

    std::size_t stopAt = 0;
    const bool done = Run({Dir / "data"}, archive, true, [&](int32_t percent) {
        if (stopAt == 0 && percent > 0) {
            stopAt = Seen.size();
        }
        return stopAt != 0;
    });
    EXPECT_FALSE(done);
    EXPECT_EQ(LastMessage(), "Chyba při zálohování.\n\r(Terminate backup)");
    ASSERT_NE(stopAt, 0u);
    // After the stop only the end of batch and the final 100 may follow.
    for (std::size_t index = stopAt; index < Seen.size(); ++index) {
        EXPECT_TRUE(Seen[index] == -1 || Seen[index] == 100) << index << ": " << Seen[index];
    }
    EXPECT_LE(Seen.size() - stopAt, 2u);
    EXPECT_EQ(Seen.back(), 100);
    EXPECT_EQ(ReadWholeFile(archive), "old archive");
    EXPECT_TRUE(Leftovers(Dir / "out").empty());
    EXPECT_EQ(RunningJobs.load(), 0);
}

TEST_F(BackupJobEngine, SecondJobIsRefusedWhileOneRuns) {
    Dir.WriteFile("data/a.txt", "a");
    bool innerResult = true;
    std::string innerMessage;
    bool asked = false;
    ASSERT_TRUE(Run({Dir / "data"}, Dir / "out", true, [&](int32_t) {
        if (!asked) {
            asked = true;
            innerResult = DoBackup({Dir / "data"}, Dir / "other", true, false, {}, true);
            innerMessage = LastMessage();
        }
        return false;
    })) << LastMessage();
    EXPECT_FALSE(innerResult);
    EXPECT_EQ(innerMessage, "Sejfko právě probíhá.");
    EXPECT_FALSE(DirectoryExists(Dir / "other"));
    EXPECT_EQ(LastMessage(), Success);
}

TEST_F(BackupJobEngine, VanishedFileIsSkippedAndReported) {
    Dir.MakeDir("data");
    WriteRandom(Dir / "data/a.bin", 1 << 20);  // read first: its progress comes before b's open
    const std::string doomed = Dir.WriteFile("data/b.txt", "gone soon");
    Dir.WriteFile("data/c.txt", "stays");
    ASSERT_EQ(::mkfifo((Dir / "data/fifo").c_str(), 0600), 0);  // must not block the engine
    ASSERT_TRUE(Run({Dir / "data"}, Dir / "out", true, [&](int32_t percent) {
        if (percent > 0) {
            DeleteFile(doomed);
        }
        return false;
    })) << LastMessage();
    const std::vector<std::string> skipped = LastSkippedFiles();
    EXPECT_NE(std::find(skipped.begin(), skipped.end(), doomed), skipped.end());
    EXPECT_EQ(LastMessage(), Success + "\nNěkteré soubory nebylo možné zálohovat: " +
                                 std::to_string(skipped.size()));
    const std::string archive = Dir / "out/Backup_20240131_2315_full.fbk";
    EXPECT_EQ(Shell("unzip -tq " + Quote(archive)), 0);
    const std::string names = PythonNames(archive);
    EXPECT_NE(names.find("data/c.txt"), std::string::npos) << names;
    EXPECT_NE(names.find("data/a.bin"), std::string::npos) << names;
    EXPECT_EQ(names.find("data/b.txt"), std::string::npos) << names;
}

TEST_F(BackupJobEngine, NothingToArchiveFails) {
    EXPECT_FALSE(Run({Dir / "missing"}, Dir / "out", true));
    EXPECT_EQ(LastMessage(),
              "Chyba při zálohování.\n\r(Nebyly nalezeny žádné soubory k zálohování.)");
    EXPECT_FALSE(Run({}, Dir / "out", true));
    EXPECT_EQ(LastMessage(),
              "Chyba při zálohování.\n\r(Nebyly nalezeny žádné soubory k zálohování.)");
    EXPECT_TRUE(Leftovers(Dir / "out").empty());
}

TEST_F(BackupJobEngine, MissingEngineLibraryFailsWithItsMessage) {
    Dir.WriteFile("data/a.txt", "a");
    SetZipEngineDirectory(Dir.MakeDir("no-engine"));
    EXPECT_FALSE(Run({Dir / "data"}, Dir / "out", true));
    const std::string message = LastMessage();
    EXPECT_EQ(message.rfind("Chyba při zálohování.\n\r(", 0), 0u) << message;
    EXPECT_NE(message.find("zipengine"), std::string::npos) << message;
    EXPECT_EQ(Seen.front(), 0);
    EXPECT_EQ(Seen.back(), 100);
    EXPECT_TRUE(Leftovers(Dir / "out").empty());
}

}  // namespace
}  // namespace sejfko
