#include <iostream>

#include "cli/cli_app.hpp"

int main(int argc, char** argv) {
    return sejfko::RunCli(argc, argv, std::cout, std::cerr);
}
