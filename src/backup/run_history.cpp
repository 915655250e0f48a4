#include "backup/run_history.hpp"

#include <cstdio>
#include <deque>
#include <nlohmann/json.hpp>

#include "platform/file_io.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

using TJson = nlohmann::json;

// A line longer than this is no record of ours; it is skipped, not held.
constexpr std::size_t MaxLineSize = 1 << 20;

std::string IsoTime(TDateTime value) {
    const TDateParts date = DecodeDate(value);
    const TTimeParts time = DecodeTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", date.Year, date.Month,
                  date.Day, time.Hour, time.Minute, time.Second);
    return text;
}

bool ParseIsoTime(const std::string& text, TDateTime& value) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                    &second, &tail) != 6) {
        return false;
    }
    try {
        value = EncodeDateTime(year, month, day, hour, minute, second);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string HistoryPath(const std::string& dataDirectory, const char* name) {
    return IncludeTrailingPathDelimiter(dataDirectory) + name;
}

// Calls `line` for every line of the file, in order; lines over MaxLineSize are dropped.
template <typename F>
void ForEachLine(const std::string& path, F&& line) {
    TReadFile file;
    if (!file.Open(path)) {
        return;
    }
    std::string current;
    bool tooLong = false;
    char buffer[64 * 1024];
    for (;;) {
        const std::ptrdiff_t count = file.Read(buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                if (!tooLong) {
                    line(current);
                }
                current.clear();
                tooLong = false;
            } else if (!tooLong) {
                current.push_back(c);
                if (current.size() > MaxLineSize) {
                    tooLong = true;
                    current.clear();
                }
            }
        }
    }
    // A last line without its line end was cut off by a crash: not a record.
}

template <typename Keep>
void ReadRecords(const std::string& dataDirectory, std::size_t last, Keep&& keep) {
    std::deque<std::pair<std::string, THistoryRecord>> records;
    for (const char* name : {OldHistoryFileName, HistoryFileName}) {
        ForEachLine(HistoryPath(dataDirectory, name), [&](const std::string& line) {
            THistoryRecord record;
            if (ParseHistoryLine(line, record)) {
                records.emplace_back(line, std::move(record));
                if (last != 0 && records.size() > last) {
                    records.pop_front();
                }
            }
        });
    }
    for (auto& [line, record] : records) {
        keep(line, record);
    }
}

}  // namespace

void THistoryRecord::AddSkipped(const std::string& name) {
    if (Skipped.size() < HistorySkippedKept) {
        Skipped.push_back(name);
    }
    ++SkippedCount;
}

double THistoryRecord::DurationSeconds() const {
    const double seconds = (End - Start) * 86400.0;
    return seconds > 0 ? seconds : 0;
}

std::string HistoryLine(const THistoryRecord& record) {
    TJson json = {
        {"start", IsoTime(record.Start)},
        {"end", IsoTime(record.End)},
        {"kind", record.Kind},
        {"archive", record.Archive},
        {"files", record.Files},
        {"bytes_read", record.BytesRead},
        {"bytes_written", record.BytesWritten},
        {"seconds",
         static_cast<double>(static_cast<int64_t>(record.DurationSeconds() * 1000 + 0.5)) / 1000},
        {"succeeded", record.Succeeded},
        {"result", record.Result},
        {"skipped", record.Skipped},
        {"skipped_count", record.SkippedCount}};
    return json.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

bool ParseHistoryLine(const std::string& line, THistoryRecord& record) {
    const TJson json = TJson::parse(line, nullptr, false);
    if (!json.is_object()) {
        return false;
    }
    try {
        record = THistoryRecord{};
        if (!ParseIsoTime(json.at("start").get<std::string>(), record.Start) ||
            !ParseIsoTime(json.at("end").get<std::string>(), record.End)) {
            return false;
        }
        record.Kind = json.at("kind").get<std::string>();
        record.Archive = json.value("archive", std::string());
        record.Files = json.value("files", uint64_t{0});
        record.BytesRead = json.value("bytes_read", uint64_t{0});
        record.BytesWritten = json.value("bytes_written", uint64_t{0});
        record.Succeeded = json.at("succeeded").get<bool>();
        record.Result = json.value("result", std::string());
        record.Skipped = json.value("skipped", std::vector<std::string>());
        record.SkippedCount = json.value("skipped_count", uint64_t{record.Skipped.size()});
        return true;
    } catch (const TJson::exception&) {
        return false;
    }
}

bool AppendHistory(const std::string& dataDirectory, const THistoryRecord& record) {
    try {
        ForceDirectories(dataDirectory);
    } catch (const std::exception&) {
        return false;
    }
    return AppendLineRotating(HistoryPath(dataDirectory, HistoryFileName),
                              HistoryPath(dataDirectory, OldHistoryFileName),
                              HistoryLine(record) + "\n", HistoryRotateSize);
}

std::vector<THistoryRecord> ReadHistory(const std::string& dataDirectory, std::size_t last) {
    std::vector<THistoryRecord> out;
    ReadRecords(dataDirectory, last, [&](const std::string&, THistoryRecord& record) {
        out.push_back(std::move(record));
    });
    return out;
}

std::vector<std::string> ReadHistoryLines(const std::string& dataDirectory, std::size_t last) {
    std::vector<std::string> out;
    ReadRecords(dataDirectory, last,
                [&](const std::string& line, THistoryRecord&) { out.push_back(line); });
    return out;
}

}  // namespace sejfko
