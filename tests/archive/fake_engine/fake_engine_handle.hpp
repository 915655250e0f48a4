#pragma once
// Keeps the fake engine resident for the whole test program and reaches its script and record.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/fake_engine/fake_engine.hpp"

namespace sejfko::test {

inline std::string FakeEngineDirectory() {
    return SEJFKO_FAKE_ENGINE_DIR;
}

inline std::string FakeEnginePath() {
    return FakeEngineDirectory() + "/libzipengine.so";
}

class TFakeEngine {
public:
    // Loaded once; RTLD_NODELETE keeps the state across the component's dlclose.
    static TFakeEngine& Instance() {
        static TFakeEngine engine;
        return engine;
    }
    TFakeScript& Script() { return *FScript(); }
    TFakeRecord& Record() { return *FRecord(); }
    void Reset() {
        Script() = TFakeScript{};
        Record() = TFakeRecord{};
    }

private:
    TFakeEngine() {
        void* handle = dlopen(FakeEnginePath().c_str(), RTLD_NOW | RTLD_NODELETE);
        if (handle == nullptr) {
            std::fprintf(stderr, "fake engine: %s\n", dlerror());
            std::abort();
        }
        FScript = reinterpret_cast<TFakeScriptAccess>(dlsym(handle, "FakeEngineScript"));
        FRecord = reinterpret_cast<TFakeRecordAccess>(dlsym(handle, "FakeEngineRecord"));
    }
    TFakeScriptAccess FScript = nullptr;
    TFakeRecordAccess FRecord = nullptr;
};

}  // namespace sejfko::test
