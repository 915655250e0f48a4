#include "cli/progress_bar.hpp"

#include <iostream>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace sejfko {

namespace {
constexpr int BarWidth = 20;
}

bool IsTerminalStream(const std::ostream& err) {
    return &err == &std::cerr && ::isatty(2) != 0;
}

void TProgressBar::Show(int32_t percent) {
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

void TProgressBar::End() {
    if (FDrawn) {
        FErr << "\n" << std::flush;
        FDrawn = false;
    }
    FLast = -2;
    FLastDecade = -1;
}

}  // namespace sejfko
