#include "cli/log_command.hpp"

#include <cstdio>

#include "backup/run_history.hpp"

namespace sejfko {

namespace {

constexpr const char* LogUsage =
    "Použití: sejfko-cli [--config-dir ADRESÁŘ] log [--last N] [--json]\n";

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

// `text` padded with blanks to `width` characters (UTF-8: continuation bytes do not count).
std::string Padded(const std::string& text, std::size_t width) {
    std::size_t characters = 0;
    for (const char c : text) {
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return text + std::string(characters < width ? width - characters : 0, ' ');
}

// The first line of a result text, without the Windows-style line ends the job uses.
std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find_first_of("\r\n"));
    return line;
}

}  // namespace

int RunLogCommand(const std::vector<std::string>& arguments, const std::string& dataDirectory,
                  std::ostream& out, std::ostream& err) {
    std::size_t last = 0;
    bool json = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--json") {
            json = true;
        } else if (arguments[i] == "--last" && i + 1 < arguments.size()) {
            const std::string& count = arguments[++i];
            char* end = nullptr;
            const unsigned long long value = std::strtoull(count.c_str(), &end, 10);
            if (count.empty() || *end != 0 || value == 0) {
                err << "Volba --last vyžaduje kladné číslo.\n" << LogUsage;
                return 2;
            }
            last = static_cast<std::size_t>(value);
        } else {
            err << "Neznámá volba \"" << arguments[i] << "\".\n" << LogUsage;
            return 2;
        }
    }
    if (json) {
        for (const std::string& line : ReadHistoryLines(dataDirectory, last)) {
            out << line << "\n";
        }
        return 0;
    }
    const std::vector<THistoryRecord> records = ReadHistory(dataDirectory, last);
    if (records.empty()) {
        out << "Historie je prázdná.\n";
        return 0;
    }
    char line[512];
    out << Padded("Začátek", 19) << "  " << Padded("Druh", 11) << "  " << Padded("Výsledek", 8)
        << "  " << Padded("Soubory", 8) << "  " << Padded("Přečteno", 9) << "  "
        << Padded("Zapsáno", 9) << "  " << Padded("Trvání", 7) << "  Archiv / zpráva\n";
    for (const THistoryRecord& record : records) {
        const std::string detail =
            record.Archive.empty() ? FirstLine(record.Result) : record.Archive;
        std::snprintf(
            line, sizeof line, "%-19s  %-11s  %-6s  %8llu  %9s  %9s  %6.1fs  ",
            When(record.Start).c_str(), KindText(record.Kind), record.Succeeded ? "OK" : "CHYBA",
            static_cast<unsigned long long>(record.Files), Bytes(record.BytesRead).c_str(),
            Bytes(record.BytesWritten).c_str(), record.DurationSeconds());
        out << line << detail << "\n";
        if (!record.Succeeded && !record.Archive.empty()) {
            out << "    " << FirstLine(record.Result) << "\n";
        }
        if (record.SkippedCount > 0) {
            out << "    vynecháno souborů: " << record.SkippedCount << "\n";
            for (const std::string& name : record.Skipped) {
                out << "      " << name << "\n";
            }
        }
    }
    return 0;
}

}  // namespace sejfko
