#include <iostream>

#include "cli/cli_app.hpp"
#include "platform/program_arguments.hpp"

int main(int argc, char** argv) {
    sejfko::TProgramArguments arguments(argc, argv);
    return sejfko::RunCli(arguments.Count(), arguments.Values(), std::cout, std::cerr);
}
