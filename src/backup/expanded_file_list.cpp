#include "backup/expanded_file_list.hpp"

#include <algorithm>
#include <cstring>

namespace sejfko {

namespace {

constexpr std::size_t ChunkSize = 256 * 1024;

}  // namespace

TExpandedFileList::TExpandedFileList(std::initializer_list<TExpandedFile> files) {
    for (const TExpandedFile& file : files) {
        push_back(file);
    }
}

void TExpandedFileList::push_back(const TScannedFile& file) {
    const std::size_t length = file.Name.size();
    if (length > FFree) {
        const std::size_t size = std::max(ChunkSize, length);
        FChunks.push_back(std::make_unique<char[]>(size));
        FNext = FChunks.back().get();
        FFree = size;
    }
    char* name = FNext;
    if (length > 0) {
        std::memcpy(name, file.Name.data(), length);
    }
    FNext += length;
    FFree -= length;
    FRecords.push_back(
        TRecord{name, file.Size, file.Stamp, static_cast<uint32_t>(length), file.Link ? 1u : 0u});
}

void TExpandedFileList::clear() {
    FChunks.clear();
    FNext = nullptr;
    FFree = 0;
    FRecords.clear();
}

TScannedFile TExpandedFileList::At(std::size_t index) const {
    const TRecord& record = FRecords[index];
    return TScannedFile{std::string_view(record.Name, record.Length), record.Stamp, record.Size,
                        record.Link != 0};
}

TExpandedFile TExpandedFileList::operator[](std::size_t index) const {
    const TScannedFile file = At(index);
    return TExpandedFile{std::string(file.Name), file.Stamp, file.Size, file.Link};
}

}  // namespace sejfko
