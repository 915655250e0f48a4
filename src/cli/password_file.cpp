#include "cli/password_file.hpp"

#include <fstream>
#include <iterator>

#include "config/options.hpp"
#include "platform/data_directory.hpp"
#include "platform/exceptions.hpp"
#include "platform/locale_format.hpp"

namespace sejfko {

namespace {

constexpr std::size_t MaxPasswordFileSize = 64 * 1024;

}  // namespace

std::vector<std::string> ReadPasswordFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw Exception("Soubor s heslem " + path + " nelze přečíst.");
    }
    std::string text;
    char buffer[4096];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (text.size() > MaxPasswordFileSize) {
            throw Exception("Soubor s heslem " + path + " je příliš velký.");
        }
    }
    if (file.bad()) {
        throw Exception("Soubor s heslem " + path + " nelze přečíst.");
    }
    std::vector<std::string> passwords;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            passwords.push_back(std::move(line));
        }
        start = end + 1;
    }
    if (passwords.empty()) {
        throw Exception("Soubor s heslem " + path + " žádné heslo neobsahuje.");
    }
    return passwords;
}

std::vector<std::string> ReadingPasswords(const std::string& passwordFile,
                                          const std::string& configDirectory) {
    if (!passwordFile.empty()) {
        return ReadPasswordFile(passwordFile);
    }
    try {
        TOptions options(UserLocale());
        options.Load(configDirectory.empty() ? DefaultDataDirectory() : configDirectory);
        const std::string password = options.ArchivePassword();
        if (!password.empty()) {
            return {password};
        }
    } catch (const std::exception&) {
        // No readable configuration: no password from it.
    }
    return {};
}

bool TakePasswordFileOption(std::vector<std::string>& arguments, std::string& file,
                            std::string& error) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--") {
            break;
        }
        if (arguments[i] != "--password-file") {
            continue;
        }
        if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
            error = "Volba --password-file vyžaduje soubor s heslem.";
            return false;
        }
        if (!file.empty()) {
            error = "Volba --password-file je zadána vícekrát.";
            return false;
        }
        file = arguments[i + 1];
        arguments.erase(arguments.begin() + static_cast<long>(i),
                        arguments.begin() + static_cast<long>(i) + 2);
        --i;
    }
    return true;
}

}  // namespace sejfko
