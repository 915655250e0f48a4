#include "restore/deletion_list.hpp"

#include <cstring>

namespace sejfko {

namespace {

// UTF-8 of the code page 852 bytes 0x80..0xFF.
const char* const Cp852High[128] = {
    "\xc3\x87",     "\xc3\xbc",     "\xc3\xa9",     "\xc3\xa2",     "\xc3\xa4",     "\xc5\xaf",
    "\xc4\x87",     "\xc3\xa7",     "\xc5\x82",     "\xc3\xab",     "\xc5\x90",     "\xc5\x91",
    "\xc3\xae",     "\xc5\xb9",     "\xc3\x84",     "\xc4\x86",     "\xc3\x89",     "\xc4\xb9",
    "\xc4\xba",     "\xc3\xb4",     "\xc3\xb6",     "\xc4\xbd",     "\xc4\xbe",     "\xc5\x9a",
    "\xc5\x9b",     "\xc3\x96",     "\xc3\x9c",     "\xc5\xa4",     "\xc5\xa5",     "\xc5\x81",
    "\xc3\x97",     "\xc4\x8d",     "\xc3\xa1",     "\xc3\xad",     "\xc3\xb3",     "\xc3\xba",
    "\xc4\x84",     "\xc4\x85",     "\xc5\xbd",     "\xc5\xbe",     "\xc4\x98",     "\xc4\x99",
    "\xc2\xac",     "\xc5\xba",     "\xc4\x8c",     "\xc5\x9f",     "\xc2\xab",     "\xc2\xbb",
    "\xe2\x96\x91", "\xe2\x96\x92", "\xe2\x96\x93", "\xe2\x94\x82", "\xe2\x94\xa4", "\xc3\x81",
    "\xc3\x82",     "\xc4\x9a",     "\xc5\x9e",     "\xe2\x95\xa3", "\xe2\x95\x91", "\xe2\x95\x97",
    "\xe2\x95\x9d", "\xc5\xbb",     "\xc5\xbc",     "\xe2\x94\x90", "\xe2\x94\x94", "\xe2\x94\xb4",
    "\xe2\x94\xac", "\xe2\x94\x9c", "\xe2\x94\x80", "\xe2\x94\xbc", "\xc4\x82",     "\xc4\x83",
    "\xe2\x95\x9a", "\xe2\x95\x94", "\xe2\x95\xa9", "\xe2\x95\xa6", "\xe2\x95\xa0", "\xe2\x95\x90",
    "\xe2\x95\xac", "\xc2\xa4",     "\xc4\x91",     "\xc4\x90",     "\xc4\x8e",     "\xc3\x8b",
    "\xc4\x8f",     "\xc5\x87",     "\xc3\x8d",     "\xc3\x8e",     "\xc4\x9b",     "\xe2\x94\x98",
    "\xe2\x94\x8c", "\xe2\x96\x88", "\xe2\x96\x84", "\xc5\xa2",     "\xc5\xae",     "\xe2\x96\x80",
    "\xc3\x93",     "\xc3\x9f",     "\xc3\x94",     "\xc5\x83",     "\xc5\x84",     "\xc5\x88",
    "\xc5\xa0",     "\xc5\xa1",     "\xc5\x94",     "\xc3\x9a",     "\xc5\x95",     "\xc5\xb0",
    "\xc3\xbd",     "\xc3\x9d",     "\xc5\xa3",     "\xc2\xb4",     "\xc2\xad",     "\xcb\x9d",
    "\xcb\x9b",     "\xcb\x87",     "\xcb\x98",     "\xc2\xa7",     "\xc3\xb7",     "\xc2\xb8",
    "\xc2\xb0",     "\xc2\xa8",     "\xcb\x99",     "\xc5\xb1",     "\xc5\x98",     "\xc5\x99",
    "\xe2\x96\xa0", "\xc2\xa0",
};

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

int DeletionListKind(const std::string& storedName) {
    if (storedName == PosixDeletionListName) {
        return 1;
    }
    if (storedName == WindowsDeletionListName) {
        return 2;
    }
    return 0;
}

std::string Cp852ToUtf8(const std::string& text) {
    std::string result;
    result.reserve(text.size() + text.size() / 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            result += c;
        } else {
            result += Cp852High[byte - 0x80];
        }
    }
    return result;
}

bool ParsePosixDeletionLine(const std::string& line, std::string& path) {
    // rm -f -- 'PATH', where a quote inside PATH is the sequence '\'' (close, escaped quote,
    // open): so the word is quoted runs and escaped quotes, nothing else.
    static const char* const prefix = "rm -f -- ";
    if (!StartsWith(line, prefix)) {
        return false;
    }
    std::size_t at = std::strlen(prefix);
    std::size_t end = line.size();
    if (end > at && line[end - 1] == '\r') {
        --end;
    }
    path.clear();
    if (at >= end) {
        return false;
    }
    while (at < end) {
        if (line[at] == '\'') {
            const std::size_t close = line.find('\'', at + 1);
            if (close == std::string::npos || close >= end) {
                return false;
            }
            path.append(line, at + 1, close - at - 1);
            at = close + 1;
        } else if (line[at] == '\\' && at + 1 < end && line[at + 1] == '\'') {
            path += '\'';
            at += 2;
        } else {
            return false;
        }
    }
    return !path.empty();
}

bool ParseWindowsDeletionLine(const std::string& line, std::string& path) {
    std::string rest = line;
    if (!rest.empty() && rest.back() == '\r') {
        rest.pop_back();
    }
    if (rest.size() < 5 || (rest[0] != 'd' && rest[0] != 'D') ||
        (rest[1] != 'e' && rest[1] != 'E') || (rest[2] != 'l' && rest[2] != 'L') ||
        rest[3] != ' ') {
        return false;
    }
    rest.erase(0, 4);
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
        rest = rest.substr(1, rest.size() - 2);
    }
    if (rest.empty() || rest.find('"') != std::string::npos) {
        return false;
    }
    // A batch file doubles "%" so that it is not read as a variable.
    std::string undoubled;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        undoubled += rest[i];
        if (rest[i] == '%' && i + 1 < rest.size() && rest[i + 1] == '%') {
            ++i;
        }
    }
    path = Cp852ToUtf8(undoubled);
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    // The list names paths from the root of the drive (its letter taken off): the root of the
    // archive.
    if (path[0] == '/') {
        path.erase(0, 1);
    }
    return !path.empty();
}

void TDeletionListParser::Feed(const char* data, std::size_t size) {
    while (size > 0) {
        const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
        const std::size_t take = newline ? static_cast<std::size_t>(newline - data) : size;
        const std::size_t room = MaxLineLength - FLine.size();
        if (take > room) {
            FOverlong = true;
        }
        FLine.append(data, std::min(take, room));
        if (!newline) {
            return;
        }
        TakeLine();
        data = newline + 1;
        size -= take + 1;
    }
}

void TDeletionListParser::Finish() {
    if (!FLine.empty() || FOverlong) {
        TakeLine();
    }
}

void TDeletionListParser::TakeLine() {
    std::string path;
    const bool blank = FLine.empty() || FLine == "\r";
    if (FOverlong) {
        BadLines.push_back(FLine);
    } else if (blank || FLine[0] == '#') {
        // nothing to delete
    } else if (FWindows ? ParseWindowsDeletionLine(FLine, path)
                        : ParsePosixDeletionLine(FLine, path)) {
        Paths.push_back(std::move(path));
    } else if (FWindows &&
               (StartsWith(FLine, "@") || StartsWith(FLine, "rem ") || StartsWith(FLine, "REM "))) {
        // batch comments and "@echo off"
    } else {
        BadLines.push_back(FLine);
    }
    FLine.clear();
    FOverlong = false;
}

}  // namespace sejfko
