#pragma once
// The filter pass shared by the OR and AND filters: every line of a list file
// is trimmed and lower-cased, and each valid address goes to the matching or
// the non-matching file depending on the rule. No Qt: the windows and the
// command-line companion both run it.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::filtering {

// Which rows a line must contain: any non-empty row (OR filter) or every
// row (AND filter, where an empty row can never be contained).
enum class Rule { AnyRow, EveryRow };

// Removes every byte of value 0x20 or less from both ends.
std::string_view trimControls(std::string_view text);

// The prepared line: trimmed, then A-Z turned into a-z; every other byte,
// both bytes of a double-byte character included, stays as it is. The
// result is `raw` itself when nothing changes, otherwise it lives in
// `scratch`, which is reused from line to line so that a pass allocates
// nothing per line; it stays valid until either of them changes.
std::string_view prepareLine(std::string_view raw, std::string& scratch);

// An address holds an at sign that is not its first byte.
inline bool isValidLine(std::string_view prepared) {
    return prepared.size() > 1 && prepared.front() != '@' &&
           prepared.find('@', 1) != std::string_view::npos;
}

// One parameter ready for repeated containment tests.
class ByteSearcher {
public:
    explicit ByteSearcher(std::string needle);
    // True when the needle occurs as one unbroken run of bytes in `hay`; an
    // empty needle occurs nowhere.
    bool occursIn(std::string_view hay) const;
    const std::string& needle() const { return needle_; }

private:
    std::string needle_;
};

// The rows of a parameter list prepared once for every line of a pass.
class ParameterSearchers {
public:
    // A list never has fewer than one row: no rows at all is taken as the one
    // empty row of a fresh list.
    explicit ParameterSearchers(const std::vector<std::string>& rows);
    bool matches(Rule rule, std::string_view prepared) const;
    const std::vector<ByteSearcher>& nonEmptyRows() const { return nonEmpty_; }
    bool hasEmptyRow() const { return hasEmptyRow_; }

private:
    std::vector<ByteSearcher> nonEmpty_;
    bool hasEmptyRow_ = false;
};

struct FilterCounts {
    int64_t read = 0;     // lines read, empty ones included
    int64_t matching = 0; // lines written to the matching file
    int64_t rest = 0;     // lines written to the non-matching file
    int64_t invalid() const { return read - matching - rest; }
};

// Opens the input, then creates the matching and the non-matching file, in
// that order, calls `opened` once (the window repaints there), and sorts
// every line. A file error propagates; the files already opened are closed
// first and the outputs keep the lines written before it.
FilterCounts filterList(const std::string& input, const std::string& matchingFile,
                        const std::string& restFile, Rule rule,
                        const ParameterSearchers& parameters,
                        const std::function<void()>& opened = {});

} // namespace vq::filtering
