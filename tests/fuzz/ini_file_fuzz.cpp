// Options.ini as a person or another program may have left it. The names looked up are the
// program's own and every section and key name the file itself holds, so that the fuzzer's
// lines are found, not only ours.

#include <string>
#include <vector>

#include "config/ini_file.hpp"
#include "config/options.hpp"
#include "fuzz/fuzz_targets.hpp"

namespace sejfko::fuzz {

namespace {

constexpr std::size_t MaxProbeNames = 12;

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Section and key names as a line-by-line look at the file sees them (a superset is fine: a
// name that is not there must simply be missing in every reader).
void CollectNames(std::string_view content, std::vector<std::string>& sections,
                  std::vector<std::string>& keys) {
    sections = {OptionsSection, BackupStatusSection};
    keys = {KeyLocalDirectory, KeyLastRun, KeyRemoteHost};
    while (!content.empty()) {
        const std::size_t end = content.find_first_of("\r\n");
        std::string_view line = TrimBlanks(content.substr(0, end));
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (line.starts_with('[') && sections.size() < MaxProbeNames) {
            sections.emplace_back(TrimBlanks(line.substr(1, line.find(']') - 1)));
        } else if (const std::size_t equals = line.find('=');
                   equals != std::string_view::npos && keys.size() < MaxProbeNames) {
            const std::string_view key = TrimBlanks(line.substr(0, equals));
            if (!key.empty() && key.front() != '[' && key.front() != ';') {
                keys.emplace_back(key);
            }
        }
    }
}

struct TProbe {
    bool Found = false;
    std::string Value;
};

TProbe Look(const TIniSnapshot& snapshot, const std::string& section, const std::string& key) {
    TProbe probe;
    probe.Found = snapshot.Find(section, key, probe.Value);
    return probe;
}

std::string Describe(const std::string& section, const std::string& key, const TProbe& probe) {
    return "[" + section + "] " + key + ": " + (probe.Found ? Quote(probe.Value) : "missing");
}

// What reading back a written value gives: the writer keeps it up to its first line break or
// NUL, quoting it where blanks or quotes would otherwise be lost.
std::string ReadBackValue(std::string_view value) {
    return LimitIniValue(
        std::string(value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)))));
}

// Every getter, so that each value's conversion runs on what the file holds.
void LoadOptions() {
    TOptions options;
    options.Load(WorkDirectory());
    const int64_t numbers[] = {options.RunEvery(),
                               options.BackupKind(),
                               options.SavingKind(),
                               options.CompletelyWeekBackupDay(),
                               options.CompletelyMonthBackupDay(),
                               options.BackupCount(),
                               options.PassiveMode(),
                               options.FileCountForTransfer()};
    const double times[] = {options.InTime(), options.LastRun(), options.LastTransfer()};
    const std::string texts[] = {
        options.FileChoose(), options.LocalDirectory(), options.LocalTemporaryDirectory(),
        options.RemoteHost(), options.RemoteUser(),     options.RemotePassword()};
    for (const std::string& text : texts) {
        FUZZ_CHECK(text.size() <= 2047, "a value longer than the reader's limit: " + Quote(text));
    }
    static_cast<void>(numbers);
    static_cast<void>(times);
}

}  // namespace

int FuzzIniFile(const uint8_t* data, std::size_t size) {
    TFuzzInput input(data, size);
    const uint8_t choice = input.Byte();
    const std::string value(input.Take(input.Byte() % 64));
    const std::string content(input.Rest());

    std::vector<std::string> sections;
    std::vector<std::string> keys;
    CollectNames(content, sections, keys);

    const std::string path = WriteWorkFile(OptionsFileName, content);
    TIniFile file(path);
    const TIniSnapshot fromText(content);
    const TIniSnapshot before = file.Read();
    for (const std::string& section : sections) {
        for (const std::string& key : keys) {
            const TProbe text = Look(fromText, section, key);
            const TProbe read = Look(before, section, key);
            FUZZ_CHECK(text.Found == read.Found && text.Value == read.Value,
                       Describe(section, key, text) + " vs. from the file " +
                           Describe(section, key, read));
            FUZZ_CHECK(text.Value.size() <= 2047, Describe(section, key, text));
            int32_t number = 0;
            TryParseIniInteger(text.Value, number);
        }
    }
    LoadOptions();

    // One write: the key reads back as written, every other name as before.
    const std::string& section = sections[choice % sections.size()];
    const std::string& key = keys[(choice >> 4) % keys.size()];
    try {
        file.WriteString(section, key, value);
    } catch (const EIniFileException& error) {
        FUZZ_CHECK(false, std::string("a readable file could not be written: ") + error.what());
    }
    const TIniSnapshot after = file.Read();
    const TProbe written = Look(after, section, key);
    FUZZ_CHECK(written.Found && written.Value == ReadBackValue(value),
               "wrote " + Quote(value) + ", read back " + Describe(section, key, written));
    for (const std::string& otherSection : sections) {
        for (const std::string& otherKey : keys) {
            if (SameIniName(otherSection, section) && SameIniName(otherKey, key)) {
                continue;
            }
            const TProbe old = Look(before, otherSection, otherKey);
            const TProbe now = Look(after, otherSection, otherKey);
            FUZZ_CHECK(old.Found == now.Found && old.Value == now.Value,
                       "writing [" + section + "] " + key + " changed " +
                           Describe(otherSection, otherKey, old) + " into " +
                           Describe(otherSection, otherKey, now));
        }
    }
    return 0;
}

}  // namespace sejfko::fuzz
