// `sejfko-cli log` as a table: the columns stay aligned under their captions whatever Czech
// letters the cells hold (widths count characters, not bytes), and the lines below a record.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "backup/run_history.hpp"
#include "cli/log_command.hpp"
#include "platform/date_time.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

// `line` as characters (UTF-8 decoded to one string per character).
std::vector<std::string> Characters(const std::string& line) {
    std::vector<std::string> characters;
    for (const char c : line) {
        if ((static_cast<unsigned char>(c) & 0xC0) == 0x80 && !characters.empty()) {
            characters.back() += c;
        } else {
            characters.emplace_back(1, c);
        }
    }
    return characters;
}

// The character index where `cell` begins in `line` (npos when absent).
std::size_t CharacterOffset(const std::string& line, const std::string& cell) {
    const std::size_t byte = line.find(cell);
    return byte == std::string::npos ? byte : Characters(line.substr(0, byte)).size();
}

TEST(LogTableTest, ColumnsLineUpUnderTheirCaptionsWithCzechCells) {
    test::TTempDir data;
    const struct {
        const char* Kind;
        bool Succeeded;
        const char* Archive;
        const char* Result;
    } rows[] = {
        {HistoryComplete, true, "Backup_20240101_2000_full.fbk", "Záloha byla úspěšně dokončena."},
        {HistoryIncremental, false, "Backup_20240102_2000.fbk", "Chyba při zálohování.\n\r(x)"},
        {HistoryNothingChanged, true, "", "Žádné změny."},
        {HistoryRestore, true, "Backup_20240102_2000.fbk", "Obnoveno do /tmp/x: souborů 3."},
    };
    int day = 1;
    for (const auto& row : rows) {
        THistoryRecord record;
        record.Start = EncodeDateTime(2024, 1, day, 20, 0, 5);
        record.End = record.Start + 12.0 / 86400;
        ++day;
        record.Kind = row.Kind;
        record.Succeeded = row.Succeeded;
        record.Archive = row.Archive;
        record.Result = row.Result;
        record.Files = 1234;
        record.BytesRead = 20 * 1024;
        ASSERT_TRUE(AppendHistory(data.Path(), record));
    }
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunLogCommand({}, data.Path(), out, err), 0);
    std::vector<std::string> lines;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    SCOPED_TRACE(out.str());
    ASSERT_EQ(lines.size(), 6u);  // captions, four records, the failure's reason
    const std::string& header = lines[0];
    const std::size_t result = CharacterOffset(header, "Výsledek");
    const std::size_t files = CharacterOffset(header, "Soubory") + Characters("Soubory").size();
    const std::size_t detail = CharacterOffset(header, "Archiv / zpráva");
    for (const std::string& line : {lines[1], lines[2], lines[4], lines[5]}) {
        SCOPED_TRACE(line);
        const std::size_t ok = line.find("  OK  ") != std::string::npos
                                   ? CharacterOffset(line, "  OK  ") + 2
                                   : CharacterOffset(line, "CHYBA");
        EXPECT_EQ(ok, result);
        EXPECT_EQ(CharacterOffset(line, "1234") + 4, files);
    }
    EXPECT_EQ(CharacterOffset(lines[1], "Backup_20240101_2000_full.fbk"), detail);
    EXPECT_EQ(CharacterOffset(lines[4], "Žádné změny."), detail);
    EXPECT_EQ(lines[3], "    Chyba při zálohování.");
    EXPECT_NE(lines[1].find(" 12.0s  Backup_"), std::string::npos);
    EXPECT_NE(lines[1].find("   20 KiB"), std::string::npos);
}

}  // namespace
}  // namespace sejfko
