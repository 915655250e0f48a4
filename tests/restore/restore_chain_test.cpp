// Which archives a restore takes, and which names it accepts.

#include "restore/restore_chain.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.hpp"
#include "restore/restore_path.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

std::vector<TArchiveRef> Refs(const std::vector<std::string>& names) {
    std::vector<TArchiveRef> refs;
    for (const std::string& name : names) {
        TArchiveRef ref;
        EXPECT_TRUE(ParseArchiveName(name, ref.Stamp, ref.Full)) << name;
        ref.Name = name;
        ref.Path = "/archives/" + name;
        refs.push_back(ref);
    }
    return refs;
}

std::vector<std::string> Names(const std::vector<TArchiveRef>& refs) {
    std::vector<std::string> names;
    for (const TArchiveRef& ref : refs) {
        names.push_back(ref.Name);
    }
    return names;
}

TEST(ArchiveName, OnlyTheGeneratedShapesAreArchives) {
    std::string stamp;
    bool full = false;
    EXPECT_TRUE(ParseArchiveName("Backup_20261208_2105.fbk", stamp, full));
    EXPECT_EQ(stamp, "20261208_2105");
    EXPECT_FALSE(full);
    EXPECT_TRUE(ParseArchiveName("Backup_20261208_2105_full.fbk", stamp, full));
    EXPECT_TRUE(full);
    for (const char* other :
         {"Backup_20261208_2105.zip", "Backup_2026120_2105.fbk", "backup_20261208_2105.fbk",
          "Backup_20261208-2105.fbk", "Backup_20261208_2105_ful.fbk", "Backup_2026120a_2105.fbk",
          "Backup_20261208_2105.fbk.part", ".fbkAbC123", "Backup_", ""}) {
        EXPECT_FALSE(ParseArchiveName(other, stamp, full)) << other;
    }
}

TEST(RestorePoint, ValidDatesBecomeStamps) {
    std::string stamp;
    EXPECT_TRUE(ParseRestorePoint("2024-02-29 23:59", stamp));
    EXPECT_EQ(stamp, "20240229_2359");
    EXPECT_EQ(FormatStamp(stamp), "2024-02-29 23:59");
    for (const char* bad :
         {"2023-02-29 10:00", "2024-13-01 10:00", "2024-01-01 24:00", "2024-01-01 10:60",
          "2024-01-01T10:00", "2024-1-01 10:00", "2024-01-01 10:00:00", "", "zítra"}) {
        EXPECT_FALSE(ParseRestorePoint(bad, stamp)) << bad;
    }
}

TEST(ChainSelection, NewestFullAtOrBeforeThePointThenLaterArchivesInNameOrder) {
    // Given out of order on purpose: name order is what counts.
    const std::vector<TArchiveRef> all = Refs(
        {"Backup_20260103_1000.fbk", "Backup_20260101_1000_full.fbk", "Backup_20260102_1000.fbk",
         "Backup_20260105_1000_full.fbk", "Backup_20260106_1000.fbk", "Backup_20260104_1000.fbk"});

    // Default: the newest archive, from the newest complete one.
    EXPECT_EQ(
        Names(SelectChain(all, std::nullopt)),
        (std::vector<std::string>{"Backup_20260105_1000_full.fbk", "Backup_20260106_1000.fbk"}));
    // A point between archives takes everything up to it.
    EXPECT_EQ(Names(SelectChain(all, "20260103_1200")),
              (std::vector<std::string>{"Backup_20260101_1000_full.fbk", "Backup_20260102_1000.fbk",
                                        "Backup_20260103_1000.fbk"}));
    // The point's own minute is included.
    EXPECT_EQ(Names(SelectChain(all, "20260104_1000")).size(), 4u);
    // Exactly on a complete archive: that archive alone.
    EXPECT_EQ(Names(SelectChain(all, "20260105_1000")),
              (std::vector<std::string>{"Backup_20260105_1000_full.fbk"}));
    // Just after the first complete archive.
    EXPECT_EQ(Names(SelectChain(all, "20260101_1000")),
              (std::vector<std::string>{"Backup_20260101_1000_full.fbk"}));
}

TEST(ChainSelection, PointsAreEveryArchiveFromTheFirstCompleteOneAndEachRestoresItsDay) {
    const auto all = Refs({"Backup_20260105_1000_full.fbk", "Backup_20260101_1000.fbk",
                           "Backup_20260106_1000.fbk", "Backup_20260112_1000_full.fbk",
                           "Backup_20260113_1000.fbk"});
    const std::vector<TArchiveRef> points = RestorePoints(all);
    // The incremental archive before any complete one has nothing to build on.
    EXPECT_EQ(Names(points), (std::vector<std::string>{
                                 "Backup_20260105_1000_full.fbk", "Backup_20260106_1000.fbk",
                                 "Backup_20260112_1000_full.fbk", "Backup_20260113_1000.fbk"}));
    for (const TArchiveRef& point : points) {
        const std::vector<TArchiveRef> chain = SelectChain(all, point.Stamp);
        EXPECT_EQ(chain.back().Name, point.Name);
        EXPECT_TRUE(chain.front().Full);
    }
    EXPECT_TRUE(RestorePoints(Refs({"Backup_20260101_1000.fbk"})).empty());
}

TEST(ChainSelection, NoCompleteArchiveIsAClearError) {
    const std::vector<TArchiveRef> all =
        Refs({"Backup_20260102_1000.fbk", "Backup_20260105_1000_full.fbk"});
    try {
        SelectChain(all, "20260104_0000");
        FAIL() << "no error";
    } catch (const ERestoreError& error) {
        EXPECT_STREQ(error.what(),
                     "Není k dispozici žádná úplná záloha (_full) z doby do "
                     "2026-01-04 00:00.");
    }
    EXPECT_THROW(SelectChain(Refs({"Backup_20260102_1000.fbk"}), std::nullopt), ERestoreError);
    EXPECT_THROW(SelectChain({}, std::nullopt), ERestoreError);
}

TEST(ChainSelection, SourcesAreDirectoriesAndArchiveFiles) {
    test::TTempDir dir;
    dir.WriteFile("a/Backup_20260101_1000_full.fbk", "x");
    dir.WriteFile("a/Backup_20260102_1000.fbk", "x");
    dir.WriteFile("a/notes.txt", "x");
    dir.WriteFile("a/.fbkTemp01", "x");
    dir.MakeDir("a/Backup_20260109_1000.fbk");  // a directory, not an archive
    dir.WriteFile("b/Backup_20260102_1000.fbk", "y");
    const std::string single = dir.WriteFile("c/Backup_20260103_1000.fbk", "z");

    const std::vector<TArchiveRef> found = CollectArchives({dir / "a", dir / "b", single});
    ASSERT_EQ(Names(found),
              (std::vector<std::string>{"Backup_20260101_1000_full.fbk", "Backup_20260102_1000.fbk",
                                        "Backup_20260103_1000.fbk"}));
    // The first source that holds a name wins.
    EXPECT_EQ(found[1].Path, IncludeTrailingPathDelimiter(dir / "a") + "Backup_20260102_1000.fbk");
    EXPECT_EQ(found[2].Path, single);

    EXPECT_THROW(CollectArchives({dir / "a/notes.txt"}), ERestoreError);
    EXPECT_THROW(CollectArchives({dir / "missing"}), ERestoreError);
}

TEST(StoredPath, NamesThatCouldLeaveTheTargetAreRefused) {
    struct TCase {
        const char* Stored;
        const char* Relative;  // nullptr: refused
    };
    const TCase cases[] = {
        {"a/b.txt", "a/b.txt"},
        {"./a//b.txt", "a/b.txt"},
        {"složka/žluťoučký kůň.txt", "složka/žluťoučký kůň.txt"},
        {"dir/", "dir"},
        {"a..b/..c", "a..b/..c"},
        {"../x", nullptr},
        {"a/../../x", nullptr},
        {"a/..", nullptr},
        {"..", nullptr},
        {"/etc/x", nullptr},
        {"//etc/x", nullptr},
        {"C:\\x", nullptr},
        {"C:/x", nullptr},
        {"c:x", nullptr},
        {"a\\..\\x", nullptr},
        {"", nullptr},
        {"./", nullptr},
    };
    for (const TCase& c : cases) {
        std::string relative;
        std::string reason;
        const bool safe = SafeRelativePath(c.Stored, relative, reason);
        if (c.Relative) {
            EXPECT_TRUE(safe) << c.Stored << ": " << reason;
            EXPECT_EQ(relative, c.Relative);
        } else {
            EXPECT_FALSE(safe) << c.Stored << " -> " << relative;
            EXPECT_FALSE(reason.empty());
        }
    }
    std::string relative;
    std::string reason;
    EXPECT_FALSE(SafeRelativePath(std::string("a\0b", 3), relative, reason));
}

TEST(OnlyFilter, StoredOrOriginalPathsChooseFilesAndDirectories) {
    TOnlyFilter filter;
    std::string bad;
    ASSERT_TRUE(filter.Set({"/home/eva/doc/", "home/eva/a.txt", "/home/eva/unused"}, bad));
    EXPECT_TRUE(filter.Matches("home/eva/doc/x/y.txt"));
    EXPECT_TRUE(filter.Matches("home/eva/a.txt"));
    EXPECT_FALSE(filter.Matches("home/eva/a.txt2"));
    EXPECT_FALSE(filter.Matches("home/eva/docs/z"));
    EXPECT_FALSE(filter.Matches("home"));
    EXPECT_EQ(filter.Unused(), std::vector<std::string>{"/home/eva/unused"});
    // A deletion that matches does not count as found.
    EXPECT_TRUE(filter.Matches("home/eva/unused", false));
    EXPECT_EQ(filter.Unused().size(), 1u);

    EXPECT_FALSE(filter.Set({"a/../../etc"}, bad));
    EXPECT_EQ(bad, "a/../../etc");
    EXPECT_FALSE(filter.Set({"/"}, bad));
    // A long list (a selection made in a tree) matches as a short one does.
    std::vector<std::string> many;
    for (int i = 0; i < 20000; ++i) {
        many.push_back("data/f" + std::to_string(i));
    }
    many.push_back("/data/dir");
    ASSERT_TRUE(filter.Set(many, bad));
    EXPECT_TRUE(filter.Matches("data/f19999"));
    EXPECT_TRUE(filter.Matches("data/dir/x/y"));
    EXPECT_FALSE(filter.Matches("data/f20000"));
    EXPECT_FALSE(filter.Matches("data"));
    EXPECT_EQ(filter.Unused().size(), 19999u);

    TOnlyFilter none;
    EXPECT_TRUE(none.Matches("anything"));
}

}  // namespace
}  // namespace sejfko
