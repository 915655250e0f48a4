// The deletion list lives in a private directory of this process under the system's temporary
// directory: no other user can read the names in it or plant a file of the same name, and two
// processes never share it. The directory is made on first use and removed with the list.

#include "backup/update_batch.hpp"

#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>

#include "backup/czech_text.hpp"
#include "backup/windows1250.hpp"
#include "platform/exceptions.hpp"
#include "platform/file_io.hpp"
#include "platform/file_system.hpp"
#include "platform/temp_file.hpp"

namespace sejfko {

namespace {

constexpr uint8_t RowWindows1250 = 3;
constexpr uint8_t RowCodePage852 = 2;

std::mutex GBatchLock;
std::string GBatchDirectory;  // empty until first use and after the list is deleted
std::string GBatchPath;       // the list's path in GBatchDirectory (the archive job asks per file)

std::string SystemTempDirectory() {
    std::error_code error;
    std::string directory = std::filesystem::temp_directory_path(error).string();
    return error || directory.empty() ? std::string(".") : directory;
}

std::string BatchPathIn(const std::string& directory) {
    return IncludeTrailingPathDelimiter(directory) + UpdateBatchName;
}

// The name the archive stores for `path`: no leading separator, no empty, "." or ".." parts.
// Run inside the folder a restore wrote, a line can then touch nothing outside it.
std::string StoredName(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..") {
            if (!out.empty()) {
                out += '/';
            }
            out += part;
        }
        start = end + 1;
    }
    return out;
}

// Characters after which the command processor would read the rest of a bare name as something
// else (blanks included).
bool NeedsQuotes(std::string_view path) {
    return path.find_first_of(" &()[]{}^=;!'+,`~") != std::string_view::npos;
}

}  // namespace

std::string UpdateBatchPath() {
    std::lock_guard<std::mutex> guard(GBatchLock);
    if (GBatchDirectory.empty() || !DirectoryExists(GBatchDirectory)) {
        GBatchDirectory = CreatePrivateTempDirectory(SystemTempDirectory(), "sejfko-");
        GBatchPath = BatchPathIn(GBatchDirectory);
    }
    return GBatchPath;
}

bool IsUpdateBatchPath(const std::string& path) {
    std::lock_guard<std::mutex> guard(GBatchLock);
    return !GBatchPath.empty() && path == GBatchPath;
}

std::string PosixUpdateBatchLine(const std::string& path) {
    std::string line = "rm -f -- '";
    for (const char c : StoredName(path)) {
        if (c == '\'') {
            line += "'\\''";
        } else {
            line += c;
        }
    }
    line += '\'';
    return line;
}

std::string WindowsUpdateBatchLine(const std::string& path) {
    // Without its drive the line deletes on the drive the list is run from. Other paths (network
    // shares) keep their whole name.
    std::string name = path;
    if (name.size() >= 2 && name[1] == ':') {
        name.erase(0, 2);
    }
    std::string escaped;
    for (const char c : name) {
        // A batch file reads "%" as the start of a variable.
        escaped += c;
        if (c == '%') {
            escaped += '%';
        }
    }
    std::string line = "del ";
    line += NeedsQuotes(name) ? "\"" + escaped + "\"" : escaped;
    // The command processor reads batch files in the console's code page.
    ConvertCzechText(RowWindows1250, RowCodePage852, line);
    return line;
}

class TUpdateBatchWriter::TImpl {
public:
    TImpl() : FWriter(UpdateBatchPath()) {}
    TAtomicFileWriter FWriter;
};

TUpdateBatchWriter::TUpdateBatchWriter() : FImpl(std::make_unique<TImpl>()) {}

TUpdateBatchWriter::~TUpdateBatchWriter() = default;

void TUpdateBatchWriter::Add(const std::string& path) {
    // One line per name: a name holding a line end would be read as two.
    if (path.find_first_of("\r\n") != std::string::npos) {
        return;
    }
#ifdef _WIN32
    // Names are UTF-8 here; the list holds them as the 8-bit code page would. A name it cannot
    // write is left out: "?" in its place would be a wildcard to "del".
    std::string ansi;
    if (!Utf8ToWindows1250(path, ansi)) {
        return;
    }
    FImpl->FWriter.Write(WindowsUpdateBatchLine(ansi));
    FImpl->FWriter.Write("\r\n");
#else
    FImpl->FWriter.Write(PosixUpdateBatchLine(path));
    FImpl->FWriter.Write("\n");
#endif
}

void TUpdateBatchWriter::Commit() {
    FImpl->FWriter.Commit();
}

void DeleteUpdateBatch() {
    std::lock_guard<std::mutex> guard(GBatchLock);
    if (GBatchDirectory.empty()) {
        return;
    }
    DeleteFile(GBatchPath);
    std::error_code ignored;
    std::filesystem::remove(GBatchDirectory, ignored);
    GBatchDirectory.clear();
    GBatchPath.clear();
}

}  // namespace sejfko
