#pragma once
// Containment of many rows at once: one pass of a multi-pattern literal
// matcher over a batch of prepared lines decides them all, so the cost of a
// line does not grow with the number of rows.
#include "filtering/literal_automaton.h"
#include "filtering/rule.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct hs_database;
struct hs_scratch;

namespace vq::filtering {

class ContainmentEngine {
public:
    // How lines are searched, as measured on address lists
    // (bench/filter_bench.sh): up to kFewRows rows, row by row over the
    // batch; up to kMatcherRows, Vectorscan; beyond, an Aho-Corasick
    // automaton, faster there, and built in time that grows with the rows,
    // where Vectorscan takes minutes for some sets of 40,000 rows. Tests
    // choose each way.
    enum class Way { Auto, FewRows, Matcher, Automaton };
    static constexpr std::size_t kFewRows = 4;
    static constexpr std::size_t kMatcherRows = 100;

    // Built from the rows as they stand; later changes to them do not
    // reach it. Throws std::bad_alloc when the matcher cannot be built.
    ContainmentEngine(Rule rule, const std::vector<std::string>& rows, Way way = Way::Auto);
    ~ContainmentEngine();
    ContainmentEngine(const ContainmentEngine&) = delete;
    ContainmentEngine& operator=(const ContainmentEngine&) = delete;

    // `batch` holds prepared lines, line i ending just before ends[i], each
    // followed by one CR, which no prepared line holds and no row is looked
    // for across; verdicts[i] becomes 1 when line i matches, else 0.
    void decide(std::string_view batch, const std::vector<std::size_t>& ends,
                std::vector<unsigned char>& verdicts);
    // One prepared line on its own, of any length.
    bool matches(std::string_view prepared);

    // Bytes held by the compiled matcher and its scratch space.
    std::size_t memoryUse() const;

private:
    struct Scan;
    bool leadingNulsFit(const Scan& s, std::uint32_t id, unsigned long long to) const;
    void scanFewRows(std::string_view batch, Scan& s);
    static int onMatch(unsigned id, unsigned long long from, unsigned long long to, unsigned flags,
                       void* context);

    Rule rule_;
    bool never_ = false;         // no line can match: nothing to look for
    std::uint32_t required_ = 0; // distinct rows a line must hold (AND)
    hs_database* db_ = nullptr;
    hs_scratch* scratch_ = nullptr;
    // AND: the last line (numbered across batches) in which each row was found.
    std::vector<std::uint64_t> seenIn_;
    std::uint64_t linesBefore_ = 0;
    std::vector<std::uint32_t> found_; // AND: distinct rows found in each line of a batch
    // The matcher takes no literal that starts with a NUL byte: such a row
    // is looked for without its leading NULs, which are then checked by
    // hand. A row of NULs alone is a run of NULs to find in each line.
    std::vector<std::uint32_t> leadingNuls_; // by matcher id; empty when no row has any
    std::vector<std::size_t> lengths_;       // by matcher id
    std::size_t nulRun_ = 0;            // OR: the shortest such row, AND: the longest; 0 for none
    std::vector<std::string_view> few_; // by id, the rows searched one by one, if that way
    std::unique_ptr<LiteralAutomaton> automaton_;
    std::vector<std::string> rows_; // the distinct rows, for a line too long to scan at once
};

} // namespace vq::filtering
