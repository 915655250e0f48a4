#include "platform/dynamic_library.hpp"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/posix_internal.hpp"
#else
#include <dlfcn.h>
#endif

namespace sejfko {

TDynamicLibrary::~TDynamicLibrary() {
    Close();
}

#ifdef _WIN32

bool TDynamicLibrary::Open(const std::string& path) {
    Close();
    // A missing or damaged library must come back as an error, never as a system dialog.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryW(win32::Widen(path).c_str());
    const DWORD error = GetLastError();
    SetErrorMode(previous);
    if (module == nullptr) {
        char text[512] = {};
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, sizeof text, nullptr);
        FLastError = path + ": " + text;
        return false;
    }
    FHandle = module;
    FLastError.clear();
    return true;
}

void TDynamicLibrary::Close() {
    if (FHandle != nullptr) {
        FreeLibrary(static_cast<HMODULE>(FHandle));
        FHandle = nullptr;
    }
}

void* TDynamicLibrary::Symbol(const char* name) const {
    if (FHandle == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name));
}

#else

bool TDynamicLibrary::Open(const std::string& path) {
    Close();
    // RTLD_NOW: unresolved symbols fail here, not later in the middle of a run.
    FHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (FHandle == nullptr) {
        const char* reason = dlerror();
        FLastError = reason != nullptr ? reason : path + ": cannot be loaded";
        return false;
    }
    FLastError.clear();
    return true;
}

void TDynamicLibrary::Close() {
    if (FHandle != nullptr) {
        dlclose(FHandle);
        FHandle = nullptr;
    }
}

void* TDynamicLibrary::Symbol(const char* name) const {
    if (FHandle == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(FHandle, name);
}

#endif

}  // namespace sejfko
