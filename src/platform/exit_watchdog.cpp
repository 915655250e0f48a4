#include "platform/exit_watchdog.hpp"

#include <cstdio>
#include <cstdlib>

namespace sejfko {

void TExitWatchdog::ExitNow(int code, const std::string& message) {
    std::fputs((message + "\n").c_str(), stderr);
    std::fflush(stderr);
    std::_Exit(code);
}

TExitWatchdog::TExitWatchdog(TExit exitNow) : FExit(std::move(exitNow)) {}

TExitWatchdog::~TExitWatchdog() {
    Disarm();
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TExitWatchdog::Arm(std::chrono::milliseconds bound, int code, const std::string& message) {
    std::lock_guard lock(FLock);
    if (FArmed || FDisarmed) {
        return;
    }
    FArmed = true;
    FThread = std::thread([this, bound, code, message] {
        std::unique_lock wait(FLock);
        if (FChanged.wait_for(wait, bound, [this] { return FDisarmed; })) {
            return;
        }
        wait.unlock();
        FExit(code, message);
    });
}

void TExitWatchdog::Disarm() {
    {
        std::lock_guard lock(FLock);
        FDisarmed = true;
    }
    FChanged.notify_all();
}

}  // namespace sejfko
