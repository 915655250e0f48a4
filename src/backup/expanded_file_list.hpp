#pragma once
// The files a selection expands to, each with the stamp and size the scan saw. A tree may hold a
// million files, so the names live in large shared chunks and a file is a small fixed record;
// reading gives values (TExpandedFile) or views (TScannedFile) of them.

#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sejfko {

struct TExpandedFile {
    std::string Name;   // full path
    int32_t Stamp = 0;  // last-write time, local, MS-DOS packed
    int64_t Size = 0;   // bytes, at the time of the scan
    // A symlink met in a tree: Stamp and Size are the link's own (lstat), its content is its
    // target text.
    bool Link = false;
};

// One file as the scan hands it on; the name is valid as long as its source is.
struct TScannedFile {
    std::string_view Name;
    int32_t Stamp = 0;
    int64_t Size = 0;
    bool Link = false;
};

class TExpandedFileList {
public:
    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = TExpandedFile;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = TExpandedFile;

        const_iterator(const TExpandedFileList* list, std::size_t index)
            : FList(list), FIndex(index) {}
        TExpandedFile operator*() const { return (*FList)[FIndex]; }
        const_iterator& operator++() {
            ++FIndex;
            return *this;
        }
        bool operator==(const const_iterator& other) const { return FIndex == other.FIndex; }

    private:
        const TExpandedFileList* FList;
        std::size_t FIndex;
    };

    TExpandedFileList() = default;
    TExpandedFileList(std::initializer_list<TExpandedFile> files);
    TExpandedFileList(TExpandedFileList&&) noexcept = default;
    TExpandedFileList& operator=(TExpandedFileList&&) noexcept = default;
    TExpandedFileList(const TExpandedFileList&) = delete;
    TExpandedFileList& operator=(const TExpandedFileList&) = delete;

    void push_back(const TScannedFile& file);
    void push_back(const TExpandedFile& file) {
        push_back(TScannedFile{file.Name, file.Stamp, file.Size, file.Link});
    }
    std::size_t size() const { return FRecords.size(); }
    bool empty() const { return FRecords.empty(); }
    void clear();

    TScannedFile At(std::size_t index) const;
    TExpandedFile operator[](std::size_t index) const;
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    struct TRecord {
        const char* Name;
        int64_t Size;
        int32_t Stamp;
        uint32_t Length : 31;
        uint32_t Link : 1;
    };

    std::vector<std::unique_ptr<char[]>> FChunks;
    char* FNext = nullptr;  // where the next name goes in the last chunk
    std::size_t FFree = 0;  // bytes left there
    std::vector<TRecord> FRecords;
};

}  // namespace sejfko
