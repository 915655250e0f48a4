// `sejfko-cli pack`: in-process through RunCli with captured output, and one run of the real
// executable, which finds the engine library beside itself.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "cli/cli_app.hpp"
#include "cli/cli_runner.hpp"
#include "cli/pack_command.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

using TRun = test::TCliRun;

TRun Pack(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "pack");
    return test::RunCliWith(std::move(arguments));
}

class PackCommand : public ::testing::Test {
protected:
    void SetUp() override {
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Dir.WriteFile("data/a.txt", std::string(500000, 'a'));
        Dir.WriteFile("data/sub/b.txt", "b");
    }
    void TearDown() override { SetZipEngineDirectory(""); }
    TTempDir Dir;
};

TEST_F(PackCommand, PacksIntoADirectoryWithProgressLines) {
    const TRun run = Pack({Dir / "out", Dir / "data"});
    EXPECT_EQ(run.Code, 0) << run.Out << run.Err;
    EXPECT_EQ(run.Out, "Záloha byla úspěšně dokončena.\n");
    EXPECT_EQ(run.Err.rfind("0 %\n", 0), 0u) << run.Err;
    EXPECT_NE(run.Err.find("\n100 %\n"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find('\r'), std::string::npos) << run.Err;
    const std::vector<std::string> archives = test::EntryNames(Dir / "out");
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(archives[0].rfind("Backup_", 0), 0u);
    EXPECT_NE(archives[0].find("_full.fbk"), std::string::npos);
}

TEST_F(PackCommand, TerminalGetsABarRedrawnInPlace) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunPackCommand({Dir / "x.fbk", Dir / "data"}, out, err, true), 0);
    const std::string bar = err.str();
    EXPECT_EQ(bar.rfind("\r[                    ] 0 %", 0), 0u) << bar;
    EXPECT_NE(bar.find("\r[####################] 100 %\n"), std::string::npos) << bar;
    EXPECT_TRUE(FileExists(Dir / "x.fbk"));
}

TEST_F(PackCommand, FailuresAndWrongUse) {
    const TRun nothing = Pack({Dir / "out", Dir / "missing"});
    EXPECT_EQ(nothing.Code, 1);
    EXPECT_EQ(nothing.Out,
              "Chyba při zálohování.\n\r(Nebyly nalezeny žádné soubory k zálohování.)\n");

    const TRun tooFew = Pack({Dir / "out"});
    EXPECT_EQ(tooFew.Code, 2);
    EXPECT_NE(tooFew.Err.find("pack"), std::string::npos);
    EXPECT_TRUE(test::EntryNames(Dir / "out").empty());
}

TEST_F(PackCommand, RealExecutableFindsTheEngineBesideIt) {
    const std::string command = std::string("'") + SEJFKO_CLI_PATH + "' pack '" + (Dir / "out") +
                                "' '" + (Dir / "data") + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[1024];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, count);
    }
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    EXPECT_EQ(out, "Záloha byla úspěšně dokončena.\n");
    const std::vector<std::string> archives = test::EntryNames(Dir / "out");
    ASSERT_EQ(archives.size(), 1u);
    const std::string test = "unzip -tq '" + (Dir / "out/") + archives[0] + "' >/dev/null";
    EXPECT_EQ(std::system(test.c_str()), 0);
}

}  // namespace
}  // namespace sejfko
