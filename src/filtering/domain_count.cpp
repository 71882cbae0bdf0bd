#include "filtering/domain_count.h"

#include "filtering/rule.h"

#include <algorithm>
#include <tsl/robin_map.h>

namespace vq::filtering {

bool comesBefore(const DomainRow& a, const DomainRow& b) {
    if (a.count != b.count) return a.count > b.count;
    // std::string compares its bytes as unsigned char.
    return a.domain < b.domain;
}

namespace {

// Lookups by the view into the read line: a domain is copied only when it
// is first seen.
struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
struct Equal {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return a == b; }
};

} // namespace

DomainCounts countDomains(const std::string& input, std::size_t readBuffer) {
    listio::TextReader in(input, readBuffer);
    tsl::robin_map<std::string, int64_t, Hash, Equal> counts;
    DomainCounts result;
    std::string scratch;
    while (!in.atEnd()) {
        const std::string_view prepared = prepareLine(in.readLine(), scratch);
        ++result.read;
        if (!isValidLine(prepared)) continue;
        ++result.valid;
        const std::string_view domain = domainOf(prepared);
        if (auto it = counts.find(domain); it != counts.end())
            ++it.value();
        else
            counts.emplace(std::string(domain), 1);
    }
    in.close();
    result.rows.reserve(counts.size());
    for (auto& [domain, count] : counts)
        result.rows.push_back({domain, count});
    std::sort(result.rows.begin(), result.rows.end(), comesBefore);
    return result;
}

std::string domainsCsv(const std::vector<DomainRow>& rows) {
    std::string text = "domain,count\r\n";
    for (const DomainRow& row : rows) {
        if (row.domain.find_first_of(",\"\r\n") == std::string::npos) {
            text += row.domain;
        } else {
            text += '"';
            for (char c : row.domain) {
                if (c == '"') text += '"';
                text += c;
            }
            text += '"';
        }
        text += ',' + std::to_string(row.count) + "\r\n";
    }
    return text;
}

} // namespace vq::filtering
