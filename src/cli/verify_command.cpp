#include "cli/verify_command.hpp"

#include "archive/zip_reader.hpp"
#include "cli/list_command.hpp"
#include "cli/password_file.hpp"

namespace sejfko {

namespace {

// Reasons for the bad entries (empty when the archive is sound); `links` counts the link
// entries. A link entry must also hold a target a link can be made of.
std::vector<std::string> VerifyArchive(const std::string& path,
                                       const std::vector<std::string>& passwords,
                                       std::size_t& links) {
    std::vector<std::string> problems;
    links = 0;
    TZipReader reader;
    try {
        reader.Open(path);
        reader.SetPasswords(passwords);
        // A missing or wrong password is one problem, not one for every entry.
        for (const TZipDirEntry& entry : reader.Entries()) {
            if (entry.IsEncrypted()) {
                reader.CheckPassword(entry);
                break;
            }
        }
    } catch (const EZipReadError& error) {
        problems.emplace_back(error.Code == 11017 ? std::string(error.what()) +
                                                        " Zadejte ho volbou --password-file SOUBOR."
                                                  : std::string(error.what()));
        return problems;
    }
    for (const TZipDirEntry& entry : reader.Entries()) {
        try {
            if (!entry.IsSymlink()) {
                reader.ExtractTo(entry, {});
            } else if (reader.ReadLinkTarget(entry).empty()) {
                problems.push_back("Symbolický odkaz \"" + entry.Name +
                                   "\" má prázdný, příliš dlouhý nebo nulovým bajtem "
                                   "porušený cíl.");
            } else {
                ++links;
            }
        } catch (const EZipReadError& error) {
            problems.emplace_back(error.what());
        }
    }
    return problems;
}

}  // namespace

int RunVerifyCommand(std::vector<std::string> arguments, const std::string& configDirectory,
                     std::ostream& out, std::ostream& err) {
    std::string passwordFile;
    std::string error;
    if (!TakePasswordFileOption(arguments, passwordFile, error)) {
        err << error << "\n";
        return 2;
    }
    if (arguments.empty()) {
        err << "Příkaz verify vyžaduje alespoň jeden archiv.\n";
        return 2;
    }
    std::vector<std::string> passwords;
    try {
        passwords = ReadingPasswords(passwordFile, configDirectory);
    } catch (const std::exception& failure) {
        err << failure.what() << "\n";
        return 1;
    }
    bool allSound = true;
    for (const std::string& path : arguments) {
        std::size_t links = 0;
        const std::vector<std::string> problems = VerifyArchive(path, passwords, links);
        if (problems.empty()) {
            out << PrintableName(path) << ": OK";
            if (links > 0) {
                out << " (symbolické odkazy: " << links << ")";
            }
            out << "\n";
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
