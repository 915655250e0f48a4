#pragma once
// Interrupt (Ctrl+C) and termination requests from outside, turned into an ordinary event that a
// front end waits for or reacts to on a thread of its own (no work in a signal handler).

#include <functional>
#include <memory>

namespace sejfko {

class TTerminationWatcher {
public:
    // Catches SIGINT and SIGTERM (console control events on Windows) from now on and calls
    // `onRequest` (if set) on the watcher's own thread for each, a second one included.
    explicit TTerminationWatcher(std::function<void()> onRequest = {});
    // Stops watching and restores the default handling.
    ~TTerminationWatcher();
    TTerminationWatcher(const TTerminationWatcher&) = delete;
    TTerminationWatcher& operator=(const TTerminationWatcher&) = delete;

    // Blocks until a request has arrived (returns at once if one already has).
    void Wait();
    bool Requested() const;
    // The exit status that tells how the first request came: 130 for an interrupt (SIGINT,
    // Ctrl+C), 143 for a termination request (SIGTERM, a console closing); 0 before any.
    int ExitCode() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace sejfko
