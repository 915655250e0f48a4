#pragma once
// Notifications from the core to the front end. The core posts numbered messages (they keep the
// values the desktop program has always used) and hands over exceptions for display; the front
// end registers one process-wide sink that queues both to its own thread (desktop) or prints
// them (command line). Posting never blocks. With no sink registered, messages are dropped and
// exception texts go to stderr.

#include <cstdint>
#include <exception>
#include <string>

namespace sejfko {

constexpr unsigned WM_APP = 0x8000;
constexpr unsigned WM_BACKUP_STATUS = WM_APP + 1;
constexpr unsigned WM_LAST_RUN_CHANGED = WM_APP + 2;
constexpr unsigned WM_LAST_TRANSFER_CHANGED = WM_APP + 3;
constexpr unsigned WM_TRANSFER_COUNT_CHANGED = WM_APP + 4;
constexpr unsigned WM_SELECTION_MISSING = WM_APP + 5;
constexpr unsigned WM_SHOW_MAIN_WINDOW = WM_APP + 20;
constexpr unsigned WM_OPEN_OPTIONS = WM_APP + 30;

// Status codes carried in wParam of WM_BACKUP_STATUS.
enum TBackupStatus : int {
    bsRunStarted = 0,
    bsSelectionRead = 1,
    bsSavingSelection = 2,
    bsArchiveProgress = 3,
    bsIdle = 4,
    bsRunFinished = 5,
    bsTransferStarted = 6,
    bsTransferFailed = 7,
    bsTransferDone = 8,
    bsTransferProgress = 9,
};

class TMessageSink {
public:
    virtual ~TMessageSink() = default;
    // Called from any thread; must only queue.
    virtual void Post(unsigned message, intptr_t wParam, intptr_t lParam) = 0;
    // The standard exception display: shows the text without blocking the caller.
    virtual void ShowException(const std::string& text) = 0;
};

// Registers the sink (not owned) or, with nullptr, none. The sink must outlive every thread that
// may post.
void SetMessageSink(TMessageSink* sink);
TMessageSink* MessageSink();

void PostToMain(unsigned message, intptr_t wParam = 0, intptr_t lParam = 0);
void ShowExceptionText(const std::string& text);
// The text of a caught exception (its what(); "Neznámá chyba" for a non-standard one).
void ShowException(std::exception_ptr error);

// Registers a sink for the lifetime of the guard (tests).
class TScopedMessageSink {
public:
    explicit TScopedMessageSink(TMessageSink& sink) : FPrevious(MessageSink()) {
        SetMessageSink(&sink);
    }
    ~TScopedMessageSink() { SetMessageSink(FPrevious); }
    TScopedMessageSink(const TScopedMessageSink&) = delete;
    TScopedMessageSink& operator=(const TScopedMessageSink&) = delete;

private:
    TMessageSink* FPrevious;
};

}  // namespace sejfko
