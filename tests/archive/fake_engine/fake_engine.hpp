#pragma once
// A scripted stand-in for the zip engine library. A test loads it once with RTLD_NODELETE (so
// its state survives the component unloading it after each Add), writes the script, runs Add,
// and reads back what the engine received and what the component answered.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zipengine/zip_engine_api.h"

namespace sejfko::test {

struct TFakeCallback {
    TFakeCallback() = default;
    TFakeCallback(int32_t action, int32_t errorCode, uint64_t size, std::string text,
                  std::string fullText = {})
        : Action(action),
          ErrorCode(errorCode),
          Size(size),
          Text(std::move(text)),
          FullText(std::move(fullText)) {}

    int32_t Action = 0;
    int32_t ErrorCode = 0;
    uint64_t Size = 0;
    std::string Text;
    std::string FullText;  // handed as the record's FullText when not empty
};

struct TFakeScript {
    int32_t Version = ZIP_ENGINE_VERSION;
    std::vector<TFakeCallback> Callbacks;
    bool StopOnMinusOne = true;  // no further callbacks after a -1 answer
    int32_t Result = 0;          // what ZipEngineExec returns
    // Written to the command's archive name when set.
    std::optional<std::string> ArchiveBytes;
};

struct TFakeSpec {
    std::string Text;
    std::optional<std::string> Password;
    int32_t Encrypt = 0;
    uint16_t Recurse = 0;
    std::optional<std::string> RootDir;
    uint16_t Literal = 0;
};

struct TFakeRecord {
    int Calls = 0;
    TZipCommand Command{};  // the numeric fields; its pointers are dangling afterwards
    std::optional<std::string> Password, StoreSuffixes, ZipFileName, TempDir, Comment;
    bool SpecsNull = true;
    std::vector<TFakeSpec> Specs;
    bool ExcludesNull = true;
    std::vector<std::string> Excludes;
    std::vector<int32_t> Answers;     // the callback's answer to each scripted callback
    std::vector<bool> CallerMatches;  // the record's Caller was the command's
};

using TFakeScriptAccess = TFakeScript* (*)();
using TFakeRecordAccess = TFakeRecord* (*)();

}  // namespace sejfko::test
