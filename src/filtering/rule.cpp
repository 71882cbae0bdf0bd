#include "filtering/rule.h"

#include "listio/byte_rules.h"

namespace vq::filtering {

std::string_view prepareLine(std::string_view raw, std::string& scratch) {
    const std::string_view line = listio::trimControls(raw);
    const listio::ByteScan scan = listio::scanBytes(line.data(), line.size());
    if (!scan.capitals) return line; // nearly every address needs no change
    scratch.resize(line.size());
    // Without high bytes there is no double-byte character to step over.
    if (scan.high)
        listio::lowerOutsideDoubleBytes(line.data(), line.size(), scratch.data());
    else
        listio::lowerAscii(line.data(), line.size(), scratch.data());
    return scratch;
}

bool ruleHolds(Rule rule, const std::vector<std::string>& rows, std::string_view prepared) {
    auto occurs = [&](const std::string& row) {
        return !row.empty() && prepared.find(row) != std::string_view::npos;
    };
    if (rows.empty()) return false;
    bool any = false, every = true;
    for (const auto& row : rows) {
        const bool found = occurs(row);
        any = any || found;
        every = every && found;
    }
    return rule == Rule::AnyRow ? any : every;
}

} // namespace vq::filtering
