// The writer reads the file once, copying every byte into a spool while it plans the change,
// and writes the new file from the spool: the plan and the copy come from the same bytes, whatever
// an editor does to the file meanwhile. Before the rename it checks that the file is still the one
// it read; otherwise it starts over (the lock keeps our own processes out, not editors).

#include "config/ini_file.hpp"

#include <cerrno>
#include <limits>

#include "config/ini_lines.hpp"
#include "platform/file_io.hpp"
#include "platform/file_lock.hpp"
#include "platform/file_system.hpp"
#include "platform/temp_file.hpp"

namespace sejfko {

using namespace ini;

namespace {

constexpr std::size_t MaxIniValueLength = 2047;
// Rewrites started over because the file changed meanwhile, before the write gives up.
constexpr int MaxWriteAttempts = 5;

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

TReader FileReader(TReadFile& file) {
    return [&file](char* buffer, std::size_t size) { return file.Read(buffer, size); };
}

TReader SpoolReader(TSpool& spool) {
    return [&spool](char* buffer, std::size_t size) { return spool.Read(buffer, size); };
}

std::string SnapshotKey(std::string_view section, std::string_view key) {
    return Lower(section) + '\n' + Lower(key);
}

// Where the write goes, found while the file is read.
struct TWritePlan {
    long ReplaceLine = -1;  // the key's line, replaced
    long InsertAfter = -1;  // the section's last key line (or its header) when the key is new
    bool SectionFound = false;
    std::string LineEnd = "\n";  // the file's own line ends, from its first line
};

TWritePlan PlanWrite(TLineSource& source, std::string_view section, std::string_view key,
                     const TCopy& copy) {
    TWritePlan plan;
    bool inSection = false;
    bool lineEndSeen = false;
    TIniLine line;
    for (long index = 0; source.Next(line, copy); ++index) {
        if (!lineEndSeen && !line.Terminator.empty()) {
            plan.LineEnd = line.Terminator;
            lineEndSeen = true;
        }
        if (plan.ReplaceLine >= 0) {
            continue;  // the rest is only copied
        }
        TParsedLine parsed = ParseLine(line.Head, line.Truncated, index == 0);
        if (parsed.Kind == TLineKind::Section) {
            inSection = !plan.SectionFound && SameIniName(parsed.Name, section);
            if (inSection) {
                plan.SectionFound = true;
                plan.InsertAfter = index;
            }
        } else if (parsed.Kind == TLineKind::Key && inSection) {
            if (SameIniName(parsed.Name, key)) {
                plan.ReplaceLine = index;
            } else {
                plan.InsertAfter = index;
            }
        }
    }
    return plan;
}

[[noreturn]] void ThrowUnableToWrite(const std::string& fileName) {
    throw EIniFileException("Unable to write to " + fileName);
}

// Raised inside a write attempt when the file turned out to have changed meanwhile.
struct TChangedMeanwhile {};

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
    TParsedLine parsed = ParseLine(head, truncated, FFirstLine);
    FFirstLine = false;
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
    TryRead(snapshot);
    return snapshot;
}

bool TIniFile::TryRead(TIniSnapshot& snapshot) const {
    snapshot = TIniSnapshot();
    TReadFile file;
    if (!file.Open(FFileName)) {
        if (file.Error() != ENOENT) {
            return false;
        }
        SetSeen(TFileIdentity());
        return true;
    }
    // Taken at the start: a change while reading then shows as a change afterwards.
    const TFileIdentity identity = file.Identity();
    TLineSource source(FileReader(file));
    TIniLine line;
    while (source.Next(line, {})) {
        snapshot.AddLine(line.Head, line.Truncated);
    }
    if (source.Failed()) {
        snapshot = TIniSnapshot();
        return false;
    }
    SetSeen(identity);
    return true;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& defaultValue) const {
    std::string value;
    return Read().Find(section, key, value) ? value : defaultValue;
}

bool TIniFile::Changed() const {
    const TFileIdentity now = GetFileIdentity(FFileName);
    std::lock_guard guard(FSeenLock);
    return !FSeen || !(*FSeen == now);
}

void TIniFile::SetSeen(const TFileIdentity& identity) const {
    std::lock_guard guard(FSeenLock);
    FSeen = identity;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    try {
        std::string directory = ExtractFileDir(FFileName);
        if (!directory.empty() && !DirectoryExists(directory)) {
            ForceDirectories(directory);
        }
        TFileLock lock(FFileName + ".lock");
        for (int attempt = 0; attempt < MaxWriteAttempts; ++attempt) {
            if (TryWrite(section, key, value)) {
                return;
            }
        }
    } catch (const EOSError&) {
    }
    ThrowUnableToWrite(FFileName);
}

bool TIniFile::TryWrite(std::string_view section, std::string_view key, std::string_view value) {
    // Through a symlink: the link stays, its target is replaced.
    const std::string target = FollowSymlinks(FFileName);
    TReadFile source;
    const bool exists = source.Open(target);
    if (!exists && source.Error() != ENOENT) {
        ThrowUnableToWrite(FFileName);
    }
    // The rename needs only the directory; the file's own permission decides.
    if (exists && !WritableByCaller(target)) {
        ThrowUnableToWrite(FFileName);
    }
    const TFileIdentity before = exists ? source.Identity() : TFileIdentity();
    TSpool spool(ExtractFileDir(target));
    TWritePlan plan;
    if (exists) {
        TLineSource lines(FileReader(source));
        plan = PlanWrite(lines, section, key,
                         [&spool](std::string_view bytes) { spool.Write(bytes); });
        if (lines.Failed()) {
            ThrowUnableToWrite(FFileName);
        }
        if (!(source.Identity() == before)) {
            return false;  // changed in place while it was read
        }
        source.Close();
    }

    const std::string keyLine = KeyLine(key, value);
    TAtomicFileWriter writer(target, exists ? (before.Mode & 0777) : 0600);
    if (exists) {
        writer.SetOwner(before.Owner, before.Group);
    }
    std::string lastTerminator = plan.LineEnd;
    bool lastLineEmpty = true;
    if (exists) {
        TLineSource lines(SpoolReader(spool));
        const TCopy copy = [&writer](std::string_view bytes) { writer.Write(bytes); };
        TIniLine line;
        for (long index = 0; lines.Next(line, index == plan.ReplaceLine ? TCopy() : copy);
             ++index) {
            lastTerminator = line.Terminator;
            std::string_view text = line.Head;
            if (index == 0 && text.starts_with("\xEF\xBB\xBF")) {
                text.remove_prefix(3);
            }
            lastLineEmpty = text.empty();
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
        if (lines.Failed()) {
            ThrowUnableToWrite(FFileName);
        }
    }
    if (!plan.SectionFound) {
        // A last line without its end gets one, unless it holds nothing (a byte order mark).
        if (lastTerminator.empty() && !lastLineEmpty) {
            writer.Write(plan.LineEnd);
        }
        writer.Write("[" + std::string(section) + "]" + plan.LineEnd);
        writer.Write(keyLine + plan.LineEnd);
    }
    try {
        writer.Commit([&] {
            if (!(GetFileIdentity(target) == before)) {
                throw TChangedMeanwhile{};
            }
        });
    } catch (const TChangedMeanwhile&) {
        return false;
    }
    // Only a file this object had seen as it was is known now; a change by someone else that
    // came before this write must still show as a change (the other keys may differ).
    std::lock_guard guard(FSeenLock);
    if (FSeen && *FSeen == before) {
        FSeen = GetFileIdentity(target);
    }
    return true;
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
