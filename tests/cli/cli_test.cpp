#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <sstream>
#include <vector>

#include "cli/cli_app.hpp"
#include "cli/cli_runner.hpp"
#include "cli/option_keys.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "platform/locale_format.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

using test::RunCliWith;
using TRun = test::TCliRun;

TEST(Cli, StatusOnAFreshDirectoryShowsDefaults) {
    TTempDir dir;
    TRun run = RunCliWith({"--config-dir", dir.Path(), "status"});
    EXPECT_EQ(run.Code, 0) << run.Err;
    for (const char* line :
         {"\nRun every(Days): 1\n", "\nIn time: 00:00:00\n", "\nBackup kind: 0\n",
          "\nBackup count: 10\n", "\nRemote password: \n", "\nLast run: Nikdy\n",
          "\nFile count for transfer: 0\n", "\nLast transfer: Nikdy\n"}) {
        EXPECT_NE(run.Out.find(line), std::string::npos) << line << "\n" << run.Out;
    }
    EXPECT_EQ(run.Err, "");
    EXPECT_FALSE(FileExists(dir / "Options.ini"));
}

TEST(Cli, StatusListsEveryKeyOnce) {
    TTempDir dir;
    TRun run = RunCliWith({"--config-dir", dir.Path(), "status"});
    for (const TOptionKey& key : OptionKeys()) {
        std::string label = "\n" + std::string(key.Key) + ": ";
        std::size_t at = run.Out.find(label);
        EXPECT_NE(at, std::string::npos) << key.Key;
        EXPECT_EQ(run.Out.find(label, at + 1), std::string::npos) << key.Key;
    }
    EXPECT_EQ(OptionKeys().size(), 20u);
}

TEST(Cli, ConfigWritesAndReadsOneKey) {
    TTempDir dir;
    const TLocaleFormat& locale = UserLocale();
    const std::string when = locale.FormatFloat(45000.5);
    struct TStep {
        std::vector<std::string> Write;
        std::string ReadKey;
        std::string Expected;
    };
    const TStep steps[] = {
        {{"Backup count", "12"}, "backup COUNT", "12"},
        {{"Backup count", "0x1F"}, "Backup count", "31"},
        {{"Remote password", "tajné"}, "Remote password", "tajné"},
        {{"Saving kind", "1"}, "Saving kind", "1"},
        {{"Last run", when}, "Last run", when},
        {{"FTP security", "1"}, "ftp security", "1"},
        {{"FTP certificate", std::string(31, 'A') + ":" + std::string(33, 'b')},
         "FTP certificate",
         std::string(31, 'A') + ":" + std::string(33, 'b')},
    };
    for (const TStep& step : steps) {
        std::vector<std::string> write = {"--config-dir", dir.Path(), "config"};
        write.insert(write.end(), step.Write.begin(), step.Write.end());
        TRun written = RunCliWith(write);
        EXPECT_EQ(written.Code, 0) << written.Err;
        TRun read = RunCliWith({"--config-dir", dir.Path(), "config", step.ReadKey});
        EXPECT_EQ(read.Code, 0);
        EXPECT_EQ(read.Out, step.Expected + "\n");
    }
    TRun status = RunCliWith({"--config-dir=" + dir.Path(), "status"});
    EXPECT_NE(status.Out.find("\nBackup count: 31\n"), std::string::npos);
    EXPECT_NE(status.Out.find("\nRemote password: ********\n"), std::string::npos);
    EXPECT_EQ(status.Out.find("tajné"), std::string::npos);
    EXPECT_NE(status.Out.find("\nLast run: " + locale.FormatDisplay(45000.5) + "\n"),
              std::string::npos);
}

TEST(Cli, ConfigRefusesAPinThatIsNoFingerprint) {
    TTempDir dir;
    for (const std::string& bad :
         {std::string("AB:CD"), std::string(64, 'g'), std::string(66, 'a')}) {
        TRun run = RunCliWith({"--config-dir", dir.Path(), "config", "FTP certificate", bad});
        EXPECT_NE(run.Code, 0) << bad;
        EXPECT_NE(run.Err.find("SHA-256"), std::string::npos) << run.Err;
    }
    EXPECT_FALSE(FileExists(dir / "Options.ini"));
    EXPECT_EQ(RunCliWith({"--config-dir", dir.Path(), "config", "FTP certificate", ""}).Code, 0);
}

TEST(Cli, LastRunAtTheNeverThresholdShowsNikdy) {
    TTempDir dir;
    const TLocaleFormat& locale = UserLocale();
    RunCliWith({"--config-dir", dir.Path(), "config", "Last run", locale.FormatFloat(100.0)});
    RunCliWith({"--config-dir", dir.Path(), "config", "Last transfer", locale.FormatFloat(0.5)});
    TRun status = RunCliWith({"--config-dir", dir.Path(), "status"});
    EXPECT_NE(status.Out.find("\nLast run: Nikdy\n"), std::string::npos);
    EXPECT_NE(status.Out.find("\nLast transfer: " + locale.FormatDisplay(0.5) + "\n"),
              std::string::npos);
}

struct TMisuse {
    const char* Name;
    std::vector<std::string> Arguments;  // after --config-dir DIR
    const char* Message;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TMisuse& c, std::ostream* out) {
    *out << c.Name;
}

class CliMisuseTest : public testing::TestWithParam<TMisuse> {};

TEST_P(CliMisuseTest, ExitsWithTwo) {
    TTempDir dir;
    std::vector<std::string> arguments = {"--config-dir", dir.Path()};
    arguments.insert(arguments.end(), GetParam().Arguments.begin(), GetParam().Arguments.end());
    TRun run = RunCliWith(arguments);
    EXPECT_EQ(run.Code, 2);
    EXPECT_NE(run.Err.find(GetParam().Message), std::string::npos) << run.Err;
    EXPECT_FALSE(FileExists(dir / "Options.ini"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliMisuseTest,
    testing::Values(TMisuse{"NoCommand", {}, "Použití:"},
                    TMisuse{"UnknownCommand", {"backup-now"}, "Neznámý příkaz \"backup-now\""},
                    TMisuse{
                        "UnknownKey", {"config", "Backup counts", "3"}, "Neznámý klíč nastavení"},
                    TMisuse{"NotAnInteger", {"config", "Backup count", "many"}, "Neplatná hodnota"},
                    TMisuse{"KindOutsideTable", {"config", "Backup kind", "3"}, "Neplatná hodnota"},
                    TMisuse{"NotADateTime", {"config", "Last run", "včera"}, "Neplatná hodnota"},
                    TMisuse{"TooManyArguments", {"config", "Backup count", "1", "2"}, "Použití:"},
                    TMisuse{"UnknownOption", {"--verbose", "status"}, "Neznámá volba"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Cli, HelpAndNoArguments) {
    TRun help = RunCliWith({"--help"});
    EXPECT_EQ(help.Code, 0);
    EXPECT_NE(help.Out.find("config \"KLÍČ\" [HODNOTA"), std::string::npos);
    TRun none = RunCliWith({});
    EXPECT_EQ(none.Code, 2);
    EXPECT_NE(none.Err.find("Použití:"), std::string::npos);
}

TEST(Cli, WriteErrorExitsWithOne) {
    TTempDir dir;
    TScopedFault fault(FailUnder(dir.Path(), TFileOperation::Create, EACCES));
    TRun run = RunCliWith({"--config-dir", dir.Path(), "config", "Remote host", "h"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_EQ(run.Err, "Unable to write to " + dir / "Options.ini" + "\n");
}

}  // namespace
}  // namespace sejfko
