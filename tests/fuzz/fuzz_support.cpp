#include "fuzz/fuzz_support.hpp"

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace sejfko::fuzz {

namespace {

std::string MakeWorkDirectory() {
    // Memory-backed where it can be: every input becomes a file, often many thousand a second.
    // A runner may name the parent, so that it can remove what a crashed target left behind.
    const char* base = std::getenv("SEJFKO_FUZZ_WORK");
    if (base == nullptr || *base == '\0') {
        base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    }
    std::string pattern = std::string(base) + "/sejfko-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    return pattern;
}

struct TWorkDirectory {
    std::string Path = MakeWorkDirectory();
    ~TWorkDirectory() { RemoveTree(Path); }
};

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
}

}  // namespace

void FailCheck(const char* file, int line, const char* condition, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: expectation failed: %s\n%s\n", file, line, condition,
                 detail.c_str());
    std::fflush(stderr);
    std::abort();
}

const std::string& WorkDirectory() {
    static TWorkDirectory directory;
    return directory.Path;
}

std::string WriteWorkFile(const std::string& name, std::string_view bytes) {
    const std::string path = WorkDirectory() + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0, "cannot create " + path);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        FUZZ_CHECK(wrote > 0, "cannot write " + path);
        done += static_cast<std::size_t>(wrote);
    }
    ::close(fd);
    return path;
}

void RemoveTree(const std::string& path) {
    ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string Quote(std::string_view bytes) {
    std::string text = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (byte >= 32 && byte < 127) {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text + "\"";
}

uint8_t TFuzzInput::Byte() {
    if (FRest.empty()) {
        return 0;
    }
    const auto byte = static_cast<uint8_t>(FRest.front());
    FRest.remove_prefix(1);
    return byte;
}

std::string_view TFuzzInput::Take(std::size_t size) {
    const std::string_view piece = FRest.substr(0, size);
    FRest.remove_prefix(piece.size());
    return piece;
}

}  // namespace sejfko::fuzz
