#pragma once
// Folder search: the entries of one folder whose names match a pattern, one
// at a time, in the order the file system keeps them (not sorted). Names are
// matched without regard to ASCII letter case, as list folders copied from
// other systems often spell ".TXT". No Qt: the folder merge core uses it.
#include <cstdint>
#include <string>
#include <string_view>

namespace vq::platform {

// Attribute bits of an entry, numbered as the classic desktop API numbers them.
namespace attr {
inline constexpr uint32_t ReadOnly = 0x01;  // the owner may not write it
inline constexpr uint32_t Hidden = 0x02;    // the name starts with a dot
inline constexpr uint32_t System = 0x04;    // a device, pipe or socket
inline constexpr uint32_t Directory = 0x10; // a folder (also through a link)
inline constexpr uint32_t Archive = 0x20;   // an ordinary file
} // namespace attr

struct FolderEntry {
    std::string name; // the entry's name inside the folder, bytes
    uint32_t attributes = 0;
};

// True when name matches pattern: '*' stands for any run of bytes, '?' for
// one byte; ASCII letters match either case, other bytes only themselves.
bool matchesPattern(std::string_view pattern, std::string_view name);

class FolderSearch {
public:
    FolderSearch() = default;
    ~FolderSearch(); // ends a search still running
    FolderSearch(const FolderSearch&) = delete;
    FolderSearch& operator=(const FolderSearch&) = delete;

    // Starts a search for "folder/pattern" (the folder part may be empty or
    // end in extra separators). Fills entry with the first match. False when
    // nothing matches or the folder cannot be read; the search is then ended.
    bool findFirst(const std::string& folderAndPattern, FolderEntry& entry);
    // The next match; false at the end (the search stays open until close).
    bool findNext(FolderEntry& entry);
    // Ends the search; harmless when none is running.
    void close();

private:
    void* dir_ = nullptr; // DIR*
    std::string pattern_;
};

} // namespace vq::platform
