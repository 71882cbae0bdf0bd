// De-duplication against the quadratic comparison of the rules: the hash
// index over the arena must keep exactly the lines that comparing with
// every kept row keeps, in the same order, with a good hash and with one so
// poor that every lookup runs into rows it must tell apart byte by byte.
// The whole pass then runs on a file, stopped at a line of the input's
// choosing.
#include "checking/dedup.h"
#include "checking/kept_lines.h"
#include "fuzz_util.h"
#include "listio/errors.h"
#include "listio/listio.h"
#include "naive.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace vq::checking;

namespace {

uint64_t poorHash(const char*, std::size_t size) {
    return size & 3;
}

// firstSeen[i]: line i is the first of its kind, by the quadratic rule.
void checkIndex(KeptLines& grid, const std::vector<std::string>& lines,
                const std::vector<bool>& firstSeen, const std::vector<std::string>& kept,
                int64_t expect) {
    grid.clear();
    grid.expectLines(expect);
    for (std::size_t i = 0; i < lines.size(); ++i)
        FUZZ_CHECK(grid.insert(lines[i]) == firstSeen[i]);
    FUZZ_CHECK(grid.size() == static_cast<int64_t>(kept.size()));
    FUZZ_CHECK(grid.text() == naive::joinCrLf(kept));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int64_t expect = in.ConsumeIntegralInRange<int64_t>(-2, 5000);
    const int64_t stopAt = in.ConsumeIntegralInRange<int64_t>(0, 40);
    const bool lf = in.ConsumeBool(); // lines written with LF, as --lf asks
    vq::listio::setWrittenLineEnd(lf);
    const std::string file = in.ConsumeRemainingBytesAsString();
    // Lines as the reader gives them: never a CR inside.
    const std::vector<std::string> lines = naive::readerLines(file);

    const std::vector<std::string> keptAll = naive::keepFirst(lines);
    std::vector<bool> firstSeen;
    {
        std::size_t next = 0; // keepFirst keeps first occurrences, in order
        for (const auto& line : lines) {
            // A line equal to the next kept row cannot have come before:
            // at its first appearance it would have been that row.
            const bool first = next < keptAll.size() && keptAll[next] == line;
            firstSeen.push_back(first);
            if (first) ++next;
        }
    }
    KeptLines good;
    checkIndex(good, lines, firstSeen, keptAll, expect);
    KeptLines poor(&poorHash);
    checkIndex(poor, lines, firstSeen, keptAll, expect);
    KeptLines poorWide(&poorHash, true);
    checkIndex(poorWide, lines, firstSeen, keptAll, expect);

    // The pass on a file: stopped after line stopAt (0: never stopped).
    const std::string input = fuzzutil::scratch("in.txt");
    const std::string output = fuzzutil::scratch("out.txt");
    fuzzutil::writeBytes(input, file);
    fuzzutil::writeBytes(output, "old");
    // Every line is reported; the report of line stopAt presses the stop.
    struct StopAt : CheckListener {
        int64_t at;
        std::atomic<bool> stop{false};
        explicit StopAt(int64_t line) : at(line) {}
        void progress(int64_t read, int64_t) override {
            if (read == at) stop = true;
        }
    } listener(stopAt);
    CheckRun run{input, output, vq::listio::countLines(input), std::chrono::milliseconds(0)};
    FUZZ_CHECK(run.total == static_cast<int64_t>(lines.size()));
    CheckCounts counts;
    KeptLines grid;
    const Outcome outcome = removeDuplicates(run, grid, listener.stop, listener, counts);

    const bool stopped = stopAt >= 1 && stopAt <= static_cast<int64_t>(lines.size());
    // A stop is seen before the next line; a stop on the last line ends the
    // loop by the end test, and the outcome is still "stopped".
    const std::size_t read = stopped ? static_cast<std::size_t>(stopAt) : lines.size();
    const std::vector<std::string> kept =
        naive::keepFirst({lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(read)});
    FUZZ_CHECK(counts.linesRead == static_cast<int64_t>(read));
    FUZZ_CHECK(counts.kept == static_cast<int64_t>(kept.size()));
    if (stopped) {
        FUZZ_CHECK(outcome == Outcome::Stopped);
        FUZZ_CHECK(fuzzutil::readBytes(output) == "old");
    } else if (kept.size() == lines.size()) {
        FUZZ_CHECK(outcome == Outcome::NoDuplicates);
        FUZZ_CHECK(fuzzutil::readBytes(output) == "old");
    } else {
        FUZZ_CHECK(outcome == Outcome::DuplicatesRemoved);
        FUZZ_CHECK(fuzzutil::readBytes(output) == naive::joinLines(kept, lf ? "\n" : "\r\n"));
    }
    FUZZ_CHECK(fuzzutil::scratchEntries() == 2);
    return 0;
}
