// Deletion lists read as data: both line forms, odd names, damaged and hostile lines.

#include "restore/deletion_list.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup/update_batch.hpp"

namespace sejfko {
namespace {

std::vector<std::string> ParseWhole(const std::string& text, bool windows,
                                    std::size_t piece = 1 << 20) {
    TDeletionListParser parser(windows);
    for (std::size_t at = 0; at < text.size(); at += piece) {
        parser.Feed(text.data() + at, std::min(piece, text.size() - at));
    }
    parser.Finish();
    EXPECT_TRUE(parser.BadLines.empty()) << parser.BadLines.front();
    return parser.Paths;
}

TEST(DeletionList, PosixLinesAsTheBackupWritesThem) {
    // Whatever the backup writes must come back as the stored name.
    const std::vector<std::string> names = {"/home/eva/a.txt",
                                            "/home/eva/it's here.txt",
                                            "/home/eva/''",
                                            "/home/eva/$(reboot) `x`",
                                            "/home/eva/žluťoučký kůň.txt",
                                            "/home/eva/back\\slash",
                                            "/home/eva/-n"};
    std::string list = "#!/bin/sh\n\n";
    for (const std::string& name : names) {
        list += PosixUpdateBatchLine(name) + "\n";
    }
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
        const std::vector<std::string> paths = ParseWhole(list, false, piece);
        ASSERT_EQ(paths.size(), names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(paths[i], names[i].substr(1));
        }
    }
}

TEST(DeletionList, PosixLinesOfAnotherShapeAreReportedNotGuessed) {
    TDeletionListParser parser(false);
    const std::string text =
        "rm -f -- 'ok.txt'\n"
        "rm -rf -- 'everything'\n"
        "rm -f -- 'unterminated\n"
        "rm -f -- 'a' ; rm -f -- 'b'\n"
        "rm -f -- \"double\"\n"
        "rm -f -- ''\n"
        "echo hi\n"
        "rm -f -- 'last.txt'";  // no line end
    parser.Feed(text.data(), text.size());
    parser.Finish();
    EXPECT_EQ(parser.Paths, (std::vector<std::string>{"ok.txt", "last.txt"}));
    EXPECT_EQ(parser.BadLines.size(), 6u);
    EXPECT_EQ(parser.BadLines[0], "rm -rf -- 'everything'");
}

TEST(DeletionList, OverlongLinesAreCutAndReported) {
    TDeletionListParser parser(false);
    const std::string line = "rm -f -- '" + std::string(200000, 'a') + "'\nrm -f -- 'b'\n";
    parser.Feed(line.data(), line.size());
    parser.Finish();
    EXPECT_EQ(parser.Paths, std::vector<std::string>{"b"});
    ASSERT_EQ(parser.BadLines.size(), 1u);
    EXPECT_EQ(parser.BadLines[0].size(), TDeletionListParser::MaxLineLength);
}

TEST(DeletionList, WindowsLinesInCodePage852) {
    // "del \Dokumenty\řeka.txt": ř is 0xFD in code page 852.
    std::string list =
        "@echo off\r\ndel \\Dokumenty\\\xFD"
        "eka.txt\r\n";
    list += "del \"\\Moje dokumenty\\100%% hotovo.txt\"\r\n";
    list += "DEL \\a.txt\r\n";
    EXPECT_EQ(ParseWhole(list, true),
              (std::vector<std::string>{"Dokumenty/řeka.txt", "Moje dokumenty/100% hotovo.txt",
                                        "a.txt"}));
    // The backup's own line form reads back.
    EXPECT_EQ(ParseWhole(WindowsUpdateBatchLine("C:\\Data\\b c.txt") + "\r\n", true),
              std::vector<std::string>{"Data/b c.txt"});
}

TEST(DeletionList, KindsByNameAtTheRootOnly) {
    EXPECT_EQ(DeletionListKind("!!!!!upd_arch.sh"), 1);
    EXPECT_EQ(DeletionListKind("!!!!!upd_arch.bat"), 2);
    EXPECT_EQ(DeletionListKind("home/!!!!!upd_arch.sh"), 0);
    EXPECT_EQ(DeletionListKind("!!!!!upd_arch.txt"), 0);
    EXPECT_EQ(Cp852ToUtf8("\xA0\xD8\x9F\xA7"), "áěčž");
}

}  // namespace
}  // namespace sejfko
