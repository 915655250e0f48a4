#include "transfer/sent_archives.hpp"

#include <algorithm>
#include <cerrno>

#include "platform/exceptions.hpp"
#include "platform/file_io.hpp"
#include "platform/file_system.hpp"
#include "transfer/ftp_listing.hpp"

namespace sejfko {

namespace {

// Far more than the archives a temporary directory ever holds; a bigger file is not ours.
constexpr std::size_t MaxListSize = 1 << 20;

}  // namespace

std::vector<std::string> TSentArchives::Names() const {
    std::vector<std::string> names;
    TReadFile file;
    if (!file.Open(FPath) || file.Size() > static_cast<int64_t>(MaxListSize)) {
        return names;
    }
    std::string text(static_cast<std::size_t>(file.Size()), '\0');
    const std::ptrdiff_t count = file.Read(text.data(), text.size());
    if (count < 0) {
        return names;
    }
    text.resize(static_cast<std::size_t>(count));
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string name = text.substr(start, end - start);
        // Only bare archive names are ever listed; anything else is not taken from the file.
        if (IsRemoteArchiveName(name)) {
            names.push_back(name);
        }
        start = end + 1;
    }
    return names;
}

void TSentArchives::Add(const std::string& name) const {
    std::vector<std::string> names = Names();
    if (std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(name);
    }
    Write(names);
}

void TSentArchives::DeleteLocalCopies(const std::string& directory) const {
    const std::vector<std::string> names = Names();
    if (names.empty()) {
        return;
    }
    std::vector<std::string> left;
    for (const std::string& name : names) {
        int error = 0;
        if (!DeleteFile(IncludeTrailingPathDelimiter(directory) + name, &error) &&
            error != ENOENT) {
            left.push_back(name);
        }
    }
    try {
        if (left.empty()) {
            DeleteFile(FPath);
        } else if (left.size() != names.size()) {
            Write(left);
        }
    } catch (const std::exception&) {
        // The names still listed are deleted or dropped at the next call.
    }
}

void TSentArchives::Write(const std::vector<std::string>& names) const {
    std::string text;
    for (const std::string& name : names) {
        text += name;
        text += '\n';
    }
    WriteFileAtomically(FPath, text, 0600);
}

}  // namespace sejfko
