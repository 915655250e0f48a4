// The fake engine: replays its script through the command's callback and keeps copies of
// everything the command pointed to.
#include "archive/fake_engine/fake_engine.hpp"

#include <cstring>
#include <fstream>

using sejfko::test::TFakeRecord;
using sejfko::test::TFakeScript;
using sejfko::test::TFakeSpec;

namespace {

TFakeScript Script;
TFakeRecord Record;

std::optional<std::string> Copy(const char* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::string(text);
}

}  // namespace

extern "C" {

ZIP_ENGINE_EXPORT TFakeScript* FakeEngineScript() {
    return &Script;
}

ZIP_ENGINE_EXPORT TFakeRecord* FakeEngineRecord() {
    return &Record;
}

int32_t GetZipEngineVersion(void) {
    return Script.Version;
}

int32_t GetZipEnginePrivVersion(void) {
    return Script.Version;
}

int32_t ZipEngineExec(TZipCommand* command) {
    ++Record.Calls;
    Record.Command = *command;
    Record.Password = Copy(command->Password);
    Record.StoreSuffixes = Copy(command->StoreSuffixes);
    Record.ZipFileName = Copy(command->ZipFileName);
    Record.TempDir = Copy(command->TempDir);
    Record.Comment = Copy(command->Comment);
    Record.SpecsNull = command->Specs == nullptr;
    Record.Specs.clear();
    for (int32_t index = 0; index < command->ArgCount && command->Specs != nullptr; ++index) {
        const TZipSpec& spec = command->Specs[index];
        Record.Specs.push_back(TFakeSpec{spec.Spec != nullptr ? spec.Spec : "", Copy(spec.Password),
                                         spec.Encrypt, spec.Recurse, Copy(spec.RootDir),
                                         spec.Literal});
    }
    Record.ExcludesNull = command->Excludes == nullptr;
    Record.Excludes.clear();
    for (int32_t index = 0; index < command->ExcludeCount && command->Excludes != nullptr;
         ++index) {
        Record.Excludes.push_back(command->Excludes[index]);
    }
    Record.Answers.clear();
    Record.CallerMatches.clear();
    for (const sejfko::test::TFakeCallback& step : Script.Callbacks) {
        TZipCallbackRecord callback;
        std::memset(&callback, 0, sizeof callback);
        callback.Handle = command->Handle;
        callback.Caller = command->Caller;
        callback.Version = ZIP_ENGINE_VERSION;
        callback.ActionCode = step.Action;
        callback.ErrorCode = step.ErrorCode;
        callback.Size = step.Size;
        std::memcpy(callback.Text, step.Text.data(),
                    std::min(step.Text.size(), sizeof callback.Text));
        callback.FullText = step.FullText.empty() ? nullptr : step.FullText.c_str();
        const int32_t answer = command->Callback(&callback);
        Record.Answers.push_back(answer);
        Record.CallerMatches.push_back(callback.Caller == command->Caller);
        if (answer == -1 && Script.StopOnMinusOne) {
            break;
        }
    }
    if (Script.ArchiveBytes && command->ZipFileName != nullptr) {
        std::ofstream(command->ZipFileName, std::ios::binary) << *Script.ArchiveBytes;
    }
    return Script.Result;
}
}
