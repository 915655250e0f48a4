#include "platform/auto_reset_event.hpp"

namespace sejfko {

void TAutoResetEvent::Set() {
    {
        std::lock_guard lock(FMutex);
        FSet = true;
    }
    FSignal.notify_one();
}

bool TAutoResetEvent::WaitFor(std::chrono::milliseconds timeout) {
    // now() + milliseconds::max() would overflow the steady clock; a century is "forever".
    if (timeout > std::chrono::hours(24 * 365 * 100)) {
        Wait();
        return true;
    }
    std::unique_lock lock(FMutex);
    if (!FSignal.wait_for(lock, timeout, [this] { return FSet; })) {
        return false;
    }
    FSet = false;
    return true;
}

void TAutoResetEvent::Wait() {
    std::unique_lock lock(FMutex);
    FSignal.wait(lock, [this] { return FSet; });
    FSet = false;
}

}  // namespace sejfko
