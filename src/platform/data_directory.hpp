#pragma once
// Where `Options.ini`, `IncSelect.ini` and the lock file live: the executable's directory when an
// `Options.ini` already exists there (portable use), else $XDG_CONFIG_HOME/sejfko
// (~/.config/sejfko), created on first write. Front ends may override it (--config-dir).

#include <string>

namespace sejfko {

std::string ExecutableDirectory();
// The rule above, without a trailing separator. Creates nothing.
std::string DefaultDataDirectory();
// "Temp" inside the data directory: where archives wait for transfer by default on POSIX.
std::string DefaultLocalTemporaryDirectory(const std::string& dataDirectory);
// Resolves a selection path relative to the data directory (absolute paths unchanged).
std::string ResolveDataPath(const std::string& dataDirectory, const std::string& path);

// The cross-process guard: whichever process runs the worker, a backup or a transfer holds the
// lock file "sejfko.lock" in the data directory (flock, released when the process ends, however
// it ends).
class TDataDirectoryLock {
public:
    explicit TDataDirectoryLock(std::string dataDirectory);
    ~TDataDirectoryLock();
    TDataDirectoryLock(const TDataDirectoryLock&) = delete;
    TDataDirectoryLock& operator=(const TDataDirectoryLock&) = delete;

    // Creates the directory if needed and takes the lock without waiting. False when another
    // process holds it (or it cannot be taken: ErrorText() says why, in Czech).
    bool TryAcquire();
    void Release();
    bool Held() const { return FHandle >= 0; }
    const std::string& ErrorText() const { return FErrorText; }

private:
    std::string FDirectory;
    int FHandle = -1;
    std::string FErrorText;
};

}  // namespace sejfko
