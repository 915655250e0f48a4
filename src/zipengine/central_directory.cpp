#include "zipengine/central_directory.hpp"

namespace sejfko::zipengine {

void TCentralDirectory::Add(const TZipEntry& entry, uint32_t name) {
    FRecords.push_back(TRecord{entry.CompressedSize, entry.Size, entry.LocalOffset, entry.MTime,
                               name, entry.Crc, entry.Mode, entry.Method, entry.LocalZip64,
                               entry.Encrypted});
}

void TCentralDirectory::Write(TArchiveOutput& output, const TStoredNames& names) const {
    const uint64_t start = output.Offset();
    TZipEntry entry;
    for (size_t i = 0; i < FRecords.size(); ++i) {
        const TRecord& record = FRecords[i];
        entry.Name.assign(names.Name(record.Name));
        entry.Method = record.Method;
        entry.Crc = record.Crc;
        entry.CompressedSize = record.CompressedSize;
        entry.Size = record.Size;
        entry.LocalOffset = record.LocalOffset;
        entry.Mode = record.Mode;
        entry.MTime = record.MTime;
        entry.LocalZip64 = record.LocalZip64;
        entry.Encrypted = record.Encrypted;
        output.Write(CentralHeader(entry));
    }
    const uint64_t end = output.Offset();
    output.Write(EndRecords(FRecords.size(), start, end - start, end));
}

}  // namespace sejfko::zipengine
