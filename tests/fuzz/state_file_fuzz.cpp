// IncSelect.ini: whatever it holds, the loader gives the records a model of the format gives, or
// the model's error after the records before it; a loaded list saves as its canonical text and
// loads again unchanged, and every name is found at its first record.

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backup/file_list.hpp"
#include "backup/file_list_format.hpp"
#include "fuzz/fuzz_targets.hpp"

namespace sejfko::fuzz {

namespace {

enum class TOutcome { Loaded, Convert, Range, List };

const char* OutcomeName(TOutcome outcome) {
    switch (outcome) {
        case TOutcome::Loaded:
            return "loaded";
        case TOutcome::Convert:
            return "EConvertError";
        case TOutcome::Range:
            return "ERangeError";
        case TOutcome::List:
            return "EListError";
    }
    return "?";
}

// Decimal digits with one optional sign, nothing else; false when it does not fit 64 bits.
bool ModelNumber(const std::string& text, int64_t& value) {
    std::string_view digits = text;
    const bool negative = digits.starts_with('-');
    if (negative || digits.starts_with('+')) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (error != std::errc() || magnitude > (negative ? 1ULL << 63 : (1ULL << 63) - 1)) {
        return false;
    }
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

// Lines end at CR LF, CR or LF; a last line without an end counts.
std::vector<std::string> ModelLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        lines.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + (text.substr(end, 2) == "\r\n" ? 2 : 1));
    }
    return lines;
}

TOutcome ModelLoad(std::string_view text, std::vector<TFileItem>& records) {
    const std::vector<std::string> lines = ModelLines(text);
    std::size_t at = 0;
    for (; at + 3 <= lines.size(); at += 3) {
        int64_t crc = 0;
        if (!ModelNumber(lines[at + 2], crc)) {
            return TOutcome::Convert;
        }
        if (crc < 0 || crc > 0xFFFFFFFFLL) {
            return TOutcome::Range;
        }
        int64_t stamp = 0;
        if (!ModelNumber(lines[at + 1], stamp) || stamp < INT32_MIN || stamp > INT32_MAX) {
            return TOutcome::Convert;
        }
        records.push_back(
            TFileItem{lines[at], static_cast<int32_t>(stamp), static_cast<uint32_t>(crc)});
    }
    return at == lines.size() ? TOutcome::Loaded : TOutcome::List;
}

TOutcome Load(TFileList& list, const std::string& path, bool& result) {
    try {
        result = list.LoadFromFile(path);
        return TOutcome::Loaded;
    } catch (const EConvertError&) {
        return TOutcome::Convert;
    } catch (const ERangeError&) {
        return TOutcome::Range;
    } catch (const EListError&) {
        return TOutcome::List;
    }
}

std::string Describe(const TFileItem& item) {
    return Quote(item.Name) + " " + std::to_string(item.Stamp) + " " + std::to_string(item.Crc);
}

void CheckRecords(const TFileList& list, const std::vector<TFileItem>& expected, const char* when) {
    FUZZ_CHECK(list.Count() == static_cast<int>(expected.size()),
               std::string(when) + ": " + std::to_string(list.Count()) + " records, expected " +
                   std::to_string(expected.size()));
    for (int index = 0; index < list.Count(); ++index) {
        TFileItem item;
        list.GetItem(index, item);
        const TFileItem& want = expected[static_cast<std::size_t>(index)];
        FUZZ_CHECK(item.Name == want.Name && item.Stamp == want.Stamp && item.Crc == want.Crc,
                   std::string(when) + ": record " + std::to_string(index) + " is " +
                       Describe(item) + ", expected " + Describe(want));
        int first = 0;
        while (expected[static_cast<std::size_t>(first)].Name != item.Name) {
            ++first;
        }
        FUZZ_CHECK(list.IndexOf(item.Name) == first, std::string(when) + ": IndexOf " +
                                                         Quote(item.Name) + " gave " +
                                                         std::to_string(list.IndexOf(item.Name)) +
                                                         ", expected " + std::to_string(first));
    }
}

}  // namespace

int FuzzStateFile(const uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const std::string path = WriteWorkFile("IncSelect.ini", content);
    std::vector<TFileItem> expected;
    const TOutcome modelOutcome = ModelLoad(content, expected);

    TFileList list;
    bool result = false;
    const TOutcome outcome = Load(list, path, result);
    FUZZ_CHECK(outcome == modelOutcome, std::string("the loader ended ") + OutcomeName(outcome) +
                                            ", the model " + OutcomeName(modelOutcome));
    CheckRecords(list, expected, "loaded");
    if (outcome != TOutcome::Loaded) {
        return 0;
    }
    FUZZ_CHECK(result == !expected.empty(), std::string("LoadFromFile's result"));

    const std::string copy = WorkDirectory() + "/IncSelect.copy";
    list.SaveToFile(copy);
    TFileList reloaded;
    FUZZ_CHECK(Load(reloaded, copy, result) == TOutcome::Loaded,
               std::string("a saved list does not load"));
    CheckRecords(reloaded, expected, "reloaded");
    std::string canonical;
    std::string record;
    for (const TFileItem& item : expected) {
        FUZZ_CHECK(FormatFileListRecord(item, record), "a loaded name with a line break");
        canonical += record;
    }
    std::ifstream saved(copy, std::ios::binary);
    const std::string savedText{std::istreambuf_iterator<char>(saved), {}};
    FUZZ_CHECK(savedText == canonical,
               "saved as " + Quote(savedText) + ", expected " + Quote(canonical));
    return 0;
}

}  // namespace sejfko::fuzz
