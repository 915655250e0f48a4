#include "platform/clock.hpp"

#include <ctime>

namespace sejfko {
namespace {

const TSystemClock SystemClock;
std::atomic<const TClock*> InstalledClock{nullptr};

}  // namespace

TDateTime TSystemClock::Now() const {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // Whole milliseconds: what the stored and displayed values can carry anyway.
    return UnixToDateTime(now.tv_sec, now.tv_nsec / 1'000'000 * 1'000'000);
}

TDateTime Now() {
    const TClock* clock = InstalledClock.load(std::memory_order_acquire);
    return (clock != nullptr ? clock : &SystemClock)->Now();
}

void SetClock(const TClock* clock) {
    InstalledClock.store(clock, std::memory_order_release);
}

}  // namespace sejfko
