#pragma once
// What the fuzz targets share. A target is a plain function over the input bytes, built twice:
// into a libFuzzer program (fuzz_main.cpp) and into the unit tests that replay the seeds and every
// input that once failed (fuzz_regression_test.cpp). A target checks the promises of the reader
// it drives; a broken promise aborts with a message, so libFuzzer keeps the input and a replay
// fails.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sejfko::fuzz {

using TFuzzTarget = int (*)(const uint8_t* data, std::size_t size);

[[noreturn]] void FailCheck(const char* file, int line, const char* condition,
                            const std::string& detail);

// An expectation of a target; `detail` (a string expression) is only built on failure.
#define FUZZ_CHECK(condition, detail)                                            \
    do {                                                                         \
        if (!(condition)) {                                                      \
            ::sejfko::fuzz::FailCheck(__FILE__, __LINE__, #condition, (detail)); \
        }                                                                        \
    } while (false)

// A private directory of this process (removed at exit), for the files a target hands to
// readers that take a path.
const std::string& WorkDirectory();
// Replaces WorkDirectory()/name with `bytes`; returns its path.
std::string WriteWorkFile(const std::string& name, std::string_view bytes);
// Removes `path` and everything below it, never following symlinks.
void RemoveTree(const std::string& path);

// The bytes printed readably (C escapes), for failure messages.
std::string Quote(std::string_view bytes);

// Takes structured pieces off the front of an input; past its end it yields zeros and empty
// pieces.
class TFuzzInput {
public:
    TFuzzInput(const uint8_t* data, std::size_t size)
        : FRest(reinterpret_cast<const char*>(data), size) {}
    uint8_t Byte();
    // The next `size` bytes (fewer at the end).
    std::string_view Take(std::size_t size);
    std::string_view Rest() const { return FRest; }

private:
    std::string_view FRest;
};

}  // namespace sejfko::fuzz
