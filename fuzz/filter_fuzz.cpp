// The filter pass against the rules applied byte by byte: the prepared
// line, validity and both rules on single lines, the engine one line at a
// time in each of its ways, then the whole pass over a file into its two
// outputs and its counts, with a read buffer of any size.
#include "filtering/engine.h"
#include "filtering/filter_pass.h"
#include "fuzz_util.h"
#include "listio/byte_rules.h"
#include "naive.h"

#include <deque>
#include <fuzzer/FuzzedDataProvider.h>

using namespace vq::filtering;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // Mostly a few short rows; now and then rows of 64 bytes and more, or
    // thousands of rows made by repeating and cutting the ones given.
    std::vector<std::string> rows;
    const std::size_t rowCount = in.ConsumeIntegralInRange<std::size_t>(0, 6);
    for (std::size_t i = 0; i < rowCount; ++i)
        rows.push_back(in.ConsumeRandomLengthString(in.ConsumeBool() ? 6 : 100));
    if (!rows.empty() && in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        const std::size_t copies = in.ConsumeIntegralInRange<std::size_t>(100, 1500);
        for (std::size_t i = 0; i < copies; ++i) {
            const std::string& r = rows[i % rowCount];
            rows.push_back(r.substr(0, i % (r.size() + 1)) + std::to_string(i));
        }
    }
    const Rule rule = in.ConsumeBool() ? Rule::AnyRow : Rule::EveryRow;
    const bool lf = in.ConsumeBool(); // lines written with LF, as --lf asks
    vq::listio::setWrittenLineEnd(lf);
    const std::size_t buffer = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::size_t>(1, 80)
                                                : vq::listio::kDefaultBufferSize;
    const std::string file = in.ConsumeRemainingBytesAsString();
    const std::vector<std::string> lines = naive::readerLines(file);

    // The rows as a filter sees them: no rows at all is a fresh list's one
    // empty row.
    const std::vector<std::string> effective = rows.empty() ? std::vector<std::string>{""} : rows;
    using Way = ContainmentEngine::Way;
    std::deque<ContainmentEngine> anyRow, everyRow; // engines do not move
    for (const Way way : {Way::FewRows, Way::Matcher, Way::Automaton}) {
        anyRow.emplace_back(Rule::AnyRow, rows, way);
        everyRow.emplace_back(Rule::EveryRow, rows, way);
    }
    std::vector<std::string> matching, rest;
    std::string scratch;
    for (const auto& raw : lines) {
        const std::string prepared = naive::preparedLine(raw);
        FUZZ_CHECK(prepareLine(raw, scratch) == prepared);
        FUZZ_CHECK(vq::listio::trimControls(raw) == naive::trim(raw));
        FUZZ_CHECK(isValidLine(prepared) == naive::isValid(prepared));
        const bool any = naive::orRule(effective, prepared);
        const bool every = naive::andRule(effective, prepared);
        FUZZ_CHECK(ruleHolds(Rule::AnyRow, rows, prepared) == any);
        FUZZ_CHECK(ruleHolds(Rule::EveryRow, rows, prepared) == every);
        for (auto& e : anyRow)
            FUZZ_CHECK(e.matches(prepared) == any);
        for (auto& e : everyRow)
            FUZZ_CHECK(e.matches(prepared) == every);
        if (!naive::isValid(prepared)) continue;
        ((rule == Rule::AnyRow ? any : every) ? matching : rest).push_back(prepared);
    }

    // The whole pass over the file with the input's rule.
    const std::string input = fuzzutil::scratch("in.txt");
    const std::string match = fuzzutil::scratch("match.txt");
    const std::string other = fuzzutil::scratch("rest.txt");
    fuzzutil::writeBytes(input, file);
    bool opened = false;
    const FilterCounts c = filterList(
        input, match, other, rule, rows, [&] { opened = true; }, buffer);
    FUZZ_CHECK(opened);
    FUZZ_CHECK(c.read == static_cast<int64_t>(lines.size()));
    FUZZ_CHECK(c.matching == static_cast<int64_t>(matching.size()));
    FUZZ_CHECK(c.rest == static_cast<int64_t>(rest.size()));
    FUZZ_CHECK(fuzzutil::readBytes(match) == naive::joinLines(matching, lf ? "\n" : "\r\n"));
    FUZZ_CHECK(fuzzutil::readBytes(other) == naive::joinLines(rest, lf ? "\n" : "\r\n"));
    return 0;
}
