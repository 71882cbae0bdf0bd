#include "filtering/parameter_list.h"

#include "listio/byte_rules.h"
#include "listio/listio.h"

#include <algorithm>
#include <climits>

namespace vq::filtering {

namespace {
const std::string kEmpty;
}

std::vector<std::string> readParameterFile(const std::string& fileName) {
    {
        // Only the reader's verdict on the file is wanted here: its error
        // texts are the ones a user sees for a missing or unreadable file.
        listio::TextReader reader(fileName);
        while (!reader.atEnd())
            reader.readLine();
        reader.close();
    }
    std::vector<std::string> lines = listio::loadLines(fileName);
    // A blank line would otherwise be indistinguishable from "no parameter".
    for (auto& line : lines)
        if (line.empty()) line.push_back(' ');
    return lines;
}

ParameterList::ParameterList() : storage_(1) {}

const std::string& ParameterList::row(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= storage_.size()) return kEmpty;
    return storage_[static_cast<std::size_t>(index)];
}

std::vector<std::string> ParameterList::shownRows() const {
    std::vector<std::string> rows;
    rows.reserve(static_cast<std::size_t>(rowCount_));
    for (int i = 0; i < rowCount_; ++i)
        rows.push_back(row(i));
    return rows;
}

void ParameterList::setRow(int index, std::string text) {
    if (index < 0) return;
    const auto i = static_cast<std::size_t>(index);
    if (i >= storage_.size()) storage_.resize(i + 1);
    storage_[i] = std::move(text);
}

void ParameterList::setRowCount(int64_t rows) {
    rowCount_ = static_cast<int>(std::clamp<int64_t>(rows, 1, INT_MAX));
    if (storage_.size() < static_cast<std::size_t>(rowCount_))
        storage_.resize(static_cast<std::size_t>(rowCount_));
}

void ParameterList::add(std::string_view entry) {
    if (count_ < 0) count_ = 0;
    if (count_ >= INT_MAX) return; // no grid holds more rows
    setRow(static_cast<int>(count_), std::string(listio::trimControls(entry)));
    ++count_;
    setRowCount(count_);
}

void ParameterList::remove(int topRow) {
    if (topRow < 0 || topRow >= rowCount_) return;
    const int last = rowCount_ - 1;
    auto& deleted = storage_[static_cast<std::size_t>(topRow)];
    deleted.clear();
    std::swap(deleted, storage_[static_cast<std::size_t>(last)]);
    setRowCount(rowCount_ - 1);
    --count_;
}

void ParameterList::importFile(const std::string& fileName) {
    // Sized by the lines the cutting finds, so that a file with LF-only line
    // ends gives one row per parameter and the count always equals the
    // number of filled rows.
    std::vector<std::string> lines = readParameterFile(fileName);
    if (lines.size() > static_cast<std::size_t>(INT_MAX)) lines.resize(INT_MAX);
    count_ = static_cast<int64_t>(lines.size());
    if (lines.empty()) lines.emplace_back();
    rowCount_ = static_cast<int>(lines.size());
    storage_ = std::move(lines);
}

void ParameterList::exportFile(const std::string& fileName) const {
    listio::saveLines(fileName, shownRows());
}

} // namespace vq::filtering
