#pragma once
// Runs the command line in-process with captured output.

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.hpp"

namespace sejfko::test {

struct TCliRun {
    int Code;
    std::string Out;
    std::string Err;
};

// `arguments` follow the program name.
inline TCliRun RunCliWith(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "sejfko-cli");
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunCli(static_cast<int>(arguments.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
}

}  // namespace sejfko::test
