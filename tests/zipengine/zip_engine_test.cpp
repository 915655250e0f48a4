// The engine library through its C entry points, loaded as the archive component loads it.
#include <sys/stat.h>
#include <unistd.h>

#include <numeric>
#include <string>
#include <vector>

#include "archive/zip_reader.hpp"
#include "support/temp_dir.hpp"
#include "zipengine/engine_harness.hpp"

namespace sejfko::test {
namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

class TZipEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Engine.Exec, nullptr) << dlerror();
        Dir.WriteFile("src/b.txt", std::string(10, 'b'));
        Dir.WriteFile("src/a/empty", "");
        Dir.WriteFile("src/a/big.bin", std::string(5u << 20, 'x'));  // two pieces
        Archive = Dir / "out.zip";
    }
    TTempDir Dir;
    TEngineRun Engine;
    std::string Archive;
};

TEST_F(TZipEngineTest, ReportsVersion173) {
    ASSERT_NE(Engine.Version, nullptr);
    EXPECT_EQ(Engine.Version(), 173);
}

TEST_F(TZipEngineTest, CallbacksComeInArchiveOrderWithMatchingSums) {
    ASSERT_EQ(Engine.Run(Archive, {{Dir / "src/*.*", true}}), 3);
    const auto& calls = Engine.Calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.front().Action, zacSize);
    EXPECT_EQ(calls.front().Size, (5u << 20) + 10u);
    EXPECT_EQ(calls.back().Action, zacEndOfBatch);
    // Depth first, byte order: "a" sorts before "b.txt", "big.bin" before "empty".
    std::vector<std::string> items;
    std::vector<uint64_t> announced;
    std::vector<uint64_t> progressed;
    std::vector<int> reports;
    for (size_t i = 1; i + 1 < calls.size(); ++i) {
        if (calls[i].Action == zacItem) {
            items.push_back(calls[i].Text);
            announced.push_back(calls[i].Size);
            progressed.push_back(0);
            reports.push_back(0);
        } else {
            ASSERT_EQ(calls[i].Action, zacProgress);
            ASSERT_FALSE(items.empty()) << "progress before the first item";
            progressed.back() += calls[i].Size;
            ++reports.back();
        }
    }
    EXPECT_EQ(items, (std::vector<std::string>{Dir / "src/a/big.bin", Dir / "src/a/empty",
                                               Dir / "src/b.txt"}));
    EXPECT_EQ(progressed, announced);
    EXPECT_GE(reports[0], 2);  // per piece
    EXPECT_GE(*std::min_element(reports.begin(), reports.end()), 1);
    EXPECT_TRUE(Exists(Archive));
}

class TZipEngineStopTest : public TZipEngineTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(TZipEngineStopTest, MinusOneFromAnyCallbackStopsAndRemovesTheArchive) {
    const int32_t stopAt = GetParam();
    Engine.Hook = [&](const TCallbackCall& call) { return call.Action == stopAt ? -1 : 0; };
    EXPECT_LT(Engine.Run(Archive, {{Dir / "src/*.*", true}}), 0);
    EXPECT_FALSE(Exists(Archive));
    ASSERT_FALSE(Engine.Calls.empty());
    EXPECT_EQ(Engine.Calls.back().Action, stopAt) << "a callback after the stop";
}

INSTANTIATE_TEST_SUITE_P(Actions, TZipEngineStopTest,
                         ::testing::Values(zacSize, zacItem, zacProgress, zacEndOfBatch));

// Finding the files of a large tree takes long before the first size is known: the walk calls
// back now and then, and a stop there ends it at once.
TEST_F(TZipEngineTest, WalkOfALargeTreeTicksAndStopsAtTheFirstRefusal) {
    for (int d = 0; d < 10; ++d) {
        for (int f = 0; f < 100; ++f) {
            Dir.WriteFile("tree/d" + std::to_string(d) + "/f" + std::to_string(f), "x");
        }
    }
    ASSERT_EQ(Engine.Run(Archive, {{Dir / "tree/*.*", true}}), 1000);
    const std::size_t ticks = Engine.CallsOf(zacTick).size();
    EXPECT_GE(ticks, 3u);
    EXPECT_EQ(Engine.Calls[ticks].Action, zacSize) << "ticks come only while walking";

    Engine.Hook = [](const TCallbackCall& call) { return call.Action == zacTick ? -1 : 0; };
    EXPECT_LT(Engine.Run(Archive + "2", {{Dir / "tree/*.*", true}}), 0);
    ASSERT_EQ(Engine.Calls.size(), 1u);
    EXPECT_EQ(Engine.Calls[0].Action, zacTick);
    EXPECT_FALSE(Exists(Archive + "2"));

    // An incremental run names its files exactly, and there may be a million of them: each name
    // is looked at as an entry too.
    std::vector<TEngineRun::TSpecLine> exact;
    for (int d = 0; d < 10; ++d) {
        for (int f = 0; f < 100; ++f) {
            exact.emplace_back(Dir / ("tree/d" + std::to_string(d) + "/f" + std::to_string(f)),
                               false, "", true);
        }
    }
    EXPECT_LT(Engine.Run(Archive + "3", exact), 0);
    ASSERT_EQ(Engine.Calls.size(), 1u);
    EXPECT_EQ(Engine.Calls[0].Action, zacTick);
    EXPECT_FALSE(Exists(Archive + "3"));
}

TEST_F(TZipEngineTest, NothingMatchedMakesNoArchiveAndKeepsAnExistingOne) {
    Dir.WriteFile("out.zip", "old");
    EXPECT_EQ(Engine.Run(Archive, {{Dir / "src/*.none", true}, {Dir / "missing"}}), 0);
    ASSERT_EQ(Engine.Calls.size(), 2u);
    EXPECT_EQ(Engine.Calls[0].Action, zacSize);
    EXPECT_EQ(Engine.Calls[0].Size, 0u);
    EXPECT_EQ(Engine.Calls[1].Action, zacEndOfBatch);
    EXPECT_EQ(ReadWholeFile(Archive), "old");
}

TEST_F(TZipEngineTest, UnusableCommandIsFatal) {
    EXPECT_LT(Engine.Exec(nullptr), 0);
    Engine.Command = TZipCommand{};
    TZipCommand bad{};
    bad.Caller = &Engine;
    bad.Callback = [](TZipCallbackRecord* record) -> int32_t {
        static_cast<TEngineRun*>(record->Caller)
            ->Calls.push_back(
                {record->ActionCode, record->ErrorCode, record->Size, record->Text, {}});
        return 0;
    };
    bad.ZipFileName = Archive.c_str();
    bad.ArgCount = -1;
    EXPECT_LT(Engine.Exec(&bad), 0);
    ASSERT_EQ(Engine.Calls.size(), 1u);
    EXPECT_EQ(Engine.Calls[0].Action, zacMessage);
    EXPECT_EQ(Engine.Calls[0].Error, zecBadCommand);
}

TEST_F(TZipEngineTest, ArchiveThatCannotBeCreatedIsFatal) {
    EXPECT_LT(Engine.Run(Dir / "no/such/dir/out.zip", {{Dir / "src/b.txt"}}), 0);
    const auto messages = Engine.CallsOf(zacMessage);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Error, zecWrite);
    EXPECT_NE(messages[0].Text.find("out.zip"), std::string::npos);
}

// In a directory others can write to, a link or a second name put in place of the archive
// would have it written where they choose.
TEST_F(TZipEngineTest, ArchiveIsNeverWrittenThroughALinkOrIntoAFileWithOtherNames) {
    const std::string victim = Dir.WriteFile("victim", "precious");
    ASSERT_EQ(::symlink(victim.c_str(), (Dir / "link.zip").c_str()), 0);
    ASSERT_EQ(::link(victim.c_str(), (Dir / "hard.zip").c_str()), 0);
    for (const char* name : {"link.zip", "hard.zip"}) {
        EXPECT_LT(Engine.Run(Dir / name, {{Dir / "src/b.txt"}}), 0) << name;
        const auto messages = Engine.CallsOf(zacMessage);
        ASSERT_EQ(messages.size(), 1u) << name;
        EXPECT_EQ(messages[0].Error, zecWrite);
        EXPECT_NE(messages[0].Text.find("nelze vytvořit"), std::string::npos) << messages[0].Text;
        EXPECT_EQ(ReadWholeFile(victim), "precious") << name;
    }
}

// Links met in a walk and scanned links (AsLink) are stored as links: Unix type S_IFLNK, the
// target text stored, never followed, so a loop or a link out of the tree costs nothing. A
// scanned link that has become a directory is reported, not walked; one that became a file is
// that file.
TEST_F(TZipEngineTest, LinksAreStoredAsLinksNeverFollowed) {
    const std::string tree = Dir.MakeDir("t");
    ASSERT_EQ(::symlink("../src", (Dir / "t/out").c_str()), 0);
    ASSERT_EQ(::symlink(".", (Dir / "t/loop").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (Dir / "t/dangling").c_str()), 0);
    const std::string file = Dir.WriteFile("scanned/was-link", "now a file");
    const std::string link = Dir / "scanned/link";
    ASSERT_EQ(::symlink("../src/b.txt", link.c_str()), 0);
    const std::string directory = Dir.WriteFile("scanned/was-dir/inside", "x");
    EXPECT_EQ(Engine.Run(Archive, {{tree + "/*.*", true, Dir.Path()},
                                   {link, false, Dir.Path(), true, true},
                                   {file, false, Dir.Path(), true, true},
                                   {Dir / "scanned/was-dir", false, Dir.Path(), true, true}}),
              5);
    const auto messages = Engine.CallsOf(zacMessage);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Error, zecSkipped);
    EXPECT_EQ(messages[0].Text, Dir / "scanned/was-dir");

    TZipReader reader;
    reader.Open(Archive);
    std::vector<std::string> seen;
    for (const TZipDirEntry& entry : reader.Entries()) {
        std::string text;
        reader.ExtractTo(entry, [&](const char* data, size_t size) { text.append(data, size); });
        seen.push_back(entry.Name + (entry.IsSymlink() ? " -> " : " = ") + text);
        if (entry.IsSymlink()) {
            EXPECT_EQ(entry.Method, 0) << entry.Name;
            EXPECT_EQ(entry.ExternalAttributes >> 16, 0120777u) << entry.Name;
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"t/dangling -> nowhere", "t/loop -> .",
                                              "t/out -> ../src", "scanned/link -> ../src/b.txt",
                                              "scanned/was-link = now a file"}));
}

// A literal spec is a name someone found: "*" and "?" are bytes of it, blanks at its ends are
// kept, and when it is gone it is reported by its whole name, however long.
TEST_F(TZipEngineTest, LiteralSpecsAreExactNamesAndMissingOnesAreReportedWhole) {
    const std::string question = Dir.WriteFile("w/a?c", "q");
    Dir.WriteFile("w/abc", "not asked for");
    const std::string blank = Dir.WriteFile("w/x ", "blank");
    const std::string gone =
        Dir / ("w/" + std::string(250, 'g') + "/" + std::string(249, 'h') + " ");
    EXPECT_EQ(Engine.Run(
                  Archive,
                  {{question, false, {}, true}, {blank, false, {}, true}, {gone, false, {}, true}}),
              2);
    const auto items = Engine.CallsOf(zacItem);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Text, question);
    EXPECT_EQ(items[1].FullText, blank);
    const auto messages = Engine.CallsOf(zacMessage);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Error, zecSkipped);
    EXPECT_EQ(messages[0].FullText, gone);
    EXPECT_EQ(messages[0].Text.size(), sizeof(TZipCallbackRecord::Text) - 1);

    // Only vanished names: an archive that holds nothing, not "nothing matched".
    EXPECT_EQ(Engine.Run(Archive, {{gone, false, {}, true}}), 0);
    EXPECT_EQ(Engine.CallsOf(zacMessage).size(), 1u);
    EXPECT_EQ(RunCommand("/usr/bin/python3 -c 'import sys, zipfile; "
                         "assert zipfile.ZipFile(sys.argv[1]).namelist() == []' " +
                         Quote(Archive))
                  .first,
              0);
}

TEST_F(TZipEngineTest, NameTakenByAnotherFileIsReportedAndTheSameFileTakenOnce) {
    Dir.WriteFile("j/a/same.txt", "one");
    const std::string other = Dir.WriteFile("j/b/same.txt", "two");
    Engine.JunkDir = true;
    EXPECT_EQ(Engine.Run(Archive, {{Dir / "j/a/same.txt"}, {Dir / "j/*.*", true}}), 1);
    const auto messages = Engine.CallsOf(zacMessage);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Error, zecSkipped);
    EXPECT_EQ(messages[0].Text, other);
    EXPECT_EQ(Engine.CallsOf(zacItem).size(), 1u);
}

}  // namespace
}  // namespace sejfko::test
