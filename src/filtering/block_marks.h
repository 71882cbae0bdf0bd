#pragma once
// The filters' block marks: the vector kernels that find a block's line
// ends of either kind, at signs, capitals and rows sixty-four bytes to a
// word, and sort its lines into the text for each output. The filter pass
// drives them over the files.
#include "filtering/engine.h"
#include "filtering/rule.h"
#include "listio/byte_rules.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vq::filtering {

struct FilterCounts;

// The valid lines of one block of the input, prepared and each followed by
// a CR, so that the engine decides them all in one scan. Most lines of a
// list are plain lower-case ASCII: for them the prepared line is the
// trimmed line as it stands, so line ends, at signs and trimmed ends are
// found for the whole block at once, sixty-four bytes to a word, and each
// line only looks up its own bits. A longer line, or one with a capital or
// a byte of 0x80 or more, is prepared on its own.
class Batch {
public:
    Batch();
    ~Batch();
    // Takes the lines of `block`, each ended by a line end of its kind;
    // returns how many there were.
    int64_t fill(std::string_view block, listio::LineEnds ends);
    // Decides the lines and gathers them, each followed by `eol`, into the
    // text for the matching file and the text for the other one.
    void sort(ContainmentEngine& engine, FilterCounts& counts, std::string_view eol);
    // The lines of the last sort: 1 for the matching file, 0 for the other.
    std::string_view sorted(bool matching) const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// The way for a few rows. Most lines of a list are addresses without high
// bytes, written out as they stand in the file once their capitals are
// lowered and their blanks trimmed. The block is read once, sixty-four
// bytes to a word, with A to Z lowered: the bits of its line ends, at
// signs, capitals and high bytes, and of the places where each row starts,
// tell for every line end at once whether its line holds any of them, so a
// line only checks its first and last byte and is copied to its output
// from where it stands. A line with high bytes, or with blanks to trim when
// a row holds a blank, is prepared on its own and decided by the rule.
class InPlaceSort {
public:
    // Whether this way takes the rows: at most kFewRows distinct ones, none
    // longer than 64 bytes or starting with an LF.
    static bool takes(const std::vector<std::string>& rows);
    // `wide`: marks with 64-byte vectors where the processor has them.
    InPlaceSort(Rule rule, const std::vector<std::string>& rows, bool wide);
    ~InPlaceSort();
    // Sorts the lines of `block`, each ended by a line end of its kind, each
    // line followed by `eol`.
    void sort(std::string_view block, listio::LineEnds kind, std::string_view eol,
              FilterCounts& counts);
    // The lines of the last sort: 1 for the matching file, 0 for the other.
    std::string_view sorted(bool matching) const;
    // The rule on one prepared line.
    bool holds(std::string_view prepared) const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vq::filtering
