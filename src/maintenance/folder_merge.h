#pragma once
// Folder merge: every "*.txt" entry of one folder, in the order the folder
// search returns them, lower-cased into one output list: the bytes A-Z become
// a-z, every other byte (GB2312 included, whose bytes all lie above 127)
// stays as it is.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vq::maintenance {

class FolderMerger {
public:
    // Called after every block of lines written, with the running count.
    std::function<void(int64_t)> progress;

    // Creates output, then merges the entries of folder. An entry that is
    // only a folder is skipped, and so is every entry that is the output
    // file itself, however either name is spelled.
    // Any failure to open, read or write ends the merge with the list-file
    // error; lines() then holds the lines written so far, and when an input
    // failed they are all in the output. Returns the number of lines written.
    int64_t run(const std::string& folder, const std::string& output);

    int64_t lines() const { return lines_; }

private:
    int64_t lines_ = 0;
};

} // namespace vq::maintenance
