// Archives written by the engine, judged by readers no one here wrote: unzip, 7zz and Python's
// zipfile.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <random>

#include "support/local_time.hpp"
#include "support/temp_dir.hpp"
#include "zipengine/archive_readers.hpp"
#include "zipengine/engine_harness.hpp"

namespace sejfko::test {
namespace {

void SetTime(const std::string& path, int year, int month, int day, int hour, int minute,
             int second) {
    const std::time_t seconds = LocalSeconds(year, month, day, hour, minute, second);
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class TZipEngineIntegration : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Engine.Exec, nullptr) << dlerror(); }
    TTempDir Dir;
    TEngineRun Engine;
};

const std::string CZECH =
    "\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88";  // Žluťoučký kůň
const std::string BAD_NAME = "bad\xFF name.txt";

TEST_F(TZipEngineIntegration, MixedTreeIsReadByIndependentReaders) {
    const std::string root = Dir.MakeDir("tree");
    Dir.WriteFile("tree/empty.txt", "");
    Dir.WriteFile("tree/a/b/c/d/e/f/g/h/i/deep.txt", "deep");
    Dir.WriteFile("tree/" + CZECH +
                      "/\xC3\xBAp\xC4\x9Bl \xC3\xB3"
                      "dy.txt",
                  "czech");
    Dir.WriteFile("tree/with blanks/a b.txt", "blanks");
    Dir.WriteFile("tree/.profile", "hidden");
    Dir.WriteFile("tree/.cache/x.txt", "hidden dir");
    Dir.WriteFile("tree/" + BAD_NAME, "not utf-8");
    std::mt19937 generator(7);
    std::string noise(300000, 0);
    for (char& c : noise) {
        c = static_cast<char>(generator());
    }
    Dir.WriteFile("tree/photo.PNG", noise);
    Dir.WriteFile("tree/data.gz", noise.substr(1000));
    // 20 MiB spanning several pieces: text with some noise, so blocks of every kind occur.
    std::string big;
    while (big.size() < (20u << 20)) {
        big += "line " + std::to_string(big.size()) + " of the big file\n";
        big += noise.substr(big.size() % 200000, big.size() % 61);
    }
    Dir.WriteFile("tree/big.txt", big);
    ASSERT_EQ(mkfifo((Dir / "tree/pipe").c_str(), 0600), 0);
    SetTime(Dir / "tree/with blanks/a b.txt", 2021, 6, 15, 10, 20, 31);
    SetTime(Dir / "tree/empty.txt", 1975, 1, 1, 12, 0, 0);

    const std::string archive = Dir / "out.zip";
    ASSERT_EQ(Engine.Run(archive, {{root + "/*.*", true, root}}), 10);
    ExpectReadersAccept(archive);
    struct stat st {};
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const auto entries = ReadWithPython(archive);
    std::vector<std::string> names;
    for (const auto& [name, info] : entries) {
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{
                         ".cache/x.txt", ".profile", "a/b/c/d/e/f/g/h/i/deep.txt", BAD_NAME,
                         "big.txt", "data.gz", "empty.txt", "photo.PNG", "with blanks/a b.txt",
                         CZECH + "/\xC3\xBAp\xC4\x9Bl \xC3\xB3"
                                 "dy.txt"}));
    EXPECT_EQ(entries.at("empty.txt").Size, 0u);
    EXPECT_EQ(entries.at("empty.txt").DateTime, "1980-1-1_0:0:0");
    EXPECT_EQ(entries.at("with blanks/a b.txt").DateTime, "2021-6-15_10:20:30");
    EXPECT_EQ(entries.at(BAD_NAME).Flags & 0x800, 0);
    EXPECT_EQ(entries.at(CZECH + "/\xC3\xBAp\xC4\x9Bl \xC3\xB3"
                                 "dy.txt")
                      .Flags &
                  0x800,
              0x800);
    EXPECT_EQ(entries.at("photo.PNG").Method, 0);
    EXPECT_EQ(entries.at("data.gz").Method, 0);
    EXPECT_EQ(entries.at("big.txt").Method, 8);
    EXPECT_EQ(entries.at("big.txt").Size, big.size());
    EXPECT_EQ(entries.at("big.txt").Sha, Sha256(Dir / "tree/big.txt"));
    EXPECT_EQ(entries.at("photo.PNG").Sha, Sha256(Dir / "tree/photo.PNG"));
}

struct TNamingCase {
    bool Hidden;
    bool JunkDir;
    bool UseRoot;
    std::vector<std::string> Expected;  // "%" stands for the tree's path without its "/"
};

class TZipEngineNaming : public TZipEngineIntegration,
                         public ::testing::WithParamInterface<TNamingCase> {};

TEST_P(TZipEngineNaming, StoredNamesFollowTheCommand) {
    const TNamingCase c = GetParam();
    const std::string root = Dir.MakeDir("t");
    Dir.WriteFile("t/.dot", "x");
    Dir.WriteFile("t/sub/f.txt", "x");
    Dir.WriteFile("t/sub/.hid/g.txt", "x");
    Engine.Hidden = c.Hidden;
    Engine.JunkDir = c.JunkDir;
    const std::string archive = Dir / "n.zip";
    Engine.Run(archive, {{root + "/*.*", true, c.UseRoot ? root : ""}});
    std::vector<std::string> names;
    for (const auto& [name, info] : ReadWithPython(archive, false)) {
        names.push_back(name);
    }
    std::vector<std::string> expected;
    for (std::string name : c.Expected) {
        if (name[0] == '%') {
            name = root.substr(1) + name.substr(1);
        }
        expected.push_back(name);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TZipEngineNaming,
    ::testing::Values(TNamingCase{false, false, true, {"sub/f.txt"}},
                      TNamingCase{true, false, true, {".dot", "sub/.hid/g.txt", "sub/f.txt"}},
                      TNamingCase{false, false, false, {"%/sub/f.txt"}},
                      TNamingCase{true, true, false, {".dot", "f.txt", "g.txt"}}));

TEST_F(TZipEngineIntegration, FileRemovedBeforeItIsReadIsSkippedByName) {
    const std::string root = Dir.MakeDir("t");
    Dir.WriteFile("t/a.txt", "a");
    const std::string victim = Dir.WriteFile("t/b.txt", "b");
    Dir.WriteFile("t/c.txt", "c");
    // After the walk, before any file is opened (files are read ahead of the callbacks).
    Engine.Hook = [&](const TCallbackCall& call) {
        if (call.Action == zacSize) {
            unlink(victim.c_str());
        }
        return 0;
    };
    const std::string archive = Dir / "s.zip";
    EXPECT_EQ(Engine.Run(archive, {{root + "/*.*", false, root}}), 2);
    const auto messages = Engine.CallsOf(zacMessage);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Error, zecSkipped);
    EXPECT_EQ(messages[0].Text, victim);
    ExpectReadersAccept(archive);
    const auto entries = ReadWithPython(archive);
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.count("b.txt"), 0u);
}

TEST_F(TZipEngineIntegration, FilesResizedAfterTheWalkAreTakenAsTheyAreWhenRead) {
    const std::string root = Dir.MakeDir("t");
    const std::string grows = Dir.WriteFile("t/grows.txt", "small");
    const std::string shrinks = Dir.WriteFile("t/shrinks.bin", std::string(9u << 20, 's'));
    Dir.WriteFile("t/z.txt", "after");
    Engine.Hook = [&](const TCallbackCall& call) {
        if (call.Action == zacSize) {
            std::ofstream(grows, std::ios::app) << std::string(9u << 20, 'g');
            EXPECT_EQ(truncate(shrinks.c_str(), 7), 0);
        }
        return 0;
    };
    const std::string archive = Dir / "r.zip";
    ASSERT_EQ(Engine.Run(archive, {{root + "/*.*", false, root}}), 3);
    EXPECT_TRUE(Engine.CallsOf(zacMessage).empty());
    uint64_t progress = 0;
    for (const TCallbackCall& call : Engine.CallsOf(zacProgress)) {
        progress += call.Size;
    }
    EXPECT_EQ(progress, Engine.Calls.front().Size) << "progress must add up to the total";
    ExpectReadersAccept(archive);
    const auto entries = ReadWithPython(archive);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries.at("grows.txt").Size, 5u + (9u << 20));
    EXPECT_EQ(entries.at("shrinks.bin").Size, 7u);
    EXPECT_EQ(entries.at("z.txt").Size, 5u);
}

TEST_F(TZipEngineIntegration, MoreThan65535FilesUseZip64Count) {
    const std::string root = Dir.MakeDir("many");
    constexpr int count = 66000;
    for (int i = 0; i < count; ++i) {
        const std::string path = root + "/" + std::to_string(i);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, path.data(), path.size()), static_cast<ssize_t>(path.size()));
        close(fd);
    }
    const std::string archive = Dir / "many.zip";
    ASSERT_EQ(Engine.Run(archive, {{root + "/*.*", false, root}}), count);
    ExpectReadersAccept(archive);
    EXPECT_EQ(ReadWithPython(archive, false).size(), static_cast<size_t>(count));
}

}  // namespace
}  // namespace sejfko::test
