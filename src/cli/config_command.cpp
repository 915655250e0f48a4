#include "cli/config_command.hpp"

#include "cli/option_keys.hpp"
#include "config/ini_file.hpp"

namespace sejfko {

int RunConfigCommand(TOptions& options, const TLocaleFormat& locale,
                     const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err) {
    if (arguments.empty() || arguments.size() > 2) {
        err << "Použití: sejfko-cli config \"KLÍČ\" [HODNOTA]\n";
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
    try {
        key->Set(options, locale, arguments[1]);
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
