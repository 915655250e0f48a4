#include "platform/program_arguments.hpp"

namespace sejfko {

TProgramArguments::TProgramArguments(int argc, char** argv) : FStrings(argv, argv + argc) {
    for (std::string& text : FStrings) {
        FPointers.push_back(text.data());
    }
    FPointers.push_back(nullptr);
}

}  // namespace sejfko
