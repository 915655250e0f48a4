// Encrypted archives on the command line: pack with a password file, then verify and list with
// the right, a wrong or no password, from the file or from the configuration; status never shows
// a password.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "archive/backup_job.hpp"
#include "cli/cli_runner.hpp"
#include "config/options.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"
#include "zipengine/engine_harness.hpp"

namespace sejfko {
namespace {

using test::RunCliWith;
using test::TCliRun;
using test::TTempDir;

const std::string Password = "kůň-úpěl 42";

class EncryptedCli : public ::testing::Test {
protected:
    void SetUp() override {
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Dir.MakeDir("config");
        Dir.MakeDir("keyed");
        Dir.WriteFile("tree/a.txt", "alfa alfa alfa alfa\n");
        std::mt19937 random(3);
        std::string noise(200000, 0);
        for (char& c : noise) {
            c = static_cast<char>(random());
        }
        Dir.WriteFile("tree/sub/b.dat", noise);
        Right = Dir.WriteFile("right.txt", Password + "\n");
        // As an editor on Windows saves it; 7zz would take the CR as part of the password.
        RightCrLf = Dir.WriteFile("right-crlf.txt", Password + "\r\n");
        Wrong = Dir.WriteFile("wrong.txt", "jiné\n");
        Archive = Dir / "out.fbk";
        const TCliRun pack = RunCliWith({"pack", "--password-file", Right, Archive, Dir / "tree"});
        ASSERT_EQ(pack.Code, 0) << pack.Out << pack.Err;
    }
    void TearDown() override { SetZipEngineDirectory(""); }

    // Readers run on an empty configuration unless told otherwise, so that the user's own
    // configuration never lends them a password.
    TCliRun Read(const std::string& command, std::vector<std::string> arguments,
                 const std::string& config = {}) {
        arguments.insert(arguments.begin(), command);
        arguments.insert(arguments.begin(), config.empty() ? Dir / "config" : config);
        arguments.insert(arguments.begin(), "--config-dir");
        return RunCliWith(arguments);
    }

    TTempDir Dir;
    std::string Right;
    std::string RightCrLf;
    std::string Wrong;
    std::string Archive;
};

TEST_F(EncryptedCli, VerifyAndListWithRightWrongAndNoPassword) {
    EXPECT_EQ(
        test::RunCommand("7zz t -bso0 " + test::Quote(Archive) + " < " + test::Quote(Right)).first,
        0);
    TCliRun run = Read("verify", {"--password-file", RightCrLf, Archive});
    EXPECT_EQ(run.Code, 0) << run.Out;
    EXPECT_NE(run.Out.find(": OK\n"), std::string::npos);

    run = Read("verify", {"--password-file", Wrong, Archive});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Out.find("není správné"), std::string::npos) << run.Out;
    // One line for the archive, not one for every entry.
    EXPECT_EQ(run.Out.find("není správné"), run.Out.rfind("není správné"));

    run = Read("verify", {Archive});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Out.find("je třeba zadat heslo"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("--password-file"), std::string::npos) << run.Out;

    // The configured password serves when no file is given.
    TOptions keyed;
    keyed.Load(Dir / "keyed");
    keyed.SetArchivePassword(Password);
    run = Read("verify", {Archive}, Dir / "keyed");
    EXPECT_EQ(run.Code, 0) << run.Out;

    run = Read("list", {Archive});
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Out.find("AES-256   " + Dir.Path().substr(1) + "/tree/a.txt\n"),
              std::string::npos)
        << run.Out;
    run = Read("list", {"--password-file", Wrong, Archive});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("není správné"), std::string::npos) << run.Err;
    EXPECT_EQ(Read("list", {"--password-file", Right, Archive}).Code, 0);
    EXPECT_EQ(Read("list", {"--password-file"}).Code, 2);
    EXPECT_EQ(Read("verify", {"--password-file", Dir / "missing.txt", Archive}).Code, 1);
}

TEST_F(EncryptedCli, AFlippedByteFailsVerify) {
    std::string bytes = test::ReadWholeFile(Archive);
    const size_t at = bytes.size() / 3;  // inside the data of the large entry
    bytes[at] = static_cast<char>(bytes[at] ^ 1);
    const std::string damaged = Dir.WriteFile("damaged.fbk", bytes);
    const TCliRun run = Read("verify", {"--password-file", Right, damaged});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Out.find("kód ověření"), std::string::npos) << run.Out;
}

TEST_F(EncryptedCli, PackRefusesPasswordsItCouldNotKeep) {
    const std::string longer = Dir.WriteFile("long.txt", std::string(81, 'x') + "\n");
    TCliRun run = RunCliWith({"pack", "--password-file", longer, Dir / "long.fbk", Dir / "tree"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Out.find("delší než 80 bajtů"), std::string::npos) << run.Out;
    EXPECT_FALSE(FileExists(Dir / "long.fbk"));
    const std::string two = Dir.WriteFile("two.txt", "jedno\ndruhé\n");
    EXPECT_EQ(RunCliWith({"pack", "--password-file", two, Dir / "two.fbk", Dir / "tree"}).Code, 2);
    const std::string empty = Dir.WriteFile("empty.txt", "\n\n");
    run = RunCliWith({"pack", "--password-file", empty, Dir / "e.fbk", Dir / "tree"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("žádné heslo"), std::string::npos) << run.Err;
}

TEST(EncryptedCliStatus, NeitherPasswordIsShownAndTheFileStaysPrivate) {
    TTempDir dir;
    for (const auto& [remote, archive] : std::vector<std::pair<std::string, std::string>>{
             {"", "archivní tajemství"}, {"ftp tajemství", ""}, {"ftp tajemství", "archivní"}}) {
        ASSERT_EQ(
            RunCliWith({"--config-dir", dir.Path(), "config", "Remote password", remote}).Code, 0);
        ASSERT_EQ(
            RunCliWith({"--config-dir", dir.Path(), "config", "Archive password", archive}).Code,
            0);
        const TCliRun status = RunCliWith({"--config-dir", dir.Path(), "status"});
        ASSERT_EQ(status.Code, 0);
        EXPECT_EQ(status.Out.find("tajemství"), std::string::npos) << status.Out;
        EXPECT_EQ(status.Out.find("archivní"), std::string::npos) << status.Out;
        EXPECT_NE(status.Out.find(std::string("\nRemote password: ") +
                                  (remote.empty() ? "" : "********") + "\n"),
                  std::string::npos)
            << status.Out;
        EXPECT_NE(status.Out.find(std::string("\nArchive password: ") +
                                  (archive.empty() ? "" : "********") + "\n"),
                  std::string::npos)
            << status.Out;
        struct stat st {};
        ASSERT_EQ(stat((dir / "Options.ini").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

}  // namespace
}  // namespace sejfko

namespace sejfko {
namespace {

TEST(EncryptedCliConfig, ThePasswordCanBeSetFromAFile) {
    TTempDir dir;
    const std::string file = dir.WriteFile("heslo.txt", "ze souboru\r\n");
    ASSERT_EQ(
        RunCliWith({"--config-dir", dir.Path(), "config", "Archive password", "--value-file", file})
            .Code,
        0);
    EXPECT_EQ(RunCliWith({"--config-dir", dir.Path(), "config", "Archive password"}).Out,
              "ze souboru\n");
    EXPECT_EQ(RunCliWith({"--config-dir", dir.Path(), "config", "Archive password", "--value-file",
                          dir / "missing"})
                  .Code,
              1);
    EXPECT_EQ(RunCliWith({"--config-dir", dir.Path(), "config", "Archive password", "a", "b"}).Code,
              2);
}

}  // namespace
}  // namespace sejfko
