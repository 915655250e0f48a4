#include "backup/file_list_format.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/exceptions.hpp"
#include "platform/file_io.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

std::string NotAnInteger(const std::string& text) {
    return "'" + text + "' is not a valid integer value";
}

// Decimal text with an optional sign, nothing else (no blanks). False when it is not a number
// or does not fit 64 bits.
bool ParseInt64(const std::string& text, int64_t& value) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos == text.size()) {
        return false;
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    uint64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9') {
            return false;
        }
        const auto digit = static_cast<uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) {
            return false;
        }
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

std::string OpenMessage(const std::string& fileName, int error) {
    return "Cannot open file \"" + fileName + "\". " + std::strerror(error);
}

// Splits the stream into lines and hands each group of three to the record conversion.
class TRecordReader {
public:
    explicit TRecordReader(const TFileListRecordSink& sink) : FSink(sink) {}

    void Feed(const char* data, std::size_t size) {
        const char* end = data + size;
        while (data < end) {
            if (FPendingCR) {
                FPendingCR = false;
                if (*data == '\n') {
                    ++data;
                    continue;
                }
            }
            const char* stop =
                std::find_if(data, end, [](char c) { return c == '\r' || c == '\n'; });
            FLine.append(data, stop);
            FLineOpen = FLineOpen || stop != data;
            if (stop == end) {
                return;
            }
            FPendingCR = *stop == '\r';
            data = stop + 1;
            EndLine();
        }
    }

    void Finish() {
        if (FLineOpen) {
            EndLine();
        }
        if (FInGroup != 0) {
            // The CRC line of the incomplete group is the first one missing.
            throw EListError(ListIndexMessage(FLineCount - FInGroup + 2));
        }
    }

private:
    void EndLine() {
        // Swapped, not moved: every buffer keeps its capacity, so lines cost no allocation.
        FGroup[FInGroup++].swap(FLine);
        FLine.clear();
        FLineOpen = false;
        ++FLineCount;
        if (FInGroup == 3) {
            FInGroup = 0;
            EmitRecord();
        }
    }

    void EmitRecord() {
        int64_t crc = 0;
        if (!ParseInt64(FGroup[2], crc)) {
            throw EConvertError(NotAnInteger(FGroup[2]));
        }
        if (crc < 0 || crc > 0xFFFFFFFFLL) {
            throw ERangeError("Range check error");
        }
        int64_t stamp = 0;
        if (!ParseInt64(FGroup[1], stamp) || stamp < INT32_MIN || stamp > INT32_MAX) {
            throw EConvertError(NotAnInteger(FGroup[1]));
        }
        FSink(FGroup[0], static_cast<int32_t>(stamp), static_cast<uint32_t>(crc));
    }

    const TFileListRecordSink& FSink;
    std::array<std::string, 3> FGroup;
    int FInGroup = 0;
    long long FLineCount = 0;
    std::string FLine;
    bool FLineOpen = false;
    bool FPendingCR = false;
};

}  // namespace

std::string ListIndexMessage(long long index) {
    return "List index out of bounds (" + std::to_string(index) + ")";
}

bool FormatFileListRecord(const TFileItem& item, std::string& record) {
    if (item.Name.find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    record.assign(item.Name);
    record += "\r\n";
    record += std::to_string(item.Stamp);
    record += "\r\n";
    record += std::to_string(item.Crc);
    record += "\r\n";
    return true;
}

bool ReadFileListRecords(const std::string& fileName, const TFileListRecordSink& sink) {
    if (GetFileStatus(fileName).Kind == TEntryKind::Missing) {
        return false;
    }
    TReadFile file;
    if (!file.Open(fileName)) {
        throw EOSError(file.Error(), OpenMessage(fileName, file.Error()));
    }
    TRecordReader reader(sink);
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const std::ptrdiff_t got = file.Read(buffer.data(), buffer.size());
        if (got < 0) {
            throw EOSError(file.Error(),
                           "Cannot read file \"" + fileName + "\". " + std::strerror(file.Error()));
        }
        if (got == 0) {
            break;
        }
        reader.Feed(buffer.data(), static_cast<std::size_t>(got));
    }
    reader.Finish();
    return true;
}

}  // namespace sejfko
