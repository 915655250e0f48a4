#pragma once
// The command line's message sink: the worker's notifications as Czech status lines on stderr
// (optionally time-stamped, for the daemon's log) and its archive and upload percentages as a
// progress bar. Remembers what a single run needs to decide its exit status.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

#include "cli/progress_bar.hpp"
#include "platform/locale_format.hpp"
#include "platform/message_sink.hpp"

namespace sejfko {

class TStatusPrinter final : public TMessageSink {
public:
    // `timestamps` prefixes each line with the local date and time and shows percentages as
    // lines every ten percent rather than a bar.
    TStatusPrinter(std::ostream& err, bool terminal, bool timestamps,
                   const TLocaleFormat& locale = UserLocale());

    void Post(unsigned message, intptr_t wParam, intptr_t lParam) override;
    void ShowException(const std::string& text) override;

    bool RunFinished() const { return FRunFinished.load(); }
    bool SelectionMissing() const { return FSelectionMissing.load(); }
    bool ExceptionShown() const { return FExceptionShown.load(); }

    // The line shown for one status code ("" when the code shows nothing by itself).
    std::string StatusText(int code, intptr_t lParam) const;

private:
    void Line(const std::string& text);

    std::ostream& FErr;
    const bool FTimestamps;
    const TLocaleFormat& FLocale;
    std::mutex FMutex;
    TProgressBar FBar;
    int FLastDecade = -1;
    std::atomic<bool> FRunFinished{false};
    std::atomic<bool> FSelectionMissing{false};
    std::atomic<bool> FExceptionShown{false};
};

// "Soubor s výběrem neexistuje, zvolte ho znovu v dialogu nastavení"
extern const char* const SelectionMissingText;

}  // namespace sejfko
