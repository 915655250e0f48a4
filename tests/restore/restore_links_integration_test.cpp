// Symbolic links inside a backed-up tree, through real runs: the archives hold them as links
// (unzip and 7zz recreate them from our complete archive), an incremental run sees a retargeted
// link and a file that became a link, and restoring the chain gives each day's links exactly,
// without ever following one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "cli/cli_runner.hpp"
#include "cli/run_command.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "support/local_time.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::RunCliWith;
using test::TTempDir;

// A file with its content or a link with its target, and its modification time.
struct TNode {
    bool Link = false;
    std::string Data;
    std::time_t Modified = 0;
    bool operator==(const TNode& other) const { return Link == other.Link && Data == other.Data; }
};
using TTree = std::map<std::string, TNode>;  // relative path -> node

std::ostream& operator<<(std::ostream& out, const TNode& node) {
    return out << (node.Link ? "-> " : "file ") << node.Data;
}

std::string LinkTarget(const std::string& path) {
    char buffer[4096];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    return length < 0 ? std::string("(none)") : std::string(buffer, static_cast<size_t>(length));
}

// Every file and link below `root`; directories are walked, links never.
void Collect(const std::string& root, const std::string& prefix, TTree& tree) {
    std::vector<TDirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(root, entries)) << root;
    for (const TDirectoryEntry& entry : entries) {
        const std::string path = root + "/" + entry.Name;
        const std::string relative = prefix.empty() ? entry.Name : prefix + "/" + entry.Name;
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
        if (S_ISDIR(st.st_mode)) {
            Collect(path, relative, tree);
        } else if (S_ISLNK(st.st_mode)) {
            tree[relative] = {true, LinkTarget(path), st.st_mtime};
        } else {
            ASSERT_TRUE(S_ISREG(st.st_mode)) << path;
            tree[relative] = {false, ReadWholeFile(path), st.st_mtime};
        }
    }
}

void SetLinkTime(const std::string& path, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

int Shell(const std::string& command) {
    return std::system(command.c_str());
}

class RestoreLinksTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Base = new TTempDir;
        Days = new std::map<int, TTree>;
        MakeChain();
    }
    static void TearDownTestSuite() {
        SetZipEngineDirectory("");
        delete Days;
        delete Base;
    }

    static std::string Source() { return *Base / "src"; }
    static std::string Archives() { return *Base / "arch"; }
    static std::string Restored(const std::string& target) { return target + Source(); }
    static std::time_t At(int day, int second) {
        return test::LocalSeconds(2026, 1, day, 9, 0, second);
    }

    static void PutFile(TTree& model, const std::string& relative, const std::string& content,
                        std::time_t modified) {
        const std::string path = Source() + "/" + relative;
        ::unlink(path.c_str());
        Base->WriteFile("src/" + relative, content);
        SetLinkTime(path, modified);
        model[relative] = {false, content, modified};
    }
    static void PutLink(TTree& model, const std::string& relative, const std::string& target,
                        std::time_t modified) {
        const std::string path = Source() + "/" + relative;
        ::unlink(path.c_str());
        ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
        SetLinkTime(path, modified);
        model[relative] = {true, target, modified};
    }
    static void Remove(TTree& model, const std::string& relative) {
        ASSERT_TRUE(DeleteFile(Source() + "/" + relative));
        model.erase(relative);
    }

    // One real run on that day; the model is the tree it saw.
    static void RunDay(int day, const TTree& model) {
        TManualClock clock(EncodeDateTime(2026, 1, day, 12, 0, 10));
        TScopedClock scoped(clock);
        std::ostringstream out;
        std::ostringstream err;
        const int code = RunBackupCommand(*Base / "config", out, err, false);
        ASSERT_EQ(code, 0) << out.str() << err.str();
        (*Days)[day] = model;
    }

    static void MakeChain() {
        Base->MakeDir("config");
        Base->MakeDir("arch");
        Base->WriteFile("outside/secret.txt", "tajné");
        Base->WriteFile("real/r.txt", "přes odkaz ve výběru");
        ASSERT_EQ(::symlink((*Base / "real").c_str(), (*Base / "chosen").c_str()), 0);
        // The exclusion makes the selection's expansion meet the links of the tree's top level;
        // those below sub/ are met by the engine's walk.
        Base->WriteFile("src/excluded/skip.txt", "vynechán");
        const std::string selection =
            Base->WriteFile("selection.txt", Source() + "\n" + (*Base / "chosen") + "\n" +
                                                 Source() + "/excluded/ /Exclude\n");
        Options.Load(*Base / "config");
        Options.SetFileChoose(selection);
        Options.SetBackupKind(bkIncWeek);
        Options.SetCompletelyWeekBackupDay(1);  // Monday
        Options.SetInTime(EncodeTime(12, 0, 0));
        Options.SetSavingKind(skLocal);
        Options.SetLocalDirectory(Archives());
        Options.SetBackupCount(100);

        // Up to the root and down again: a link that leaves any tree it is restored into.
        std::string up;
        for (std::size_t i = 0; i < 20; ++i) {
            up += "../";
        }
        up += (*Base / "outside").substr(1);

        TTree model;
        // Monday, the complete backup.
        PutFile(model, "a.txt", "áčko", At(5, 0));
        PutFile(model, "sub/b.txt", "béčko", At(5, 2));
        PutFile(model, "x", "soubor, později odkaz", At(5, 4));
        PutLink(model, "to-file", "a.txt", At(5, 6));
        PutLink(model, "to-dir", "sub", At(5, 8));
        PutLink(model, "sub/to-parent", "..", At(5, 10));
        PutLink(model, "dangling", "nikde/nic", At(5, 12));
        PutLink(model, "absolute", *Base / "outside/secret.txt", At(5, 14));
        PutLink(model, "up", up, At(5, 16));
        PutFile(model, "dir-later-link/inner.txt", "uvnitř", At(5, 18));
        PutLink(model, "link-later-dir", "sub", At(5, 20));
        RunDay(5, model);
        // Tuesday: a link retargeted, one removed, a link that became a file and the reverse.
        PutLink(model, "to-file", "sub/b.txt", At(6, 0));
        Remove(model, "dangling");
        PutFile(model, "absolute", "teď soubor", At(6, 2));
        PutLink(model, "x", "a.txt", At(6, 4));
        // A directory that became a link, and a link that became a directory.
        Remove(model, "dir-later-link/inner.txt");
        ASSERT_EQ(::rmdir((Source() + "/dir-later-link").c_str()), 0);
        PutLink(model, "dir-later-link", "sub", At(6, 6));
        Remove(model, "link-later-dir");
        PutFile(model, "link-later-dir/in.txt", "teď složka", At(6, 8));
        RunDay(6, model);
        // Wednesday: a link made again with the same target is only touched (and keeps the
        // time of the version archived, as a touched file does).
        PutLink(model, "to-dir", "sub", At(7, 0));
        model["to-dir"].Modified = At(5, 8);
        RunDay(7, model);
    }

    static void ExpectSame(const TTree& expected, const TTree& actual, const std::string& what,
                           bool times) {
        EXPECT_EQ(actual, expected) << what;
        if (!times) {
            return;
        }
        for (const auto& [name, node] : expected) {
            const auto found = actual.find(name);
            if (found != actual.end()) {
                EXPECT_LE(std::labs(static_cast<long>(found->second.Modified - node.Modified)), 2)
                    << name << ", " << what;
            }
        }
    }

    static void ExpectOutsideUntouched() {
        EXPECT_EQ(test::EntryNames(*Base / "outside"), std::vector<std::string>{"secret.txt"});
        EXPECT_EQ(ReadWholeFile(*Base / "outside/secret.txt"), "tajné");
    }

    static TTempDir* Base;
    static std::map<int, TTree>* Days;
};

TTempDir* RestoreLinksTest::Base = nullptr;
std::map<int, TTree>* RestoreLinksTest::Days = nullptr;

TEST_F(RestoreLinksTest, ArchivesHoldLinksAndOnlyWhatChanged) {
    // Wednesday changed nothing: no archive.
    EXPECT_EQ(
        test::EntryNames(Archives()),
        (std::vector<std::string>{"Backup_20260105_1200_full.fbk", "Backup_20260106_1200.fbk"}));
    const std::string stored = Source().substr(1) + "/";
    test::TCliRun run = RunCliWith({"list", Archives() + "/Backup_20260105_1200_full.fbk"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    for (const char* line : {"to-file -> a.txt\n", "to-dir -> sub\n", "sub/to-parent -> ..\n",
                             "dangling -> nikde/nic\n"}) {
        EXPECT_NE(run.Out.find(stored + line), std::string::npos) << line << run.Out;
    }
    // The selection's own link is followed, as before.
    EXPECT_NE(run.Out.find((*Base / "chosen/r.txt").substr(1) + "\n"), std::string::npos)
        << run.Out;

    run = RunCliWith({"list", Archives() + "/Backup_20260106_1200.fbk"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Out.find(stored + "to-file -> sub/b.txt\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find(stored + "x -> a.txt\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find(stored + "absolute\n"), std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find("to-dir"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find(stored + "dir-later-link -> sub\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("Položek: 6,"), std::string::npos) << run.Out;  // 5 and the list

    run = RunCliWith({"verify", Archives() + "/Backup_20260105_1200_full.fbk",
                      Archives() + "/Backup_20260106_1200.fbk"});
    EXPECT_EQ(run.Code, 0) << run.Out;
    EXPECT_NE(run.Out.find("_full.fbk: OK (symbolické odkazy: 7)\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("0106_1200.fbk: OK (symbolické odkazy: 3)\n"), std::string::npos)
        << run.Out;
}

TEST_F(RestoreLinksTest, UnzipAndSevenZipRecreateTheSameLinks) {
    const std::string archive = Archives() + "/Backup_20260105_1200_full.fbk";
    const std::string unzipped = *Base / "by-unzip";
    ASSERT_EQ(Shell("unzip -qq '" + archive + "' -d '" + unzipped + "'"), 0);
    TTree tree;
    Collect(unzipped + Source(), "", tree);
    ExpectSame(Days->at(5), tree, "unzip", false);
    ExpectOutsideUntouched();

    if (Shell("command -v 7zz >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "7zz is not installed";
    }
    // 7-Zip has a policy of its own (exit code 2 then): a link leading out of the folder becomes
    // an empty file, an absolute one is made below the folder; the others are the same links.
    const std::string extracted = *Base / "by-7zz";
    ASSERT_EQ(Shell("7zz x -snld -bso0 -bse0 -bsp0 '-o" + extracted + "' '" + archive + "'") >> 8,
              2);
    tree.clear();
    Collect(extracted + Source(), "", tree);
    TTree expected = Days->at(5);
    expected["up"] = TNode{};
    expected["absolute"].Data = extracted + expected["absolute"].Data;
    ExpectSame(expected, tree, "7zz", false);
    ExpectOutsideUntouched();
}

TEST_F(RestoreLinksTest, EachDayRestoresItsLinks) {
    for (const auto& [day, model] : *Days) {
        const std::string target = *Base / ("restore-" + std::to_string(day));
        char at[32];
        std::snprintf(at, sizeof at, "2026-01-%02d 12:30", day);
        const test::TCliRun run = RunCliWith({"restore", "--to", target, "--at", at, Archives()});
        ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
        EXPECT_EQ(run.Out.find("Problémy"), std::string::npos) << run.Out;
        const std::string links = day == 5 ? "7" : "6";
        EXPECT_NE(run.Out.find("Vytvořené odkazy: " + links + "\n"), std::string::npos) << run.Out;
        TTree tree;
        Collect(Restored(target), "", tree);
        ExpectSame(model, tree, "day " + std::to_string(day), true);
        // The selection's link was followed: a directory with the file.
        EXPECT_EQ(GetFileStatus(target + *Base / "chosen", false).Kind, TEntryKind::Directory);
        EXPECT_EQ(ReadWholeFile(target + *Base / "chosen/r.txt"), "přes odkaz ve výběru");
    }
    ExpectOutsideUntouched();
}

TEST_F(RestoreLinksTest, OverAnOlderRestoreLinksAndFilesTradePlacesAndDeletionsTakeTheLink) {
    const std::string target = *Base / "restore-over";
    test::TCliRun run =
        RunCliWith({"restore", "--to", target, "--at", "2026-01-05 12:30", Archives()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    // The deleted link now leads to a file outside: the deletion must take the link only.
    const std::string dangling = Restored(target) + "/dangling";
    ASSERT_TRUE(DeleteFile(dangling));
    ASSERT_EQ(::symlink((*Base / "outside/secret.txt").c_str(), dangling.c_str()), 0);

    run = RunCliWith({"restore", "--dry-run", "--force", "--to", target, Archives()});
    ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("odkaz: " + Source().substr(1) + "/x -> a.txt\n"), std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("Odkazů k vytvoření: 6\n"), std::string::npos) << run.Out;

    // Over day 5: a file and a directory (emptied by the deletions) give way to links, and
    // links give way to a file and to a directory with entries.
    run = RunCliWith({"restore", "--force", "--to", target, Archives()});
    ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
    TTree tree;
    Collect(Restored(target), "", tree);
    ExpectSame(Days->at(7), tree, "over day 5", true);
    ExpectOutsideUntouched();
}

}  // namespace
}  // namespace sejfko
