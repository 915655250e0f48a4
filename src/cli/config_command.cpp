#include "cli/config_command.hpp"

#include "cli/option_keys.hpp"
#include "cli/password_file.hpp"
#include "config/ini_file.hpp"

namespace sejfko {

int RunConfigCommand(TOptions& options, const TLocaleFormat& locale,
                     const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err) {
    // A password given as "--value-file FILE" stays off the command line, which other users
    // can read while the program runs.
    const bool fromFile = arguments.size() == 3 && arguments[1] == "--value-file";
    if (arguments.empty() || (arguments.size() > 2 && !fromFile)) {
        err << "Použití: sejfko-cli config \"KLÍČ\" [HODNOTA | --value-file SOUBOR]\n";
        return 2;
    }
    const TOptionKey* key = FindOptionKey(arguments[0]);
    if (key == nullptr) {
        err << "Neznámý klíč nastavení \"" << arguments[0]
            << "\". Klíče jsou pojmenovány jako v Options.ini, např. \"Backup count\".\n";
        return 2;
    }
    if (arguments.size() == 1) {
        out << key->Get(options, locale) << "\n";
        return 0;
    }
    std::string value = arguments[1];
    if (fromFile) {
        try {
            value = ReadPasswordFile(arguments[2]).front();
        } catch (const std::exception& error) {
            err << error.what() << "\n";
            return 1;
        }
    }
    try {
        key->Set(options, locale, value);
    } catch (const EInvalidOptionValue& error) {
        err << key->Key << ": " << error.what() << "\n";
        return 2;
    } catch (const EIniFileException& error) {
        err << error.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace sejfko
