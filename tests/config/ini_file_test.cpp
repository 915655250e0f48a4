#include "config/ini_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <ostream>

#include "platform/fault_injection.hpp"
#include "support/temp_dir.hpp"
#include "support/unprivileged.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TTempDir;
using namespace std::string_literals;

struct TReadCase {
    const char* Name;
    std::string Content;
    const char* Section;
    const char* Key;
    bool Found;
    std::string Value;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TReadCase& c, std::ostream* out) {
    *out << c.Name;
}

class IniReadTest : public testing::TestWithParam<TReadCase> {};

TEST_P(IniReadTest, FindsValue) {
    const TReadCase& c = GetParam();
    std::string value = "untouched";
    EXPECT_EQ(TIniSnapshot(c.Content).Find(c.Section, c.Key, value), c.Found);
    EXPECT_EQ(value, c.Found ? c.Value : "untouched");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniReadTest,
    testing::Values(
        TReadCase{"Lf", "[S]\nk=v\n", "S", "k", true, "v"},
        TReadCase{"CrLf", "[S]\r\na=1\r\nk=v\r\n", "S", "k", true, "v"},
        TReadCase{"CrOnly", "[S]\ra=1\rk=v", "S", "k", true, "v"},
        TReadCase{"CaseInsensitive", "[oPTIONS]\nBACKUP count=3\n", "Options", "Backup Count", true,
                  "3"},
        TReadCase{"FirstKeyWins", "[S]\nk=1\nk=2\n", "S", "k", true, "1"},
        TReadCase{"FirstSectionWins", "[S]\na=1\n[T]\n[s]\nk=2\n", "S", "k", false, ""},
        TReadCase{"OtherSection", "[S]\na=1\n[T]\nk=2\n", "T", "k", true, "2"},
        TReadCase{"NoSection", "k=1\n", "", "k", false, ""},
        TReadCase{"BlanksTrimmed", "  [ S ] \n\t k \t=  a b \t\n", "S", "k", true, "a b"},
        TReadCase{"QuotesStripped", "[S]\nk=\" a \"\n", "S", "k", true, " a "},
        TReadCase{"SingleQuotes", "[S]\nk='x'\n", "S", "k", true, "x"},
        TReadCase{"LoneQuoteKept", "[S]\nk=\"x\n", "S", "k", true, "\"x"},
        TReadCase{"EqualsInValue", "[S]\nk=a=b\n", "S", "k", true, "a=b"},
        TReadCase{"EmptyValue", "[S]\nk=\n", "S", "k", true, ""},
        TReadCase{"CommentIsNoKey", "[S]\n;k=1\n", "S", ";k", false, ""},
        // Nothing after a NUL reaches a path or an FTP command.
        TReadCase{"NulInValue", "[S]\nk=a\0b\n"s, "S", "k", true, "a"},
        TReadCase{"NulInQuotedValue", "[S]\nk=\" a\0b \"\n"s, "S", "k", true, " a"},
        // Editors that save UTF-8 may put a byte order mark before the first section.
        TReadCase{"ByteOrderMark", "\xEF\xBB\xBF[S]\r\nk=v\r\n", "S", "k", true, "v"},
        TReadCase{"MarkOnlyAtTheStart", "[T]\n\xEF\xBB\xBF[S]\nk=v\n", "S", "k", false, ""},
        TReadCase{"Garbage", "\xff\xfe\x01[\0\x80\n=\n[\n]]]\n[S]\nk=ok\n"s, "S", "k", true, "ok"},
        TReadCase{"UnclosedSection", "[S\nk=v\n", "S", "k", true, "v"},
        TReadCase{"LongValueCut", "[S]\nk=" + std::string(5000, 'x') + "\n", "S", "k", true,
                  std::string(2047, 'x')}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(IniFile, LimitIniValueKeepsUtf8Whole) {
    // 2046 ASCII bytes then a two-byte letter: cutting at 2047 would split the letter.
    std::string text = std::string(2046, 'a') + "ř" + "b";
    EXPECT_EQ(LimitIniValue(text), std::string(2046, 'a'));
    EXPECT_EQ(LimitIniValue("short"), "short");
}

TEST(IniFile, ParsesIntegers) {
    struct TCase {
        const char* Text;
        bool Ok;
        int32_t Value;
    };
    const TCase cases[] = {
        {"10", true, 10},
        {" -3 ", true, -3},
        {"+7", true, 7},
        {"0x1F", true, 31},
        {"0X1f", true, 31},
        {"$1F", true, 31},
        {"-$10", true, -16},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"0x80000000", false, 0},
        {"0x", false, 0},
        {"$", false, 0},
        {"", false, 0},
        {"abc", false, 0},
        {"1 2", false, 0},
        {"12a", false, 0},
        {"0x1G", false, 0},
    };
    for (const TCase& c : cases) {
        int32_t value = -99;
        EXPECT_EQ(TryParseIniInteger(c.Text, value), c.Ok) << c.Text;
        EXPECT_EQ(value, c.Ok ? c.Value : -99) << c.Text;
    }
}

struct TWriteCase {
    const char* Name;
    std::string Before;  // "<none>": no file
    const char* Section;
    const char* Key;
    std::string Value;
    std::string After;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TWriteCase& c, std::ostream* out) {
    *out << c.Name;
}

class IniWriteTest : public testing::TestWithParam<TWriteCase> {};

TEST_P(IniWriteTest, ChangesOnlyItsKey) {
    const TWriteCase& c = GetParam();
    TTempDir dir;
    std::string path = dir / "Options.ini";
    if (c.Before != "<none>") {
        dir.WriteFile("Options.ini", c.Before);
    }
    TIniFile(path).WriteString(c.Section, c.Key, c.Value);
    EXPECT_EQ(ReadWholeFile(path), c.After);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteTest,
    testing::Values(
        TWriteCase{"NewFile", "<none>", "S", "k", "v", "[S]\nk=v\n"},
        TWriteCase{"Replace", "; top\n[S]\na = 1\nk = old ; x\n[T]\nk=2\n", "S", "k", "v",
                   "; top\n[S]\na = 1\nk=v\n[T]\nk=2\n"},
        TWriteCase{"AddAfterLastKey", "[S]\na=1\n\n; about T\n[T]\nb=2\n", "S", "k", "v",
                   "[S]\na=1\nk=v\n\n; about T\n[T]\nb=2\n"},
        TWriteCase{"AddToEmptySection", "[S]\n[T]\n", "S", "k", "v", "[S]\nk=v\n[T]\n"},
        TWriteCase{"AppendSection", "[T]\nb=2\n", "S", "k", "v", "[T]\nb=2\n[S]\nk=v\n"},
        TWriteCase{"NoFinalLineEnd", "[S]\na=1", "S", "k", "v", "[S]\na=1\nk=v\n"},
        TWriteCase{"ReplaceLastLine", "[S]\nk=1", "S", "k", "v", "[S]\nk=v"},
        TWriteCase{"AppendAfterNoLineEnd", "x", "S", "k", "v", "x\n[S]\nk=v\n"},
        TWriteCase{"KeepsCrLf", "[T]\r\nb=2\r\n", "S", "k", "v", "[T]\r\nb=2\r\n[S]\r\nk=v\r\n"},
        TWriteCase{"KeepsCr", "[S]\ra=1\r", "S", "k", "v", "[S]\ra=1\rk=v\r"},
        TWriteCase{"MixedEndsKept", "[S]\r\nk=1\na=2\r", "s", "K", "v", "[S]\r\nK=v\na=2\r"},
        TWriteCase{"FirstDuplicateSection", "[S]\na=1\n[S]\nk=2\n", "S", "k", "v",
                   "[S]\na=1\nk=v\n[S]\nk=2\n"},
        TWriteCase{"FirstDuplicateKey", "[S]\nk=1\nk=2\n", "S", "k", "v", "[S]\nk=v\nk=2\n"},
        TWriteCase{"GarbageKept", "\xff\0\x01=\n[S]\n\x80\x81\n"s, "S", "k", "v",
                   "\xff\0\x01=\n[S]\nk=v\n\x80\x81\n"s},
        TWriteCase{"QuotesBlanks", "", "S", "k", " v ", "[S]\nk=\" v \"\n"},
        TWriteCase{"LineBreakCut", "", "S", "k", "a\nb=c", "[S]\nk=a\n"},
        // The mark stays, and the section after it is found (not added a second time).
        TWriteCase{"ByteOrderMarkKept", "\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "k", "v",
                   "\xEF\xBB\xBF[S]\r\nk=v\r\n"},
        TWriteCase{"ByteOrderMarkKeyAdded", "\xEF\xBB\xBF[S]\na=1\n", "s", "k", "v",
                   "\xEF\xBB\xBF[S]\na=1\nk=v\n"},
        TWriteCase{"ByteOrderMarkOnly", "\xEF\xBB\xBF", "S", "k", "v", "\xEF\xBB\xBF[S]\nk=v\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(IniFile, ValuesReadBackAsWritten) {
    TTempDir dir;
    TIniFile file(dir / "x.ini");
    for (std::string value :
         {"plain", " padded ", "\"quoted\"", "'single'", "a=b;c", "", "ščř", "\"", "  "}) {
        file.WriteString("S", "k", value);
        EXPECT_EQ(file.ReadString("S", "k", "default"), value);
    }
    EXPECT_EQ(file.ReadString("S", "missing", "default"), "default");
}

TEST(IniFile, HugeLineIsKeptByteForByte) {
    TTempDir dir;
    std::string huge(10 * 1024 * 1024, 'g');
    huge[7] = '\0';
    huge[5 * 1024 * 1024] = '=';
    std::string before = "[S]\n" + huge + "\nk=1\n";
    std::string path = dir.WriteFile("x.ini", before);
    TIniFile file(path);
    EXPECT_EQ(file.ReadString("S", "k", ""), "1");
    file.WriteString("S", "k", "2");
    EXPECT_TRUE(ReadWholeFile(path) == "[S]\n" + huge + "\nk=2\n");
}

TEST(IniFile, NewFileIsPrivate) {
    TTempDir dir;
    std::string path = dir / "sub/x.ini";
    TIniFile(path).WriteString("S", "k", "secret");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

struct TFaultCase {
    const char* Name;
    TFileOperation Operation;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TFaultCase& c, std::ostream* out) {
    *out << c.Name;
}

class IniWriteFaultTest : public testing::TestWithParam<TFaultCase> {};

TEST_P(IniWriteFaultTest, ReportsPathAndKeepsOldFile) {
    TTempDir dir;
    std::string path = dir.WriteFile("x.ini", "[S]\nk=1\n[T]\nb=2\n");
    TIniFile file(path);
    TScopedFault fault(FailUnder(dir.Path(), GetParam().Operation, EACCES));
    try {
        file.WriteString("S", "k", "2");
        FAIL() << "no exception";
    } catch (const EIniFileException& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(ReadWholeFile(path), "[S]\nk=1\n[T]\nb=2\n");
}

INSTANTIATE_TEST_SUITE_P(
    Operations, IniWriteFaultTest,
    testing::Values(TFaultCase{"Create", TFileOperation::Create},
                    TFaultCase{"Write", TFileOperation::Write},
                    TFaultCase{"Rename", TFileOperation::Rename},
                    // An unreadable file is never replaced by one holding only the new key.
                    TFaultCase{"OpenRead", TFileOperation::OpenRead},
                    TFaultCase{"Read", TFileOperation::Read}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TStat {
    unsigned Mode = 0;
    uid_t Owner = 0;
    bool Symlink = false;
};

TStat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return {static_cast<unsigned>(st.st_mode & 07777), st.st_uid, S_ISLNK(st.st_mode)};
}

// 0: threw "Unable to write to PATH"; 1: wrote; 2: threw something else.
int WriteAsUser(const std::string& path) {
    return test::RunUnprivileged([&path] {
        try {
            TIniFile(path).WriteString("S", "k", "2");
            return 1;
        } catch (const EIniFileException& error) {
            return std::string(error.what()) == "Unable to write to " + path ? 0 : 2;
        }
    });
}

TEST(IniFile, FileTheCallerMayNotWriteIsNeverReplaced) {
    // The directory is writable by everyone, so only the file's own permissions refuse.
    TTempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    const std::string before = "[S]\nk=1\n";
    const std::string readOnly = dir.WriteFile("read-only.ini", before);
    const std::string foreign = dir.WriteFile("foreign.ini", before);
    const std::string own = dir.WriteFile("own.ini", before);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(own.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        for (const std::string& path : {readOnly, own}) {
            ASSERT_EQ(::chown(path.c_str(), test::UnprivilegedUser, test::UnprivilegedGroup), 0);
        }
        ASSERT_EQ(::chmod(foreign.c_str(), 0644), 0);  // root's, readable by all
    }

    EXPECT_EQ(WriteAsUser(readOnly), 0);
    EXPECT_EQ(ReadWholeFile(readOnly), before);
    EXPECT_EQ(StatOf(readOnly).Mode, 0444u);
    if (root) {
        EXPECT_EQ(WriteAsUser(foreign), 0);
        EXPECT_EQ(ReadWholeFile(foreign), before);
        EXPECT_EQ(StatOf(foreign).Owner, 0u);
    }
    // A file the caller may write is replaced and keeps its mode and owner.
    EXPECT_EQ(WriteAsUser(own), 1);
    EXPECT_EQ(ReadWholeFile(own), "[S]\nk=2\n");
    EXPECT_EQ(StatOf(own).Mode, 0640u);
    if (root) {
        EXPECT_EQ(StatOf(own).Owner, test::UnprivilegedUser);
        // Root writing the user's file leaves it the user's, or the user could not write again.
        TIniFile(own).WriteString("S", "k", "3");
        EXPECT_EQ(StatOf(own).Owner, test::UnprivilegedUser);
        EXPECT_EQ(StatOf(own).Mode, 0640u);
        EXPECT_EQ(WriteAsUser(own), 1);
        // The lock file root made first does not lock the user out.
        const std::string fresh = dir.WriteFile("fresh.ini", before);
        ASSERT_EQ(::chown(fresh.c_str(), test::UnprivilegedUser, test::UnprivilegedGroup), 0);
        TIniFile(fresh).WriteString("S", "k", "3");
        EXPECT_EQ(WriteAsUser(fresh), 1);
    }
}

TEST(IniFile, SymlinkedFileIsWrittenThroughTheLink) {
    TTempDir dir;
    const std::string target = dir.WriteFile("real/Options.ini", "[S]\nk=1\n");
    const std::string link = dir / "Options.ini";
    ASSERT_EQ(::symlink("real/Options.ini", link.c_str()), 0);
    // A chain of links, and a link to a file that does not exist yet.
    const std::string chain = dir / "chain.ini";
    ASSERT_EQ(::symlink(link.c_str(), chain.c_str()), 0);
    const std::string dangling = dir / "new.ini";
    ASSERT_EQ(::symlink("real/new.ini", dangling.c_str()), 0);

    TIniFile(link).WriteString("S", "k", "2");
    TIniFile(chain).WriteString("S", "a", "3");
    TIniFile(dangling).WriteString("S", "k", "4");
    for (const std::string& path : {link, chain, dangling}) {
        EXPECT_TRUE(StatOf(path).Symlink) << path;
    }
    EXPECT_EQ(ReadWholeFile(target), "[S]\nk=2\na=3\n");
    EXPECT_EQ(ReadWholeFile(dir / "real/new.ini"), "[S]\nk=4\n");
    EXPECT_EQ(test::EntryNames(dir / "real"), (std::vector<std::string>{"Options.ini", "new.ini"}));
}

// An editor that saves the file while a write is under way (between the write's reading and its
// rename): by replacing it, or by rewriting it in place.
class IniEditedMeanwhileTest : public testing::TestWithParam<bool> {};

TEST_P(IniEditedMeanwhileTest, WriteStartsOverFromTheEditorsContent) {
    const bool inPlace = GetParam();
    TTempDir dir;
    const std::string path = dir.WriteFile("x.ini", "[S]\na=1\nk=1\n");
    const std::string edited = "[S]\nk=1\nb=2\nc=3\n";
    int edits = 0;
    TScopedFault fault([&](TFileOperation operation, const std::string& where) {
        // The replacement's temporary file is made once the file has been read.
        if (operation == TFileOperation::Create && where.starts_with(dir / ".x.ini.") &&
            edits++ == 0) {
            if (inPlace) {
                std::FILE* file = std::fopen(path.c_str(), "w");
                std::fputs(edited.c_str(), file);
                std::fclose(file);
            } else {
                dir.WriteFile("edited.tmp", edited);
                std::filesystem::rename(dir / "edited.tmp", path);
            }
        }
        return 0;
    });
    TIniFile(path).WriteString("S", "k", "v");
    EXPECT_EQ(ReadWholeFile(path), "[S]\nk=v\nb=2\nc=3\n");
}

INSTANTIATE_TEST_SUITE_P(Editors, IniEditedMeanwhileTest, testing::Values(false, true),
                         [](const auto& info) {
                             return std::string(info.param ? "InPlace" : "Replacing");
                         });

TEST(IniFile, KnowsWhenSomeoneElseChangedTheFile) {
    TTempDir dir;
    const std::string path = dir / "x.ini";
    TIniFile mine(path);
    TIniFile other(path);
    EXPECT_TRUE(mine.Changed());  // never read
    mine.Read();
    EXPECT_FALSE(mine.Changed());  // missing, as read
    mine.WriteString("S", "a", "1");
    EXPECT_FALSE(mine.Changed());  // its own write
    other.WriteString("S", "b", "2");
    EXPECT_TRUE(mine.Changed());
    // Writing over someone else's change does not hide it: the other key may be news.
    mine.WriteString("S", "a", "3");
    EXPECT_TRUE(mine.Changed());
    TIniSnapshot snapshot;
    ASSERT_TRUE(mine.TryRead(snapshot));
    EXPECT_FALSE(mine.Changed());
    std::string value;
    EXPECT_TRUE(snapshot.Find("S", "b", value));
    EXPECT_EQ(value, "2");
    other.WriteString("S", "b", "4");
    {
        TScopedFault fault(FailUnder(path, TFileOperation::OpenRead, EIO));
        EXPECT_FALSE(mine.TryRead(snapshot));
    }
    EXPECT_TRUE(mine.Changed());  // still to be read
    std::filesystem::remove(path);
    EXPECT_TRUE(mine.Changed());
    ASSERT_TRUE(mine.TryRead(snapshot));
    EXPECT_FALSE(mine.Changed());
}

}  // namespace
}  // namespace sejfko
