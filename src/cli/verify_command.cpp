#include "cli/verify_command.hpp"

#include "archive/zip_reader.hpp"
#include "cli/list_command.hpp"

namespace sejfko {

namespace {

// Reasons for the bad entries (empty when the archive is sound).
std::vector<std::string> VerifyArchive(const std::string& path) {
    std::vector<std::string> problems;
    TZipReader reader;
    try {
        reader.Open(path);
    } catch (const EZipReadError& error) {
        problems.emplace_back(error.what());
        return problems;
    }
    for (const TZipDirEntry& entry : reader.Entries()) {
        try {
            reader.ExtractTo(entry, {});
        } catch (const EZipReadError& error) {
            problems.emplace_back(error.what());
        }
    }
    return problems;
}

}  // namespace

int RunVerifyCommand(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err) {
    if (arguments.empty()) {
        err << "Příkaz verify vyžaduje alespoň jeden archiv.\n";
        return 2;
    }
    bool allSound = true;
    for (const std::string& path : arguments) {
        const std::vector<std::string> problems = VerifyArchive(path);
        if (problems.empty()) {
            out << PrintableName(path) << ": OK\n";
            continue;
        }
        allSound = false;
        out << PrintableName(path) << ": CHYBA\n";
        for (const std::string& problem : problems) {
            out << "  " << PrintableName(problem) << "\n";
        }
    }
    return allSound ? 0 : 1;
}

}  // namespace sejfko
