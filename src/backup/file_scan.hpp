#pragma once
// Expansion of selection entries into files with their stamps, and whole-file CRC-32. Directories
// are walked depth first in name order, dot-files included; a symlink met while recursing is
// listed as a link (whatever it points to, dangling too) and never followed, so the archive keeps
// it as a link; a symlink named in the selection itself is followed. Otherwise only regular files
// are listed; FIFOs, sockets and devices are skipped and never opened.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/crc32.hpp"
#include "backup/expanded_file_list.hpp"

namespace sejfko {

// Receives the files of a scan one by one, in order; the name is valid during the call only.
using TScanSink = std::function<void(const TScannedFile& file)>;

// Cancellation callback: sets Abort to stop a long operation (called once per entry).
using TQueryAbort = std::function<void(bool& Abort)>;

// Clears `dest`, then adds each entry of `src` in order while not cancelled. An existing
// directory adds its files recursively (children named with exactly one separator, also when the
// entry ends with one); an existing file adds itself exactly as written; anything else adds
// nothing and reports nothing. Directories that cannot be listed are skipped. Duplicates stay.
// True when not cancelled.
bool ExpandSelection(TExpandedFileList& dest, const std::vector<std::string>& src,
                     const TQueryAbort& query);
// The same files handed to `sink` as the walk meets them, so that nothing of the tree is held.
bool ScanSelection(const std::vector<std::string>& src, const TQueryAbort& query,
                   const TScanSink& sink);

// Appends each of `links` (symlinks met below a selection entry by the exclusions, see
// ApplyExclusions) that is still a link as a Link entry; one that became a regular file since is
// appended as a file, anything else is left out.
void AddTreeLinks(TExpandedFileList& dest, const std::vector<std::string>& links);
// The same entries handed to `sink`.
void ScanTreeLinks(const std::vector<std::string>& links, const TScanSink& sink);

// The checksum the incremental state keeps for a link: CRC-32 of its target text with all bits
// inverted, so that a file whose content equals that text never passes for the link (or the
// reverse) when one replaces the other. Error 0, or Error 1 (crc 0) when `path` is no symlink or
// cannot be read. Never throws.
void LinkCrc32(const std::string& path, uint32_t& crc, uint16_t& error);

// CRC-32 (ISO 3309, as zip uses) of the whole file, read in chunks. Error 0 and the checksum,
// or Error 1 (and crc 0) when the file cannot be opened or read, or is not a regular file, or
// `query` asked for a stop: it is asked before every chunk that follows a full one (the caller
// asks before the file), so a file of many gigabytes stops promptly.
// Never throws.
void FileCrc32(const std::string& fileName, uint32_t& crc, uint16_t& error,
               const TQueryAbort& query = {});

}  // namespace sejfko
