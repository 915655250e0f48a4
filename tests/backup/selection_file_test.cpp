#include "backup/selection_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <random>

#include "platform/fault_injection.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

struct TSelection {
    bool Read = false;
    TStringList Include;
    TStringList Exclude;
};

TSelection ReadContent(const std::string& content, const TTempDir& dir = TTempDir()) {
    TSelection selection;
    selection.Read =
        ReadSelectionFile(dir.WriteFile("sel.txt", content), selection.Include, selection.Exclude);
    return selection;
}

TEST(ReadSelectionFileTest, LineEndsAndCtrlZ) {
    // CR LF, LF, a lone CR that ends the text (the rest up to LF is skipped), a last line
    // without an end, Ctrl+Z that ends the file.
    const TSelection selection =
        ReadContent("/a\r\n/b\n/c\rskipped /Exclude\n\n\r\n/d\x1A/after\n/e");
    EXPECT_TRUE(selection.Read);
    EXPECT_EQ(selection.Include, (TStringList{"/a", "/b", "/c", "/d"}));
    EXPECT_TRUE(selection.Exclude.empty());

    EXPECT_EQ(ReadContent("/last").Include, TStringList{"/last"});
    EXPECT_EQ(ReadContent("/cr at the end\r").Include, TStringList{"/cr at the end"});
    EXPECT_TRUE(ReadContent("\x1A/x\n").Include.empty());
    EXPECT_TRUE(ReadContent("").Read);
}

TEST(ReadSelectionFileTest, TrimsControlBytesAndDropsEntriesThatTrimToNothing) {
    const TSelection selection = ReadContent("\t /x y \x01\x1F\n   \n\t\n /z\n");
    EXPECT_EQ(selection.Include, (TStringList{"/x y", "/z"}));
}

TEST(ReadSelectionFileTest, ByteOrderMarkAtTheStartIsNotPartOfTheFirstEntry) {
    EXPECT_EQ(ReadContent("\xEF\xBB\xBF/a\n\xEF\xBB\xBF/b\n").Include,
              (TStringList{"/a", "\xEF\xBB\xBF/b"}));
    EXPECT_EQ(ReadContent("\xEF\xBB\xBF/x /exclude\n").Exclude, TStringList{"/x"});
    EXPECT_TRUE(ReadContent("\xEF\xBB\xBF").Include.empty());
}

TEST(ReadSelectionFileTest, ExclusionKeywordInAnyAsciiCase) {
    const TSelection selection = ReadContent(
        "/data/\n"
        "/data/Temp/ /Exclude\n"
        "  /data/old/ /exclude old\n"
        "/data/x\t/EXCLUDE/Exclude\n"
        "/data/y /eXcLuDe\n"
        "/Exclude\n"
        "/keep\n");
    EXPECT_EQ(selection.Include, (TStringList{"/data/", "/keep"}));
    EXPECT_EQ(selection.Exclude, (TStringList{"/data/Temp/", "/data/old/", "/data/x", "/data/y"}));
}

TEST(ReadSelectionFileTest, KeywordInsideAPathIsPartOfTheName) {
    // On POSIX "/Excluded" and "/exclude" are names below a directory, not the keyword.
    const TSelection selection =
        ReadContent("/home/u/Excluded\n/srv/exclude/data /Exclude\n/a/EXCLUDE\n");
    EXPECT_EQ(selection.Include, (TStringList{"/home/u/Excluded", "/a/EXCLUDE"}));
    EXPECT_EQ(selection.Exclude, TStringList{"/srv/exclude/data"});
}

TEST(ReadSelectionFileTest, KeywordWithLettersOutsideAsciiIsNotFound) {
    // Only a to z change case: a dotless or accented letter is not the keyword.
    const TSelection selection = ReadContent(
        "/p /\xC4\xB0xclude\n/q /excl\xC3\xBA"
        "de\n");
    EXPECT_EQ(selection.Include.size(), 2u);
    EXPECT_TRUE(selection.Exclude.empty());
}

TEST(ReadSelectionFileTest, BadBytesAndHugeLinesAreKeptAsBytes) {
    std::string nul("/with\0nul", 9);
    const std::string latin = "/P\xF8\xEDloha\xFF";
    const std::string huge = "/" + std::string(1 << 20, 'h');
    const TSelection selection =
        ReadContent(nul + "\n" + latin + "\r\n" + huge + "\n" + huge + " /exclude\n/end");
    ASSERT_TRUE(selection.Read);
    EXPECT_EQ(selection.Include, (TStringList{nul, latin, huge, "/end"}));
    EXPECT_EQ(selection.Exclude, TStringList{huge});
}

TEST(ReadSelectionFileTest, RandomBytesGiveOnlyTrimmedSingleLineEntries) {
    // Bytes drawn mostly from the ones that mean something here (line ends, Ctrl+Z, blanks, the
    // keyword's letters) so that the odd combinations come up.
    const std::string alphabet = std::string("\r\n\x1A \t\0/eExXcClLuUdD", 19) + "a\xC5\x99";
    std::mt19937 random(4242);
    const TTempDir dir;
    for (int round = 0; round < 200; ++round) {
        std::string content(random() % 400, '\0');
        for (char& c : content) {
            c = random() % 4 == 0 ? static_cast<char>(random())
                                  : alphabet[random() % alphabet.size()];
        }
        const TSelection selection = ReadContent(content, dir);
        ASSERT_TRUE(selection.Read);
        for (const TStringList* list : {&selection.Include, &selection.Exclude}) {
            for (const std::string& entry : *list) {
                ASSERT_FALSE(entry.empty());
                EXPECT_GT(static_cast<unsigned char>(entry.front()), ' ');
                EXPECT_GT(static_cast<unsigned char>(entry.back()), ' ');
                EXPECT_EQ(entry.find_first_of(std::string("\r\n\x1A", 3)), std::string::npos);
            }
        }
        // Everything after the first Ctrl+Z is ignored.
        const std::size_t end = content.find('\x1A');
        if (end != std::string::npos) {
            const TSelection head = ReadContent(content.substr(0, end), dir);
            EXPECT_EQ(head.Include, selection.Include);
            EXPECT_EQ(head.Exclude, selection.Exclude);
        }
    }
}

TEST(ReadSelectionFileTest, AppendsToTheListsGiven) {
    TTempDir dir;
    TStringList include{"/before"};
    TStringList exclude{"/x"};
    ASSERT_TRUE(ReadSelectionFile(dir.WriteFile("s", "/after\n/y /exclude\n"), include, exclude));
    EXPECT_EQ(include, (TStringList{"/before", "/after"}));
    EXPECT_EQ(exclude, (TStringList{"/x", "/y"}));
}

TEST(ReadSelectionFileTest, UnopenableOrUnreadableFileIsFalse) {
    TTempDir dir;
    TStringList include;
    TStringList exclude;
    EXPECT_FALSE(ReadSelectionFile(dir / "missing", include, exclude));
    EXPECT_FALSE(ReadSelectionFile(dir.Path(), include, exclude));
    // A FIFO would block the open or the read: refused without being opened.
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadSelectionFile(fifo, include, exclude));

    const std::string file = dir.WriteFile("sel", "/a\n/b\n");
    {
        TScopedFault fault(FailUnder(file, TFileOperation::OpenRead, EACCES));
        EXPECT_FALSE(ReadSelectionFile(file, include, exclude));
    }
    {
        // Half a selection must not pass for the whole one.
        TScopedFault fault(FailUnder(file, TFileOperation::Read, EIO));
        EXPECT_FALSE(ReadSelectionFile(file, include, exclude));
    }
    EXPECT_TRUE(include.empty());
    EXPECT_TRUE(exclude.empty());
}

}  // namespace
}  // namespace sejfko
