#include "cli/pack_command.hpp"

#include <exception>

#include "archive/backup_job.hpp"
#include "cli/progress_bar.hpp"

namespace sejfko {

int RunPackCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   bool errIsTerminal) {
    if (arguments.size() < 2) {
        err << "Použití: sejfko-cli pack CÍL CESTA...\n";
        return 2;
    }
    const std::string destination = arguments.front();
    const std::vector<std::string> paths(arguments.begin() + 1, arguments.end());
    TProgressBar progress(err, errIsTerminal);
    bool done = false;
    try {
        done = DoBackup(
            paths, destination, true, false,
            [&progress](int32_t percent, bool& /*abort*/) { progress.Show(percent); }, true);
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
