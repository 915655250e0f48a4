#include "config/ini_file.hpp"

#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "platform/file_io.hpp"
#include "platform/file_lock.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

constexpr std::size_t MaxIniValueLength = 2047;
// Lines are matched on their first bytes only, so that a huge line costs no memory.
constexpr std::size_t MaxLineHead = 16 * 1024;
constexpr std::size_t ChunkSize = 64 * 1024;

using TReader = std::function<std::ptrdiff_t(char* buffer, std::size_t size)>;
using TCopy = std::function<void(std::string_view bytes)>;

struct TIniLine {
    std::string Head;  // the first MaxLineHead bytes, terminator excluded
    bool Truncated = false;
    std::string Terminator;  // "\r\n", "\n", "\r" or empty at the end of the input
};

// Splits a byte stream into lines in fixed-size chunks. Each line's bytes can be passed on
// whole (terminator included) while only its head is kept.
class TLineSource {
public:
    explicit TLineSource(TReader reader) : FReader(std::move(reader)), FBuffer(ChunkSize) {}

    // False at the end of the input (or after a read error: Failed()).
    bool Next(TIniLine& line, const TCopy& copy) {
        line.Head.clear();
        line.Truncated = false;
        line.Terminator.clear();
        if (!Fill()) {
            return false;
        }
        while (Fill()) {
            const char* begin = FBuffer.data() + FPos;
            std::size_t available = FEnd - FPos;
            std::size_t length = 0;
            while (length < available && begin[length] != '\r' && begin[length] != '\n') {
                ++length;
            }
            Take(line, std::string_view(begin, length), copy);
            FPos += length;
            if (length == available) {
                continue;
            }
            char first = FBuffer[FPos++];
            line.Terminator = first == '\n' ? "\n" : "\r";
            if (first == '\r' && Fill() && FBuffer[FPos] == '\n') {
                ++FPos;
                line.Terminator = "\r\n";
            }
            if (copy) {
                copy(line.Terminator);
            }
            return true;
        }
        return true;  // the last line, without terminator
    }

    bool Failed() const { return FFailed; }

private:
    bool Fill() {
        if (FPos < FEnd) {
            return true;
        }
        if (FEof) {
            return false;
        }
        std::ptrdiff_t count = FReader(FBuffer.data(), FBuffer.size());
        if (count <= 0) {
            FEof = true;
            FFailed = count < 0;
            return false;
        }
        FPos = 0;
        FEnd = static_cast<std::size_t>(count);
        return true;
    }

    static void Take(TIniLine& line, std::string_view bytes, const TCopy& copy) {
        if (copy) {
            copy(bytes);
        }
        std::size_t room = MaxLineHead - line.Head.size();
        if (bytes.size() > room) {
            line.Truncated = true;
        }
        line.Head.append(bytes.substr(0, std::min(room, bytes.size())));
    }

    TReader FReader;
    std::vector<char> FBuffer;
    std::size_t FPos = 0;
    std::size_t FEnd = 0;
    bool FEof = false;
    bool FFailed = false;
};

TReader StringReader(std::string_view content) {
    return [content](char* buffer, std::size_t size) mutable -> std::ptrdiff_t {
        std::size_t count = std::min(size, content.size());
        std::memcpy(buffer, content.data(), count);
        content.remove_prefix(count);
        return static_cast<std::ptrdiff_t>(count);
    };
}

TReader FileReader(TReadFile& file) {
    return [&file](char* buffer, std::size_t size) { return file.Read(buffer, size); };
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

std::string_view Trim(std::string_view text) {
    text = TrimLeft(text);
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = LowerAscii(c);
    }
    return result;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

enum class TLineKind { Other, Section, Key };

struct TParsedLine {
    TLineKind Kind = TLineKind::Other;
    std::string_view Name;  // section or key
    std::string_view Value;
};

TParsedLine ParseLine(std::string_view head, bool truncated) {
    TParsedLine parsed;
    std::string_view text = TrimLeft(head);
    if (text.empty() || text.front() == ';') {
        return parsed;
    }
    if (text.front() == '[') {
        text.remove_prefix(1);
        parsed.Kind = TLineKind::Section;
        parsed.Name = Trim(text.substr(0, text.find(']')));
        return parsed;
    }
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return parsed;
    }
    parsed.Name = Trim(text.substr(0, equals));
    if (parsed.Name.empty()) {
        return parsed;
    }
    parsed.Kind = TLineKind::Key;
    // The end of a truncated line is unknown: keep its trailing bytes as they are.
    std::string_view value = TrimLeft(text.substr(equals + 1));
    if (!truncated) {
        value = Trim(value);
        if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
    }
    parsed.Value = value;
    return parsed;
}

std::string EncodeValue(std::string_view value) {
    value = value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
    bool needsQuotes =
        !value.empty() &&
        (IsBlank(value.front()) || IsBlank(value.back()) ||
         (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()));
    return needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);
}

std::string SnapshotKey(std::string_view section, std::string_view key) {
    return Lower(section) + '\n' + Lower(key);
}

// Where the write goes, found by a first pass over the current file.
struct TWritePlan {
    long ReplaceLine = -1;  // the key's line, replaced
    long InsertAfter = -1;  // the section's last key line (or its header) when the key is new
    bool SectionFound = false;
    std::string LineEnd = "\n";  // the file's own line ends, from its first line
};

TWritePlan PlanWrite(TLineSource& source, std::string_view section, std::string_view key) {
    TWritePlan plan;
    bool inSection = false;
    bool lineEndSeen = false;
    TIniLine line;
    for (long index = 0; source.Next(line, {}); ++index) {
        if (!lineEndSeen && !line.Terminator.empty()) {
            plan.LineEnd = line.Terminator;
            lineEndSeen = true;
        }
        TParsedLine parsed = ParseLine(line.Head, line.Truncated);
        if (parsed.Kind == TLineKind::Section) {
            inSection = !plan.SectionFound && SameIniName(parsed.Name, section);
            if (inSection) {
                plan.SectionFound = true;
                plan.InsertAfter = index;
            }
        } else if (parsed.Kind == TLineKind::Key && inSection) {
            if (SameIniName(parsed.Name, key)) {
                plan.ReplaceLine = index;
                break;
            }
            plan.InsertAfter = index;
        }
    }
    return plan;
}

[[noreturn]] void ThrowUnableToWrite(const std::string& fileName) {
    throw EIniFileException("Unable to write to " + fileName);
}

}  // namespace

bool SameIniName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

TIniSnapshot::TIniSnapshot(std::string_view content) {
    TLineSource source(StringReader(content));
    TIniLine line;
    while (source.Next(line, {})) {
        AddLine(line.Head, line.Truncated);
    }
}

void TIniSnapshot::AddLine(std::string_view head, bool truncated) {
    TParsedLine parsed = ParseLine(head, truncated);
    if (parsed.Kind == TLineKind::Section) {
        FCurrentSection = Lower(parsed.Name);
        // Only the first of duplicate sections counts, as the writer only changes that one.
        FInSection = FSections.insert(FCurrentSection).second;
    } else if (parsed.Kind == TLineKind::Key && FInSection) {
        std::string key = FCurrentSection + '\n' + Lower(parsed.Name);
        if (FValues.find(key) == FValues.end()) {
            FValues.emplace(std::move(key), LimitIniValue(std::string(parsed.Value)));
        }
    }
}

bool TIniSnapshot::Find(std::string_view section, std::string_view key, std::string& value) const {
    auto found = FValues.find(SnapshotKey(section, key));
    if (found == FValues.end()) {
        return false;
    }
    value = found->second;
    return true;
}

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

TIniSnapshot TIniFile::Read() const {
    TIniSnapshot snapshot;
    TReadFile file;
    if (!file.Open(FFileName)) {
        return snapshot;
    }
    TLineSource source(FileReader(file));
    TIniLine line;
    while (source.Next(line, {})) {
        snapshot.AddLine(line.Head, line.Truncated);
    }
    return snapshot;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& defaultValue) const {
    std::string value;
    return Read().Find(section, key, value) ? value : defaultValue;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    try {
        std::string directory = ExtractFileDir(FFileName);
        if (!directory.empty() && !DirectoryExists(directory)) {
            ForceDirectories(directory);
        }
        TFileLock lock(FFileName + ".lock");

        TReadFile first;
        bool exists = first.Open(FFileName);
        if (!exists && first.Error() != ENOENT) {
            ThrowUnableToWrite(FFileName);
        }
        TWritePlan plan;
        if (exists) {
            TLineSource source(FileReader(first));
            plan = PlanWrite(source, section, key);
            if (source.Failed()) {
                ThrowUnableToWrite(FFileName);
            }
            first.Close();
        }

        const std::string keyLine = std::string(key) + "=" + EncodeValue(value);
        TAtomicFileWriter writer(FFileName, 0600);
        TReadFile second;
        std::string lastTerminator = plan.LineEnd;
        if (exists) {
            if (!second.Open(FFileName)) {
                ThrowUnableToWrite(FFileName);
            }
            TLineSource source(FileReader(second));
            const TCopy copy = [&writer](std::string_view bytes) { writer.Write(bytes); };
            TIniLine line;
            for (long index = 0; source.Next(line, index == plan.ReplaceLine ? TCopy() : copy);
                 ++index) {
                lastTerminator = line.Terminator;
                if (index == plan.ReplaceLine) {
                    writer.Write(keyLine);
                    writer.Write(line.Terminator);
                } else if (index == plan.InsertAfter && plan.ReplaceLine < 0) {
                    if (line.Terminator.empty()) {
                        writer.Write(plan.LineEnd);
                    }
                    writer.Write(keyLine);
                    writer.Write(plan.LineEnd);
                }
            }
            if (source.Failed()) {
                ThrowUnableToWrite(FFileName);
            }
        }
        if (!plan.SectionFound) {
            if (lastTerminator.empty()) {
                writer.Write(plan.LineEnd);
            }
            writer.Write("[" + std::string(section) + "]" + plan.LineEnd);
            writer.Write(keyLine + plan.LineEnd);
        }
        writer.Commit();
    } catch (const EOSError&) {
        ThrowUnableToWrite(FFileName);
    }
}

std::string LimitIniValue(std::string value) {
    if (value.size() <= MaxIniValueLength) {
        return value;
    }
    std::size_t cut = MaxIniValueLength;
    // Never split a UTF-8 sequence: cut before its lead byte.
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    value.resize(cut);
    return value;
}

bool TryParseIniInteger(std::string_view text, int32_t& value) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    const int64_t limit = negative ? int64_t{std::numeric_limits<int32_t>::max()} + 1
                                   : int64_t{std::numeric_limits<int32_t>::max()};
    int64_t magnitude = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f') {
            digit = static_cast<unsigned>(LowerAscii(c) - 'a' + 10);
        } else {
            return false;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) {
            return false;
        }
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

}  // namespace sejfko
