#pragma once
// One filter parameter list (the OR list behind StringGrid2, the AND list
// behind StringGrid3): row texts as bytes, the number of rows shown and the
// parameter count beside them. No Qt: the window shows it through a model
// and the command-line companion fills it directly.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vq::filtering {

// The lines of a parameter file as import takes them: cut at CR LF, lone CR
// or lone LF, ended by a NUL byte, an empty line becoming one space. The
// file is first read through with the text-file reader, so a file that
// cannot be opened or read fails with the reader's error ("File not found").
std::vector<std::string> readParameterFile(const std::string& fileName);

class ParameterList {
public:
    // The start state: one empty row, parameter count 0.
    ParameterList();

    // Rows shown, never fewer than one.
    int rowCount() const { return rowCount_; }
    // The text stored for a row. Storage does not follow the shown row count:
    // a row below the last shown one may hold text (empty when never set).
    const std::string& row(int index) const;
    // The shown rows, 0 to rowCount() - 1.
    std::vector<std::string> shownRows() const;
    // The row into which the next add writes; may be below 0 after deletes
    // on an empty list.
    int64_t parameterCount() const { return count_; }

    // In-place typing: the row takes the text exactly as typed; neither the
    // row count nor the parameter count changes.
    void setRow(int index, std::string text);

    // Add: the entry's bytes, trimmed of bytes <= 0x20 at both ends, go into
    // the row of the parameter count, which then grows by one and becomes the
    // row count.
    void add(std::string_view entry);
    // Delete: empties `topRow`, exchanges it with the last row and shortens
    // the list by one row (one row at least); the count drops by one and may
    // go below 0. A row outside the shown ones is ignored.
    void remove(int topRow);
    // Import: the list becomes one row per line of the file and the count the
    // number of lines (one empty row and 0 for a file without lines). Any
    // failure leaves the list and its count exactly as they were.
    void importFile(const std::string& fileName);
    // Export: every shown row followed by CR LF, written in one piece.
    void exportFile(const std::string& fileName) const;

private:
    void setRowCount(int64_t rows);

    std::vector<std::string> storage_;
    int rowCount_ = 1;
    int64_t count_ = 0;
};

} // namespace vq::filtering
