#include "archive/zip_archiver_command.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace sejfko {

namespace {

constexpr int32_t True = -1;
constexpr int32_t False = 0;
constexpr uint16_t RecurseAll = 0xFFFF;
constexpr std::size_t MaxPasswordLength = 80;  // 81 bytes with the terminator

constexpr std::array<const char*, 18> SuffixNames{"gif", "png", "z",   "zip",  "zoo", "arc",
                                                  "lzh", "arj", "taz", "tgz",  "lha", "rar",
                                                  "ace", "cab", "gz",  "gzip", "jar", "exe"};

int32_t Flag(bool value) {
    return value ? True : False;
}

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') {
        ++first;
    }
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') {
        --last;
    }
    return text.substr(first, last - first);
}

std::string FullPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : full.lexically_normal().string();
}

}  // namespace

std::string StoreSuffixList(TAddStoreSuffixes suffixes, const std::string& extSuffixes) {
    std::string list;
    for (std::size_t index = 0; index < SuffixNames.size(); ++index) {
        if (suffixes.Contains(static_cast<TAddStoreSuffix>(index))) {
            list += '.';
            list += SuffixNames[index];
            list += ':';
        }
    }
    if (suffixes.Contains(assEXT)) {
        list += extSuffixes;
    }
    if (!list.empty()) {
        list.pop_back();
    }
    return list;
}

std::string FormatFromDate(TDateTime value) {
    const TDateParts date = DecodeDate(value);
    char text[16];
    std::snprintf(text, sizeof text, "%02d %02d %02d", date.Month % 100, date.Day % 100,
                  date.Year % 100);
    return std::string(text, 8);
}

TSpecLine ParseSpecLine(const std::string& line, uint16_t commandRecurse, bool literal) {
    TSpecLine spec{line, commandRecurse};
    if (literal) {
        return spec;
    }
    if (!line.empty() && line.front() == '>') {
        spec.Recurse = RecurseAll;
        spec.Text.erase(0, 1);
    } else if (!line.empty() && line.front() == '|') {
        spec.Recurse = 0;
        spec.Text.erase(0, 1);
    }
    // No "<password" suffix: "<" is an ordinary character in POSIX file names.
    spec.Text = Trim(spec.Text);
    return spec;
}

TZipCommandBuffer::TZipCommandBuffer(const TZipArchiver& archiver, void* caller,
                                     TZipCallback callback, const std::string& comment) {
    const TAddOptions& options = archiver.AddOptions;
    TZipCommand& command = FCommand;
    std::memset(&command, 0, sizeof command);
    command.Handle = archiver.Unattended ? 0 : archiver.WindowHandle;
    command.Caller = caller;
    command.Version = ZIP_ENGINE_VERSION;
    command.Callback = callback;
    command.Trace = Flag(archiver.Trace);
    command.Password = Copy(archiver.Password.substr(0, MaxPasswordLength));
    command.StoreSuffixes =
        Copy(StoreSuffixList(archiver.AddStoreSuffixes, archiver.ExtAddStoreSuffixes));
    command.Encrypt = Flag(options.Contains(AddEncrypt));
    command.System = Flag(options.Contains(AddHiddenFiles));
    command.Volume = Flag(options.Contains(AddVolume));
    command.Extra = 0;
    command.NoDirEntries = options.Contains(AddSeparateDirs) ? False : True;
    command.Date = Flag(options.Contains(AddFromDate));
    command.Verbose = Flag(archiver.Verbose || archiver.Trace);
    command.Quiet = True;
    command.Level = archiver.AddCompLevel;
    command.JunkDir = options.Contains(AddDirNames) ? False : True;
    command.Recurse = options.Contains(AddRecurseDirs) ? RecurseAll : 0;
    command.Force = options.Contains(AddSafe) ? False : True;
    command.ForceDos = Flag(options.Contains(AddForceDOS));
    command.Move = Flag(options.Contains(AddMove));
    command.Update = Flag(options.Contains(AddUpdate));
    command.Freshen = options.Contains(AddUpdate) ? False : Flag(options.Contains(AddFreshen));
    command.LatestTime = Flag(options.Contains(AddZipTime));
    const std::string fromDate = FormatFromDate(archiver.AddFrom);
    std::memcpy(command.FromDate, fromDate.data(), sizeof command.FromDate);
    command.ZipFileName = Copy(archiver.ZipFileName());
    if (command.ZipFileName == nullptr) {
        command.ZipFileName = "";
    }
    command.TempDir = Copy(archiver.TempDir);
    command.Comment = Copy(comment);
    command.ArchiveOnly = options.Contains(AddArchiveOnly) ? 1 : 0;
    command.ResetArchive = options.Contains(AddResetArchive) ? 1 : 0;
    command.HowToDelete = archiver.HowToDelete == htdAllowUndo ? True : False;
    command.CodePage = archiver.CodePage == cpOEM ? 2 : 0;
    command.Fixed = 7;

    const char* rootDir = archiver.RootDir.empty() ? nullptr : Copy(FullPath(archiver.RootDir));
    FSpecs.resize(archiver.FSpecArgs.size());
    for (std::size_t index = 0; index < archiver.FSpecArgs.size(); ++index) {
        TZipSpec& spec = FSpecs[index];
        std::memset(&spec, 0, sizeof spec);
        const TZipArchiver::TSpecExtra extra = index < archiver.FSpecExtras.size()
                                                   ? archiver.FSpecExtras[index]
                                                   : TZipArchiver::TSpecExtra{};
        const TSpecLine line =
            ParseSpecLine(archiver.FSpecArgs[index], command.Recurse, extra.Literal);
        FTexts.push_back(line.Text);  // kept even when empty: the engine expects a text
        spec.Spec = FTexts.back().c_str();
        spec.Password = command.Password;
        spec.Encrypt = command.Encrypt;
        spec.Recurse = line.Recurse;
        spec.Literal = extra.Literal ? 1 : 0;
        spec.AsLink = extra.Literal && extra.AsLink ? 1 : 0;
        spec.RootDir = rootDir;
        if (!extra.RootDir.empty()) {
            spec.RootDir = Copy(FullPath(extra.RootDir));
        }
    }
    command.ArgCount = static_cast<int32_t>(FSpecs.size());
    command.Specs = FSpecs.empty() ? nullptr : FSpecs.data();

    for (const std::string& exclude : archiver.FSpecArgsExcl) {
        FTexts.push_back(exclude);
        FExcludes.push_back(FTexts.back().c_str());
    }
    command.ExcludeCount = static_cast<int32_t>(FExcludes.size());
    command.Excludes = FExcludes.empty() ? nullptr : FExcludes.data();
}

const char* TZipCommandBuffer::Copy(const std::string& text) {
    if (text.empty()) {
        return nullptr;
    }
    FTexts.push_back(text);
    return FTexts.back().c_str();
}

}  // namespace sejfko
