#pragma once
// TFileList: the records (full path, packed stamp, CRC-32) of the incremental state, and their
// text format: three lines per record (name, signed stamp, unsigned CRC), each ended by CR LF, no
// header. Lookups by name go through a hash index and give the same first match as a linear scan;
// deletions keep the order of what remains, so a run over a million files stays linear.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/exceptions.hpp"

namespace sejfko {

struct TFileItem {
    std::string Name;
    int32_t Stamp = 0;
    uint32_t Crc = 0;
};

// "File item index is out of range"
class EFileListRangeError : public Exception {
public:
    using Exception::Exception;
};

class TFileList {
public:
    TFileList();
    virtual ~TFileList();
    TFileList(const TFileList&) = delete;
    TFileList& operator=(const TFileList&) = delete;

    int Add(std::string_view name, int32_t stamp, uint32_t crc);
    // Copies the record at `index`; EFileListRangeError outside 0..Count()-1.
    void GetItem(int index, TFileItem& item) const;
    // The first record whose name equals `name` byte for byte, or -1.
    int IndexOf(std::string_view name) const;
    // Deletes the first record named `name` and gives its stamp and CRC; false when there is
    // none. What IndexOf, GetItem and Delete do together, with one lookup.
    bool TakeFirst(std::string_view name, int32_t& stamp, uint32_t& crc);
    int Count() const;
    // EListError ("List index out of bounds (%d)") outside 0..Count()-1.
    void Delete(int index);
    void Clear();

    // Clears the list; false at once when the file does not exist. Lines end at CR LF, CR or
    // LF. A name line, a stamp line (32-bit signed) and a CRC line (0..4294967295) make a record.
    // A bad number raises EConvertError, a CRC out of range ERangeError, a line count that is not
    // a multiple of three EListError; the records read so far stay in the list. True when the
    // list holds a record afterwards. Streams the file; memory grows with the records only.
    virtual bool LoadFromFile(const std::string& fileName);
    // Writes every record in order, atomically (mode 0600). EOSError when it cannot.
    virtual void SaveToFile(const std::string& fileName) const;

private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace sejfko
