#pragma once
// The filters' rule, stated once: which lines are addresses, what a line
// looks like when it is tested and written, and when it matches the rows of
// a parameter list. Every faster way of sorting lines is tested against
// ruleHolds.
#include <string>
#include <string_view>
#include <vector>

namespace vq::filtering {

// Which rows a line must contain: any non-empty row (OR filter) or every
// row (AND filter, where an empty row can never be contained).
enum class Rule { AnyRow, EveryRow };

// The prepared line: trimmed of bytes <= 0x20 at both ends, then A-Z turned
// into a-z; every other byte, both bytes of a double-byte character
// included, stays as it is. The result is `raw` itself when nothing changes,
// otherwise it lives in `scratch`, which is reused from line to line so that
// a pass allocates nothing per line; it stays valid until either changes.
std::string_view prepareLine(std::string_view raw, std::string& scratch);

// An address holds an at sign that is not its first byte.
inline bool isValidLine(std::string_view prepared) {
    return prepared.size() > 1 && prepared.front() != '@' &&
           prepared.find('@', 1) != std::string_view::npos;
}

// The rule, row by row: a row occurs when its bytes stand as one unbroken
// run in the prepared line, and an empty row occurs nowhere. No rows at all
// is the one empty row of a fresh list.
bool ruleHolds(Rule rule, const std::vector<std::string>& rows, std::string_view prepared);

} // namespace vq::filtering
