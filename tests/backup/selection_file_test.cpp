#include "backup/selection_file.hpp"

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <random>

#include "platform/fault_injection.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;
using namespace std::string_literals;

std::string Utf16(const std::string& utf8, const char* encoding) {
    iconv_t cd = iconv_open(encoding, "UTF-8");
    std::string input = utf8;
    std::string output(input.size() * 2 + 2, '\0');
    char* in = input.data();
    char* out = output.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = output.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &out, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(cd);
    output.resize(output.size() - outLeft);
    return output;
}

struct TSelection {
    bool Read = false;
    TStringList Include;
    TStringList Exclude;
    std::string Refusal;
};

TSelection ReadContent(const std::string& content, const TTempDir& dir = TTempDir()) {
    TSelection selection;
    selection.Read =
        ReadSelectionFile(dir.WriteFile("sel.txt", content), selection.Include, selection.Exclude,
                          &selection.Refusal) == TSelectionResult::Read;
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
    const std::string latin = "/P\xF8\xEDloha\xFF";
    const std::string huge = "/" + std::string(1 << 20, 'h');
    const TSelection selection =
        ReadContent(latin + "\r\n" + huge + "\n" + huge + " /exclude\n/end");
    ASSERT_TRUE(selection.Read);
    EXPECT_EQ(selection.Include, (TStringList{latin, huge, "/end"}));
    EXPECT_EQ(selection.Exclude, TStringList{huge});
}

TEST(ReadSelectionFileTest, LineWithNulRefusesTheFileNamingTheLine) {
    // Every call on a path ends at its NUL: "/data/a\0b" would back up "/data/a".
    TTempDir dir;
    const std::string path = dir.WriteFile("sel.txt", "/ok\r\n/a\rafter\0cr\n\n/data/a\0b\n/x\n"s);
    TStringList include{"/before"};
    TStringList exclude;
    std::string refusal;
    EXPECT_EQ(ReadSelectionFile(path, include, exclude, &refusal), TSelectionResult::Refused);
    EXPECT_EQ(refusal, "Soubor s výběrem '" + path +
                           "' obsahuje na řádku 4 nulový znak (NUL), záloha nebyla provedena. "
                           "Uložte ho jako prostý text.");
    EXPECT_EQ(include, TStringList{"/before"});
    EXPECT_TRUE(exclude.empty());

    // Also a line of NULs only, the last line, and NULs left by a crash at the end.
    for (const std::string& content : {std::string("/a\n\0\0\n", 6), std::string("/a\n/b\0", 6),
                                       "/a\n" + std::string(4096, '\0')}) {
        const TSelection refused = ReadContent(content);
        EXPECT_FALSE(refused.Read);
        EXPECT_NE(refused.Refusal.find("na řádku 2 "), std::string::npos) << refused.Refusal;
    }
    // After Ctrl+Z nothing counts, a NUL neither.
    EXPECT_TRUE(ReadContent(std::string("/a/b/c\x1A\0", 8)).Read);
}

TEST(ReadSelectionFileTest, Utf16FilesReadAsTheirUtf8Text) {
    // Long enough that lines and code units straddle the reader's chunks.
    std::string text = "/home/jana/Účty\r\n/home/jana/Účty/staré /Exclude\r\n\r\n";
    for (int i = 0; i < 3000; ++i) {
        text += "/srv/řízení/soubor " + std::to_string(i) + " žluťoučký 😀\r\n";
    }
    text += "/konec";
    const TSelection expected = ReadContent(text);
    ASSERT_TRUE(expected.Read);
    ASSERT_EQ(expected.Include.size(), 3002u);
    for (const std::string& content :
         {"\xFF\xFE" + Utf16(text, "UTF-16LE"), "\xFE\xFF" + Utf16(text, "UTF-16BE"),
          Utf16(text, "UTF-16LE"), Utf16(text, "UTF-16BE")}) {
        const TSelection selection = ReadContent(content);
        ASSERT_TRUE(selection.Read) << selection.Refusal;
        EXPECT_EQ(selection.Include, expected.Include);
        EXPECT_EQ(selection.Exclude, TStringList{"/home/jana/Účty/staré"});
    }
    // A NUL character in UTF-16 is refused like a NUL byte.
    const TSelection refused = ReadContent("\xFF\xFE" + Utf16("/a\n/b", "UTF-16LE") +
                                           std::string("\0\0", 2) + Utf16("c\n", "UTF-16LE"));
    EXPECT_FALSE(refused.Read);
    EXPECT_NE(refused.Refusal.find("na řádku 2 "), std::string::npos) << refused.Refusal;
}

TEST(ReadSelectionFileTest, KeywordRightAfterASeparatorIsAnExclusion) {
    const TSelection selection = ReadContent(
        "/data/\n/data/Temp//Exclude\n/data/old//exclude now\n/data/x//Excluded\n"
        "/data/y//exclude/z\n");
    EXPECT_EQ(selection.Exclude, (TStringList{"/data/Temp/", "/data/old/"}));
    // A name that merely begins with the keyword stays a name.
    EXPECT_EQ(selection.Include,
              (TStringList{"/data/", "/data/x//Excluded", "/data/y//exclude/z"}));
}

TEST(ReadSelectionFileTest, RandomBytesGiveOnlyTrimmedSingleLineEntries) {
    // Bytes drawn mostly from the ones that mean something here (line ends, Ctrl+Z, blanks, the
    // keyword's letters) so that the odd combinations come up; every other round without NUL.
    const std::string alphabet = std::string("\r\n\x1A \t\0/eExXcClLuUdD", 19) + "a\xC5\x99";
    std::mt19937 random(4242);
    const TTempDir dir;
    for (int round = 0; round < 400; ++round) {
        const bool withNul = round % 2 == 0;
        std::string content(random() % 400, '\0');
        for (char& c : content) {
            do {
                c = random() % 4 == 0 ? static_cast<char>(random())
                                      : alphabet[random() % alphabet.size()];
            } while (!withNul && c == '\0');
        }
        const TSelection selection = ReadContent(content, dir);
        if (!withNul) {
            ASSERT_TRUE(selection.Read);
        } else if (!selection.Read) {
            ASSERT_NE(selection.Refusal.find("nulový znak (NUL)"), std::string::npos);
            continue;
        }
        for (const TStringList* list : {&selection.Include, &selection.Exclude}) {
            for (const std::string& entry : *list) {
                ASSERT_FALSE(entry.empty());
                EXPECT_GT(static_cast<unsigned char>(entry.front()), ' ');
                EXPECT_GT(static_cast<unsigned char>(entry.back()), ' ');
                EXPECT_EQ(entry.find_first_of(std::string("\r\n\x1A\0", 4)), std::string::npos);
            }
        }
        // Everything after the first Ctrl+Z is ignored.
        const std::size_t end = content.find('\x1A');
        if (end != std::string::npos && !withNul) {
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
    ASSERT_EQ(ReadSelectionFile(dir.WriteFile("s", "/after\n/y /exclude\n"), include, exclude),
              TSelectionResult::Read);
    EXPECT_EQ(include, (TStringList{"/before", "/after"}));
    EXPECT_EQ(exclude, (TStringList{"/x", "/y"}));
}

TEST(ReadSelectionFileTest, UnopenableOrUnreadableFileIsUnreadable) {
    TTempDir dir;
    TStringList include;
    TStringList exclude;
    EXPECT_EQ(ReadSelectionFile(dir / "missing", include, exclude), TSelectionResult::Unreadable);
    EXPECT_EQ(ReadSelectionFile(dir.Path(), include, exclude), TSelectionResult::Unreadable);
    // A FIFO would block the open or the read: refused without being opened.
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadSelectionFile(fifo, include, exclude), TSelectionResult::Unreadable);

    const std::string file = dir.WriteFile("sel", "/a\n/b\n");
    {
        TScopedFault fault(FailUnder(file, TFileOperation::OpenRead, EACCES));
        EXPECT_EQ(ReadSelectionFile(file, include, exclude), TSelectionResult::Unreadable);
    }
    {
        // Half a selection must not pass for the whole one.
        TScopedFault fault(FailUnder(file, TFileOperation::Read, EIO));
        EXPECT_EQ(ReadSelectionFile(file, include, exclude), TSelectionResult::Unreadable);
    }
    EXPECT_TRUE(include.empty());
    EXPECT_TRUE(exclude.empty());
}

}  // namespace
}  // namespace sejfko
