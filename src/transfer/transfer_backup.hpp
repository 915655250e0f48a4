#pragma once
// Helpers of the worker's TransferBackup (transfer_backup.cpp) that front ends and tests use.

#include <string>
#include <vector>

namespace sejfko {

// The archive TransferBackup sends next from `directory`: the smallest ".fbk" name among the
// regular files (oldest first, as names carry their stamp), leaving out the names in `sent`
// (already on the server). Empty when there is none; false when the directory exists but cannot
// be listed (the archives may be there: nothing is to be concluded).
bool NextWaitingArchive(const std::string& directory, std::string& name,
                        const std::vector<std::string>& sent = {});

// Why the last TransferBackup call of this process returned false ("" after a success, or when
// a terminate request ended it), for front ends that can show a reason. Thread-safe.
std::string LastTransferErrorText();

}  // namespace sejfko
