#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "backup/selection_file.hpp"
#include "platform/fault_injection.hpp"
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

    std::string Data(const std::string& relative = "") const { return FData + "/" + relative; }

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

TEST_F(ApplyExclusionsTest, SymlinkToADirectoryIsNotExpandedInto) {
    const std::string outside = FDir.WriteFile("Outside/o.txt", "o");
    ASSERT_EQ(symlink((FDir / "Outside").c_str(), Data("link").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), Data("filelink").c_str()), 0);
    EXPECT_EQ(Apply({Data()}, {Data("Temp/")}),
              (TStringList{Data(".hidden"), Data("Sub/"), Data("a.txt"), Data("filelink")}));
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
