// The history file: records survive a round trip whatever the names hold, rotation keeps one old
// file that reading still takes in, a line cut off by a crash is no record, and lines appended by
// several processes at once never mix.

#include "backup/run_history.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "platform/file_io.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

THistoryRecord Sample(int index) {
    THistoryRecord record;
    record.Start = EncodeDateTime(2025, 1, 6, 20, 0, 5) + index / 86400.0;
    record.End = record.Start + 2.5 / 86400.0;
    record.Kind = index % 2 == 0 ? HistoryIncremental : HistoryTransfer;
    record.Archive = "Backup_20250106_2000.fbk";
    record.Files = static_cast<uint64_t>(index);
    record.BytesRead = 1ull << 33;
    record.BytesWritten = 12345;
    record.Succeeded = index % 3 != 0;
    record.Result = "Záloha byla úspěšně dokončena.\nNěkteré soubory nebylo možné zálohovat: 2";
    record.AddSkipped("/data/notes \t\"quoted\"");
    record.AddSkipped("/data/\xff\xfe bad bytes");
    return record;
}

TEST(RunHistory, RecordsRoundTripAndKeepTheFirstSkippedNames) {
    THistoryRecord record = Sample(1);
    for (int i = 0; i < 30; ++i) {
        record.AddSkipped("/more/" + std::to_string(i));
    }
    EXPECT_EQ(record.Skipped.size(), HistorySkippedKept);
    EXPECT_EQ(record.SkippedCount, 32u);
    const std::string line = HistoryLine(record);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    THistoryRecord back;
    ASSERT_TRUE(ParseHistoryLine(line, back)) << line;
    EXPECT_EQ(back.Kind, record.Kind);
    EXPECT_EQ(back.Result, record.Result);
    EXPECT_EQ(back.BytesRead, record.BytesRead);
    EXPECT_EQ(back.SkippedCount, 32u);
    EXPECT_EQ(back.Skipped[0], "/data/notes \t\"quoted\"");
    EXPECT_EQ(back.Skipped[1].rfind("/data/", 0), 0u);  // bad bytes replaced, the rest kept
    EXPECT_NEAR(back.DurationSeconds(), 2.5, 1.0);
    for (const char* bad : {"", "{", "[1,2]", "{\"kind\":\"transfer\"}", "not json"}) {
        EXPECT_FALSE(ParseHistoryLine(bad, back)) << bad;
    }
}

TEST(RunHistory, RotationKeepsOneOldFileAndACutLineIsNoRecord) {
    TTempDir dir;
    const std::size_t lineSize = HistoryLine(Sample(0)).size() + 1;
    const int count = static_cast<int>(3 * HistoryRotateSize / lineSize);
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(AppendHistory(dir.Path(), Sample(i)));
    }
    EXPECT_EQ(test::EntryNames(dir.Path()),
              (std::vector<std::string>{OldHistoryFileName, HistoryFileName}));
    const std::vector<THistoryRecord> all = ReadHistory(dir.Path());
    ASSERT_GT(all.size(), HistoryRotateSize / lineSize);
    EXPECT_EQ(all.back().Files, static_cast<uint64_t>(count - 1));
    for (std::size_t i = 1; i < all.size(); ++i) {
        EXPECT_EQ(all[i].Files, all[i - 1].Files + 1);  // in order, none lost within the two
    }
    const std::vector<THistoryRecord> last = ReadHistory(dir.Path(), 3);
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(last[2].Files, static_cast<uint64_t>(count - 1));

    // A crash in the middle of a line: that line is not a record, the next appends are read.
    const std::string current = dir / HistoryFileName;
    const std::string cut = HistoryLine(Sample(999)).substr(0, 40);
    ASSERT_TRUE(AppendLineRotating(current, dir / OldHistoryFileName, cut, HistoryRotateSize));
    EXPECT_EQ(ReadHistory(dir.Path(), 1).back().Files, static_cast<uint64_t>(count - 1));
}

TEST(RunHistory, LinesOfProcessesAppendingAtOnceNeverMix) {
    TTempDir dir;
    constexpr int Processes = 4;
    constexpr int Lines = 300;
    std::vector<pid_t> children;
    for (int p = 0; p < Processes; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < Lines; ++i) {
                AppendHistory(dir.Path(), Sample(p * Lines + i));
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
    }
    std::set<uint64_t> seen;
    for (const THistoryRecord& record : ReadHistory(dir.Path())) {
        seen.insert(record.Files);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(Processes * Lines));
    EXPECT_EQ(ReadHistoryLines(dir.Path()).size(), static_cast<std::size_t>(Processes * Lines));
}

}  // namespace
}  // namespace sejfko
