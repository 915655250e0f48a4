#pragma once
// A seam through which tests make file operations fail. Tests run as root, which reads and writes
// everything, so "read-only directory" or "unreadable file" cannot be staged with permissions;
// instead every file operation of the platform layer asks the installed hook first. Without a
// hook the check is one atomic load.

#include <functional>
#include <string>

namespace sejfko {

enum class TFileOperation {
    OpenRead,  // opening an existing file for reading
    Read,      // reading from an open file
    Create,    // creating or truncating a file for writing (temporary files included)
    Write,     // writing to, flushing or syncing an open file
    Rename,    // renaming or moving into place (path: the destination)
    Remove,    // deleting a file
    MakeDirectory,
    ListDirectory,
    Lock,  // taking a lock file without waiting (the data directory's, the instance's)
};

// Returns 0 to let the operation proceed, or the errno value it fails with.
using TFaultHook = std::function<int(TFileOperation operation, const std::string& path)>;

// Installs (or, with an empty function, removes) the process-wide hook. Thread-safe.
void SetFaultHook(TFaultHook hook);
// Called by the platform layer before each operation; 0 when no fault is injected.
int InjectedFault(TFileOperation operation, const std::string& path);

// Installs a hook for the lifetime of the guard.
class TScopedFault {
public:
    explicit TScopedFault(TFaultHook hook) { SetFaultHook(std::move(hook)); }
    ~TScopedFault() { SetFaultHook({}); }
    TScopedFault(const TScopedFault&) = delete;
    TScopedFault& operator=(const TScopedFault&) = delete;
};

// A hook failing `operation` with `error` for every path that starts with `pathPrefix` (on
// Windows with either separator).
TFaultHook FailUnder(const std::string& pathPrefix, TFileOperation operation, int error);

}  // namespace sejfko
