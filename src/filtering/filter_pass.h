#pragma once
// The filter pass shared by the OR and AND filters: every line of a list file
// is prepared, and each valid address goes to the matching or the
// non-matching file depending on the rule. No Qt: the windows and the
// command-line companion both run it.
#include "filtering/engine.h"
#include "filtering/rule.h"
#include "listio/listio.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vq::filtering {

struct FilterCounts {
    int64_t read = 0;     // lines read, empty ones included
    int64_t matching = 0; // lines written to the matching file
    int64_t rest = 0;     // lines written to the non-matching file
    int64_t invalid() const { return read - matching - rest; }
};

// Builds the rule's matcher from `rows` as they stand, opens the input, then
// creates the matching and the non-matching file, in that order, calls
// `opened` once (the window repaints there), and sorts every line. A file
// error propagates; the files already opened are closed first and the
// outputs keep the lines written before it. `readBuffer` is the input's
// buffer size; tests make it tiny to put line ends on every boundary, and
// choose each way of deciding lines with `way` (Auto and FewRows decide
// lines where they stand in the block when the rows are few enough, Auto
// with the widest vectors the processor has, FewRows 16 bytes at a time).
FilterCounts filterList(const std::string& input, const std::string& matchingFile,
                        const std::string& restFile, Rule rule,
                        const std::vector<std::string>& rows,
                        const std::function<void()>& opened = {},
                        std::size_t readBuffer = listio::kDefaultBufferSize,
                        ContainmentEngine::Way way = ContainmentEngine::Way::Auto);

} // namespace vq::filtering
