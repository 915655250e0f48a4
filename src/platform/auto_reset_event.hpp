#pragma once
// An in-process event that wakes one waiter and resets itself.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace sejfko {

class TAutoResetEvent {
public:
    // Signals the event; a waiter (now or the next one) returns true and resets it.
    void Set();
    // Waits until signalled or until the timeout passes; true when signalled.
    bool WaitFor(std::chrono::milliseconds timeout);
    // Waits without limit.
    void Wait();

private:
    std::mutex FMutex;
    std::condition_variable FSignal;
    bool FSet = false;
};

}  // namespace sejfko
