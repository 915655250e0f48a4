#include "cli/pack_command.hpp"

#include <exception>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

#include "archive/backup_job.hpp"

namespace sejfko {

namespace {

constexpr int BarWidth = 20;

// Shows only changes; the engine's end-of-batch value (-1) is not a position.
class TPackProgress {
public:
    TPackProgress(std::ostream& err, bool terminal) : FErr(err), FTerminal(terminal) {}

    void Show(int32_t percent) {
        if (percent < 0 || percent == FLast) {
            return;
        }
        FLast = percent;
        const int shown = percent > 100 ? 100 : percent;
        if (FTerminal) {
            const int filled = shown * BarWidth / 100;
            FErr << "\r[" << std::string(filled, '#') << std::string(BarWidth - filled, ' ') << "] "
                 << shown << " %" << std::flush;
            FDrawn = true;
        } else if (shown / 10 > FLastDecade) {
            FLastDecade = shown / 10;
            FErr << FLastDecade * 10 << " %\n" << std::flush;
        }
    }

    void End() {
        if (FDrawn) {
            FErr << "\n" << std::flush;
            FDrawn = false;
        }
    }

private:
    std::ostream& FErr;
    bool FTerminal;
    bool FDrawn = false;
    int32_t FLast = -2;
    int FLastDecade = -1;
};

}  // namespace

bool IsTerminalStream(const std::ostream& err) {
    return &err == &std::cerr && ::isatty(2) != 0;
}

int RunPackCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
                   bool errIsTerminal) {
    if (arguments.size() < 2) {
        err << "Použití: sejfko-cli pack CÍL CESTA...\n";
        return 2;
    }
    const std::string destination = arguments.front();
    const std::vector<std::string> paths(arguments.begin() + 1, arguments.end());
    TPackProgress progress(err, errIsTerminal);
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
