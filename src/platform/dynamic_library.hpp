#pragma once
// Loads a shared library at run time (dlopen / LoadLibrary with error dialogs off).

#include <string>

namespace sejfko {

class TDynamicLibrary {
public:
    TDynamicLibrary() = default;
    ~TDynamicLibrary();
    TDynamicLibrary(const TDynamicLibrary&) = delete;
    TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;

    // Closes any library held, then opens `path`. False on failure, with the reason in
    // LastError().
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return FHandle != nullptr; }
    // nullptr when the symbol is missing or nothing is open.
    void* Symbol(const char* name) const;
    const std::string& LastError() const { return FLastError; }

private:
    void* FHandle = nullptr;
    std::string FLastError;
};

}  // namespace sejfko
