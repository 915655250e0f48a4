#pragma once
// The one source of "now" for everything that reads the time (schedule, "Last run", archive
// names, "Last transfer"). Tests install their own clock; the default reads the system clock in
// local time.

#include <atomic>

#include "platform/date_time.hpp"

namespace sejfko {

class TClock {
public:
    virtual ~TClock() = default;
    virtual TDateTime Now() const = 0;
};

class TSystemClock final : public TClock {
public:
    TDateTime Now() const override;
};

// A clock that stands still until told otherwise; safe to read and set from any thread.
class TManualClock final : public TClock {
public:
    explicit TManualClock(TDateTime start = 0.0) : FNow(start) {}
    TDateTime Now() const override { return FNow.load(); }
    void Set(TDateTime value) { FNow.store(value); }
    void Advance(double days) { FNow.store(FNow.load() + days); }

private:
    std::atomic<double> FNow;
};

// Current local date and time from the installed clock.
TDateTime Now();
// Installs a clock (not owned; must outlive its use) or, with nullptr, the system clock again.
void SetClock(const TClock* clock);

// Installs a clock for the lifetime of the guard (tests).
class TScopedClock {
public:
    explicit TScopedClock(const TClock& clock) { SetClock(&clock); }
    ~TScopedClock() { SetClock(nullptr); }
    TScopedClock(const TScopedClock&) = delete;
    TScopedClock& operator=(const TScopedClock&) = delete;
};

}  // namespace sejfko
