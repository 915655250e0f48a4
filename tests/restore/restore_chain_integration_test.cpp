// A tree that changes over several simulated days is backed up by the worker's own run (a
// complete run, then incremental runs with deletion lists); restoring the chain at each day must
// give exactly that day's files: names, contents and modification times (to 2 s).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "cli/cli_runner.hpp"
#include "cli/run_command.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "restore/py_ftp_server.hpp"
#include "support/local_time.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::RunCliWith;
using test::TTempDir;

struct TFileState {
    std::string Content;
    std::time_t Modified = 0;
};
using TTree = std::map<std::string, TFileState>;  // relative path -> state

struct TDay {
    int Day;  // of January 2026; the 5th is a Monday, the day of the complete backup
    TTree Tree;
};

// Every regular file below `root` with its content and time.
void Collect(const std::string& root, const std::string& prefix, TTree& tree) {
    std::vector<TDirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(root, entries)) << root;
    for (const TDirectoryEntry& entry : entries) {
        const std::string path = root + "/" + entry.Name;
        const std::string relative = prefix.empty() ? entry.Name : prefix + "/" + entry.Name;
        if (entry.Kind == TEntryKind::Directory) {
            Collect(path, relative, tree);
        } else {
            ASSERT_EQ(entry.Kind, TEntryKind::Regular) << path;
            tree[relative] = {ReadWholeFile(path), entry.ModifiedSeconds};
        }
    }
}

class RestoreChainTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Base = new TTempDir;
        Days = new std::vector<TDay>;
        MakeChain();
    }
    static void TearDownTestSuite() {
        SetZipEngineDirectory("");
        delete Days;
        delete Base;
    }

    static std::string Source() { return *Base / "src"; }
    static std::string Archives() { return *Base / "arch"; }
    // Where the source tree lands below a restore directory (stored without the leading "/").
    static std::string Restored(const std::string& target) { return target + Source(); }

    static void Put(TTree& model, const std::string& relative, const std::string& content,
                    std::time_t modified) {
        Base->WriteFile("src/" + relative, content);
        const timespec times[2] = {{modified, 0}, {modified, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (Source() + "/" + relative).c_str(), times, 0), 0);
        model[relative] = {content, modified};
    }
    static void Remove(TTree& model, const std::string& relative) {
        ASSERT_TRUE(DeleteFile(Source() + "/" + relative));
        model.erase(relative);
    }

    static void RunDay(int day, const TTree& model) {
        TManualClock clock(EncodeDateTime(2026, 1, day, 12, 0, 10));
        TScopedClock scoped(clock);
        std::ostringstream out;
        std::ostringstream err;
        const int code = RunBackupCommand(*Base / "config", out, err, false);
        ASSERT_EQ(code, 0) << out.str() << err.str();
        Days->push_back({day, model});
    }

    static void MakeChain() {
        Base->MakeDir("config");
        Base->MakeDir("arch");
        const std::string selection = Base->WriteFile("selection.txt", Source() + "\n");
        Options.Load(*Base / "config");
        Options.SetFileChoose(selection);
        Options.SetBackupKind(bkIncWeek);
        Options.SetCompletelyWeekBackupDay(1);  // Monday
        Options.SetInTime(EncodeTime(12, 0, 0));
        Options.SetSavingKind(skLocal);
        Options.SetLocalDirectory(Archives());
        Options.SetBackupCount(100);

        std::mt19937 random(7);
        std::string big(300000, '\0');
        for (char& c : big) {
            c = static_cast<char>(random() % 7 == 0 ? random() : 0);
        }
        const auto at = [](int day, int second) {
            return test::LocalSeconds(2026, 1, day, 9, 0, second);
        };
        TTree model;
        // Monday: the complete backup.
        Put(model, "a.txt", "první verze\n", at(5, 0));
        Put(model, "sub/b.txt", "béčko\n", at(5, 2));
        Put(model, "složka/žluťoučký kůň.txt", "Příliš žluťoučký kůň úpěl ďábelské ódy.\n",
            at(5, 4));
        Put(model, "empty.txt", "", at(5, 6));
        Put(model, "big.bin", big, at(5, 8));
        Put(model, "old.txt", "bude smazán\n", at(5, 10));
        Put(model, "x", "soubor, později složka\n", at(5, 12));
        RunDay(5, model);
        // Tuesday: an edit, an addition, a deletion.
        Put(model, "a.txt", "druhá verze, delší než první\n", at(6, 0));
        Put(model, "c.txt", "nový\n", at(6, 2));
        Remove(model, "old.txt");
        RunDay(6, model);
        // Wednesday: a rename, a name with a quote, an edit of the big file.
        ASSERT_EQ(
            std::rename((Source() + "/sub/b.txt").c_str(), (Source() + "/sub/b2.txt").c_str()), 0);
        model["sub/b2.txt"] = model["sub/b.txt"];
        model.erase("sub/b.txt");
        Put(model, "it's here.txt", "uvozovka\n", at(7, 0));
        big[150000] = 'Z';
        Put(model, "big.bin", big, at(7, 2));
        RunDay(7, model);
        // Thursday: the quoted name goes, a file becomes a directory, the empty file goes.
        Remove(model, "it's here.txt");
        Remove(model, "x");
        Put(model, "x/inner.txt", "uvnitř\n", at(8, 0));
        Remove(model, "empty.txt");
        RunDay(8, model);
        // Friday: the Czech file is edited, the empty file comes back.
        Put(model, "složka/žluťoučký kůň.txt", "Kůň už neúpí.\n", at(9, 0));
        Put(model, "empty.txt", "", at(9, 2));
        RunDay(9, model);
    }

    static void ExpectSame(const TTree& expected, const TTree& actual, int day) {
        std::vector<std::string> expectedNames;
        std::vector<std::string> actualNames;
        for (const auto& [name, state] : expected) {
            expectedNames.push_back(name);
        }
        for (const auto& [name, state] : actual) {
            actualNames.push_back(name);
        }
        ASSERT_EQ(actualNames, expectedNames) << "day " << day;
        for (const auto& [name, state] : expected) {
            const TFileState& got = actual.at(name);
            EXPECT_EQ(got.Content, state.Content) << name << ", day " << day;
            EXPECT_LE(std::abs(static_cast<long>(got.Modified - state.Modified)), 2)
                << name << ", day " << day;
        }
    }

    static TTempDir* Base;
    static std::vector<TDay>* Days;
};

TTempDir* RestoreChainTest::Base = nullptr;
std::vector<TDay>* RestoreChainTest::Days = nullptr;

TEST_F(RestoreChainTest, TheChainHoldsOneCompleteArchiveAndIncrementalOnes) {
    std::vector<TDirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(Archives(), entries));
    std::vector<std::string> names;
    for (const TDirectoryEntry& entry : entries) {
        names.push_back(entry.Name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"Backup_20260105_1200_full.fbk", "Backup_20260106_1200.fbk",
                                        "Backup_20260107_1200.fbk", "Backup_20260108_1200.fbk",
                                        "Backup_20260109_1200.fbk"}));
}

TEST_F(RestoreChainTest, EachDayIsRestoredExactly) {
    for (const TDay& day : *Days) {
        const std::string target = *Base / ("restore-" + std::to_string(day.Day));
        char at[32];
        std::snprintf(at, sizeof at, "2026-01-%02d 12:30", day.Day);
        const test::TCliRun run = RunCliWith({"restore", "--to", target, "--at", at, Archives()});
        ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
        EXPECT_NE(run.Out.find("Použité archivy: " + std::to_string(day.Day - 4) + "\n"),
                  std::string::npos)
            << run.Out;
        TTree restored;
        Collect(Restored(target), "", restored);
        ExpectSame(day.Tree, restored, day.Day);
    }
}

TEST_F(RestoreChainTest, DefaultIsTheNewestAndTheSummaryCountsTheWork) {
    const std::string target = *Base / "restore-newest";
    const test::TCliRun run = RunCliWith({"restore", "--to", target, Archives()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    TTree restored;
    Collect(Restored(target), "", restored);
    ExpectSame(Days->back().Tree, restored, 9);
    // Removed: old.txt; it's here.txt, x, empty.txt (sub/b.txt too when the rename is listed).
    EXPECT_NE(run.Out.find("Zapsané soubory: "), std::string::npos);
    EXPECT_NE(run.Out.find("Smazané soubory: "), std::string::npos);
    EXPECT_EQ(run.Out.find("Problémy"), std::string::npos) << run.Out;
    // Into the same directory again only with --force.
    EXPECT_EQ(RunCliWith({"restore", "--to", target, Archives()}).Code, 1);
    EXPECT_EQ(RunCliWith({"restore", "--force", "--to", target, Archives()}).Code, 0);
    restored.clear();
    Collect(Restored(target), "", restored);
    ExpectSame(Days->back().Tree, restored, 9);
}

TEST_F(RestoreChainTest, OnlyChosenPathsAndDryRunWritesNothing) {
    const std::string target = *Base / "restore-only";
    test::TCliRun run = RunCliWith({"restore", "--to", target, "--only", Source() + "/a.txt",
                                    "--only", Source().substr(1) + "/sub", Archives()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    TTree restored;
    Collect(Restored(target), "", restored);
    TTree expected;
    expected["a.txt"] = Days->back().Tree.at("a.txt");
    expected["sub/b2.txt"] = Days->back().Tree.at("sub/b2.txt");
    ExpectSame(expected, restored, 9);

    run = RunCliWith(
        {"restore", "--to", *Base / "restore-none", "--only", Source() + "/nothing", Archives()});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("/nothing\" v archivech není"), std::string::npos) << run.Err;

    const std::string dry = *Base / "restore-dry";
    run = RunCliWith({"restore", "--dry-run", "--to", dry, "--at", "2026-01-06 12:00", Archives()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_FALSE(DirectoryExists(dry));
    EXPECT_NE(run.Out.find("smazat: " + Source().substr(1) + "/old.txt\n"), std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("zapsat: " + Source().substr(1) + "/c.txt (6 B)\n"), std::string::npos)
        << run.Out;
}

TEST_F(RestoreChainTest, FromTheServerTheSameChainRestoresIdentically) {
    // The chain as the transfer leaves it on the server; the server also holds a stray file.
    Base->MakeDir("ftp");
    for (const TDay& day : *Days) {
        char name[40];
        std::snprintf(name, sizeof name, "Backup_202601%02d_1200%s.fbk", day.Day,
                      day.Day == 5 ? "_full" : "");
        Base->WriteFile(std::string("ftp/") + name, ReadWholeFile(Archives() + "/" + name));
    }
    Base->WriteFile("ftp/readme.txt", "not an archive");
    test::TPyFtpServer server(*Base / "ftp", "zaloha", "heslo");
    ASSERT_NE(server.Port, 0) << "pyftpdlib did not start";
    Options.SetRemoteHost("127.0.0.1:" + std::to_string(server.Port));
    Options.SetRemoteUser("zaloha");
    Options.SetRemotePassword("heslo");
    Options.SetLocalTemporaryDirectory(*Base / "tmp");

    for (const int passive : {1, 0}) {
        Options.SetPassiveMode(passive);
        const std::string target = *Base / ("restore-server-" + std::to_string(passive));
        const test::TCliRun run = RunCliWith({"--config-dir", *Base / "config", "restore", "--to",
                                              target, "--at", "2026-01-08 23:59", "--from-server"});
        ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
        EXPECT_NE(run.Err.find("Stahuji 4/4: Backup_20260108_1200.fbk"), std::string::npos)
            << run.Err;
        TTree restored;
        Collect(Restored(target), "", restored);
        ExpectSame((*Days)[3].Tree, restored, 8);
        // The downloads are gone afterwards.
        std::vector<TDirectoryEntry> left;
        ASSERT_TRUE(ListDirectory(*Base / "tmp", left));
        EXPECT_TRUE(left.empty());
    }

    Options.SetRemotePassword("spatne");
    const test::TCliRun run = RunCliWith({"--config-dir", *Base / "config", "restore", "--to",
                                          *Base / "restore-refused", "--from-server"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("Nelze se připojit k serveru 127.0.0.1:"), std::string::npos) << run.Err;
}

TEST(RestoreCommand, WrongUseIsExitCodeTwo) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"restore"},
             {"restore", "/tmp"},
             {"restore", "--to", "/tmp/x"},
             {"restore", "--to", "/tmp/x", "--at", "2026-02-30 10:00", "/tmp"},
             {"restore", "--to", "/tmp/x", "--only", "../etc", "/tmp"},
             {"restore", "--to", "/tmp/x", "--bogus", "/tmp"},
             {"restore", "--to"},
             {"restore", "--to", "/tmp/x", "--from-server", "/tmp"}}) {
        const test::TCliRun run = RunCliWith(arguments);
        EXPECT_EQ(run.Code, 2) << arguments.back() << run.Err;
        EXPECT_NE(run.Err.find("Použití: sejfko-cli restore"), std::string::npos);
    }
    TTempDir dir;
    const test::TCliRun run = RunCliWith({"restore", "--to", dir / "out", dir.Path()});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("Nebyl nalezen žádný archiv"), std::string::npos) << run.Err;
}

}  // namespace
}  // namespace sejfko
