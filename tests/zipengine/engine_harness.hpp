#pragma once
// Loads the built engine library as the archive component does (dlopen) and runs one command,
// recording every callback. Header only: each test program includes it.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "zipengine/zip_engine_api.h"

namespace sejfko::test {

struct TCallbackCall {
    int32_t Action;
    int32_t Error;
    uint64_t Size;
    std::string Text;
    std::string FullText;  // empty when the record had none
};

class TEngineRun {
public:
    // Specs in order; a spec may carry its own recurse flag and root directory.
    struct TSpecLine {
        TSpecLine(std::string spec, bool recurse = false, std::string rootDir = {},
                  bool literal = false, bool asLink = false)
            : Spec(std::move(spec)),
              Recurse(recurse),
              RootDir(std::move(rootDir)),
              Literal(literal),
              AsLink(asLink) {}
        std::string Spec;
        bool Recurse;
        std::string RootDir;
        bool Literal;
        bool AsLink;
    };

    TEngineRun() {
        FLibrary = dlopen(SEJFKO_ZIPENGINE_DIR "/libzipengine.so", RTLD_NOW | RTLD_LOCAL);
        if (FLibrary != nullptr) {
            Exec = reinterpret_cast<TZipEngineExec>(dlsym(FLibrary, "ZipEngineExec"));
            Version = reinterpret_cast<TZipEngineVersion>(dlsym(FLibrary, "GetZipEngineVersion"));
        }
    }
    ~TEngineRun() {
        if (FLibrary != nullptr) {
            dlclose(FLibrary);
        }
    }
    TEngineRun(const TEngineRun&) = delete;
    TEngineRun& operator=(const TEngineRun&) = delete;

    // Fills the command the way the archive job does (hidden files, recursion per spec, level).
    int32_t Run(const std::string& archive, const std::vector<TSpecLine>& lines) {
        std::vector<TZipSpec> specs(lines.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            specs[i].Spec = lines[i].Spec.c_str();
            specs[i].Recurse = lines[i].Recurse ? 0xFFFF : 0;
            specs[i].RootDir = lines[i].RootDir.empty() ? nullptr : lines[i].RootDir.c_str();
            specs[i].Literal = lines[i].Literal ? 1 : 0;
            specs[i].AsLink = lines[i].AsLink ? 1 : 0;
            specs[i].Password = Password.empty() ? nullptr : Password.c_str();
            specs[i].Encrypt = Password.empty() ? 0 : -1;
        }
        std::vector<const char*> excludes;
        for (const std::string& e : Excludes) {
            excludes.push_back(e.c_str());
        }
        Command = TZipCommand{};
        Command.Caller = this;
        Command.Version = ZIP_ENGINE_VERSION;
        Command.Callback = &TEngineRun::OnCallback;
        Command.Password = Password.empty() ? nullptr : Password.c_str();
        Command.Encrypt = Password.empty() ? 0 : -1;
        Command.StoreSuffixes = StoreSuffixes.empty() ? nullptr : StoreSuffixes.c_str();
        Command.System = Hidden ? -1 : 0;
        Command.NoDirEntries = -1;
        Command.Quiet = -1;
        Command.Level = Level;
        Command.JunkDir = JunkDir ? -1 : 0;
        Command.Force = -1;
        Command.ArgCount = static_cast<int32_t>(specs.size());
        Command.ZipFileName = archive.c_str();
        Command.Specs = specs.data();
        Command.ExcludeCount = static_cast<int32_t>(excludes.size());
        Command.Excludes = excludes.empty() ? nullptr : excludes.data();
        Command.Fixed = 7;
        Calls.clear();
        return Exec(&Command);
    }

    std::vector<TCallbackCall> CallsOf(int32_t action) const {
        std::vector<TCallbackCall> out;
        for (const TCallbackCall& c : Calls) {
            if (c.Action == action) {
                out.push_back(c);
            }
        }
        return out;
    }

    TZipEngineExec Exec = nullptr;
    TZipEngineVersion Version = nullptr;
    TZipCommand Command{};
    std::string StoreSuffixes = ".gif:.png:.z:.zip:.gz:.gzip:.jar";
    std::vector<std::string> Excludes;
    bool Hidden = true;
    bool JunkDir = false;
    int32_t Level = 9;
    std::string Password;  // non-empty: every spec encrypts with it
    // Called for every callback after it is recorded; its answer goes back to the engine.
    std::function<int32_t(const TCallbackCall&)> Hook;
    std::vector<TCallbackCall> Calls;
    // False: callbacks are only counted (a run over a large tree then holds nothing per file).
    bool Record = true;
    uint64_t CallCount = 0;

private:
    static int32_t OnCallback(TZipCallbackRecord* record) {
        auto* self = static_cast<TEngineRun*>(record->Caller);
        ++self->CallCount;
        if (!self->Record) {
            return 0;
        }
        self->Calls.push_back(TCallbackCall{record->ActionCode & 0xFF, record->ErrorCode,
                                            record->Size, record->Text,
                                            record->FullText != nullptr ? record->FullText : ""});
        return self->Hook ? self->Hook(self->Calls.back()) : 0;
    }

    void* FLibrary = nullptr;
};

// Output of a shell command and its exit status.
inline std::pair<int, std::string> RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return {-1, output};
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

inline std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

}  // namespace sejfko::test
