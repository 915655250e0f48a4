#pragma once
// The archive component's errors and the loader of the zip engine library.
//
// TZipEngineLoader holds the engine library for as long as any of its state bits is set: an
// operation holds it while it runs, the executing bit is set around the one call of
// ZipEngineExec, and a caller may hold it explicitly. The library is unloaded when the last bit
// goes. One thread at a time (the thread running the add operation).

#include <cstdint>
#include <functional>
#include <string>

#include "platform/dynamic_library.hpp"
#include "platform/exceptions.hpp"
#include "zipengine/zip_engine_api.h"

namespace sejfko {

// Error codes of the archive component.
enum : int32_t {
    zaeFatalEngine = 10101,
    zaeNoArchiveName = 10102,
    zaeReadDirectory = 10103,
    zaeBadArchive = 10201,
    zaeArchiveTruncated = 10202,
    zaeArchiveUnreadable = 10203,
    zaeNothingToAdd = 10301,
    zaeNoPassword = 10302,
    zaeSpanUpdate = 10303,
    // Our own: encryption asked of a build without it (the Windows build).
    zaeNoEncryption = 10309,
    zaeNoDestination = 10308,
    zaeLoadFailed = 10650,
    zaeBadVersion = 10651,
    zaeLoaded = 10652,
    zaeUnloaded = 10653,
    zaeZip64Unsupported = 11013,
    zaeBadDirectory = 11015,
    zaeSpanExe = 11041
};

// The component's text for a code, empty when it has none.
std::string ZipArchiverText(int32_t code);
// The full message of an error: the text for the code followed by `extra`, or
// "ZipArchiver [ %d ], %s" when there is no text for the code.
std::string ZipArchiverMessage(int32_t code, const std::string& extra, const std::string& text);

// An error raised inside the archive component. The component records it (ErrorCode,
// ErrorMessage) instead of letting it reach its caller.
class EZipArchiver : public Exception {
public:
    EZipArchiver(int32_t code, const std::string& extra, bool display = true);
    int32_t Code;
    bool Display;  // whether a front end would show it
    std::string ExtraText;
};

// "libzipengine.so" on POSIX, "zipengine.dll" on Windows.
extern const char* const ZipEngineLibraryName;

class TZipEngineLoader {
public:
    enum : unsigned { lsOperation = 1, lsExecuting = 2, lsExplicit = 4 };

    explicit TZipEngineLoader(std::string libraryName = ZipEngineLibraryName);
    ~TZipEngineLoader();
    TZipEngineLoader(const TZipEngineLoader&) = delete;
    TZipEngineLoader& operator=(const TZipEngineLoader&) = delete;

    // Where the library is looked for: `dllDirectory` when set and the library is there (a
    // directory beginning with "." is relative to the program's directory), else the program's
    // own directory, else the installation's library directory, else the plain name for the
    // system's search.
    std::string LibraryPath(const std::string& dllDirectory) const;

    // Loads the library (when not loaded yet) and adds `bit`. Throws EZipArchiver 10650 with
    // the path when it cannot be loaded, 10651 with the path when an entry point is missing or
    // the version lies outside 153..300, 10651 with the library name when the version is below
    // `requiredVersion`. Nothing stays loaded after a throw.
    void Load(unsigned bit, int32_t requiredVersion, const std::string& dllDirectory, bool verbose);
    // Calls ZipEngineExec with the executing bit set. The library must be loaded.
    int32_t Exec(TZipCommand* command);
    // Removes `bit`; unloads the library when no bit is left.
    void Release(unsigned bit);

    bool Loaded() const { return FLibrary.IsOpen(); }
    unsigned State() const { return FState; }
    int32_t Version() const { return FVersion; }
    int32_t PrivVersion() const { return FPrivVersion; }
    // Full path of the loaded file.
    const std::string& LoadedPath() const { return FLoadedPath; }

    // Receives the verbose messages 10652 ("loaded ...") and 10653 ("unloaded ...").
    std::function<void(int32_t code, const std::string& text)> OnMessage;

private:
    void Unload();

    std::string FLibraryName;
    TDynamicLibrary FLibrary;
    TZipEngineExec FExec = nullptr;
    unsigned FState = 0;
    bool FVerbose = false;
    int32_t FVersion = 0;
    int32_t FPrivVersion = 0;
    std::string FLoadedPath;
};

}  // namespace sejfko
