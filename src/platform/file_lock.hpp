#pragma once
// An exclusive advisory lock (flock) on a lock file, held for the guard's lifetime, across
// processes and threads. Used to serialise read-modify-replace cycles of files that are replaced
// atomically (and so cannot carry the lock themselves, since each write replaces their inode).
// TTryFileLock takes such a lock only when it is free, for deciding which of several processes
// goes ahead.

#include <string>

namespace sejfko {

class TFileLock {
public:
    // Creates the lock file (empty, mode 0644: anyone who may read it can take the lock) when
    // missing and waits for the lock. Throws EOSError when
    // the lock file cannot be created or locked (creation passes the fault seam as
    // TFileOperation::Create).
    explicit TFileLock(const std::string& lockPath);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

private:
    int FHandle = -1;
};

class TTryFileLock {
public:
    explicit TTryFileLock(std::string lockPath);
    // Releases the lock; the file stays (removing it would let a third process lock a new file
    // while a second one still holds the old one).
    ~TTryFileLock();
    TTryFileLock(const TTryFileLock&) = delete;
    TTryFileLock& operator=(const TTryFileLock&) = delete;

    // Takes the lock without waiting, creating the file (mode 0600, never through a symlink)
    // when missing. True when held; false when another holder has it (Error() is 0) or when
    // the file cannot be opened or locked (Error() is the errno). Held until the object goes or
    // the process ends, however it ends.
    bool TryAcquire();
    bool Held() const { return FHandle >= 0; }
    int Error() const { return FError; }

private:
    std::string FPath;
    int FHandle = -1;
    int FError = 0;
};

}  // namespace sejfko
