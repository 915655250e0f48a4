#include "backup/file_list.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ostream>
#include <random>
#include <tuple>
#include <vector>

#include "platform/fault_injection.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TTempDir;

using TRow = std::tuple<std::string, int32_t, uint32_t>;

std::vector<TRow> Items(const TFileList& list) {
    std::vector<TRow> items;
    TFileItem item;
    for (int i = 0; i < list.Count(); ++i) {
        list.GetItem(i, item);
        items.emplace_back(item.Name, item.Stamp, item.Crc);
    }
    return items;
}

TEST(FileListTest, SavesThreeCrLfLinesPerRecordAndLoadsThemBack) {
    TTempDir dir;
    TFileList list;
    list.Add("C:\\a.txt", 1234567890, 4294967295u);
    list.Add("/home/u/b c", -2147483647 - 1, 0);
    list.SaveToFile(dir / "IncSelect.ini");
    EXPECT_EQ(ReadWholeFile(dir / "IncSelect.ini"),
              "C:\\a.txt\r\n1234567890\r\n4294967295\r\n"
              "/home/u/b c\r\n-2147483648\r\n0\r\n");
    struct stat st {};
    ASSERT_EQ(stat((dir / "IncSelect.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    TFileList loaded;
    loaded.Add("stale", 1, 1);
    ASSERT_TRUE(loaded.LoadFromFile(dir / "IncSelect.ini"));
    EXPECT_EQ(Items(loaded), Items(list));
}

TEST(FileListTest, EmptyOrMissingFileLoadsAsFalseAndClears) {
    TTempDir dir;
    TFileList list;
    list.SaveToFile(dir / "s");
    EXPECT_EQ(ReadWholeFile(dir / "s"), "");
    for (const std::string& path : {dir / "s", dir / "none"}) {
        list.Add("x", 1, 2);
        EXPECT_FALSE(list.LoadFromFile(path));
        EXPECT_EQ(list.Count(), 0);
    }
}

TEST(FileListTest, NamesWithLineBreaksAreLeftOutOfTheSavedState) {
    TTempDir dir;
    TFileList list;
    list.Add("/a\nb", 1, 1);
    list.Add("/c\rd", 2, 2);
    list.Add("/e", 3, 3);
    list.SaveToFile(dir / "s");
    EXPECT_EQ(ReadWholeFile(dir / "s"), "/e\r\n3\r\n3\r\n");
}

TEST(FileListTest, UnreadableStateRaisesOSError) {
    TTempDir dir;
    const std::string path = dir.WriteFile("s", "a\r\n1\r\n2\r\n");
    TFileList list;
    for (TFileOperation op : {TFileOperation::OpenRead, TFileOperation::Read}) {
        TScopedFault fault(FailUnder(path, op, EACCES));
        EXPECT_THROW(list.LoadFromFile(path), EOSError);
    }
}

TEST(FileListTest, RangeErrors) {
    TFileList list;
    list.Add("a", 1, 1);
    TFileItem item;
    for (int bad : {-1, 1}) {
        try {
            list.GetItem(bad, item);
            ADD_FAILURE() << "no exception for " << bad;
        } catch (const EFileListRangeError& e) {
            EXPECT_STREQ(e.what(), "File item index is out of range");
        }
        EXPECT_THROW(list.Delete(bad), EListError);
    }
}

// Loading: text, the records expected afterwards, and the error raised (if any).
enum class TFault { None, List, Convert, Range };

struct TLoadCase {
    const char* Label;
    std::string Text;
    std::vector<TRow> Records;
    TFault Fault;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TLoadCase& c, std::ostream* out) {
    *out << c.Label;
}

class FileListLoadTest : public testing::TestWithParam<TLoadCase> {};

TEST_P(FileListLoadTest, LoadsRecordsReadBeforeAnyFault) {
    const TLoadCase& c = GetParam();
    TTempDir dir;
    const std::string path = dir.WriteFile("s", c.Text);
    TFileList list;
    bool result = false;
    TFault raised = TFault::None;
    try {
        result = list.LoadFromFile(path);
    } catch (const EListError&) {
        raised = TFault::List;
    } catch (const EConvertError&) {
        raised = TFault::Convert;
    } catch (const ERangeError&) {
        raised = TFault::Range;
    }
    EXPECT_EQ(raised, c.Fault);
    EXPECT_EQ(Items(list), c.Records);
    if (c.Fault == TFault::None) {
        EXPECT_EQ(result, !c.Records.empty());
    }
}

const TRow A{"a", 1, 2};
const TRow B{"b", -3, 4};

INSTANTIATE_TEST_SUITE_P(
    Table, FileListLoadTest,
    testing::Values(
        TLoadCase{"CrLf", "a\r\n1\r\n2\r\nb\r\n-3\r\n4\r\n", {A, B}, TFault::None},
        TLoadCase{"LfOnly", "a\n1\n2\nb\n-3\n4\n", {A, B}, TFault::None},
        TLoadCase{"CrOnly", "a\r1\r2\rb\r-3\r4\r", {A, B}, TFault::None},
        TLoadCase{"NoFinalBreak", "a\r\n1\r\n2\r\nb\n-3\r4", {A, B}, TFault::None},
        TLoadCase{"SevenLines", "a\r\n1\r\n2\r\nb\r\n-3\r\n4\r\nc\r\n", {A, B}, TFault::List},
        TLoadCase{"FiveLines", "a\r\n1\r\n2\r\nc\r\n5\r\n", {A}, TFault::List},
        TLoadCase{"BlankLinesCount", "a\r\n1\r\n2\r\n\r\n", {A}, TFault::List},
        TLoadCase{"StampNotNumber", "a\r\n1\r\n2\r\nb\r\nx\r\n4\r\n", {A}, TFault::Convert},
        TLoadCase{"StampEmpty", "a\r\n\r\n2\r\n", {}, TFault::Convert},
        TLoadCase{"StampOver32Bits", "a\r\n2147483648\r\n2\r\n", {}, TFault::Convert},
        TLoadCase{"CrcNotNumber", "a\r\n1\r\n0x5\r\n", {}, TFault::Convert},
        TLoadCase{"CrcTooLarge", "a\r\n1\r\n2\r\nb\r\n1\r\n4294967296\r\n", {A}, TFault::Range},
        TLoadCase{"CrcNegative", "a\r\n1\r\n-1\r\n", {}, TFault::Range},
        // The CRC line is converted before the stamp line.
        TLoadCase{"BothBadCrcFirst", "a\r\nx\r\n-1\r\n", {}, TFault::Range}),
    [](const testing::TestParamInfo<TLoadCase>& info) { return info.param.Label; });

TEST(FileListTest, LineBreaksSplitAcrossReadBuffersCountOnce) {
    // Long names move CR LF pairs and lone CRs across every read boundary the reader might use.
    std::string text;
    std::vector<TRow> expected;
    for (int i = 0; i < 3000; ++i) {
        const std::string name =
            std::string(static_cast<std::size_t>(i % 97), 'n') + std::to_string(i);
        const char* end = (i % 3 == 0) ? "\r\n" : (i % 3 == 1 ? "\r" : "\n");
        text += name + end + std::to_string(i) + end + std::to_string(i * 7) + end;
        expected.emplace_back(name, i, static_cast<uint32_t>(i * 7));
    }
    TTempDir dir;
    TFileList list;
    ASSERT_TRUE(list.LoadFromFile(dir.WriteFile("s", text)));
    EXPECT_EQ(Items(list), expected);
}

// IndexOf and Delete against a plain vector searched linearly, under random operations with
// many duplicate names, across enough deletions to squeeze out dead records repeatedly.
TEST(FileListTest, MatchesLinearModelUnderRandomOperations) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 random(seed);
        const int names = seed % 2 == 0 ? 8 : 400;
        auto name = [&] { return "/f" + std::to_string(random() % names); };
        TFileList list;
        std::vector<TRow> model;
        for (int step = 0; step < 20000; ++step) {
            // Grow to thousands of records first, then shrink.
            const unsigned op = random() % 100;
            const unsigned adds = step < 10000 ? 70 : 25;
            if (op < adds || model.empty()) {
                const TRow row{name(), static_cast<int32_t>(random()),
                               static_cast<uint32_t>(random())};
                ASSERT_EQ(list.Add(std::get<0>(row), std::get<1>(row), std::get<2>(row)),
                          static_cast<int>(model.size()));
                model.push_back(row);
            } else if (op < adds + (100 - adds) / 2) {
                // Delete what IndexOf finds, as the incremental comparison does.
                const std::string wanted = name();
                const auto it = std::find_if(model.begin(), model.end(), [&](const TRow& m) {
                    return std::get<0>(m) == wanted;
                });
                const int expected = it == model.end() ? -1 : static_cast<int>(it - model.begin());
                ASSERT_EQ(list.IndexOf(wanted), expected) << "seed " << seed << " step " << step;
                if (expected >= 0) {
                    list.Delete(expected);
                    model.erase(it);
                }
            } else if (op < 99) {
                const int index = static_cast<int>(random() % model.size());
                list.Delete(index);
                model.erase(model.begin() + index);
            } else if (step > 10000 && step % 13 == 0) {
                list.Clear();
                model.clear();
            }
            ASSERT_EQ(list.Count(), static_cast<int>(model.size()));
            if (step % 1000 == 0) {
                ASSERT_EQ(Items(list), model) << "seed " << seed << " step " << step;
            }
        }
        EXPECT_EQ(Items(list), model);
    }
}

}  // namespace
}  // namespace sejfko
