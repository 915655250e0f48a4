#pragma once
// An exclusive advisory lock (flock) on a lock file, held for the guard's lifetime, across
// processes and threads. Used to serialise read-modify-replace cycles of files that are replaced
// atomically (and so cannot carry the lock themselves, since each write replaces their inode).

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

}  // namespace sejfko
