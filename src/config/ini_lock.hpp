#pragma once
// Serialises the read-modify-replace cycle of one INI file across processes and threads: an
// exclusive advisory lock (flock) on a side file "<ini>.lock". The INI file itself cannot carry
// the lock, since each write replaces its inode. Readers take no lock: they see the old or the
// new file, never a torn one.
//
// The only operating-system calls of the configuration layer live here; they belong in the
// platform layer and are kept in this one small file pair until they move there.

#include <string>

namespace sejfko {

class TIniFileLock {
  public:
    // Creates the lock file (mode 0600) when missing and waits for the lock. Throws EOSError when
    // the lock file cannot be created or locked (creation passes the fault seam as
    // TFileOperation::Create).
    explicit TIniFileLock(const std::string& iniPath);
    ~TIniFileLock();
    TIniFileLock(const TIniFileLock&) = delete;
    TIniFileLock& operator=(const TIniFileLock&) = delete;

  private:
    int FHandle = -1;
};

}  // namespace sejfko
