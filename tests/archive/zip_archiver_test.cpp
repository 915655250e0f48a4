#include "archive/zip_archiver.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "archive/fake_engine/fake_engine_handle.hpp"
#include "archive/zip_archiver_command.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TFakeCallback;
using test::TFakeEngine;

constexpr uint64_t GiB = 1ull << 30;
const char* const DefaultSuffixes =
    ".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha:.rar:.ace:.cab:.gz:.gzip:.jar";

// A valid archive: no entries, only the end record with `comment`.
std::string EmptyZip(const std::string& comment = {}) {
    std::string bytes("PK\x05\x06", 4);
    bytes.append(16, '\0');
    bytes += static_cast<char>(comment.size());
    bytes += '\0';
    return bytes + comment;
}

class TZipArchiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fake.Reset();
        Archiver.DLLDirectory = test::FakeEngineDirectory();
        Archiver.Unattended = true;
        Archiver.SetZipFileName(Temp / "a.zip");
        Archiver.FSpecArgs = {"/data/file.txt"};
    }
    void Script(std::vector<TFakeCallback> callbacks) { Fake.Script().Callbacks = callbacks; }
    const TZipCommand& Command() const { return Fake.Record().Command; }

    TFakeEngine& Fake = TFakeEngine::Instance();
    test::TTempDir Temp;
    TZipArchiver Archiver;
};

TEST_F(TZipArchiverTest, CommandRecordWithTheJobsSettings) {
    Archiver.AddOptions = {AddDirNames, AddHiddenFiles};
    Archiver.FSpecArgs = {">/data/dir/*.*", "  /data/file.txt \t"};
    EXPECT_EQ(Archiver.Add(), 0);
    ASSERT_EQ(Fake.Record().Calls, 1);
    const TZipCommand& c = Command();
    EXPECT_EQ(c.Handle, 0);
    EXPECT_EQ(c.Caller, &Archiver);
    EXPECT_EQ(c.Version, 173);
    EXPECT_NE(c.Callback, nullptr);
    const std::vector<int32_t> flags{c.Trace,  c.Encrypt,       c.Volume,     c.Extra,
                                     c.Date,   c.Verbose,       c.ForceDos,   c.Move,
                                     c.Update, c.Freshen,       c.LatestTime, c.ComprSpecial,
                                     c.Krypt,  c.DeleteEntries, c.JunkSfx,    c.Reserved1};
    EXPECT_EQ(flags, std::vector<int32_t>(flags.size(), 0));
    EXPECT_EQ(c.System, -1);
    EXPECT_EQ(c.NoDirEntries, -1);
    EXPECT_EQ(c.Quiet, -1);
    EXPECT_EQ(c.Level, 9);
    EXPECT_EQ(c.JunkDir, 0);
    EXPECT_EQ(c.Recurse, 0);
    EXPECT_EQ(c.Force, -1);
    EXPECT_EQ(c.HowToDelete, -1);
    EXPECT_EQ(c.CodePage, 0);
    EXPECT_EQ(c.Fixed, 7);
    EXPECT_EQ(std::string(c.FromDate, 8), "12 30 99");
    EXPECT_EQ(c.ArchiveOnly + c.ResetArchive, 0);
    EXPECT_EQ(c.ExcludeCount, 0);
    EXPECT_TRUE(Fake.Record().ExcludesNull);
    for (intptr_t stream : c.Streams) {
        EXPECT_EQ(stream, 0);
    }
    EXPECT_EQ(Fake.Record().StoreSuffixes, DefaultSuffixes);
    EXPECT_EQ(Fake.Record().ZipFileName, Temp / "a.zip");
    EXPECT_FALSE(Fake.Record().Password || Fake.Record().TempDir || Fake.Record().Comment);
    ASSERT_EQ(c.ArgCount, 2);
    const auto& specs = Fake.Record().Specs;
    ASSERT_EQ(specs.size(), 2u);
    EXPECT_EQ(specs[0].Text, "/data/dir/*.*");
    EXPECT_EQ(specs[0].Recurse, 0xFFFF);
    EXPECT_EQ(specs[1].Text, "/data/file.txt");
    EXPECT_EQ(specs[1].Recurse, 0);
    EXPECT_FALSE(specs[0].Password || specs[0].RootDir);
    EXPECT_TRUE(Archiver.FSpecArgs.empty());
}

struct TFlagCase {
    const char* Name;
    std::function<void(TZipArchiver&)> Set;
    std::function<int64_t(const TZipCommand&)> Field;
    int64_t Expected;
};

class TZipCommandFlagTest : public TZipArchiverTest,
                            public ::testing::WithParamInterface<TFlagCase> {};

TEST_P(TZipCommandFlagTest, SettingReachesItsField) {
    GetParam().Set(Archiver);
    Archiver.Add();
    ASSERT_EQ(Fake.Record().Calls, 1);
    EXPECT_EQ(GetParam().Field(Command()), GetParam().Expected);
}

#define FIELD(name) [](const TZipCommand& c) -> int64_t { return c.name; }
#define OPTIONS(...) [](TZipArchiver& a) { a.AddOptions = {__VA_ARGS__}; }

INSTANTIATE_TEST_SUITE_P(
    Settings, TZipCommandFlagTest,
    ::testing::Values(
        TFlagCase{"Recurse", OPTIONS(AddRecurseDirs), FIELD(Recurse), 0xFFFF},
        TFlagCase{"SeparateDirs", OPTIONS(AddSeparateDirs), FIELD(NoDirEntries), 0},
        TFlagCase{"Safe", OPTIONS(AddSafe), FIELD(Force), 0},
        TFlagCase{"NoDirNames", OPTIONS(AddHiddenFiles), FIELD(JunkDir), -1},
        TFlagCase{"UpdateWinsFreshen", OPTIONS(AddUpdate, AddFreshen), FIELD(Freshen), 0},
        TFlagCase{"Freshen", OPTIONS(AddFreshen), FIELD(Freshen), -1},
        TFlagCase{"ArchiveOnly", OPTIONS(AddArchiveOnly), FIELD(ArchiveOnly), 1},
        TFlagCase{"ZipTime", OPTIONS(AddZipTime), FIELD(LatestTime), -1},
        TFlagCase{"Level", [](TZipArchiver& a) { a.AddCompLevel = 3; }, FIELD(Level), 3},
        TFlagCase{"TraceIsVerbose", [](TZipArchiver& a) { a.Trace = true; }, FIELD(Verbose), -1},
        TFlagCase{"Oem", [](TZipArchiver& a) { a.CodePage = cpOEM; }, FIELD(CodePage), 2},
        TFlagCase{"Final", [](TZipArchiver& a) { a.HowToDelete = htdFinal; }, FIELD(HowToDelete),
                  0},
        TFlagCase{"Window",
                  [](TZipArchiver& a) {
                      a.Unattended = false;
                      a.WindowHandle = 77;
                  },
                  FIELD(Handle), 77}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TZipArchiverTest, TextsPasswordRootAndExclusionsAreCopied) {
    Archiver.Password = std::string(100, 'p');
    Archiver.AddOptions = {AddEncrypt};
    Archiver.TempDir = "/var/tmp";
    Archiver.RootDir = "relative/root";
    Archiver.FSpecArgs = {"|/data/a<b"};
    Archiver.FSpecArgsExcl = {"*.tmp", "*.bak"};
    Archiver.AddStoreSuffixes = TAddStoreSuffixes{assGIF, assEXE, assEXT};
    Archiver.ExtAddStoreSuffixes = ".iso:";
    Archiver.Add();
    const auto& record = Fake.Record();
    EXPECT_EQ(record.Password, std::string(80, 'p'));
    EXPECT_EQ(record.TempDir, "/var/tmp");
    EXPECT_EQ(record.StoreSuffixes, ".gif:.exe:.iso");
    EXPECT_EQ(record.Excludes, (std::vector<std::string>{"*.tmp", "*.bak"}));
    ASSERT_EQ(record.Specs.size(), 1u);
    EXPECT_EQ(record.Specs[0].Text, "/data/a<b");  // "<" is part of a POSIX name
    EXPECT_EQ(record.Specs[0].Password, record.Password);
    EXPECT_EQ(record.Specs[0].Encrypt, -1);
    ASSERT_TRUE(record.Specs[0].RootDir);
    EXPECT_EQ(record.Specs[0].RootDir->front(), '/');
    EXPECT_TRUE(record.Specs[0].RootDir->ends_with("/relative/root"));
}

TEST_F(TZipArchiverTest, ExtrasPerSpecSetTheRootAndTakeLiteralLinesWhole) {
    Archiver.RootDir = "/common";
    Archiver.FSpecArgs = {"/data/a", "/private/list", ">/data/b?\t ", ">/data/c "};
    // Shorter than FSpecArgs: the rest use the defaults.
    Archiver.FSpecExtras = {{}, {"/private", false}, {"", true}};
    Archiver.Add();
    const auto& specs = Fake.Record().Specs;
    ASSERT_EQ(specs.size(), 4u);
    ASSERT_TRUE(specs[0].RootDir && specs[1].RootDir && specs[2].RootDir && specs[3].RootDir);
    EXPECT_EQ(*specs[0].RootDir, "/common");
    EXPECT_EQ(*specs[1].RootDir, "/private");
    EXPECT_EQ(*specs[2].RootDir, "/common");
    // A literal line is one exact name: its ">" and blanks are bytes of the name.
    EXPECT_EQ(specs[2].Text, ">/data/b?\t ");
    EXPECT_EQ(specs[2].Literal, 1);
    EXPECT_EQ(specs[2].Recurse, 0);
    EXPECT_EQ(specs[3].Text, "/data/c");
    EXPECT_EQ(specs[3].Literal, 0);
    EXPECT_EQ(specs[3].Recurse, 0xFFFF);
    EXPECT_TRUE(Archiver.FSpecExtras.empty());  // cleared with FSpecArgs after the add
}

TEST(TZipArchiverCommandTest, SuffixListAndDate) {
    EXPECT_EQ(StoreSuffixList(TZipArchiver::DefaultStoreSuffixes(), ".x:"), DefaultSuffixes);
    EXPECT_EQ(StoreSuffixList({}, ".x:"), "");
    EXPECT_EQ(StoreSuffixList({assEXT}, ".x:.y:"), ".x:.y");
    EXPECT_EQ(FormatFromDate(EncodeDate(2024, 1, 31)), "01 31 24");
}

struct TPerCentCase {
    uint64_t Done;
    uint64_t Total;
    int32_t Expected;
};

class TZipPerCentTest : public ::testing::TestWithParam<TPerCentCase> {};

TEST_P(TZipPerCentTest, Formula) {
    EXPECT_EQ(ZipPerCent(GetParam().Done, GetParam().Total), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TZipPerCentTest,
    ::testing::Values(TPerCentCase{0, 0, 0}, TPerCentCase{0, 100, 0}, TPerCentCase{5, 0, 0},
                      TPerCentCase{1, 3, 33}, TPerCentCase{300, 200, 150},
                      TPerCentCase{214746, 214747, 99}, TPerCentCase{214747, 214747, 100},
                      // At 214748 the total is divided first: 107373 / 2147, not 49.
                      TPerCentCase{107373, 214748, 50}, TPerCentCase{214748, 214748, 100},
                      TPerCentCase{3 * GiB, 6 * GiB, 50}, TPerCentCase{5 * GiB, 4 * GiB, 125}));

TEST_F(TZipArchiverTest, ProgressEventsCarry64BitCountersAndEndWithMinusOne) {
    std::vector<std::pair<uint64_t, int32_t>> totals;
    std::vector<std::string> items;
    Archiver.OnTotalProgress = [&](TZipArchiver*, uint64_t size, int32_t perCent) {
        totals.emplace_back(size, perCent);
    };
    Archiver.OnItemProgress = [&](TZipArchiver*, const std::string& item, uint64_t, int32_t) {
        items.push_back(item);
    };
    Script({{zacSize, 0, 6 * GiB, {}},
            {zacItem, 0, 6 * GiB, "/data/big.img \r\n"},
            {zacProgress, 0, 3 * GiB, {}},
            {zacProgress, 0, 3 * GiB, {}},
            {zacEndOfBatch, 0, 0, {}}});
    Archiver.Add();
    EXPECT_EQ(totals,
              (std::vector<std::pair<uint64_t, int32_t>>{{6 * GiB, 50}, {6 * GiB, 100}, {0, -1}}));
    EXPECT_EQ(items,
              (std::vector<std::string>{"/data/big.img", "/data/big.img", "/data/big.img", ""}));
    EXPECT_EQ(Fake.Record().Answers, std::vector<int32_t>(5, 0));
    EXPECT_EQ(Fake.Record().CallerMatches, std::vector<bool>(5, true));
}

TEST_F(TZipArchiverTest, CounterOverflowStopsTheBatch) {
    Script({{zacProgress, 0, 2, {}}, {zacProgress, 0, std::numeric_limits<uint64_t>::max(), {}}});
    Archiver.Add();
    EXPECT_EQ(Fake.Record().Answers, (std::vector<int32_t>{0, -1}));
    EXPECT_EQ(Archiver.EventErrorText().rfind(" #2 \"", 0), 0u);
}

TEST_F(TZipArchiverTest, ThrowingHandlerStopsTheBatchAndAddReturnsNormally) {
    Archiver.OnTotalProgress = [](TZipArchiver*, uint64_t, int32_t) {
        throw std::runtime_error("Terminate backup");
    };
    Fake.Script().StopOnMinusOne = false;
    Script({{zacSize, 0, 1000, {}}, {zacProgress, 0, 500, {}}, {zacMessage, 0x309, 0, "stopped"}});
    EXPECT_EQ(Archiver.Add(), 9);
    EXPECT_EQ(Fake.Record().Answers, (std::vector<int32_t>{0, -1, -1}));
    EXPECT_EQ(Archiver.EventErrorText(), " #2 \"Terminate backup\"");
    EXPECT_EQ(Archiver.ErrorMessage(), "Exception in Event  #2 \"Terminate backup\"");
    EXPECT_EQ(Archiver.AddedCount(), 0);
}

TEST_F(TZipArchiverTest, AfterCallbackSeesTheRecordAndMayAbort) {
    std::vector<TCallBackInfo> seen;
    Archiver.OnAfterCallback = [&](const TCallBackInfo& info, bool& abort) {
        seen.push_back(info);
        EXPECT_FALSE(abort);
        abort = info.ActionCode == zacItem;
    };
    Script({{zacTick, 0, 0, {}}, {zacItem, 0, 42, "/x/y"}, {zacTick, 0, 0, {}}});
    Archiver.Add();
    EXPECT_EQ(Fake.Record().Answers, (std::vector<int32_t>{0, -1}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].Sender, &Archiver);
    EXPECT_EQ(seen[1].Text, "/x/y");
    EXPECT_EQ(seen[1].Size, 42u);
}

TEST_F(TZipArchiverTest, AddFromAnEventHandlerIsRefusedAsBusy) {
    int32_t inner = 0;
    Archiver.OnTick = [&](TZipArchiver* sender) { inner = sender->Add(); };
    Script({{zacTick, 0, 0, {}}});
    Archiver.Add();
    EXPECT_EQ(inner, -255);
    EXPECT_EQ(Fake.Record().Calls, 1);
    Archiver.FSpecArgs = {"/data/file.txt"};
    Archiver.OnTick = nullptr;
    EXPECT_EQ(Archiver.Add(), 0);
    EXPECT_EQ(Fake.Record().Calls, 2);
}

TEST_F(TZipArchiverTest, SkippedFilesAreCollectedAndTheArchiveReRead) {
    std::vector<std::pair<int32_t, std::string>> messages;
    Archiver.OnMessage = [&](TZipArchiver*, int32_t code, const std::string& text) {
        messages.emplace_back(code, text);
    };
    std::string longName(sizeof(TZipCallbackRecord::Text), 'n');  // fills the text, no terminator
    const std::string longer = "/data/" + std::string(700, 'x') + " ";
    Script({{zacMessage, zecSkipped, 0, "/data/gone.txt  "},
            {zacMessage, 0x100 | zecSkipped, 0, longName},
            {zacMessage, zecSkipped, 0, longer.substr(0, 511), longer}});
    Fake.Script().Result = 1;
    Fake.Script().ArchiveBytes = EmptyZip("hello");
    EXPECT_EQ(Archiver.Add(), 0);
    EXPECT_EQ(Archiver.AddedCount(), 1);
    // The names are whole; the texts shown are cut and trimmed.
    EXPECT_EQ(Archiver.SkippedFiles(),
              (std::vector<std::string>{"/data/gone.txt  ", longName, longer}));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], std::make_pair(int32_t{zecSkipped}, std::string("/data/gone.txt")));
    EXPECT_EQ(messages[1].first, 0x101);
    EXPECT_EQ(messages[2].second, longer.substr(0, 511));
    EXPECT_TRUE(Archiver.ZipContents().empty());
    EXPECT_EQ(Archiver.ZipComment(), "hello");

    // The comment of the last directory read goes into the next command.
    Archiver.FSpecArgs = {"/data/file.txt"};
    Archiver.Add();
    EXPECT_EQ(Fake.Record().Comment, "hello");
}

TEST_F(TZipArchiverTest, SkippedFilesWithNothingAddedLeaveTheirCode) {
    Script({{zacMessage, zecSkipped, 0, "/data/gone.txt"}});
    EXPECT_EQ(Archiver.Add(), zecSkipped);
}

TEST_F(TZipArchiverTest, MissingLibraryIsRecordedNotRaised) {
    std::vector<int32_t> codes;
    Archiver.OnMessage = [&](TZipArchiver*, int32_t code, const std::string&) {
        codes.push_back(code);
    };
    Archiver.DLLDirectory = Temp.MakeDir("empty");
    EXPECT_EQ(Archiver.Add(), zaeLoadFailed);
    EXPECT_EQ(Archiver.AddedCount(), 0);
    EXPECT_EQ(Archiver.ErrorMessage(), ZipArchiverText(zaeLoadFailed) + "libzipengine.so");
    EXPECT_EQ(codes, std::vector<int32_t>{zaeLoadFailed});
    EXPECT_EQ(Fake.Record().Calls, 0);
    EXPECT_FALSE(FileExists(Temp / "a.zip"));
}

TEST_F(TZipArchiverTest, FatalEngineResultAndUnreadableArchive) {
    Fake.Script().Result = -3;
    EXPECT_EQ(Archiver.Add(), zaeFatalEngine);
    EXPECT_EQ(Archiver.ErrorMessage(), ZipArchiverText(zaeFatalEngine) + "fatal Dll error");
    EXPECT_EQ(Archiver.AddedCount(), 0);

    Archiver.FSpecArgs = {"/data/file.txt"};
    Fake.Script().Result = 2;
    Fake.Script().ArchiveBytes = "not a zip archive at all, no end record";
    EXPECT_EQ(Archiver.Add(), 10201);
    EXPECT_EQ(Archiver.AddedCount(), 2);
}

struct TRefusalCase {
    const char* Name;
    std::function<void(TZipArchiver&)> Set;
    int32_t Code;
};

class TZipArchiverRefusalTest : public TZipArchiverTest,
                                public ::testing::WithParamInterface<TRefusalCase> {};

TEST_P(TZipArchiverRefusalTest, NothingIsExecuted) {
    GetParam().Set(Archiver);
    EXPECT_EQ(Archiver.Add(), GetParam().Code);
    EXPECT_EQ(Fake.Record().Calls, 0);
    EXPECT_FALSE(Archiver.ErrorMessage().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, TZipArchiverRefusalTest,
    ::testing::Values(TRefusalCase{"NoSpecs", [](TZipArchiver& a) { a.FSpecArgs.clear(); }, 10301},
                      TRefusalCase{"NoName", [](TZipArchiver& a) { a.SetZipFileName(""); }, 10102},
                      TRefusalCase{"NoPassword",
                                   [](TZipArchiver& a) { a.AddOptions = {AddEncrypt}; }, 10302},
                      TRefusalCase{"NoDestination",
                                   [](TZipArchiver& a) {
                                       a.AddOptions = {AddForceDest};
                                       a.SetZipFileName(
                                           "/dev/null/below/a.zip");  // under a non-directory
                                   },
                                   10308}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TZipArchiverTest, FreshenWithoutSpecsAddsEverythingAndForceDestCreatesTheDirectory) {
    Archiver.FSpecArgs.clear();
    Archiver.AddOptions = {AddUpdate, AddForceDest};
    Archiver.SetZipFileName(Temp / "new/deep/a.zip");
    EXPECT_EQ(Archiver.Add(), 0);
    EXPECT_TRUE(DirectoryExists(Temp / "new/deep"));
    ASSERT_EQ(Fake.Record().Specs.size(), 1u);
    EXPECT_EQ(Fake.Record().Specs[0].Text, "*.*");
    EXPECT_EQ(Command().Freshen, -1);
    EXPECT_EQ(Command().Update, 0);
}

TEST_F(TZipArchiverTest, MessageTextsComeThroughOnZipStr) {
    Archiver.OnZipStr = [](TZipArchiver*, int32_t id, std::string& text) {
        text = id == zaeNothingToAdd ? "" : "custom ";
    };
    Archiver.FSpecArgs.clear();
    Archiver.Add();
    EXPECT_EQ(Archiver.ErrorMessage(), "ZipArchiver [ 10301 ], ");
    Archiver.SetZipFileName("");
    Archiver.FSpecArgs = {"x"};
    Archiver.Add();
    EXPECT_EQ(Archiver.ErrorMessage(), "custom ");
}

}  // namespace
}  // namespace sejfko
