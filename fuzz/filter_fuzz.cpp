// The filter pass against the rules applied byte by byte: the prepared
// line, validity, containment and both rules on single lines, then the whole
// pass over a file into its two outputs and its counts.
#include "filtering/filter_pass.h"
#include "fuzz_util.h"
#include "naive.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace vq::filtering;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // Up to five rows; short ones mostly, now and then one longer than the
    // block searcher takes.
    std::vector<std::string> rows;
    const std::size_t rowCount = in.ConsumeIntegralInRange<std::size_t>(0, 5);
    for (std::size_t i = 0; i < rowCount; ++i)
        rows.push_back(in.ConsumeRandomLengthString(in.ConsumeBool() ? 6 : 48));
    const Rule rule = in.ConsumeBool() ? Rule::AnyRow : Rule::EveryRow;
    const std::string file = in.ConsumeRemainingBytesAsString();
    const std::vector<std::string> lines = naive::readerLines(file);

    // The rows as a filter sees them: no rows at all is a fresh list's one
    // empty row.
    const std::vector<std::string> effective = rows.empty() ? std::vector<std::string>{""} : rows;
    const ParameterSearchers searchers(rows);
    std::vector<std::string> matching, rest;
    std::string scratch;
    for (const auto& raw : lines) {
        const std::string prepared = naive::preparedLine(raw);
        FUZZ_CHECK(prepareLine(raw, scratch) == prepared);
        FUZZ_CHECK(trimControls(raw) == naive::trim(raw));
        FUZZ_CHECK(isValidLine(prepared) == naive::isValid(prepared));
        for (const auto& r : rows) FUZZ_CHECK(ByteSearcher(r).occursIn(prepared) == naive::occurs(r, prepared));
        const bool anyRow = naive::orRule(effective, prepared);
        const bool everyRow = naive::andRule(effective, prepared);
        FUZZ_CHECK(searchers.matches(Rule::AnyRow, prepared) == anyRow);
        FUZZ_CHECK(searchers.matches(Rule::EveryRow, prepared) == everyRow);
        if (!naive::isValid(prepared)) continue;
        ((rule == Rule::AnyRow ? anyRow : everyRow) ? matching : rest).push_back(prepared);
    }

    // The whole pass over the file with the input's rule.
    const std::string input = fuzzutil::scratch("in.txt");
    const std::string match = fuzzutil::scratch("match.txt");
    const std::string other = fuzzutil::scratch("rest.txt");
    fuzzutil::writeBytes(input, file);
    bool opened = false;
    const FilterCounts c =
        filterList(input, match, other, rule, searchers, [&] { opened = true; });
    FUZZ_CHECK(opened);
    FUZZ_CHECK(c.read == static_cast<int64_t>(lines.size()));
    FUZZ_CHECK(c.matching == static_cast<int64_t>(matching.size()));
    FUZZ_CHECK(c.rest == static_cast<int64_t>(rest.size()));
    FUZZ_CHECK(fuzzutil::readBytes(match) == naive::joinCrLf(matching));
    FUZZ_CHECK(fuzzutil::readBytes(other) == naive::joinCrLf(rest));
    return 0;
}
