#include "filtering/filter_pass.h"

#include "filtering/block_marks.h"
#include "filtering/engine.h"
#include "listio/byte_rules.h"

#include <optional>

namespace vq::filtering {

namespace {

// Closes an output after another file failed, so that what was written
// reaches the disk; the first failure is the one the user needs to see.
void closeAfterFailure(listio::TextWriter& w) {
    try {
        w.close();
    } catch (...) {
    }
}

} // namespace

FilterCounts filterList(const std::string& input, const std::string& matchingFile,
                        const std::string& restFile, Rule rule,
                        const std::vector<std::string>& rows, const std::function<void()>& opened,
                        std::size_t readBuffer, ContainmentEngine::Way way) {
    using Way = ContainmentEngine::Way;
    std::optional<InPlaceSort> inPlace;
    std::optional<ContainmentEngine> engine;
    if ((way == Way::Auto || way == Way::FewRows) && InPlaceSort::takes(rows))
        inPlace.emplace(rule, rows, way == Way::Auto);
    else // built before any file is touched, so a matcher that cannot be built creates nothing
        engine.emplace(rule, rows, way);
    FilterCounts counts;
    listio::TextReader in(input, readBuffer);
    listio::TextWriter matching(matchingFile);
    listio::TextWriter rest(restFile);
    if (opened) opened();

    Batch batch;
    std::string scratch;
    const std::string_view eol = matching.lineEnd();
    try {
        while (!in.atEnd()) {
            const std::string_view lines = in.readLines();
            if (lines.empty()) {
                // A line longer than the buffer, decided on its own.
                const std::string_view prepared = prepareLine(in.readLine(), scratch);
                ++counts.read;
                if (!isValidLine(prepared)) continue;
                if (inPlace ? inPlace->holds(prepared) : engine->matches(prepared)) {
                    matching.writeLine(prepared);
                    ++counts.matching;
                } else {
                    rest.writeLine(prepared);
                    ++counts.rest;
                }
                continue;
            }
            if (inPlace) {
                inPlace->sort(lines, in.lineEnds(), eol, counts);
                matching.writeLines(inPlace->sorted(true));
                rest.writeLines(inPlace->sorted(false));
            } else {
                counts.read += batch.fill(lines, in.lineEnds());
                batch.sort(*engine, counts, eol);
                matching.writeLines(batch.sorted(true));
                rest.writeLines(batch.sorted(false));
            }
        }
        in.close();
        matching.close();
        rest.close();
    } catch (...) {
        closeAfterFailure(matching);
        closeAfterFailure(rest);
        throw;
    }
    return counts;
}

} // namespace vq::filtering
