#pragma once
// The program's arguments in UTF-8, the encoding every name has inside the program.

#include <string>
#include <vector>

namespace sejfko {

// Windows hands main() its arguments in the 8-bit code page, which loses every character outside
// it: there they are read again from the UTF-16 command line, and the console is set to show
// UTF-8. Elsewhere they are `argv` as given.
class TProgramArguments {
public:
    TProgramArguments(int argc, char** argv);
    TProgramArguments(const TProgramArguments&) = delete;
    TProgramArguments& operator=(const TProgramArguments&) = delete;

    int Count() const { return static_cast<int>(FStrings.size()); }
    char** Values() { return FPointers.data(); }

private:
    std::vector<std::string> FStrings;
    std::vector<char*> FPointers;  // into FStrings, then a null pointer
};

}  // namespace sejfko
