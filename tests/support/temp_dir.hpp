#pragma once
// A fresh directory for one test, removed with everything in it afterwards.

#include <string>
#include <string_view>
#include <vector>

namespace sejfko::test {

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    // Path() + "/" + relative.
    std::string operator/(std::string_view relative) const;
    // Writes `content` to Path()/relative, creating parent directories; returns the full path.
    std::string WriteFile(std::string_view relative, std::string_view content) const;
    std::string MakeDir(std::string_view relative) const;

private:
    std::string FPath;
};

// Names of the entries of a directory, sorted (empty when missing).
std::vector<std::string> EntryNames(const std::string& directory);

// The whole content of a file (empty when missing).
std::string ReadWholeFile(const std::string& path);

}  // namespace sejfko::test
