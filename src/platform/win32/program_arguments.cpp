#include "platform/program_arguments.hpp"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include "platform/win32/posix_internal.hpp"

namespace sejfko {

TProgramArguments::TProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        FStrings.assign(argv, argv + argc);
    } else {
        for (int i = 0; i < count; ++i) {
            FStrings.push_back(win32::Narrow(wide[i]));
        }
        LocalFree(wide);
    }
    for (std::string& text : FStrings) {
        FPointers.push_back(text.data());
    }
    FPointers.push_back(nullptr);
    // Messages are UTF-8 too.
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace sejfko
