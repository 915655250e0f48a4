// The real sejfko-cli executable, end to end.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TTempDir;

struct TResult {
    int Code;
    std::string Out;
};

// Runs the executable through the shell; arguments are quoted by the caller.
TResult RunCliProcess(const std::string& arguments) {
    std::string command = std::string("'") + SEJFKO_CLI_PATH + "' " + arguments + " 2>&1";
    TResult result{-1, ""};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.Out.append(buffer, count);
    }
    int status = ::pclose(pipe);
    result.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(CliProcess, ConfigThenStatus) {
    TTempDir dir;
    const std::string configDir = "--config-dir '" + dir.Path() + "'";
    TResult set = RunCliProcess(configDir + " config 'Backup count' 7");
    ASSERT_EQ(set.Code, 0) << set.Out;
    EXPECT_EQ(ReadWholeFile(dir / "Options.ini"), "[Options]\nBackup count=7\n");

    TResult status = RunCliProcess(configDir + " status");
    EXPECT_EQ(status.Code, 0) << status.Out;
    EXPECT_NE(status.Out.find("\nBackup count: 7\n"), std::string::npos) << status.Out;
    EXPECT_NE(status.Out.find("\nLast run: Nikdy\n"), std::string::npos) << status.Out;

    EXPECT_EQ(RunCliProcess(configDir + " frobnicate").Code, 2);
    EXPECT_EQ(RunCliProcess("").Code, 2);
}

}  // namespace
}  // namespace sejfko
