#include "support/temp_dir.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sejfko::test {

namespace fs = std::filesystem;

TTempDir::TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "sejfko-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    FPath = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
}

std::string TTempDir::operator/(std::string_view relative) const {
    return FPath + "/" + std::string(relative);
}

std::string TTempDir::WriteFile(std::string_view relative, std::string_view content) const {
    const std::string full = *this / relative;
    fs::create_directories(fs::path(full).parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + full);
    }
    return full;
}

std::string TTempDir::MakeDir(std::string_view relative) const {
    const std::string full = *this / relative;
    fs::create_directories(full);
    return full;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> EntryNames(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace sejfko::test
