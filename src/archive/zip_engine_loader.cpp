#include "archive/zip_engine_loader.hpp"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/data_directory.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

#ifdef _WIN32
const char* const ZipEngineLibraryName = "zipengine.dll";
#else
const char* const ZipEngineLibraryName = "libzipengine.so";
#endif

namespace {

struct TCodeText {
    int32_t Code;
    const char* Text;
};

// Texts that take an extra text (a file name, a reason) end with ": ".
constexpr std::array<TCodeText, 18> CodeTexts{{
    {zaeFatalEngine, "Závažná chyba knihovny zip engine: "},
    {zaeNoArchiveName, "Není zadán název archivu."},
    {zaeReadDirectory, "Chyba při čtení adresáře archivu: "},
    {zaeBadArchive, "Soubor není platný archiv zip: "},
    {zaeArchiveTruncated, "Archiv je zkrácený: "},
    {zaeArchiveUnreadable, "Archiv nelze přečíst: "},
    {zaeNothingToAdd, "Nejsou zadány žádné soubory k přidání."},
    {zaeNoPassword, "Šifrování bez hesla není v bezobslužném režimu možné."},
    {zaeNoEncryption, "Šifrování archivů není v tomto sestavení k dispozici."},
    {zaeSpanUpdate, "Rozdělení na disky nelze spojit s obnovou ani aktualizací."},
    {zaeNoDestination, "Složka archivu neexistuje: "},
    {zaeLoadFailed, "Knihovnu zip engine nelze načíst: "},
    {zaeBadVersion, "Nepodporovaná verze knihovny zip engine: "},
    {zaeLoaded, "Načtena knihovna "},
    {zaeUnloaded, "Uvolněna knihovna "},
    {zaeZip64Unsupported, "Nepodporovaný formát archivu: "},
    {zaeBadDirectory, "Poškozený centrální adresář archivu: "},
    {zaeSpanExe, "Archiv rozdělený na disky nemůže být spustitelný soubor."},
}};

constexpr int32_t MinAcceptedVersion = 153;
constexpr int32_t MaxAcceptedVersion = 300;

}  // namespace

std::string ZipArchiverText(int32_t code) {
    for (const TCodeText& entry : CodeTexts) {
        if (entry.Code == code) {
            return entry.Text;
        }
    }
    return {};
}

std::string ZipArchiverMessage(int32_t code, const std::string& extra, const std::string& text) {
    if (text.empty()) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", static_cast<int>(code));
        return "ZipArchiver [ " + std::string(number) + " ], " + extra;
    }
    return text + extra;
}

EZipArchiver::EZipArchiver(int32_t code, const std::string& extra, bool display)
    : Exception(ZipArchiverMessage(code, extra, ZipArchiverText(code))),
      Code(code),
      Display(display),
      ExtraText(extra) {}

TZipEngineLoader::TZipEngineLoader(std::string libraryName)
    : FLibraryName(std::move(libraryName)) {}

TZipEngineLoader::~TZipEngineLoader() {
    // The owner that receives the messages is being destroyed too.
    OnMessage = nullptr;
    Unload();
}

std::string TZipEngineLoader::LibraryPath(const std::string& dllDirectory) const {
    if (!dllDirectory.empty()) {
        std::string directory = dllDirectory;
        if (directory.front() == '.') {
            directory = IncludeTrailingPathDelimiter(ExecutableDirectory()) + directory;
        }
        const std::string path = IncludeTrailingPathDelimiter(directory) + FLibraryName;
        if (FileExists(path)) {
            return path;
        }
    }
    const std::string beside = IncludeTrailingPathDelimiter(ExecutableDirectory()) + FLibraryName;
    if (FileExists(beside)) {
        return beside;
    }
    const std::string installed =
        IncludeTrailingPathDelimiter(SEJFKO_INSTALL_LIBDIR) + FLibraryName;
    if (FileExists(installed)) {
        return installed;
    }
    return FLibraryName;
}

void TZipEngineLoader::Load(unsigned bit, int32_t requiredVersion, const std::string& dllDirectory,
                            bool verbose) {
    if (FLibrary.IsOpen()) {
        FState |= bit;
        return;
    }
    const std::string path = LibraryPath(dllDirectory);
    if (!FLibrary.Open(path)) {
        throw EZipArchiver(zaeLoadFailed, path);
    }
    FExec = reinterpret_cast<TZipEngineExec>(FLibrary.Symbol("ZipEngineExec"));
    auto version = reinterpret_cast<TZipEngineVersion>(FLibrary.Symbol("GetZipEngineVersion"));
    auto privVersion =
        reinterpret_cast<TZipEngineVersion>(FLibrary.Symbol("GetZipEnginePrivVersion"));
    FVersion = version != nullptr ? version() : 0;
    FPrivVersion = privVersion != nullptr ? privVersion() : 0;
    if (FExec == nullptr || version == nullptr || FVersion < MinAcceptedVersion ||
        FVersion > MaxAcceptedVersion) {
        Unload();
        throw EZipArchiver(zaeBadVersion, path);
    }
    if (FVersion < requiredVersion) {
        Unload();
        throw EZipArchiver(zaeBadVersion, FLibraryName);
    }
    FLoadedPath = path;
    FVerbose = verbose;
    FState = bit;
    if (FVerbose && OnMessage) {
        OnMessage(zaeLoaded, ZipArchiverText(zaeLoaded) + FLoadedPath);
    }
}

int32_t TZipEngineLoader::Exec(TZipCommand* command) {
    if (FExec == nullptr) {
        throw EZipArchiver(zaeLoadFailed, FLibraryName);
    }
    FState |= lsExecuting;
    // The bit must go even when the callback path throws through the engine.
    struct TClearBit {
        unsigned& State;
        ~TClearBit() { State &= ~static_cast<unsigned>(lsExecuting); }
    } clearBit{FState};
    return FExec(command);
}

void TZipEngineLoader::Release(unsigned bit) {
    FState &= ~bit;
    if (FState == 0) {
        Unload();
    }
}

void TZipEngineLoader::Unload() {
    const bool wasOpen = FLibrary.IsOpen();
    FLibrary.Close();
    FExec = nullptr;
    FState = 0;
    if (wasOpen && FVerbose && OnMessage) {
        OnMessage(zaeUnloaded, ZipArchiverText(zaeUnloaded) + FLoadedPath);
    }
    FVerbose = false;
    FLoadedPath.clear();
}

}  // namespace sejfko
