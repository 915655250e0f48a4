#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <random>
#include <utility>

#include "backup/selection_file.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

// Data/ holds .hidden, Sub/s.txt, Sub/Deep/d.txt, Temp/t.txt and a.txt.
class ApplyExclusionsTest : public testing::Test {
protected:
    ApplyExclusionsTest() {
        FDir.WriteFile("Data/.hidden", "h");
        FDir.WriteFile("Data/Sub/s.txt", "s");
        FDir.WriteFile("Data/Sub/Deep/d.txt", "d");
        FDir.WriteFile("Data/Temp/t.txt", "t");
        FDir.WriteFile("Data/a.txt", "a");
        FData = FDir / "Data";
    }

    // The expansion writes the platform's separator; exclusions match only as it writes them.
    std::string Data(const std::string& relative = "") const {
        std::string path = FData + PathDelimiter + relative;
        std::replace(path.begin() + static_cast<std::ptrdiff_t>(FData.size()), path.end(), '/',
                     PathDelimiter);
        return path;
    }

    TStringList Apply(TStringList include, const TStringList& exclude) {
        EXPECT_TRUE(ApplyExclusions(include, exclude, nullptr));
        return include;
    }

    TTempDir FDir;
    std::string FData;
};

TEST_F(ApplyExclusionsTest, DirectoryAboveTheExclusionIsReplacedByItsOtherEntries) {
    const TStringList expected{Data(".hidden"), Data("Sub/"), Data("a.txt")};
    EXPECT_EQ(Apply({Data()}, {Data("Temp/")}), expected);
    // Without a trailing separator the children get exactly one.
    EXPECT_EQ(Apply({FData}, {Data("Temp/")}), expected);
}

TEST_F(ApplyExclusionsTest, ExclusionMatchesOnlyAsTheExpansionWritesIt) {
    // "Temp" without its separator never equals the entry "Temp/": nothing is excluded, but the
    // include directory has been replaced by its entries.
    EXPECT_EQ(Apply({Data()}, {Data("Temp")}),
              (TStringList{Data(".hidden"), Data("Sub/"), Data("Temp/"), Data("a.txt")}));
    // A file is matched without a separator.
    EXPECT_EQ(Apply({Data()}, {Data("a.txt")}),
              (TStringList{Data(".hidden"), Data("Sub/"), Data("Temp/")}));
}

TEST_F(ApplyExclusionsTest, OtherLetterCaseExcludesNothing) {
    std::string lower = Data("Temp/");
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_EQ(Apply({Data()}, {lower}), TStringList{Data()});
    // An include entry that equals the exclusion but for letter case is another file here.
    const std::string other = FDir.WriteFile("Data/A.txt", "A");
    EXPECT_EQ(Apply({Data("a.txt"), other}, {Data("a.txt")}), TStringList{other});
}

TEST_F(ApplyExclusionsTest, EveryEntryEqualToTheExclusionIsDeleted) {
    const std::string excluded = Data("a.txt");
    EXPECT_EQ(Apply({"/x", excluded, excluded, "/y", excluded}, {excluded}),
              (TStringList{"/x", "/y"}));
}

TEST_F(ApplyExclusionsTest, ExpandsLevelByLevelAndAppendsChildrenAtTheEnd) {
    EXPECT_EQ(Apply({"/first", Data(), "/last"}, {Data("Sub/Deep/")}),
              (TStringList{"/first", "/last", Data(".hidden"), Data("Temp/"), Data("a.txt"),
                           Data("Sub/s.txt")}));
    // Several exclusions in turn, each working on what the one before left.
    EXPECT_EQ(Apply({Data()}, {Data("Sub/Deep/"), Data("Temp/"), Data(".hidden")}),
              (TStringList{Data("a.txt"), Data("Sub/s.txt")}));
}

TEST_F(ApplyExclusionsTest, DirectoryExcludedAfterAnExclusionBelowItKeepsNothingOfIt) {
    // The first exclusion has already replaced Sub/ by its entries: the second must still leave
    // out everything below Sub/, whatever order the lines of the selection file have.
    const TStringList expected{Data(".hidden"), Data("Temp/"), Data("a.txt")};
    EXPECT_EQ(Apply({Data()}, {Data("Sub/Deep/"), Data("Sub/")}), expected);
    EXPECT_EQ(Apply({Data()}, {Data("Sub/"), Data("Sub/Deep/")}), expected);
    // Listed as well, the excluded directory itself goes whole in either order.
    EXPECT_EQ(Apply({Data(), Data("Sub/")}, {Data("Sub/Deep/"), Data("Sub/")}), expected);
    EXPECT_EQ(Apply({Data(), Data("Sub/")}, {Data("Sub/"), Data("Sub/Deep/")}), expected);
}

TEST_F(ApplyExclusionsTest, EntryListedInsideAnExcludedDirectoryStaysWithItsExpansion) {
    // As it always did: a path the user lists inside an excluded directory is backed up, and so
    // is what an exclusion below it leaves of it, whatever the order of the lines.
    const TStringList expected{Data("Sub/s.txt")};
    EXPECT_EQ(Apply({Data("Sub")}, {Data(), Data("Sub/Deep/")}), expected);
    EXPECT_EQ(Apply({Data("Sub")}, {Data("Sub/Deep/"), Data()}), expected);
    EXPECT_EQ(Apply({Data(), Data("Sub/s.txt")}, {Data("Sub/Deep/"), Data("Sub/")}),
              (TStringList{Data("Sub/s.txt"), Data(".hidden"), Data("Temp/"), Data("a.txt")}));
}

TEST_F(ApplyExclusionsTest, ChildAlreadyIncludedIsNotAddedTwice) {
    EXPECT_EQ(Apply({Data("a.txt"), Data()}, {Data("Temp/")}),
              (TStringList{Data("a.txt"), Data(".hidden"), Data("Sub/")}));
}

TEST_F(ApplyExclusionsTest, FileWhoseNameBeginsTheExclusionStays) {
    const std::string notes = FDir.WriteFile("Data/notes", "n");
    EXPECT_EQ(Apply({notes, "/missing"}, {notes + "-old/", "/missing/x/"}), TStringList{notes});
}

TEST_F(ApplyExclusionsTest, UnlistableDirectoryIsDropped) {
    TScopedFault fault(FailUnder(FData, TFileOperation::ListDirectory, EACCES));
    EXPECT_EQ(Apply({"/x", Data()}, {Data("Temp/")}), TStringList{"/x"});
}

// Links the expansion meets are never expanded into nor followed as entries of the selection:
// they are handed back as links, and a later exclusion still removes one.
TEST_F(ApplyExclusionsTest, SymlinksMetAreHandedBackAsLinks) {
#ifdef _WIN32
    GTEST_SKIP() << "this build neither reads nor makes symbolic links";
#endif
    const std::string outside = FDir.WriteFile("Outside/o.txt", "o");
    ASSERT_EQ(symlink((FDir / "Outside").c_str(), Data("link").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), Data("filelink").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", Data("dangling").c_str()), 0);
    TStringList include{Data()};
    TStringList links;
    ASSERT_TRUE(ApplyExclusions(include, {Data("Temp/"), Data("link/o.txt"), Data("dangling")},
                                nullptr, &links));
    EXPECT_EQ(include, (TStringList{Data(".hidden"), Data("Sub/"), Data("a.txt")}));
    EXPECT_EQ(links, (TStringList{Data("filelink"), Data("link")}));
}

// The algorithm as plainly written: a new scan from the start after each replaced directory and
// a scan of the whole list per child; an entry the expansion added below an excluded directory
// goes as well, unless the listed entry it came from lies below that directory itself. The
// implementation must give the same lists.
TStringList ReferenceExclusions(TStringList include, const TStringList& exclude) {
    const auto below = [](const std::string& path, const std::string& e) {
        return e.back() == PathDelimiter && path.size() > e.size() && path.starts_with(e);
    };
    std::vector<std::string> origin = include;  // per entry: the listed entry it came from
    const auto erase = [&](std::size_t i) {
        include.erase(include.begin() + static_cast<std::ptrdiff_t>(i));
        origin.erase(origin.begin() + static_cast<std::ptrdiff_t>(i));
    };
    for (const std::string& e : exclude) {
        std::size_t i = 0;
        while (i < include.size()) {
            const std::string s = include[i];
            if (e.find(s) == std::string::npos) {
                if (below(s, e) && !below(origin[i], e)) {
                    erase(i);
                } else {
                    ++i;
                }
            } else if (s == e) {
                erase(i);
            } else if (GetFileStatus(s).Kind == TEntryKind::Regular) {
                ++i;
            } else {
                std::vector<TDirectoryEntry> entries;
                bool added = false;
                if (ListDirectory(s, entries)) {
                    for (const TDirectoryEntry& entry : entries) {
                        std::string child = IncludeTrailingPathDelimiter(s) + entry.Name;
                        if (entry.Kind == TEntryKind::Directory) {
                            child += PathDelimiter;
                        }
                        if (std::find(include.begin(), include.end(), child) == include.end()) {
                            include.push_back(child);
                            origin.push_back(origin[i]);
                            added = true;
                        }
                    }
                }
                erase(i);
                if (added) {
                    i = 0;
                }
            }
        }
    }
    return include;
}

TEST(ApplyExclusionsRandomTest, SameResultAsTheAlgorithmPlainlyWritten) {
    TTempDir dir;
    std::mt19937 random(99);
    // A small tree whose names are prefixes of each other ("a", "ab", "a b"), so that entries
    // occur inside exclusions without being above them; "A" beside "a" where names have case.
#ifdef _WIN32
    const std::vector<std::string> names{"a", "ab", "a b", "b"};
#else
    const std::vector<std::string> names{"a", "ab", "a b", "b", "A"};
#endif
    std::vector<std::string> paths{dir.Path()};
    std::size_t level = 0;  // the first path of the deepest level made so far
    for (int depth = 0; depth < 3; ++depth) {
        const std::size_t count = paths.size();
        for (std::size_t p = std::exchange(level, count); p < count; ++p) {
            if (!DirectoryExists(paths[p])) {
                continue;
            }
            for (const std::string& name : names) {
                const std::string child = paths[p] + PathDelimiter + name;
                if (random() % 3 == 0) {
                    dir.WriteFile(child.substr(dir.Path().size() + 1), "x");
                } else if (random() % 2 == 0) {
                    ForceDirectories(child);
                } else {
                    continue;
                }
                paths.push_back(child);
            }
        }
    }
    const auto pick = [&] {
        std::string path = paths[random() % paths.size()];
        if (random() % 2 == 0) {
            path += PathDelimiter;
        }
        return path;
    };
    for (int round = 0; round < 200; ++round) {
        TStringList include;
        TStringList exclude;
        for (int i = random() % 4 + 1; i > 0; --i) {
            include.push_back(pick());
        }
        for (int i = random() % 4 + 1; i > 0; --i) {
            exclude.push_back(pick());
        }
        TStringList actual = include;
        ASSERT_TRUE(ApplyExclusions(actual, exclude, nullptr));
        ASSERT_EQ(actual, ReferenceExclusions(include, exclude)) << "round " << round;
    }
}

TEST_F(ApplyExclusionsTest, CancelStopsAtOnce) {
    TStringList include{Data()};
    int asked = 0;
    const TQueryAbort query = [&asked](bool& abort) { abort = ++asked == 2; };
    EXPECT_FALSE(ApplyExclusions(include, {Data("Sub/Deep/"), Data("Temp/")}, query));
    EXPECT_EQ(asked, 2);

    TStringList untouched{"/a", "/b"};
    EXPECT_TRUE(ApplyExclusions(untouched, {}, nullptr));
    EXPECT_EQ(untouched, (TStringList{"/a", "/b"}));
}

}  // namespace
}  // namespace sejfko
