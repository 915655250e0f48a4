#pragma once
// Unique temporary files (mkstemp, mode 0600), hidden by their "." prefix.

#include <cstddef>
#include <string>
#include <string_view>

namespace sejfko {

// Creates an empty file `directory`/`prefix`XXXXXX and returns its path. Throws EOSError.
std::string CreateUniqueTempFile(const std::string& directory, const std::string& prefix = ".fbk");
// Creates a private (0700) directory `parent`/`prefix`XXXXXX and returns its path. Throws
// EOSError.
std::string CreatePrivateTempDirectory(const std::string& parent, const std::string& prefix);

// Bytes written once and then read back once from the start: held in memory up to a limit,
// beyond it in a temporary file in `directory` that is unlinked at once (nothing is left behind,
// whatever happens). Lets a caller take one reading of a file it may not read twice. Throws
// EOSError when the temporary file cannot be made or written.
class TSpool {
public:
    explicit TSpool(std::string directory, std::size_t memoryLimit = 256 * 1024);
    ~TSpool();
    TSpool(const TSpool&) = delete;
    TSpool& operator=(const TSpool&) = delete;

    void Write(std::string_view bytes);
    // After the last Write: bytes read into `buffer` (0 at the end), or -1 on a read error.
    std::ptrdiff_t Read(char* buffer, std::size_t size);

private:
    void Spill();
    std::string FDirectory;
    std::size_t FLimit;
    std::string FMemory;
    std::size_t FReadPos = 0;
    int FHandle = -1;
    bool FReading = false;
};

}  // namespace sejfko

namespace sejfko {

// Temporary files that a process killed half-way leaves behind are told from those in use by a
// lock: a file in use is held locked (flock) by its writer from its creation to its end.

// Creates an empty file `directory`/`prefix`XXXXXX, locked as in use for as long as `handle`
// (returned) stays open, and returns its path. Throws EOSError.
std::string CreateLockedTempFile(const std::string& directory, const std::string& prefix,
                                 int& handle);
// Locks the new temporary file `handle` (named `path`) as in use. False when a sweep removed the
// name before the lock was taken: the caller makes another file.
bool LockTemporaryInUse(int handle, const std::string& path);
// The same for a file created in the directory `directoryHandle` under `name`.
bool LockTemporaryInUseAt(int handle, int directoryHandle, const std::string& name);

// Deletes the regular files of `directory` whose names are `prefix` followed by exactly
// `suffixLength` letters or digits and which no one holds locked: what killed writers left.
// Files that cannot be opened (another user's) are left alone. Never throws.
void RemoveStaleTemporaries(const std::string& directory, const std::string& prefix,
                            std::size_t suffixLength);
// Deletes `name` in the directory `directoryHandle` when it is such a file; true when deleted.
bool RemoveIfStaleAt(int directoryHandle, const std::string& name);

}  // namespace sejfko
