#pragma once
// The fuzz targets, one per reader of outside input. Each takes any bytes, returns 0 and aborts
// (FUZZ_CHECK) when the reader breaks a promise; sanitizers report the rest.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.hpp"

namespace sejfko::fuzz {

// Options.ini: the snapshot and file readers agree, a write changes its one key and nothing
// else, the options store loads whatever the file holds. Input: a key choice, a value length, the
// value, then the file.
int FuzzIniFile(const uint8_t* data, std::size_t size);
// The selection file against a model of its line rules, then the exclusions applied to a fixed
// tree: nothing excluded stays, nothing unselected comes in.
int FuzzSelectionFile(const uint8_t* data, std::size_t size);
// IncSelect.ini (TFileList::LoadFromFile) against a model of its records and errors, and the
// save and reload of what it loaded.
int FuzzStateFile(const uint8_t* data, std::size_t size);
// A zip archive read as `verify` reads it (directory, every entry's data, sizes and CRC-32) and
// restored as `restore` restores it, into a fresh directory that nothing may leave.
int FuzzZipReader(const uint8_t* data, std::size_t size);
// The bytes of a control connection read reply by reply against a model of the reply rules.
int FuzzFtpReply(const uint8_t* data, std::size_t size);
// A listing sent over a passive data connection of a real client session, split into entries
// and filtered to archive names.
int FuzzFtpListing(const uint8_t* data, std::size_t size);
// A deletion list (POSIX or Windows, chosen by the first byte) fed in pieces of any size: the
// same result as in one piece, every path a stored name; and lines the writer makes read back.
int FuzzDeletionList(const uint8_t* data, std::size_t size);

struct TNamedTarget {
    const char* Name;  // also the folder of its seeds and regression inputs
    TFuzzTarget Entry;
};

inline constexpr TNamedTarget FuzzTargets[] = {
    {"ini_file", FuzzIniFile},           {"selection_file", FuzzSelectionFile},
    {"state_file", FuzzStateFile},       {"zip_reader", FuzzZipReader},
    {"ftp_reply", FuzzFtpReply},         {"ftp_listing", FuzzFtpListing},
    {"deletion_list", FuzzDeletionList},
};

}  // namespace sejfko::fuzz
