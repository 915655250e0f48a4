#include "platform/fault_injection.hpp"

#include <atomic>
#include <mutex>
#include <utility>

#include "platform/file_system.hpp"

namespace sejfko {

namespace {

// The flag keeps the common case (no hook) to one relaxed load; the hook itself is copied under
// the mutex and called outside it, so a hook may itself touch files or replace the hook.
std::atomic<bool> HookInstalled{false};
std::mutex HookMutex;
TFaultHook& Hook() {
    static TFaultHook hook;
    return hook;
}

}  // namespace

void SetFaultHook(TFaultHook hook) {
    std::lock_guard lock(HookMutex);
    const bool installed = static_cast<bool>(hook);
    Hook() = std::move(hook);
    HookInstalled.store(installed, std::memory_order_release);
}

int InjectedFault(TFileOperation operation, const std::string& path) {
    if (!HookInstalled.load(std::memory_order_acquire)) {
        return 0;
    }
    TFaultHook hook;
    {
        std::lock_guard lock(HookMutex);
        hook = Hook();
    }
    return hook ? hook(operation, path) : 0;
}

TFaultHook FailUnder(const std::string& pathPrefix, TFileOperation operation, int error) {
    // Where "\" and "/" both separate, a prefix written with either names the same files.
    return [prefix = PortableSeparators(pathPrefix), operation, error](TFileOperation op,
                                                                       const std::string& path) {
        return op == operation && PortableSeparators(path).compare(0, prefix.size(), prefix) == 0
                   ? error
                   : 0;
    };
}

}  // namespace sejfko
