// Removing suppression lists against the rule applied line by line: the
// whole pass over a list and up to three suppression lists, with a read
// buffer of any size, its two outputs and its counts, and the set of
// prepared lines on its own.
#include "filtering/subtract.h"
#include "fuzz_util.h"
#include "naive.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace vq::filtering;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<std::string> suppressionFiles, suppressionLines;
    const int lists = in.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < lists; ++i) {
        const std::string bytes = in.ConsumeRandomLengthString(200);
        suppressionFiles.push_back(fuzzutil::scratch(("s" + std::to_string(i) + ".txt").c_str()));
        fuzzutil::writeBytes(suppressionFiles.back(), bytes);
        for (auto& line : naive::readerLines(bytes))
            suppressionLines.push_back(line);
    }
    const std::size_t buffer = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::size_t>(1, 80)
                                                : vq::listio::kDefaultBufferSize;
    const std::string file = in.ConsumeRemainingBytesAsString();

    std::vector<std::string> kept, removed;
    int64_t read = 0;
    PreparedLineSet set;
    for (const auto& line : suppressionLines)
        set.insert(naive::preparedLine(line));
    for (const auto& raw : naive::readerLines(file)) {
        ++read;
        const std::string prepared = naive::preparedLine(raw);
        const bool gone = naive::suppressed(prepared, suppressionLines);
        FUZZ_CHECK(isSuppressed(prepared, suppressionLines) == gone);
        FUZZ_CHECK(set.contains(prepared) == gone);
        if (!naive::isValid(prepared)) continue;
        (gone ? removed : kept).push_back(raw);
    }

    const std::string input = fuzzutil::scratch("in.txt");
    const std::string keptFile = fuzzutil::scratch("kept.txt");
    const std::string removedFile = fuzzutil::scratch("removed.txt");
    fuzzutil::writeBytes(input, file);
    const SubtractCounts c =
        subtractLists(input, suppressionFiles, keptFile, removedFile, {}, buffer);
    FUZZ_CHECK(c.read == read);
    FUZZ_CHECK(c.kept == static_cast<int64_t>(kept.size()));
    FUZZ_CHECK(c.removed == static_cast<int64_t>(removed.size()));
    FUZZ_CHECK(fuzzutil::readBytes(keptFile) == naive::joinCrLf(kept));
    FUZZ_CHECK(fuzzutil::readBytes(removedFile) == naive::joinCrLf(removed));
    return 0;
}
