#include "archive/archive_name_record.hpp"

#include "archive/archive_naming.hpp"
#include "platform/exceptions.hpp"
#include "platform/file_io.hpp"

namespace sejfko {

namespace {

// A name is short; anything much longer is not a record of ours.
constexpr std::size_t MaxRecordSize = 256;

}  // namespace

std::string TArchiveNameRecord::LastStamp() const {
    TReadFile file;
    if (!file.Open(FPath)) {
        return {};
    }
    std::string text(MaxRecordSize, '\0');
    const std::ptrdiff_t count = file.Read(text.data(), text.size());
    if (count <= 0) {
        return {};
    }
    text.resize(static_cast<std::size_t>(count));
    const std::size_t end = text.find_first_of("\r\n");
    std::string stamp;
    bool full = false;
    return ParseArchiveName(text.substr(0, end), stamp, full) ? stamp : std::string();
}

void TArchiveNameRecord::Store(const std::string& name) const {
    WriteFileAtomically(FPath, name + "\n", 0600);
}

}  // namespace sejfko
