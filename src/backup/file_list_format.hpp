#pragma once
// The text form of file list records: a name line, a signed stamp line and an unsigned CRC line,
// each ended by CR LF.

#include <cstdint>
#include <functional>
#include <string>

#include "backup/file_list.hpp"

namespace sejfko {

// "List index out of bounds (%d)"
std::string ListIndexMessage(long long index);

// Fills `record` with the three lines of `item`. False (and nothing to write) for a name holding
// CR or LF: it would split into extra lines and shift every later record, so such files are left
// out of the state and count as new on the next run.
bool FormatFileListRecord(const TFileItem& item, std::string& record);

using TFileListRecordSink =
    std::function<void(const std::string& name, int32_t stamp, uint32_t crc)>;

// Streams the records of `fileName` to `sink` in file order. False when the file does not
// exist. Lines end at CR LF, CR or LF; a last line without an end counts. For each record the
// CRC line is converted first (EConvertError when not a number, ERangeError outside
// 0..4294967295), then the stamp line (EConvertError when not a 32-bit signed number); a
// trailing group of one or two lines raises EListError. Records before the fault have reached
// the sink. EOSError when the file exists but cannot be opened or read.
bool ReadFileListRecords(const std::string& fileName, const TFileListRecordSink& sink);

}  // namespace sejfko
