#include "cli/pack_command.hpp"

#include <exception>

#include "archive/backup_job.hpp"
#include "cli/password_file.hpp"
#include "cli/progress_bar.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

int RunPackCommand(std::vector<std::string> arguments, std::ostream& out, std::ostream& err,
                   bool errIsTerminal) {
    std::string passwordFile;
    std::string error;
    if (!TakePasswordFileOption(arguments, passwordFile, error)) {
        err << error << "\n";
        return 2;
    }
    if (arguments.size() < 2) {
        err << "Použití: sejfko-cli pack [--password-file SOUBOR] CÍL CESTA...\n";
        return 2;
    }
    const std::string destination = arguments.front();
    TBackupJobSettings settings;
    if (!passwordFile.empty()) {
        try {
            const std::vector<std::string> passwords = ReadPasswordFile(passwordFile);
            if (passwords.size() != 1) {
                err << "Soubor s heslem pro zálohu smí obsahovat jen jedno heslo.\n";
                return 2;
            }
            settings.Password = passwords.front();
        } catch (const std::exception& failure) {
            err << failure.what() << "\n";
            return 1;
        }
    }
    std::vector<TArchiveItem> items;
    for (auto path = arguments.begin() + 1; path != arguments.end(); ++path) {
        // A file the caller names is that file, whatever "*" or "?" its name holds.
        items.push_back(TArchiveItem{*path, FileExists(*path), false});
    }
    TProgressBar progress(err, errIsTerminal);
    bool done = false;
    try {
        done = DoBackup(
            items, destination, true, false,
            [&progress](int32_t percent, bool& /*abort*/) { progress.Show(percent); }, true,
            settings);
    } catch (const std::exception& failure) {
        progress.End();
        err << failure.what() << "\n";
        return 1;
    }
    progress.End();
    std::string text;
    GetLastMessage(text);
    out << text << "\n";
    for (const std::string& skipped : LastSkippedFiles()) {
        err << "Vynecháno: " << skipped << "\n";
    }
    return done ? 0 : 1;
}

}  // namespace sejfko
