#include "config/ini_lines.hpp"

#include <algorithm>
#include <cstring>

namespace sejfko::ini {

namespace {

// Lines are matched on their first bytes only, so that a huge line costs no memory.
constexpr std::size_t MaxLineHead = 16 * 1024;
constexpr std::size_t ChunkSize = 64 * 1024;
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

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

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

}  // namespace

TLineSource::TLineSource(TReader reader) : FReader(std::move(reader)), FBuffer(ChunkSize) {}

bool TLineSource::Next(TIniLine& line, const TCopy& copy) {
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

bool TLineSource::Fill() {
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

void TLineSource::Take(TIniLine& line, std::string_view bytes, const TCopy& copy) {
    if (copy) {
        copy(bytes);
    }
    std::size_t room = MaxLineHead - line.Head.size();
    if (bytes.size() > room) {
        line.Truncated = true;
    }
    line.Head.append(bytes.substr(0, std::min(room, bytes.size())));
}

TReader StringReader(std::string_view content) {
    return [content](char* buffer, std::size_t size) mutable -> std::ptrdiff_t {
        std::size_t count = std::min(size, content.size());
        std::memcpy(buffer, content.data(), count);
        content.remove_prefix(count);
        return static_cast<std::ptrdiff_t>(count);
    };
}

TParsedLine ParseLine(std::string_view head, bool truncated, bool first) {
    TParsedLine parsed;
    if (first && head.starts_with(Utf8ByteOrderMark)) {
        head.remove_prefix(Utf8ByteOrderMark.size());
    }
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
    parsed.Value = value.substr(0, value.find('\0'));
    return parsed;
}

std::string KeyLine(std::string_view key, std::string_view value) {
    value = value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
    bool needsQuotes =
        !value.empty() &&
        (IsBlank(value.front()) || IsBlank(value.back()) ||
         (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()));
    std::string line(key);
    line += '=';
    if (needsQuotes) {
        line += '"';
        line += value;
        line += '"';
    } else {
        line += value;
    }
    return line;
}

std::string Lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

}  // namespace sejfko::ini
