#pragma once
// Counting the addresses of a list by domain, to see what a list holds
// before choosing filter parameters. No Qt: the domain window and the
// command-line companion both run it.
#include "listio/listio.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vq::filtering {

// The domain of a valid prepared line: the bytes after its last at sign
// (possibly none).
inline std::string_view domainOf(std::string_view prepared) {
    return prepared.substr(prepared.rfind('@') + 1);
}

struct DomainRow {
    std::string domain; // bytes, as the prepared lines hold them
    int64_t count = 0;
    bool operator==(const DomainRow&) const = default;
};

// The order of the table: the largest count first, equal counts by their
// domain's bytes (unsigned, shorter first where one begins the other).
bool comesBefore(const DomainRow& a, const DomainRow& b);

struct DomainCounts {
    int64_t read = 0;            // lines of the list, empty ones included
    int64_t valid = 0;           // valid lines, each counted at its domain
    std::vector<DomainRow> rows; // in the table's order
    int64_t invalid() const { return read - valid; }
};

// Reads the list once; memory grows with the distinct domains, not the lines.
DomainCounts countDomains(const std::string& input,
                          std::size_t readBuffer = listio::kDefaultBufferSize);

// The table as CSV: a header "domain,count", then one record a row, each
// line ended by CR LF. A domain holding a comma, a quote, a CR or an LF is quoted,
// its quotes doubled. Domains keep their bytes: nothing is converted, so a
// domain in code page 936 stays in it while the rest is plain ASCII.
std::string domainsCsv(const std::vector<DomainRow>& rows);

} // namespace vq::filtering
