#include "backup/history_table.hpp"

#include <cstdio>

namespace sejfko {

namespace {

struct TColumn {
    const char* Caption;
    std::size_t Width;  // characters; 0 for the last, free column
    bool Right;
};

constexpr TColumn Columns[] = {
    {"Začátek", 19, false}, {"Druh", 11, false},           {"Výsledek", 8, false},
    {"Soubory", 8, true},   {"Přečteno", 9, true},         {"Zapsáno", 9, true},
    {"Trvání", 7, true},    {"Archiv / zpráva", 0, false},
};

const char* KindText(const std::string& kind) {
    if (kind == HistoryComplete) {
        return "úplná";
    }
    if (kind == HistoryIncremental) {
        return "přírůstková";
    }
    if (kind == HistoryNothingChanged) {
        return "beze změn";
    }
    if (kind == HistoryTransfer) {
        return "přenos";
    }
    if (kind == HistoryRestore) {
        return "obnova";
    }
    return "?";
}

std::string Bytes(uint64_t bytes) {
    char text[32];
    if (bytes < 10 * 1024) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    } else if (bytes < 10ull * 1024 * 1024) {
        std::snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(bytes >> 10));
    } else {
        std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
    }
    return text;
}

std::string When(TDateTime value) {
    const TDateParts date = DecodeDate(value);
    const TTimeParts time = DecodeTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date.Year, date.Month,
                  date.Day, time.Hour, time.Minute, time.Second);
    return text;
}

// The first line of a result text, without the Windows-style line ends the job uses.
std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

std::size_t Characters(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

std::string Line(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const TColumn& column = Columns[i];
        const std::size_t length = Characters(cells[i]);
        const std::string fill(length < column.Width ? column.Width - length : 0, ' ');
        line += column.Right ? fill + cells[i] : (column.Width == 0 ? cells[i] : cells[i] + fill);
        if (i + 1 < cells.size()) {
            line += "  ";
        }
    }
    return line;
}

}  // namespace

const std::vector<std::string>& HistoryColumns() {
    static const std::vector<std::string> captions = [] {
        std::vector<std::string> list;
        for (const TColumn& column : Columns) {
            list.emplace_back(column.Caption);
        }
        return list;
    }();
    return captions;
}

THistoryRow HistoryRowOf(const THistoryRecord& record) {
    THistoryRow row;
    row.Failed = !record.Succeeded;
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1fs", record.DurationSeconds());
    row.Cells = {When(record.Start),
                 KindText(record.Kind),
                 record.Succeeded ? "OK" : "CHYBA",
                 std::to_string(record.Files),
                 Bytes(record.BytesRead),
                 Bytes(record.BytesWritten),
                 duration,
                 record.Archive.empty() ? FirstLine(record.Result) : record.Archive};
    if (!record.Succeeded && !record.Archive.empty()) {
        row.Details.push_back(FirstLine(record.Result));
    }
    if (record.SkippedCount > 0) {
        row.Details.push_back("vynecháno souborů: " + std::to_string(record.SkippedCount));
        for (const std::string& name : record.Skipped) {
            row.Details.push_back("  " + name);
        }
    }
    return row;
}

std::vector<std::string> HistoryTableLines(const std::vector<THistoryRecord>& records) {
    std::vector<std::string> lines{Line(HistoryColumns())};
    for (const THistoryRecord& record : records) {
        const THistoryRow row = HistoryRowOf(record);
        lines.push_back(Line(row.Cells));
        for (const std::string& detail : row.Details) {
            lines.push_back("    " + detail);
        }
    }
    return lines;
}

}  // namespace sejfko
