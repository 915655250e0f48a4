#pragma once
// TZipArchiver: the archive component through which the archive job writes a zip archive.
//
// It holds the settings of one add operation as public fields, turns them into one command
// record for the zip engine library (loaded for the duration of Add only), translates the
// engine's callbacks into events, and records errors instead of raising them: only Add's result,
// ErrorCode, ErrorMessage and AddedCount tell of them. After an add it re-reads the central
// directory of the archive it wrote (ZipContents).
//
// One thread at a time: Add runs the engine synchronously, and the engine calls back on the
// thread that called Add, so every event is raised there. An event handler may throw to stop the
// batch: the error is caught, noted in EventErrorText, and the engine is answered "stop".
// No dialogs are ever shown; Unattended only decides the window handle passed to the engine.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "archive/zip_engine_loader.hpp"
#include "archive/zip_reader.hpp"
#include "platform/date_time.hpp"
#include "zipengine/zip_engine_api.h"

namespace sejfko {

// A set of up to 32 enumerators, each stored in the bit of its value.
template <typename E>
class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members) {
        for (E member : members) {
            Include(member);
        }
    }
    constexpr bool Contains(E member) const { return (FBits >> Bit(member)) & 1u; }
    constexpr TEnumSet& Include(E member) {
        FBits |= 1u << Bit(member);
        return *this;
    }
    constexpr TEnumSet& Exclude(E member) {
        FBits &= ~(1u << Bit(member));
        return *this;
    }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr uint32_t Bits() const { return FBits; }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr unsigned Bit(E member) { return static_cast<unsigned>(member); }
    uint32_t FBits = 0;
};

enum TAddOption : unsigned {
    AddDirNames,
    AddRecurseDirs,
    AddMove,
    AddFreshen,
    AddUpdate,
    AddZipTime,
    AddForceDOS,
    AddHiddenFiles,
    AddArchiveOnly,
    AddResetArchive,
    AddEncrypt,
    AddSeparateDirs,
    AddVolume,
    AddFromDate,
    AddSafe,
    AddForceDest,
    AddDiskSpan,
    AddDiskSpanErase
};
using TAddOptions = TEnumSet<TAddOption>;

enum TAddStoreSuffix : unsigned {
    assGIF,
    assPNG,
    assZ,
    assZIP,
    assZOO,
    assARC,
    assLZH,
    assARJ,
    assTAZ,
    assTGZ,
    assLHA,
    assRAR,
    assACE,
    assCAB,
    assGZ,
    assGZIP,
    assJAR,
    assEXE,
    assEXT
};
using TAddStoreSuffixes = TEnumSet<TAddStoreSuffix>;

enum TCodePage { cpAuto, cpNone, cpOEM };
enum THowToDelete { htdFinal, htdAllowUndo };

// Kinds of OnProgress.
enum TProgressType : int32_t {
    NewFile = 0,
    ProgressUpdate = 1,
    EndOfBatch = 2,
    TotalFiles2Process = 3,
    TotalSize2Process = 4,
    NewExtra = 5,
    ExtraUpdate = 6
};

class TZipArchiver;

// What OnAfterCallback sees of one engine callback.
struct TCallBackInfo {
    TZipArchiver* Sender = nullptr;
    int32_t ActionCode = 0;
    int32_t ErrorCode = 0;
    std::string Text;
    uint64_t Size = 0;
};

// Percent of `done` in `total`: 0 when either is 0; below 214748 total bytes done * 100 / total,
// else done / (total / 100); integer division, no clamping to 100 (only to the int32 range).
int32_t ZipPerCent(uint64_t done, uint64_t total);

class TZipArchiver {
public:
    using TTotalProgressEvent =
        std::function<void(TZipArchiver* sender, uint64_t totalSize, int32_t perCent)>;
    using TItemProgressEvent = std::function<void(TZipArchiver* sender, const std::string& item,
                                                  uint64_t totalSize, int32_t perCent)>;
    using TProgressEvent = std::function<void(TZipArchiver* sender, TProgressType progrType,
                                              const std::string& fileName, uint64_t fileSize)>;
    using TMessageEvent =
        std::function<void(TZipArchiver* sender, int32_t errCode, const std::string& message)>;
    using TNotifyEvent = std::function<void(TZipArchiver* sender)>;
    using TAfterCallbackEvent = std::function<void(const TCallBackInfo& info, bool& abort)>;
    using TZipStrEvent = std::function<void(TZipArchiver* sender, int32_t id, std::string& str)>;

    TZipArchiver();
    ~TZipArchiver();
    TZipArchiver(const TZipArchiver&) = delete;
    TZipArchiver& operator=(const TZipArchiver&) = delete;

    // Settings of the add operation, with their defaults.
    bool Verbose = false;
    bool Trace = false;
    int32_t AddCompLevel = 9;
    TAddOptions AddOptions;
    TDateTime AddFrom = 0;
    std::vector<std::string> FSpecArgs;  // ">" recurses, "|" does not, for one line
    // Per line of FSpecArgs (may be shorter; missing entries are defaults).
    struct TSpecExtra {
        std::string RootDir;   // non-empty: replaces RootDir for that line's files
        bool Literal = false;  // the line is one exact path: no prefix, no trimming, no pattern
        bool AsLink = false;   // with Literal: a symlink there is stored as the link itself
    };
    std::vector<TSpecExtra> FSpecExtras;
    std::vector<std::string> FSpecArgsExcl;  // patterns to leave out
    bool Unattended = false;
    intptr_t WindowHandle = 0;  // passed to the engine unless Unattended
    std::string Password;
    std::string DLLDirectory;
    std::string TempDir;
    TCodePage CodePage = cpAuto;
    THowToDelete HowToDelete = htdAllowUndo;
    TAddStoreSuffixes AddStoreSuffixes = DefaultStoreSuffixes();
    std::string ExtAddStoreSuffixes;  // used with assEXT
    std::string RootDir;
    const std::string VersionInfo = "1.73";

    // Events, raised only when set.
    TTotalProgressEvent OnTotalProgress;
    TItemProgressEvent OnItemProgress;
    TProgressEvent OnProgress;
    TMessageEvent OnMessage;
    TNotifyEvent OnTick;
    TAfterCallbackEvent OnAfterCallback;
    TZipStrEvent OnZipStr;

    const std::string& ZipFileName() const { return FZipFileName; }
    // Stores the name and re-reads that archive's directory (a missing file only empties it).
    void SetZipFileName(const std::string& name);

    // Adds the files named by FSpecArgs to ZipFileName. Returns -255 at once when busy (called
    // from an event handler during Add); otherwise ErrorCode after the operation. AddedCount
    // holds the number of files added. Never throws.
    int32_t Add();

    int32_t ErrorCode() const { return FErrorCode; }
    const std::string& ErrorMessage() const { return FErrorMessage; }
    int32_t AddedCount() const { return FAddedCount; }
    // The first error raised by an event handler during the last batch (" #<code> \"<text>\"").
    const std::string& EventErrorText() const { return FEventErrorText; }
    // Names of the files the engine skipped (vanished, unreadable) during the last Add, byte for
    // byte as the engine found them (not cut or trimmed as the message texts are).
    const std::vector<std::string>& SkippedFiles() const { return FSkippedFiles; }
    // The archive's central directory and comment, as last read.
    const std::vector<TZipDirEntry>& ZipContents() const { return FZipContents; }
    const std::string& ZipComment() const { return FZipComment; }

    uint64_t TotalBytes() const { return FTotalBytes; }
    uint64_t TotalDone() const { return FTotalDone; }
    uint64_t ItemBytes() const { return FItemBytes; }
    uint64_t ItemDone() const { return FItemDone; }
    const std::string& ItemName() const { return FItemName; }

    // All suffixes but assEXE and assEXT.
    static TAddStoreSuffixes DefaultStoreSuffixes();

private:
    static int32_t EngineCallback(TZipCallbackRecord* record);
    int32_t HandleCallback(const TZipCallbackRecord& record);
    void DispatchCallback(int32_t action, int32_t errorCode, uint64_t size,
                          const std::string& text);
    void RunAdd();
    void ExecuteEngine();
    void ReadDirectory();
    void ReadCentralDirectory(const std::string& path);
    void RecordError(int32_t code, const std::string& extra);
    void RecordError(const EZipArchiver& error);
    void RecordError(int32_t code, const std::string& extra, int32_t messageCode);
    std::string ZipStr(int32_t id);
    void Message(int32_t errCode, const std::string& text);

    std::string FZipFileName;
    int32_t FErrorCode = 0;
    std::string FErrorMessage;
    int32_t FAddedCount = 0;
    bool FCancel = false;
    std::string FEventErrorText;
    bool FBusy = false;
    bool FExecuting = false;
    uint64_t FTotalBytes = 0;
    uint64_t FTotalDone = 0;
    uint64_t FItemBytes = 0;
    uint64_t FItemDone = 0;
    std::string FItemName;
    std::vector<std::string> FSkippedFiles;
    std::vector<TZipDirEntry> FZipContents;
    std::string FZipComment;
    TZipEngineLoader FZipEngineDll;
};

}  // namespace sejfko
