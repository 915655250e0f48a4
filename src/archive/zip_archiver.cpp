// The add operation and the translation of engine callbacks into events.
//
// Nothing may unwind through the engine (a C library calling back into us): EngineCallback
// catches everything and turns it into a "stop" answer. Add itself records every error it meets
// and never throws to its caller.

#include "archive/zip_archiver.hpp"

#include <cstring>
#include <limits>

#include "archive/aes_zip.hpp"
#include "archive/zip_archiver_command.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

constexpr int32_t BusyResult = -255;
constexpr uint64_t ExactPercentLimit = 214748;

std::string PlatformSeparators(std::string text) {
    if constexpr (PathDelimiter != '/') {
        for (char& c : text) {
            if (c == '/') {
                c = PathDelimiter;
            }
        }
    }
    return text;
}

// The record's whole text: uncut when the engine gave it, else up to the terminator.
std::string ExactText(const TZipCallbackRecord& record) {
    if (record.FullText != nullptr) {
        return PlatformSeparators(record.FullText);
    }
    return PlatformSeparators(std::string(record.Text, strnlen(record.Text, sizeof record.Text)));
}

// The text for display and events: up to its terminator, without trailing blanks and control
// characters, with the engine's "/" turned into the platform's separator.
std::string RecordText(const TZipCallbackRecord& record) {
    std::string text(record.Text, strnlen(record.Text, sizeof record.Text));
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
        text.pop_back();
    }
    return PlatformSeparators(std::move(text));
}

// Counter addition that stops the batch instead of wrapping.
uint64_t AddChecked(uint64_t counter, uint64_t size) {
    if (size > std::numeric_limits<uint64_t>::max() - counter) {
        throw Exception("Přetečení počitadla průběhu");
    }
    return counter + size;
}

}  // namespace

int32_t ZipPerCent(uint64_t done, uint64_t total) {
    if (done == 0 || total == 0) {
        return 0;
    }
    uint64_t percent;
    if (total < ExactPercentLimit) {
        // done is far beyond any real size before done * 100 could overflow; divide first then.
        percent = done <= std::numeric_limits<uint64_t>::max() / 100 ? done * 100 / total
                                                                     : done / total * 100;
    } else {
        percent = done / (total / 100);
    }
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(percent < limit ? percent : limit);
}

TAddStoreSuffixes TZipArchiver::DefaultStoreSuffixes() {
    TAddStoreSuffixes suffixes;
    for (unsigned member = assGIF; member <= assJAR; ++member) {
        suffixes.Include(static_cast<TAddStoreSuffix>(member));
    }
    return suffixes;
}

TZipArchiver::TZipArchiver() {
    // The loader reports while unloading, which may happen during unwinding: never throw back.
    FZipEngineDll.OnMessage = [this](int32_t code, const std::string& text) {
        try {
            Message(code, text);
        } catch (...) {
        }
    };
}

TZipArchiver::~TZipArchiver() = default;

void TZipArchiver::SetZipFileName(const std::string& name) {
    FZipFileName = name;
    ReadDirectory();
}

int32_t TZipArchiver::Add() {
    if (FBusy) {
        return BusyResult;
    }
    FBusy = true;
    FAddedCount = 0;
    // A fresh operation must not report the previous one's outcome.
    FErrorCode = 0;
    FErrorMessage.clear();
    FSkippedFiles.clear();
    try {
        RunAdd();
    } catch (const EZipArchiver& error) {
        RecordError(error);
    } catch (const std::exception& error) {
        RecordError(zaeFatalEngine, error.what());
    } catch (...) {
        RecordError(zaeFatalEngine, {});
    }
    FSpecArgs.clear();
    FSpecExtras.clear();
    FSpecArgsExcl.clear();
    FCancel = false;
    FExecuting = false;
    FBusy = false;
    if (FAddedCount > 0) {
        ReadDirectory();
    }
    return FErrorCode;
}

void TZipArchiver::RunAdd() {
    if (FSpecArgs.empty()) {
        if (AddOptions.Contains(AddUpdate)) {
            AddOptions.Exclude(AddUpdate).Include(AddFreshen);
        }
        if (!AddOptions.Contains(AddFreshen)) {
            RecordError(zaeNothingToAdd, {});
            return;
        }
        FSpecArgs.push_back("*.*");
    }
    if (AddOptions.Contains(AddDiskSpanErase)) {
        AddOptions.Include(AddDiskSpan);
    }
    if (FZipFileName.empty()) {
        RecordError(zaeNoArchiveName, {});
        return;
    }
    if (Unattended && AddOptions.Contains(AddEncrypt) && Password.empty()) {
        RecordError(zaeNoPassword, {});
        return;
    }
    if (AddOptions.Contains(AddEncrypt) && !aeszip::EncryptionAvailable()) {
        RecordError(zaeNoEncryption, {});
        return;
    }
    if (FExecuting) {
        return;
    }
    FZipEngineDll.Load(TZipEngineLoader::lsOperation, ZIP_ENGINE_VERSION, DLLDirectory, Verbose);
    // The library goes on every path from here, also when building the command throws.
    struct TRelease {
        TZipEngineLoader& Loader;
        ~TRelease() { Loader.Release(TZipEngineLoader::lsOperation); }
    } release{FZipEngineDll};
    try {
        ExecuteEngine();
    } catch (const EZipArchiver&) {
        throw;
    } catch (const std::exception& error) {
        throw EZipArchiver(zaeFatalEngine, error.what());
    }
}

void TZipArchiver::ExecuteEngine() {
    FExecuting = true;
    FCancel = false;
    if (AddOptions.Contains(AddForceDest)) {
        const std::string directory = ExtractFileDir(FZipFileName);
        if (!directory.empty()) {
            try {
                ForceDirectories(directory);
            } catch (const EOSError&) {
                // Reported below as the missing directory.
            }
            if (!DirectoryExists(directory)) {
                throw EZipArchiver(zaeNoDestination, directory);
            }
        }
    }
    TZipCommandBuffer buffer(*this, this, &TZipArchiver::EngineCallback, FZipComment);
    FEventErrorText.clear();
    FTotalBytes = FTotalDone = FItemBytes = FItemDone = 0;
    FItemName.clear();
    FAddedCount = FZipEngineDll.Exec(buffer.Command());
    if (FAddedCount < 0) {
        FAddedCount = 0;
        RecordError(zaeFatalEngine, "fatal Dll error");
    }
}

int32_t TZipArchiver::EngineCallback(TZipCallbackRecord* record) {
    if (record == nullptr || record->Caller == nullptr) {
        return -1;
    }
    try {
        return static_cast<TZipArchiver*>(record->Caller)->HandleCallback(*record);
    } catch (...) {
        return -1;
    }
}

int32_t TZipArchiver::HandleCallback(const TZipCallbackRecord& record) {
    const int32_t action = record.ActionCode & 0xFF;
    const std::string text = RecordText(record);
    try {
        if (action == zacMessage && (record.ErrorCode & 0xFF) == zecSkipped) {
            // The run matches skipped files against the names it handed in: they must be whole.
            FSkippedFiles.push_back(ExactText(record));
        }
        DispatchCallback(action, record.ErrorCode, record.Size, text);
    } catch (const std::exception& error) {
        if (FEventErrorText.empty()) {
            FEventErrorText = " #" + std::to_string(action) + " \"" + error.what() + "\"";
        }
        FCancel = true;
    } catch (...) {
        if (FEventErrorText.empty()) {
            FEventErrorText = " #" + std::to_string(action) + " \"\"";
        }
        FCancel = true;
    }
    if (OnAfterCallback) {
        const TCallBackInfo info{this, action, record.ErrorCode, text, record.Size};
        bool abort = FCancel;
        OnAfterCallback(info, abort);
        if (abort) {
            FCancel = true;
        }
    }
    return FCancel ? -1 : 0;
}

void TZipArchiver::DispatchCallback(int32_t action, int32_t errorCode, uint64_t size,
                                    const std::string& text) {
    switch (action) {
        case zacTick:
            if (OnTick) {
                OnTick(this);
            }
            break;
        case zacItem:
            if (OnProgress) {
                OnProgress(this, NewFile, text, size);
            }
            FItemBytes = size;
            FItemDone = 0;
            FItemName = text;
            if (OnItemProgress) {
                OnItemProgress(this, FItemName, size, 0);
            }
            break;
        case zacProgress:
            if (OnProgress) {
                OnProgress(this, ProgressUpdate, {}, size);
            }
            FItemDone = AddChecked(FItemDone, size);
            if (OnItemProgress) {
                OnItemProgress(this, FItemName, FItemBytes, ZipPerCent(FItemDone, FItemBytes));
            }
            FTotalDone = AddChecked(FTotalDone, size);
            if (OnTotalProgress) {
                OnTotalProgress(this, FTotalBytes, ZipPerCent(FTotalDone, FTotalBytes));
            }
            break;
        case zacEndOfBatch:
            if (OnProgress) {
                OnProgress(this, EndOfBatch, {}, 0);
            }
            FItemBytes = FItemDone = FTotalDone = 0;
            FItemName.clear();
            if (OnItemProgress) {
                OnItemProgress(this, {}, 0, -1);
            }
            if (OnTotalProgress) {
                OnTotalProgress(this, 0, -1);
            }
            break;
        case zacMessage:
            FErrorMessage = text;
            if (errorCode != 0) {
                FErrorCode = errorCode & 0xFF;
                if (FErrorCode == zecEventError && !FEventErrorText.empty()) {
                    FErrorMessage = "Exception in Event " + FEventErrorText;
                }
            }
            Message(errorCode, FErrorMessage);
            break;
        case zacCount:
            if (OnProgress) {
                OnProgress(this, TotalFiles2Process, {}, size);
            }
            break;
        case zacSize:
            FTotalBytes = size;
            FTotalDone = 0;
            FItemBytes = 0;
            FItemName.clear();
            if (OnProgress) {
                OnProgress(this, TotalSize2Process, {}, size);
            }
            break;
        case 15:
        case 16:
            if (OnProgress) {
                OnProgress(this, action == 15 ? NewExtra : ExtraUpdate, text, size);
            }
            if (OnItemProgress) {
                OnItemProgress(this, text, size, 0);
            }
            break;
        default:
            // Renames, passwords, checksums, overwrites, comments: not part of adding files.
            break;
    }
}

void TZipArchiver::ReadDirectory() {
    FZipContents.clear();
    FZipComment.clear();
    FErrorCode = 0;
    // An empty file is an archive not yet written (the job's temporary file), not a bad one.
    if (FZipFileName.empty() || !FileExists(FZipFileName) ||
        GetFileStatus(FZipFileName).Size == 0) {
        return;
    }
    try {
        ReadCentralDirectory(FZipFileName);
    } catch (const EZipReadError& error) {
        FZipContents.clear();
        FZipComment.clear();
        RecordError(error.Code, error.what());
    } catch (const std::exception& error) {
        FZipContents.clear();
        FZipComment.clear();
        RecordError(zaeReadDirectory, error.what());
    }
}

void TZipArchiver::ReadCentralDirectory(const std::string& path) {
    TZipReader reader;
    reader.Open(path);
    FZipContents = reader.TakeEntries();
    FZipComment = reader.Comment();
}

std::string TZipArchiver::ZipStr(int32_t id) {
    std::string text = ZipArchiverText(id);
    if (OnZipStr) {
        OnZipStr(this, id, text);
    }
    return text;
}

void TZipArchiver::RecordError(int32_t code, const std::string& extra) {
    RecordError(code, extra, 0);
}

void TZipArchiver::RecordError(const EZipArchiver& error) {
    RecordError(error.Code, error.ExtraText, error.Code);
}

void TZipArchiver::RecordError(int32_t code, const std::string& extra, int32_t messageCode) {
    FErrorCode = code;
    // Recording must not fail: a handler that throws here loses only its own part.
    std::string text;
    try {
        text = ZipStr(code);
    } catch (...) {
        text = ZipArchiverText(code);
    }
    FErrorMessage = ZipArchiverMessage(code, extra, text);
    try {
        Message(messageCode, FErrorMessage);
    } catch (...) {
    }
}

void TZipArchiver::Message(int32_t errCode, const std::string& text) {
    if (OnMessage) {
        OnMessage(this, errCode, text);
    }
}

}  // namespace sejfko
