// A chain of encrypted archives made by the worker's own runs (a complete run, then incremental
// runs; the password is changed before the last one) restores exactly with the passwords from a
// file or from the configuration; a wrong password writes nothing, and a file whose
// authentication code does not match is never written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

#include "archive/backup_job.hpp"
#include "archive/zip_read_format.hpp"
#include "archive/zip_reader.hpp"
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

using TTree = std::map<std::string, std::string>;  // relative path -> content

const std::string OldPassword = "první heslo";
const std::string NewPassword = "druhé heslo";

void Collect(const std::string& root, const std::string& prefix, TTree& tree) {
    std::vector<TDirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(root, entries)) << root;
    for (const TDirectoryEntry& entry : entries) {
        const std::string path = root + "/" + entry.Name;
        const std::string relative = prefix.empty() ? entry.Name : prefix + "/" + entry.Name;
        std::string target;
        if (entry.Kind == TEntryKind::Directory) {
            Collect(path, relative, tree);
        } else if (entry.Kind == TEntryKind::Symlink) {
            ASSERT_TRUE(ReadSymlink(path, target)) << path;
            tree[relative] = "-> " + target;
        } else {
            tree[relative] = ReadWholeFile(path);
        }
    }
}

std::string Noise(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, 0);
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

class EncryptedChain : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Base = new TTempDir;
        Trees = new std::vector<TTree>;
        MakeChain();
    }
    static void TearDownTestSuite() {
        SetZipEngineDirectory("");
        delete Trees;
        delete Base;
    }

    static std::string Source() { return *Base / "src"; }
    static std::string Archives() { return *Base / "arch"; }
    static std::string Restored(const std::string& target) { return target + Source(); }

    static void Put(TTree& model, const std::string& relative, const std::string& content,
                    int day) {
        Base->WriteFile("src/" + relative, content);
        const std::time_t modified = test::LocalSeconds(2026, 1, day, 9, 0, 0);
        const timespec times[2] = {{modified, 0}, {modified, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (Source() + "/" + relative).c_str(), times, 0), 0);
        model[relative] = content;
    }

    // A link's target is sealed like a file's content.
    static void PutLink(TTree& model, const std::string& relative, const std::string& target,
                        int day) {
        const std::string path = Source() + "/" + relative;
        ::unlink(path.c_str());
        ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
        const std::time_t modified = test::LocalSeconds(2026, 1, day, 9, 0, 0);
        const timespec times[2] = {{modified, 0}, {modified, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        model[relative] = "-> " + target;
    }

    static void RunDay(int day, const TTree& model) {
        TManualClock clock(EncodeDateTime(2026, 1, day, 12, 0, 10));
        TScopedClock scoped(clock);
        std::ostringstream out;
        std::ostringstream err;
        ASSERT_EQ(RunBackupCommand(*Base / "config", out, err, false), 0) << out.str() << err.str();
        Trees->push_back(model);
    }

    static void MakeChain() {
        Base->MakeDir("config");
        Base->MakeDir("arch");
        const std::string selection = Base->WriteFile("selection.txt", Source() + "\n");
        Options.Load(*Base / "config");
        Options.SetFileChoose(selection);
        Options.SetBackupKind(bkIncWeek);
        Options.SetCompletelyWeekBackupDay(1);  // Monday, the 5th
        Options.SetInTime(EncodeTime(12, 0, 0));
        Options.SetSavingKind(skLocal);
        Options.SetLocalDirectory(Archives());
        Options.SetBackupCount(100);
        Options.SetArchivePassword(OldPassword);

        std::string big;
        while (big.size() < (9u << 20)) {  // three pieces
            big += "řádek " + std::to_string(big.size()) + " velkého souboru\n";
        }
        TTree model;
        Put(model, "small.txt", "malý soubor\n", 5);
        Put(model, "empty.txt", "", 5);
        Put(model, "big.txt", big, 5);
        Put(model, "noise.bin", Noise(200000, 1), 5);  // stored: deflate cannot shrink it
        Put(model, "gone.txt", "bude smazán\n", 5);
        PutLink(model, "link", "small.txt", 5);
        RunDay(5, model);
        big[5u << 20] = '#';
        Put(model, "big.txt", big, 6);
        ASSERT_TRUE(DeleteFile(Source() + "/gone.txt"));
        model.erase("gone.txt");
        RunDay(6, model);
        Options.SetArchivePassword(NewPassword);
        Put(model, "small.txt", "malý soubor, druhá verze\n", 7);
        Put(model, "new.txt", "nový\n", 7);
        PutLink(model, "link", "new.txt", 7);
        RunDay(7, model);
    }

    static std::string PasswordFile(const std::string& name, const std::string& content) {
        return Base->WriteFile(name, content);
    }

    static bool IsEmptyDirectory(const std::string& path) {
        std::vector<TDirectoryEntry> entries;
        return !DirectoryExists(path) || (ListDirectory(path, entries) && entries.empty());
    }

    static TTempDir* Base;
    static std::vector<TTree>* Trees;
};

TTempDir* EncryptedChain::Base = nullptr;
std::vector<TTree>* EncryptedChain::Trees = nullptr;

TEST_F(EncryptedChain, EveryArchiveIsEncryptedAndTheChainRestoresExactly) {
    std::vector<TDirectoryEntry> archives;
    ASSERT_TRUE(ListDirectory(Archives(), archives));
    ASSERT_EQ(archives.size(), 3u);
    for (const TDirectoryEntry& archive : archives) {
        TZipReader reader;
        reader.Open(Archives() + "/" + archive.Name);
        for (const TZipDirEntry& entry : reader.Entries()) {
            EXPECT_TRUE(entry.IsEncrypted()) << archive.Name << ": " << entry.Name;
        }
    }
    const std::string both = PasswordFile("both.txt", OldPassword + "\n" + NewPassword + "\n");
    const test::TCliRun run =
        RunCliWith({"restore", "--password-file", both, "--to", *Base / "newest", Archives()});
    ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
    TTree restored;
    Collect(Restored(*Base / "newest"), "", restored);
    EXPECT_EQ(restored, Trees->back());

    // Before the change of password the old one alone serves, here from the configuration.
    Base->MakeDir("old-config");
    TOptions old;
    old.Load(*Base / "old-config");
    old.SetArchivePassword(OldPassword);
    const test::TCliRun earlier =
        RunCliWith({"--config-dir", *Base / "old-config", "restore", "--to", *Base / "tuesday",
                    "--at", "2026-01-06 12:30", Archives()});
    ASSERT_EQ(earlier.Code, 0) << earlier.Out << earlier.Err;
    restored.clear();
    Collect(Restored(*Base / "tuesday"), "", restored);
    EXPECT_EQ(restored, (*Trees)[1]);
}

TEST_F(EncryptedChain, AWrongPasswordWritesNothing) {
    const std::string wrong = PasswordFile("wrong.txt", "hádám\n");
    const std::string target = *Base / "wrong";
    test::TCliRun run =
        RunCliWith({"restore", "--password-file", wrong, "--to", target, Archives()});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("není správné"), std::string::npos) << run.Err;
    EXPECT_TRUE(IsEmptyDirectory(target));

    // The old password fits the first archives only: the last one is refused before anything
    // is written, and the message names the point that can still be restored.
    const std::string old = PasswordFile("old.txt", OldPassword + "\n");
    const std::string partly = *Base / "partly";
    run = RunCliWith({"restore", "--password-file", old, "--to", partly, Archives()});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("není správné"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("--at \"2026-01-06 12:00\""), std::string::npos) << run.Err;
    EXPECT_TRUE(IsEmptyDirectory(partly));

    // No password at all (an empty configuration).
    Base->MakeDir("no-config");
    run = RunCliWith(
        {"--config-dir", *Base / "no-config", "restore", "--to", *Base / "none", Archives()});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("je třeba zadat heslo"), std::string::npos) << run.Err;
    EXPECT_TRUE(IsEmptyDirectory(*Base / "none"));
}

TEST_F(EncryptedChain, AFileThatDoesNotAuthenticateIsNeverWritten) {
    // The chain up to Tuesday, whose archive holds the big file; a byte of its data is flipped.
    const std::string copy = Base->MakeDir("damaged-arch");
    std::vector<TDirectoryEntry> archives;
    ASSERT_TRUE(ListDirectory(Archives(), archives));
    for (size_t i = 0; i < 2; ++i) {
        std::filesystem::copy_file(Archives() + "/" + archives[i].Name,
                                   copy + "/" + archives[i].Name);
    }
    const std::string tuesday = copy + "/" + archives[1].Name;
    std::string bytes = ReadWholeFile(tuesday);
    TZipReader reader;
    reader.Open(tuesday);
    bool flipped = false;
    for (const TZipDirEntry& entry : reader.Entries()) {
        if (entry.Name.size() > 8 && entry.Name.substr(entry.Name.size() - 8) == "/big.txt") {
            const auto* header = zipread::Bytes(bytes.data() + entry.LocalHeaderOffset);
            const uint64_t data = entry.LocalHeaderOffset + zipread::LocalHeaderSize +
                                  zipread::Get16(header + 26) + zipread::Get16(header + 28);
            const uint64_t at = data + entry.CompressedSize / 2;
            bytes[at] = static_cast<char>(bytes[at] ^ 0x04);
            flipped = true;
        }
    }
    reader.Close();
    ASSERT_TRUE(flipped);
    Base->WriteFile("damaged-arch/" + archives[1].Name, bytes);

    const std::string old = PasswordFile("old2.txt", OldPassword + "\n");
    const std::string target = *Base / "damaged";
    const test::TCliRun run = RunCliWith({"restore", "--password-file", old, "--to", target, copy});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("kód ověření"), std::string::npos) << run.Err;
    // Neither the damaged version nor a temporary file of it is left.
    EXPECT_FALSE(FileExists(Restored(target) + "/big.txt"));
    std::vector<TDirectoryEntry> left;
    ASSERT_TRUE(ListDirectory(Restored(target), left));
    for (const TDirectoryEntry& entry : left) {
        EXPECT_NE(entry.Name.front(), '.') << entry.Name;
    }
}

}  // namespace
}  // namespace sejfko
