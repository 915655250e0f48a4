#include "cli/status_printer.hpp"

#include "archive/backup_job.hpp"
#include "backup/backup_thread.hpp"
#include "backup/schedule.hpp"
#include "platform/clock.hpp"

namespace sejfko {

const char* const SelectionMissingText = SelectionMissingMessage;

namespace {

std::string WithPercent(const char* text, intptr_t percent) {
    return std::string(text) + " " + std::to_string(percent) + "%";
}

}  // namespace

TStatusPrinter::TStatusPrinter(std::ostream& err, bool terminal, bool timestamps,
                               const TLocaleFormat& locale)
    : FErr(err), FTimestamps(timestamps), FLocale(locale), FBar(err, terminal && !timestamps) {}

std::string TStatusPrinter::StatusText(int code, intptr_t lParam) const {
    switch (code) {
        case bsRunStarted:
            return "Sejfko - příprava";
        case bsSelectionRead:
            return "Sejfko - zpracování vstupního souboru";
        case bsSavingSelection:
            return "Sejfko - ukládání výběru";
        case bsArchiveProgress:
            return WithPercent("Sejfko - záloha souborů", lParam);
        case bsIdle: {
            const TDateTime next = BackupThread ? BackupThread->NextRun.load() : 0.0;
            if (next < 10.0) {
                return "Program je poprvé spuštěn, použijte dialog pro jeho nastavení";
            }
            // A plan that lies in the past starts now; never show the date it was missed from.
            return "Další zálohování " + FLocale.FormatDisplay(ShownNextRun(next, Now()));
        }
        case bsRunFinished:
            return LastMessage();
        case bsTransferStarted:
            return "Probíhá přenos souboru";
        case bsTransferFailed:
            return "Přenos selhal";
        case bsTransferDone:
            return "Přenos je dokončen";
        case bsTransferProgress:
            return WithPercent("Probíhá přenos souboru", lParam);
        default:
            return "";
    }
}

void TStatusPrinter::Line(const std::string& text) {
    FBar.End();
    if (FTimestamps) {
        FErr << "[" << FLocale.FormatDisplay(Now()) << "] ";
    }
    FErr << text << "\n" << std::flush;
}

void TStatusPrinter::Post(unsigned message, intptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> lock(FMutex);
    if (message == WM_SELECTION_MISSING) {
        FSelectionMissing = true;
        Line(SelectionMissingText);
        return;
    }
    if (message != WM_BACKUP_STATUS) {
        return;  // the bookkeeping values are shown by `status`
    }
    const int code = static_cast<int>(wParam);
    if (code == bsRunFinished) {
        FRunFinished = true;
    }
    const bool percentage = code == bsArchiveProgress || code == bsTransferProgress;
    if (percentage && !FTimestamps) {
        FBar.Show(static_cast<int32_t>(lParam));
        return;
    }
    if (code == bsRunStarted || code == bsTransferStarted) {
        FLastDecade = -1;
    }
    if (percentage) {
        // The log keeps one line per ten percent reached.
        if (lParam < 0 || lParam / 10 <= FLastDecade) {
            return;
        }
        FLastDecade = static_cast<int>(lParam > 100 ? 10 : lParam / 10);
    }
    // A single run does not need the schedule line after its result; the daemon does.
    if (code == bsIdle && !FTimestamps) {
        return;
    }
    const std::string text = StatusText(code, lParam);
    if (code == bsRunFinished && !FTimestamps) {
        return;  // the run's result goes to stdout, once
    }
    if (!text.empty()) {
        Line(text);
    }
}

void TStatusPrinter::ShowException(const std::string& text) {
    std::lock_guard<std::mutex> lock(FMutex);
    FExceptionShown = true;
    Line("Chyba: " + text);
}

}  // namespace sejfko
