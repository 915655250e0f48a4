#include "cli/foreground_worker.hpp"

namespace sejfko {

TForegroundWorker::TForegroundWorker(const std::string& configDirectory, std::ostream& err,
                                     bool errIsTerminal)
    : FLock(configDirectory),
      FPrinter(err, errIsTerminal, false),
      FSink(FPrinter),
      FInterrupt([this] { FWorker.Terminate(); }) {}

bool TForegroundWorker::Acquire(std::ostream& err) {
    if (FLock.TryAcquire()) {
        return true;
    }
    err << FLock.ErrorText() << "\n";
    return false;
}

}  // namespace sejfko
