#pragma once
// What tests ask of the disk beside the program: the space a file really takes (to tell a sparse
// file from a dense one) and whether two existing paths share a file system.

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace sejfko::test {

// Allocated blocks x 512; -1 when the file cannot be looked at.
inline int64_t OnDiskSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_blocks) * 512 : -1;
}

inline bool SameVolume(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev;
}

}  // namespace sejfko::test
