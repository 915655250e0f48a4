#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "archive/zip_read_fixtures.hpp"
#include "cli/cli_app.hpp"
#include "cli/cli_runner.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

using test::RunCliWith;
using TRun = test::TCliRun;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A copy of the sample with one byte of stored.bin's data changed.
std::string DamagedCopy(const TTempDir& dir, const std::string& good) {
    std::string bytes = test::ReadWholeFile(good);
    bytes[bytes.find("STORED-MARK!")] ^= 1;
    const std::string path = dir / "damaged.zip";
    test::WriteBytes(path, bytes);
    return path;
}

TEST(CliList, ShowsEveryEntryWithSizesDateAndCrc) {
    TTempDir dir;
    const std::string archive = test::WritePythonSample(dir);
    TRun run = RunCliWith({"list", archive});
    ASSERT_EQ(run.Code, 0) << run.Err;
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 1 + 5 + 2u) << run.Out;
    EXPECT_NE(lines[0].find("Velikost"), std::string::npos);
    EXPECT_NE(lines[0].find("CRC"), std::string::npos);
    // size, compressed size, date, CRC, name; the empty file's CRC is 0.
    EXPECT_EQ(lines[3], "             0             2  2020-05-17 13:45:30  00000000  empty.txt");
    EXPECT_NE(lines[2].find("  5000  2020-05-17 13:45:30  "), std::string::npos) << lines[2];
    EXPECT_NE(lines[5].find("  složka/žluťoučký kůň.txt"), std::string::npos) << lines[5];
    EXPECT_EQ(lines[6].rfind("Položek: 5,", 0), 0u) << lines[6];
    EXPECT_EQ(lines[7], "Komentář: Záloha");
}

TEST(CliList, ControlCharactersInNamesAreNotPrinted) {
    TTempDir dir;
    ASSERT_TRUE(test::RunPython(dir, R"(
import zipfile
with zipfile.ZipFile("odd.zip", "w") as z:
    z.writestr("a\x1b[2Jb\nc", b"x")
)"));
    TRun run = RunCliWith({"list", dir / "odd.zip"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Out.find("a?[2Jb?c\n"), std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find('\x1b'), std::string::npos);
}

TEST(CliVerify, SoundArchivesPassAndDamagedEntriesAreNamed) {
    TTempDir dir;
    const std::string good = test::WritePythonSample(dir);
    const std::string damaged = DamagedCopy(dir, good);
    const std::string notZip = dir.WriteFile("plain.txt", "not an archive");

    TRun run = RunCliWith({"verify", good});
    EXPECT_EQ(run.Code, 0) << run.Out << run.Err;
    EXPECT_EQ(run.Out, good + ": OK\n");

    run = RunCliWith({"verify", good, damaged, notZip});
    EXPECT_EQ(run.Code, 1);
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 5u) << run.Out;
    EXPECT_EQ(lines[0], good + ": OK");
    EXPECT_EQ(lines[1], damaged + ": CHYBA");
    EXPECT_NE(lines[2].find("\"stored.bin\""), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("CRC"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3], notZip + ": CHYBA");
    EXPECT_NE(lines[4].find("není archiv zip"), std::string::npos) << lines[4];
}

TEST(CliListVerify, WrongUseAndUnreadableArchives) {
    TTempDir dir;
    const std::string archive = test::WritePythonSample(dir);
    EXPECT_EQ(RunCliWith({"list"}).Code, 2);
    EXPECT_EQ(RunCliWith({"list", archive, archive}).Code, 2);
    EXPECT_EQ(RunCliWith({"verify"}).Code, 2);
    TRun run = RunCliWith({"list", dir / "missing.zip"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("missing.zip"), std::string::npos) << run.Err;
    EXPECT_EQ(RunCliWith({"verify", dir / "missing.zip"}).Code, 1);
    // The archive commands need no configuration, even an unusable one.
    EXPECT_EQ(RunCliWith({"--config-dir", dir / "nowhere/at/all", "list", archive}).Code, 0);
}

}  // namespace
}  // namespace sejfko
