#pragma once
// What the result text of a run says about its selection: include entries that name nothing
// on disk. A line meant as an exclusion but written so that it reads as an include (the keyword
// glued to the name, "/data/Temp/Exclude") shows up here, instead of its exclusion being lost
// without a word.

#include <string>
#include <vector>

#include "backup/selection_file.hpp"

namespace sejfko {

// The lines "Položka výběru neexistuje: PATH" for the include entries (in list order, each name
// once, a name longer than 300 bytes cut with "…") under which nothing exists; after the first
// 10, one line counts the rest
// ("Další neexistující položky výběru: N"). Empty when every entry exists.
std::vector<std::string> MissingEntryLines(const TStringList& include);

}  // namespace sejfko
