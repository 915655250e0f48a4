#include "cli/cli_app.hpp"

#include <string>
#include <vector>

#include "cli/config_command.hpp"
#include "cli/list_command.hpp"
#include "cli/log_command.hpp"
#include "cli/pack_command.hpp"
#include "cli/progress_bar.hpp"
#include "cli/restore_command.hpp"
#include "cli/run_command.hpp"
#include "cli/status_command.hpp"
#include "cli/transfer_command.hpp"
#include "cli/verify_command.hpp"
#include "config/ini_file.hpp"
#include "config/options.hpp"
#include "platform/data_directory.hpp"
#include "platform/locale_format.hpp"

namespace sejfko {

namespace {

constexpr const char* UsageText =
    "Sejfko - záloha souborů, ovládání z příkazové řádky\n"
    "\n"
    "Použití:\n"
    "  sejfko-cli [--config-dir ADRESÁŘ] status\n"
    "      vypíše nastavení a stav zálohování\n"
    "  sejfko-cli [--config-dir ADRESÁŘ] config \"KLÍČ\" [HODNOTA | --value-file SOUBOR]\n"
    "      vypíše nebo nastaví jednu hodnotu (klíče jako v Options.ini, např. \"Backup count\")\n"
    "  sejfko-cli [--config-dir ADRESÁŘ] list [--password-file SOUBOR] ARCHIV\n"
    "      vypíše položky archivu zip (velikost, komprimovaná velikost, datum, CRC, název)\n"
    "  sejfko-cli [--config-dir ADRESÁŘ] verify [--password-file SOUBOR] ARCHIV...\n"
    "      ověří CRC (u zašifrovaných archivů kód ověření) všech položek archivů\n"
    "  sejfko-cli [--config-dir ADRESÁŘ] run\n"
    "      provede jedno zálohování hned podle nastavení\n"
    "  sejfko-cli [--config-dir ADRESÁŘ] daemon\n"
    "      zálohuje podle plánu (a přenáší archivy) až do Ctrl+C nebo SIGTERM\n"
    "  sejfko-cli [--config-dir ADRESÁŘ] transfer [--show-certificate]\n"
    "      pošle hned na FTP server archivy čekající v dočasném adresáři; s volbou\n"
    "      --show-certificate jen vypíše otisk certifikátu serveru (FTPS) a nic neposílá\n"
    "  sejfko-cli [--config-dir ADRESÁŘ] log [--last N] [--json]\n"
    "      vypíše historii zálohování, přenosů a obnov\n"
    "  sejfko-cli pack [--password-file SOUBOR] CÍL CESTA...\n"
    "      zazálohuje soubory a složky do archivu .fbk (CÍL je složka nebo název archivu;\n"
    "      s heslem ze souboru zašifrovaně, AES-256)\n"
    "  sejfko-cli restore --to SLOŽKA [--at \"RRRR-MM-DD HH:MM\"] [--only CESTA]... [--dry-run]\n"
    "                     [--force] [--password-file SOUBOR] ZDROJ...\n"
    "      obnoví soubory z řetězu záloh (ZDROJ je složka s archivy nebo archiv; místo ZDROJ\n"
    "      volba --from-server stáhne řetěz ze serveru FTP z nastavení)\n"
    "\n"
    "Volby:\n"
    "  --config-dir ADRESÁŘ  adresář se souborem Options.ini\n"
    "  --password-file SOUBOR  hesla zašifrovaných archivů, jedno na řádek (bez této volby\n"
    "                        platí \"Archive password\" z Options.ini)\n"
    "  --help                tato nápověda\n";

struct TCommandLine {
    std::string ConfigDirectory;
    std::string Command;
    std::vector<std::string> Arguments;
    bool Help = false;
};

// Returns false (message in `error`) for a malformed command line.
bool ParseCommandLine(int argc, char** argv, TCommandLine& line, std::string& error) {
    int index = 1;
    for (; index < argc; ++index) {
        std::string argument = argv[index];
        if (argument == "--help" || argument == "-h") {
            line.Help = true;
        } else if (argument == "--config-dir") {
            if (index + 1 >= argc) {
                error = "Volba --config-dir vyžaduje adresář.";
                return false;
            }
            line.ConfigDirectory = argv[++index];
        } else if (argument.rfind("--config-dir=", 0) == 0) {
            line.ConfigDirectory = argument.substr(13);
        } else if (argument.size() > 1 && argument[0] == '-') {
            error = "Neznámá volba \"" + argument + "\".";
            return false;
        } else {
            break;
        }
    }
    if (index < argc) {
        line.Command = argv[index++];
    }
    for (; index < argc; ++index) {
        line.Arguments.emplace_back(argv[index]);
    }
    return true;
}

}  // namespace

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err) {
    TCommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, line, error)) {
        err << error << "\n\n" << UsageText;
        return 2;
    }
    if (line.Help) {
        out << UsageText;
        return 0;
    }
    if (line.Command.empty()) {
        err << UsageText;
        return 2;
    }
    // The archive commands need no options (the readers take the archive password from them
    // when no password file is given).
    if (line.Command == "list") {
        return RunListCommand(line.Arguments, line.ConfigDirectory, out, err);
    }
    if (line.Command == "verify") {
        return RunVerifyCommand(line.Arguments, line.ConfigDirectory, out, err);
    }
    if (line.Command == "pack") {
        return RunPackCommand(line.Arguments, out, err, IsTerminalStream(err));
    }
    if (line.Command == "restore") {
        return RunRestoreCommand(line.Arguments, line.ConfigDirectory, out, err,
                                 IsTerminalStream(err));
    }
    if (line.Command == "log") {
        return RunLogCommand(
            line.Arguments,
            line.ConfigDirectory.empty() ? DefaultDataDirectory() : line.ConfigDirectory, out, err);
    }
    if (line.Command == "transfer" && line.Arguments.size() == 1 &&
        line.Arguments.front() == "--show-certificate") {
        return RunShowCertificateCommand(
            line.ConfigDirectory.empty() ? DefaultDataDirectory() : line.ConfigDirectory, out, err);
    }
    if (line.Command == "run" || line.Command == "daemon" || line.Command == "transfer") {
        if (!line.Arguments.empty()) {
            err << "Příkaz " << line.Command << " nemá žádné argumenty.\n";
            return 2;
        }
        const std::string directory =
            line.ConfigDirectory.empty() ? DefaultDataDirectory() : line.ConfigDirectory;
        if (line.Command == "run") {
            return RunBackupCommand(directory, out, err, IsTerminalStream(err));
        }
        if (line.Command == "transfer") {
            return RunTransferCommand(directory, out, err, IsTerminalStream(err));
        }
        return RunDaemonCommand(directory, out, err);
    }
    if (line.Command != "status" && line.Command != "config") {
        err << "Neznámý příkaz \"" << line.Command << "\".\n\n" << UsageText;
        return 2;
    }
    if (line.Command == "status" && !line.Arguments.empty()) {
        err << "Příkaz status nemá žádné argumenty.\n";
        return 2;
    }

    if (line.ConfigDirectory.empty()) {
        line.ConfigDirectory = DefaultDataDirectory();
    }
    const TLocaleFormat& locale = UserLocale();
    TOptions options(locale);
    try {
        options.Load(line.ConfigDirectory);
        if (line.Command == "status") {
            return RunStatusCommand(options, locale, out);
        }
        return RunConfigCommand(options, locale, line.Arguments, out, err);
    } catch (const std::exception& failure) {
        err << failure.what() << "\n";
        return 1;
    }
}

}  // namespace sejfko
