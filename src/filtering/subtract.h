#pragma once
// Removing a suppression list (unsubscribes, bounces) from a list: a line of
// the list goes when its prepared form equals the prepared form of a line of
// the suppression lists. No Qt: the window and the command-line companion
// both run it.
#include "listio/listio.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vq::filtering {

// The rule, stated once and plainly: every suppression line is prepared as
// the filters prepare a line and compared byte for byte; an empty prepared
// line matches nothing. Every faster way is tested against it.
bool isSuppressed(std::string_view prepared, const std::vector<std::string>& suppressionLines);

// Distinct prepared lines, packed one after another into blocks of memory
// (a length, then the bytes), with an open-addressing index of their offsets
// that keeps part of each hash beside the offset, so that most probes never
// touch the blocks. Memory is the lines' bytes and about 16 bytes a bucket;
// looking a line up allocates nothing.
class PreparedLineSet {
public:
    PreparedLineSet();
    ~PreparedLineSet();
    PreparedLineSet(const PreparedLineSet&) = delete;
    PreparedLineSet& operator=(const PreparedLineSet&) = delete;

    // Keeps the line unless it is empty or kept already; returns whether it
    // was kept.
    bool insert(std::string_view line);
    bool contains(std::string_view line) const;
    // Makes room for this many more lines, so that the index is not rebuilt
    // while they come (a rebuild holds the old index and the new at once).
    void reserve(std::size_t moreLines);
    std::size_t size() const;
    // What the lines and their index hold of memory.
    std::size_t memoryBytes() const;

private:
    struct Index;
    std::string_view at(uint64_t key) const;
    uint64_t append(std::string_view line);
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<std::size_t> blockSizes_;
    std::size_t used_ = 0; // bytes used in the last block
    std::unique_ptr<Index> index_;
};

// Adds the prepared form of every valid line of a suppression file to `set`
// (an invalid line could only equal lines that are dropped anyway). Returns
// the lines read.
int64_t addSuppressionFile(PreparedLineSet& set, const std::string& fileName,
                           std::size_t readBuffer = listio::kDefaultBufferSize);

struct SubtractCounts {
    int64_t read = 0;    // lines of the list, empty ones included
    int64_t removed = 0; // valid lines written to the removed file
    int64_t kept = 0;    // valid lines written to the kept file
    int64_t invalid() const { return read - removed - kept; }
};

// Opens the list, reads every suppression file into a set, refuses an
// output that is the list, a suppression file or the other output with I/O
// error 32 before it creates anything, then creates the kept file and the
// removed file, in that order, and calls `opened` (the window repaints
// there). Each valid line of the list goes, with its bytes as read, to the
// removed file when the rule holds, to the kept file otherwise; invalid
// lines are only counted. A file error propagates; the outputs already
// created are closed first and keep the lines written before it.
SubtractCounts subtractLists(const std::string& input,
                             const std::vector<std::string>& suppressionFiles,
                             const std::string& keptFile, const std::string& removedFile,
                             const std::function<void()>& opened = {},
                             std::size_t readBuffer = listio::kDefaultBufferSize);

} // namespace vq::filtering
