#include "cli/log_command.hpp"

#include <cstdlib>

#include "backup/history_table.hpp"
#include "backup/run_history.hpp"

namespace sejfko {

namespace {

constexpr const char* LogUsage =
    "Použití: sejfko-cli [--config-dir ADRESÁŘ] log [--last N] [--json]\n";

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
    for (const std::string& line : HistoryTableLines(records)) {
        out << line << "\n";
    }
    return 0;
}

}  // namespace sejfko
