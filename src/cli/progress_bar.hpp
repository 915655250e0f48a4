#pragma once
// A percentage shown on stderr: a bar redrawn in place on a terminal, else one line per ten
// percent (logs stay short).

#include <cstdint>
#include <ostream>

namespace sejfko {

// True when `err` is the process's standard error and that is a terminal.
bool IsTerminalStream(const std::ostream& err);

class TProgressBar {
public:
    TProgressBar(std::ostream& err, bool terminal) : FErr(err), FTerminal(terminal) {}
    ~TProgressBar() { End(); }
    TProgressBar(const TProgressBar&) = delete;
    TProgressBar& operator=(const TProgressBar&) = delete;

    // Shows only changes; negative values (an engine's end-of-batch mark) are not a position.
    void Show(int32_t percent);
    // Ends a drawn bar with a line break; the next Show starts afresh.
    void End();

private:
    std::ostream& FErr;
    bool FTerminal;
    bool FDrawn = false;
    int32_t FLast = -2;
    int FLastDecade = -1;
};

}  // namespace sejfko
