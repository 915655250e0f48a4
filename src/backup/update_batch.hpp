#pragma once
// The deletion list of an incremental archive: the files of the stored state that are no longer
// selected. Written into a private (0700) temporary directory of this process and stored at the
// archive's root under UpdateBatchName: a shell script of `rm -f -- 'PATH'` lines (UTF-8, LF,
// PATH as stored in the archive) on POSIX, a "del" batch in code page 852 with CR LF on Windows.

#include <memory>
#include <string>
#include <vector>

namespace sejfko {

#ifdef _WIN32
constexpr const char* UpdateBatchName = "!!!!!upd_arch.bat";
#else
constexpr const char* UpdateBatchName = "!!!!!upd_arch.sh";
#endif

// Full path of this process's deletion list (the private directory is created on first use).
std::string UpdateBatchPath();
// True for the path UpdateBatchPath() returns: the archive job stores that file at the root.
bool IsUpdateBatchPath(const std::string& path);

// One line of each form, without its line end. `path` is the full name as the state holds it.
// POSIX: the name as the archive stores it (no leading "/", no empty, "." or ".." parts, so the
// script deletes only below the folder it runs in), in single quotes, a quote written '\''.
std::string PosixUpdateBatchLine(const std::string& path);
// Windows: `path` in Windows-1250 without its drive letter and colon (other paths whole), "%"
// doubled, in double quotes when it holds a blank or a character the command processor would
// read otherwise; the result in code page 852.
std::string WindowsUpdateBatchLine(const std::string& path);

// Writes the list name by name, so that a long list is never held in memory twice. Names holding
// CR or LF are left out (one line per name); on Windows the names (UTF-8) go through
// Windows-1250, and those it has no bytes for are left out too. Nothing replaces an older list
// before Commit; destroyed uncommitted, it leaves no file. EOSError when the list cannot be
// written.
class TUpdateBatchWriter {
public:
    TUpdateBatchWriter();
    ~TUpdateBatchWriter();
    TUpdateBatchWriter(const TUpdateBatchWriter&) = delete;
    TUpdateBatchWriter& operator=(const TUpdateBatchWriter&) = delete;

    void Add(const std::string& path);
    void Commit();

private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// Deletes the list and its private directory, ignoring the result. The next UpdateBatchPath()
// makes a new directory.
void DeleteUpdateBatch();

}  // namespace sejfko
