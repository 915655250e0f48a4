#pragma once
// The command record and the file-pattern records that TZipArchiver hands to the engine, with every
// text they point to. The buffer owns all of it, so the pointers stay valid for the lifetime of
// the buffer (the whole ZipEngineExec call) and are freed together.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "archive/zip_archiver.hpp"
#include "zipengine/zip_engine_api.h"

namespace sejfko {

// ".gif:.png:..." for the members in set order, then ExtAddStoreSuffixes when assEXT is set, with
// the last character removed.
std::string StoreSuffixList(TAddStoreSuffixes suffixes, const std::string& extSuffixes);
// "mm dd yy" of a date (eight characters).
std::string FormatFromDate(TDateTime value);

// One line of FSpecArgs: a leading ">" recurses (0xFFFF), "|" does not (0); otherwise the
// command's flag. The text is what follows the prefix, blanks trimmed at both ends. A `literal`
// line is taken whole, with the command's flag: it is a name the caller found, not typed text.
struct TSpecLine {
    std::string Text;
    uint16_t Recurse = 0;
};
TSpecLine ParseSpecLine(const std::string& line, uint16_t commandRecurse, bool literal = false);

class TZipCommandBuffer {
public:
    // Builds the records from the archiver's settings. `caller` and `callback` come back in
    // every callback record; `comment` is the archive comment of the last directory read.
    TZipCommandBuffer(const TZipArchiver& archiver, void* caller, TZipCallback callback,
                      const std::string& comment);
    TZipCommandBuffer(const TZipCommandBuffer&) = delete;
    TZipCommandBuffer& operator=(const TZipCommandBuffer&) = delete;

    TZipCommand* Command() { return &FCommand; }

private:
    // A stable zero-terminated copy of `text`, or null when it is empty.
    const char* Copy(const std::string& text);

    TZipCommand FCommand;
    std::deque<std::string> FTexts;  // a deque never moves its elements
    std::vector<TZipSpec> FSpecs;
    std::vector<const char*> FExcludes;
};

}  // namespace sejfko
