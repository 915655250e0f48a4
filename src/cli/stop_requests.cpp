#include "cli/stop_requests.hpp"

namespace sejfko {

namespace {

constexpr const char* SecondText = "Druhý požadavek na ukončení, Sejfko končí okamžitě.";

}  // namespace

TStopRequests::TStopRequests(std::function<void()> onFirst, std::chrono::milliseconds bound,
                             TExitWatchdog::TExit exitNow)
    : FOnFirst(std::move(onFirst)),
      FBound(bound),
      FExit(exitNow),
      FWatchdog(std::move(exitNow)),
      FWatcher([this] { OnRequest(); }) {}

// On the watcher's thread, once per request.
void TStopRequests::OnRequest() {
    if (++FRequests > 1) {
        FExit(ExitCode(), SecondText);
        return;
    }
    if (FOnFirst) {
        FOnFirst();
    }
    FWatchdog.Arm(FBound, ExitCode(), WorkerStopLateText);
}

}  // namespace sejfko
