#pragma once
// A whole deletion list in one call, for tests that need one in place.

#include <string>
#include <vector>

#include "backup/update_batch.hpp"

namespace sejfko::test {

inline void WriteUpdateBatch(const std::vector<std::string>& paths) {
    TUpdateBatchWriter writer;
    for (const std::string& path : paths) {
        writer.Add(path);
    }
    writer.Commit();
}

}  // namespace sejfko::test
