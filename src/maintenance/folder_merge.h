#pragma once
// Folder merge: every "*.txt" entry of one folder, in the order the folder
// search returns them, lower-cased (ASCII A-Z only) into one output list.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vq::maintenance {

// Turns the bytes A-Z into a-z; every other byte (GB2312 included, whose
// bytes all lie above 127) stays as it is.
void lowerAscii(std::string_view in, std::string& out);

class FolderMerger {
public:
    // Called after every line written, with the running count; keep it cheap.
    std::function<void(int64_t)> onLine;

    // Creates output, then merges the entries of folder. An entry that is
    // only a folder is skipped, and so is the entry whose full name (folder,
    // "/" unless the folder ends in one, name) equals output byte for byte.
    // Any failure to open, read or write ends the merge with the list-file
    // error; lines() then holds the lines written so far, and when an input
    // failed they are all in the output. Returns the number of lines written.
    int64_t run(const std::string& folder, const std::string& output);

    int64_t lines() const { return lines_; }

private:
    int64_t lines_ = 0;
};

} // namespace vq::maintenance
