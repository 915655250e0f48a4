// A deletion list as an archive may carry it, and the lines our own writer makes. The first byte
// chooses the kind (bit 0: Windows) and the size of the pieces the list is fed in; the rest is
// the list. Promises: the pieces do not change the result, no path is empty or holds a line end,
// no bad line exceeds the limit; and each line of the input, taken as a file name, comes back
// from the writer's line exactly as the archive stores that name.

#include <string>
#include <vector>

#include "backup/update_batch.hpp"
#include "fuzz/fuzz_targets.hpp"
#include "restore/deletion_list.hpp"

namespace sejfko::fuzz {

namespace {

struct TParsed {
    std::vector<std::string> Paths;
    std::vector<std::string> BadLines;
};

TParsed Parse(bool windows, std::string_view list, std::size_t piece) {
    TDeletionListParser parser(windows);
    while (!list.empty()) {
        const std::string_view part = list.substr(0, piece);
        parser.Feed(part.data(), part.size());
        list.remove_prefix(part.size());
    }
    parser.Finish();
    return TParsed{std::move(parser.Paths), std::move(parser.BadLines)};
}

std::string ListText(const std::vector<std::string>& list) {
    std::string text;
    for (const std::string& entry : list) {
        text += "\n  " + Quote(entry);
    }
    return text;
}

// The name as a POSIX archive stores it: no empty, "." or ".." parts.
std::string StoredName(std::string_view path) {
    std::string stored;
    while (!path.empty()) {
        const std::size_t end = path.find('/');
        const std::string_view part = path.substr(0, end);
        if (!part.empty() && part != "." && part != "..") {
            stored += (stored.empty() ? "" : "/") + std::string(part);
        }
        path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1);
    }
    return stored;
}

// The name as a Windows list names it for the archive: without the drive, "/" separators, the
// first separator dropped. Only plain ASCII names, which need no code page.
bool WindowsStoredName(std::string_view name, std::string& stored) {
    if (name.size() >= 2 && name[1] == ':') {
        name.remove_prefix(2);
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126 || c == '"') {
            return false;
        }
    }
    stored = name;
    for (char& c : stored) {
        c = c == '\\' ? '/' : c;
    }
    if (stored.starts_with('/')) {
        stored.erase(0, 1);
    }
    return !stored.empty();
}

void CheckRoundTrip(bool windows, const std::string& line) {
    std::string expected;
    std::string written;
    if (windows) {
        if (!WindowsStoredName(line, expected)) {
            return;
        }
        written = WindowsUpdateBatchLine(line);
    } else {
        expected = StoredName(line);
        written = PosixUpdateBatchLine("/" + line);
    }
    if (written.size() >= TDeletionListParser::MaxLineLength) {
        return;
    }
    const TParsed parsed = Parse(windows, written + (windows ? "\r\n" : "\n"), written.size() + 2);
    const std::vector<std::string> want =
        expected.empty() ? std::vector<std::string>{} : std::vector<std::string>{expected};
    FUZZ_CHECK(parsed.Paths == want, "the name " + Quote(line) + " written as " + Quote(written) +
                                         " reads back as" + ListText(parsed.Paths) + ", expected" +
                                         ListText(want));
}

}  // namespace

int FuzzDeletionList(const uint8_t* data, std::size_t size) {
    TFuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const bool windows = (flags & 1) != 0;
    const std::size_t piece = ((flags >> 1) % 64) + 1;
    const std::string_view list = input.Rest();

    const TParsed whole = Parse(windows, list, list.size() + 1);
    const TParsed pieces = Parse(windows, list, piece);
    FUZZ_CHECK(whole.Paths == pieces.Paths && whole.BadLines == pieces.BadLines,
               "in pieces of " + std::to_string(piece) + ":" + ListText(pieces.Paths) +
                   "\nbad:" + ListText(pieces.BadLines) + "\nwhole:" + ListText(whole.Paths) +
                   "\nbad:" + ListText(whole.BadLines));
    for (const std::string& path : whole.Paths) {
        FUZZ_CHECK(!path.empty() && path.find('\n') == std::string::npos, "path " + Quote(path));
    }
    for (const std::string& line : whole.BadLines) {
        FUZZ_CHECK(line.size() <= TDeletionListParser::MaxLineLength,
                   "a bad line of " + std::to_string(line.size()) + " bytes");
    }

    std::string_view rest = list;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string line(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        // The writer leaves out names holding a line end.
        if (line.find('\r') == std::string::npos) {
            CheckRoundTrip(windows, line);
        }
    }
    return 0;
}

}  // namespace sejfko::fuzz
