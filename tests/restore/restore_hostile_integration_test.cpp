// Hostile and damaged archives, written by Python's zipfile, restored through the command line:
// nothing may be written or deleted outside the target directory, and damage stops the restore
// with the archive and entry named while what was restored stays.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/zip_read_fixtures.hpp"
#include "cli/cli_runner.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::RunCliWith;
using test::TTempDir;

struct TEntry {
    std::string Name;
    std::string Content;
    bool Symlink = false;  // a POSIX symlink entry whose content is its target
};

std::string PythonBytes(const std::string& text) {
    std::string literal = "b'";
    for (const unsigned char c : text) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        literal += hex;
    }
    return literal + "'";
}

// dir/arch/NAME with the entries stored uncompressed, in order.
std::string MakeArchive(const TTempDir& dir, const std::string& name,
                        const std::vector<TEntry>& entries) {
    dir.MakeDir("arch");
    std::string script = "import zipfile\nwith zipfile.ZipFile('arch/" + name + "', 'w') as z:\n";
    for (const TEntry& entry : entries) {
        script += "    i = zipfile.ZipInfo(" + PythonBytes(entry.Name) +
                  ".decode('utf-8'), (2026, 1, 2, 3, 4, 6))\n"
                  "    i.create_system = 3\n";
        script += entry.Symlink ? "    i.external_attr = 0o120777 << 16\n"
                                : "    i.external_attr = 0o100644 << 16\n";
        script += "    z.writestr(i, " + PythonBytes(entry.Content) + ")\n";
    }
    EXPECT_TRUE(test::RunPython(dir, script)) << ReadWholeFile(dir / "py.log");
    return dir / ("arch/" + name);
}

std::vector<std::string> Listing(const std::string& path) {
    std::vector<TDirectoryEntry> entries;
    ListDirectory(path, entries);
    std::vector<std::string> names;
    for (const TDirectoryEntry& entry : entries) {
        names.push_back(entry.Name);
    }
    return names;
}

TEST(RestoreHostile, NamesReachingOutsideAreRefusedOthersRestored) {
    TTempDir dir;
    const std::string absolute = dir / "absolute-victim";
    MakeArchive(dir, "Backup_20260102_0304_full.fbk",
                {{"../escaped.txt", "x"},
                 {absolute.substr(0), "x"},
                 {"C:\\windows.txt", "x"},
                 {"c:/drive.txt", "x"},
                 {"a/../../up.txt", "x"},
                 {"good/ok.txt", "dobrý"}});
    const test::TCliRun run = RunCliWith({"restore", "--to", dir / "out", dir / "arch"});
    EXPECT_EQ(run.Code, 1) << run.Err;
    EXPECT_EQ(ReadWholeFile(dir / "out/good/ok.txt"), "dobrý");
    EXPECT_EQ(Listing(dir / "out"), std::vector<std::string>{"good"});
    EXPECT_EQ(Listing(dir.Path()),
              (std::vector<std::string>{"arch", "make_fixture.py", "out", "py.log"}));
    for (const char* name : {"../escaped.txt", "C:\\windows.txt", "c:/drive.txt", "up.txt"}) {
        EXPECT_NE(run.Err.find(name), std::string::npos) << name << "\n" << run.Err;
    }
    EXPECT_NE(run.Err.find("absolutní cesta"), std::string::npos) << run.Err;
    EXPECT_NE(run.Out.find("Zapsané soubory: 1\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("Problémy: 5\n"), std::string::npos) << run.Out;
}

// Links are made as stored, pointing anywhere, but only after every file of the chain: a file
// entry "through" a link (in the same archive or a later one) lands in a real directory below
// the target, and the link then finds its place taken.
TEST(RestoreHostile, SymlinksFromTheArchiveOrAlreadyInTheTargetAreNotFollowed) {
    TTempDir dir;
    dir.MakeDir("outside");
    MakeArchive(dir, "Backup_20260102_0304_full.fbk",
                {{"link", dir / "outside", true},
                 {"link/pwned.txt", "x"},
                 {"planted/y.txt", "y"},
                 {"abs", dir / "outside", true},
                 {"up", "../../../../../../../../../../../../" + dir / "outside", true},
                 {"kept", dir / "outside/none", true}});
    MakeArchive(dir, "Backup_20260103_0304.fbk", {{"abs/later.txt", "x"}, {"up/later.txt", "x"}});
    // A symlink that was in the target before: written through with --force it would escape.
    dir.MakeDir("out");
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "out/planted").c_str()), 0);

    test::TCliRun run = RunCliWith({"restore", "--to", dir / "out", dir / "arch"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("není prázdná"), std::string::npos) << run.Err;

    run = RunCliWith({"restore", "--force", "--to", dir / "out", dir / "arch"});
    EXPECT_EQ(run.Code, 1) << run.Err;
    EXPECT_TRUE(Listing(dir / "outside").empty());
    EXPECT_NE(run.Err.find("\"planted/y.txt\" nelze obnovit: jeho cesta vede přes symbolický"),
              std::string::npos)
        << run.Err;
    for (const std::string name : {"link", "abs", "up"}) {
        EXPECT_NE(run.Err.find("\"" + name + "\" nelze obnovit: na jeho místě je složka"),
                  std::string::npos)
            << name << "\n"
            << run.Err;
        EXPECT_EQ(GetFileStatus(dir / ("out/" + name), false).Kind, TEntryKind::Directory);
    }
    EXPECT_EQ(ReadWholeFile(dir / "out/link/pwned.txt"), "x");
    EXPECT_EQ(ReadWholeFile(dir / "out/abs/later.txt"), "x");
    // A link in the way of nothing is made as it was stored, though it points outside.
    char target[4096] = {};
    ASSERT_GT(::readlink((dir / "out/kept").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), dir / "outside/none");
    EXPECT_NE(run.Out.find("Vytvořené odkazy: 1\n"), std::string::npos) << run.Out;
}

// Link entries no link can be made of (empty, a NUL byte, a target longer than any system
// allows) are named by verify, shown with "?" by list and reported by the restore, which makes
// the sound ones.
TEST(RestoreHostile, UnusableLinkEntriesAreNamedNotMade) {
    TTempDir dir;
    const std::string archive = MakeArchive(dir, "Backup_20260102_0304_full.fbk",
                                            {{"empty", "", true},
                                             {"nul", std::string("a\0b", 3), true},
                                             {"long", std::string(5000, 'x'), true},
                                             {"fine", "cíl", true}});
    test::TCliRun run = RunCliWith({"verify", archive});
    EXPECT_EQ(run.Code, 1) << run.Out;
    for (const char* name : {"\"empty\"", "\"nul\"", "\"long\""}) {
        EXPECT_NE(run.Out.find(std::string("Symbolický odkaz ") + name), std::string::npos)
            << name << run.Out;
    }
    EXPECT_EQ(run.Out.find("\"fine\""), std::string::npos) << run.Out;
    run = RunCliWith({"list", archive});
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Out.find("  empty -> ?\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("  long -> ?\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("  fine -> cíl\n"), std::string::npos) << run.Out;

    run = RunCliWith({"restore", "--to", dir / "out", dir / "arch"});
    EXPECT_EQ(run.Code, 1) << run.Err;
    EXPECT_NE(run.Out.find("Problémy: 3\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("Vytvořené odkazy: 1\n"), std::string::npos) << run.Out;
    EXPECT_EQ(Listing(dir / "out"), std::vector<std::string>{"fine"});
    std::string made;
    EXPECT_TRUE(ReadSymlink(dir / "out/fine", made));
    EXPECT_EQ(made, "cíl");
}

TEST(RestoreHostile, DeletionLinesOutsideTheTargetAreRefused) {
    TTempDir dir;
    dir.WriteFile("victim", "keep");
    dir.WriteFile("out-sibling/victim", "keep");
    MakeArchive(dir, "Backup_20260101_0000_full.fbk", {{"a.txt", "a"}, {"b.txt", "b"}});
    MakeArchive(dir, "Backup_20260102_0000.fbk",
                {{"!!!!!upd_arch.sh",
                  "rm -f -- '../victim'\n"
                  "rm -f -- '" +
                      dir.Path() +
                      "/out-sibling/victim'\n"
                      "rm -f -- 'x/../../victim'\n"
                      "this is no deletion line\n"
                      "rm -f -- 'a.txt'\n"}});
    MakeArchive(dir, "Backup_20260103_0000.fbk",
                {{"!!!!!upd_arch.bat", "del \\..\\victim\r\ndel \\b.txt\r\n"}});
    // Restored over an older restore, so that the sound lines have something to delete.
    dir.WriteFile("out/a.txt", "older");
    dir.WriteFile("out/b.txt", "older");
    const test::TCliRun run = RunCliWith({"restore", "--force", "--to", dir / "out", dir / "arch"});
    EXPECT_EQ(run.Code, 1) << run.Err;
    EXPECT_EQ(ReadWholeFile(dir / "victim"), "keep");
    EXPECT_EQ(ReadWholeFile(dir / "out-sibling/victim"), "keep");
    // The sound lines did their work; the lists themselves are not restored.
    EXPECT_TRUE(Listing(dir / "out").empty()) << run.Out;
    EXPECT_NE(run.Err.find("this is no deletion line"), std::string::npos) << run.Err;
    EXPECT_NE(run.Out.find("Smazané soubory: 2\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("Problémy: 5\n"), std::string::npos) << run.Out;
}

TEST(RestoreHostile, DamageStopsWithArchiveAndEntryNamedAndKeepsWhatWasRestored) {
    TTempDir dir;
    MakeArchive(dir, "Backup_20260101_0000_full.fbk", {{"a.txt", "version 1"}, {"b.txt", "first"}});
    const std::string second = MakeArchive(
        dir, "Backup_20260102_0000.fbk",
        {{"c.txt", "new file"}, {"a.txt", "version 2 FLIPME"}, {"d.txt", "never reached"}});
    MakeArchive(dir, "Backup_20260103_0000.fbk", {{"e.txt", "after the damage"}});
    std::string bytes = ReadWholeFile(second);
    bytes[bytes.find("FLIPME")] ^= 0x20;
    test::WriteBytes(second, bytes);

    test::TCliRun run = RunCliWith({"restore", "--to", dir / "out", dir / "arch"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("Položka \"a.txt\" v archivu \"" + second + "\" je poškozená"),
              std::string::npos)
        << run.Err;
    EXPECT_NE(run.Out.find("Obnova byla přerušena."), std::string::npos) << run.Out;
    // What came before stays, the damaged file is not left torn, nothing after runs.
    EXPECT_EQ(ReadWholeFile(dir / "out/b.txt"), "first");
    EXPECT_EQ(ReadWholeFile(dir / "out/c.txt"), "new file");
    EXPECT_EQ(Listing(dir / "out"), (std::vector<std::string>{"b.txt", "c.txt"}));

    // Cut off: the archive's directory is gone.
    bytes = ReadWholeFile(dir / "arch/Backup_20260101_0000_full.fbk");
    test::WriteBytes(dir / "arch/Backup_20260101_0000_full.fbk",
                     bytes.substr(0, bytes.size() - 30));
    run = RunCliWith({"restore", "--to", dir / "out2", dir / "arch"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("Backup_20260101_0000_full.fbk"), std::string::npos) << run.Err;
    EXPECT_TRUE(Listing(dir / "out2").empty());
}

TEST(RestoreHostile, ArchiveCutOffInTheMiddleStopsTheRestore) {
    TTempDir dir;
    MakeArchive(dir, "Backup_20260101_0000_full.fbk", {{"a.txt", "complete"}});
    const std::string archive =
        MakeArchive(dir, "Backup_20260102_0000.fbk", {{"big.bin", std::string(50000, 'b')}});
    // Cut off in the middle of big.bin's data, as an interrupted copy leaves it.
    const std::string bytes = ReadWholeFile(archive);
    test::WriteBytes(archive, bytes.substr(0, bytes.find(std::string(100, 'b')) + 20000));
    const test::TCliRun run = RunCliWith({"restore", "--to", dir / "out", dir / "arch"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find(archive), std::string::npos) << run.Err;
    // The chain's directories are read before anything is written: nothing is restored, and
    // the user learns how to get the state before the damaged archive.
    EXPECT_TRUE(Listing(dir / "out").empty());
    EXPECT_NE(run.Err.find("--at \"2026-01-01 00:00\""), std::string::npos) << run.Err;
    EXPECT_EQ(RunCliWith({"restore", "--force", "--to", dir / "out", "--at", "2026-01-01 00:00",
                          dir / "arch"})
                  .Code,
              0);
    EXPECT_EQ(ReadWholeFile(dir / "out/a.txt"), "complete");
}

TEST(RestoreFaults, UnwritableFilesAreReportedAndAFullDiskStops) {
    TTempDir dir;
    MakeArchive(dir, "Backup_20260101_0000_full.fbk",
                {{"a.txt", "a"}, {"locked/b.txt", "b"}, {"c.txt", "c"}, {"d.txt", "d"}});
    {
        // A directory that cannot be created fails its file only.
        TScopedFault fault(FailUnder(dir / "out/locked", TFileOperation::MakeDirectory, EACCES));
        const test::TCliRun run = RunCliWith({"restore", "--to", dir / "out", dir / "arch"});
        EXPECT_EQ(run.Code, 1);
        EXPECT_NE(run.Err.find("\"locked/b.txt\" nelze obnovit"), std::string::npos) << run.Err;
        EXPECT_EQ(Listing(dir / "out"), (std::vector<std::string>{"a.txt", "c.txt", "d.txt"}));
        EXPECT_NE(run.Out.find("Problémy: 1\n"), std::string::npos) << run.Out;
    }
    {
        // Once the disk is full every further file would fail too: the restore stops.
        TScopedFault fault([&](TFileOperation operation, const std::string& path) {
            return operation == TFileOperation::Write && path == dir / "out2/c.txt" ? ENOSPC : 0;
        });
        const test::TCliRun run = RunCliWith({"restore", "--to", dir / "out2", dir / "arch"});
        EXPECT_EQ(run.Code, 1);
        EXPECT_NE(run.Out.find("Obnova byla přerušena."), std::string::npos) << run.Out;
        EXPECT_EQ(Listing(dir / "out2"), (std::vector<std::string>{"a.txt", "locked"}));
    }
}

}  // namespace
}  // namespace sejfko
