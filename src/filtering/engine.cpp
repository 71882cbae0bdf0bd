#include "filtering/engine.h"

#include <hs/hs.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <unordered_set>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vq::filtering {

namespace {

bool holdsNulRun(std::string_view line, std::size_t run) {
    return line.find(std::string(run, '\0')) != std::string_view::npos;
}

} // namespace

ContainmentEngine::ContainmentEngine(Rule rule, const std::vector<std::string>& rows, Way way)
    : rule_(rule) {
    // A row given twice is one row to look for, also for the AND rule.
    bool emptyRow = rows.empty(); // no rows is a fresh list's empty row
    std::unordered_set<std::string_view> distinct;
    for (const auto& row : rows) {
        if (row.empty())
            emptyRow = true;
        else if (distinct.insert(row).second)
            rows_.push_back(row);
    }

    std::vector<const char*> patterns;
    bool unreachable = false; // a row that no prepared line can hold
    for (const auto& row : rows_) {
        // A prepared line holds no CR, so such a row occurs nowhere; left
        // out, it cannot be found across the CR between two lines either.
        if (row.find('\r') != std::string::npos) {
            unreachable = true;
            continue;
        }
        const std::size_t nuls = std::min(row.find_first_not_of('\0'), row.size());
        if (nuls == row.size()) {
            nulRun_ = nulRun_ == 0           ? nuls
                      : rule == Rule::AnyRow ? std::min(nulRun_, nuls)
                                             : std::max(nulRun_, nuls);
            continue;
        }
        if (nuls && leadingNuls_.empty()) leadingNuls_.resize(rows_.size());
        if (nuls) leadingNuls_[patterns.size()] = static_cast<std::uint32_t>(nuls);
        patterns.push_back(row.data() + nuls);
        lengths_.push_back(row.size() - nuls);
    }
    required_ = static_cast<std::uint32_t>(patterns.size());
    if (rule == Rule::EveryRow) never_ = emptyRow || unreachable;
    if (patterns.empty() && nulRun_ == 0) never_ = true;
    if (never_ || patterns.empty()) return;
    if (rule == Rule::EveryRow) seenIn_.assign(patterns.size(), 0);

    if (way == Way::Auto)
        way = patterns.size() <= kFewRows       ? Way::FewRows
              : patterns.size() <= kMatcherRows ? Way::Matcher
                                                : Way::Automaton;
    if (way == Way::FewRows) {
        for (std::size_t id = 0; id < patterns.size(); ++id)
            few_.emplace_back(patterns[id], lengths_[id]);
        return;
    }
    if (way == Way::Automaton) {
        std::vector<std::string_view> literals;
        for (std::size_t id = 0; id < patterns.size(); ++id)
            literals.emplace_back(patterns[id], lengths_[id]);
        automaton_ = std::make_unique<LiteralAutomaton>(literals);
        return;
    }
    std::vector<unsigned> ids(patterns.size());
    for (unsigned id = 0; id < ids.size(); ++id)
        ids[id] = id;
    hs_compile_error_t* error = nullptr;
    if (hs_compile_lit_multi(patterns.data(), nullptr, ids.data(), lengths_.data(),
                             static_cast<unsigned>(patterns.size()), HS_MODE_BLOCK, nullptr, &db_,
                             &error) != HS_SUCCESS) {
        // Literals without a leading NUL are always accepted; only
        // resources can run out.
        hs_free_compile_error(error);
        throw std::bad_alloc();
    }
    if (hs_alloc_scratch(db_, &scratch_) != HS_SUCCESS) {
        hs_free_database(db_);
        throw std::bad_alloc();
    }
}

ContainmentEngine::~ContainmentEngine() {
    hs_free_scratch(scratch_);
    hs_free_database(db_);
}

std::size_t ContainmentEngine::memoryUse() const {
    std::size_t db = 0, scratch = 0;
    if (db_) hs_database_size(db_, &db);
    if (scratch_) hs_scratch_size(scratch_, &scratch);
    return db + scratch + (automaton_ ? automaton_->memoryUse() : 0);
}

struct ContainmentEngine::Scan {
    ContainmentEngine& engine;
    const char* data;
    const std::size_t* ends;
    unsigned char* verdicts;
    bool single; // one line: stop at the first verdict
    std::size_t line = 0;
};

bool ContainmentEngine::leadingNulsFit(const Scan& s, std::uint32_t id,
                                       unsigned long long to) const {
    const std::size_t nuls = leadingNuls_[id];
    const std::size_t from = static_cast<std::size_t>(to) - lengths_[id];
    // The CR before a line is no NUL, so the run never reaches into the
    // line before; only the start of the batch bounds it.
    if (from < nuls) return false;
    return std::all_of(s.data + from - nuls, s.data + from, [](char c) { return c == '\0'; });
}

int ContainmentEngine::onMatch(unsigned id, unsigned long long, unsigned long long to, unsigned,
                               void* context) {
    Scan& s = *static_cast<Scan*>(context);
    // Matches come in the order of their ends, so the line only moves on;
    // should one ever come earlier, the search below still finds its line.
    std::size_t i = s.line;
    if (to > s.ends[i]) {
        while (to > s.ends[i])
            ++i;
    } else if (i > 0 && to <= s.ends[i - 1]) {
        i = static_cast<std::size_t>(std::lower_bound(s.ends, s.ends + i, to) - s.ends);
    }
    s.line = i;
    ContainmentEngine& e = s.engine;
    if (!e.leadingNuls_.empty() && e.leadingNuls_[id] && !e.leadingNulsFit(s, id, to)) return 0;
    if (e.rule_ == Rule::AnyRow) {
        s.verdicts[i] = 1;
        return s.single ? 1 : 0;
    }
    const std::uint64_t stamp = e.linesBefore_ + i + 1;
    if (e.seenIn_[id] == stamp) return 0;
    e.seenIn_[id] = stamp;
    if (++e.found_[i] == e.required_) {
        s.verdicts[i] = 1;
        return s.single ? 1 : 0;
    }
    return 0;
}

namespace {

// The first place from `from` on where `row` stands in `data`, or npos. The
// places where the row's first and last bytes both fit are found sixteen at
// a time; only they are compared in full.
std::size_t findRow(std::string_view data, std::size_t from, std::string_view row) {
    const std::size_t n = row.size();
    if (data.size() < n) return std::string_view::npos;
    const std::size_t starts = data.size() - n + 1;
    const char* p = data.data();
    auto fits = [&](std::size_t i) {
        return std::memcmp(p + i + 1, row.data() + 1, n > 1 ? n - 1 : 0) == 0;
    };
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(row.front()), last = _mm_set1_epi8(row.back());
    for (; i + 16 <= starts; i += 16) {
        const __m128i a =
            _mm_cmpeq_epi8(first, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        const __m128i b =
            _mm_cmpeq_epi8(last, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + n - 1)));
        for (unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(a, b))); m;
             m &= m - 1) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(m));
            if (fits(at)) return at;
        }
    }
#endif
    for (; i < starts; ++i)
        if (p[i] == row.front() && p[i + n - 1] == row.back() && fits(i)) return i;
    return std::string_view::npos;
}

} // namespace

void ContainmentEngine::scanFewRows(std::string_view batch, Scan& s) {
    for (std::uint32_t id = 0; id < few_.size(); ++id) {
        s.line = 0;
        for (std::size_t at = 0; (at = findRow(batch, at, few_[id])) != std::string_view::npos;) {
            if (onMatch(id, 0, at + few_[id].size(), 0, &s)) return;
            // The row is in this line now; the rest of the line can add nothing.
            at = s.ends[s.line] + 1;
        }
    }
}

void ContainmentEngine::decide(std::string_view batch, const std::vector<std::size_t>& ends,
                               std::vector<unsigned char>& verdicts) {
    verdicts.assign(ends.size(), 0);
    if (never_ || ends.empty()) return;
    if (db_ || !few_.empty() || automaton_) {
        if (rule_ == Rule::EveryRow) found_.assign(ends.size(), 0);
        Scan s{*this, batch.data(), ends.data(), verdicts.data(), ends.size() == 1};
        if (db_) // a batch is at most a few read buffers long, far below 4 GiB
            hs_scan(db_, batch.data(), static_cast<unsigned>(batch.size()), 0, scratch_, onMatch,
                    &s);
        else if (automaton_)
            automaton_->scan(batch, [&](std::uint32_t id, std::size_t end) {
                return onMatch(id, 0, end, 0, &s) != 0;
            });
        else
            scanFewRows(batch, s);
        linesBefore_ += ends.size();
    } else if (rule_ == Rule::EveryRow) {
        verdicts.assign(ends.size(), 1); // only a run of NULs to look for
    }
    if (nulRun_ == 0) return;
    std::size_t start = 0;
    for (std::size_t i = 0; i < ends.size(); start = ends[i] + 1, ++i) {
        // OR: one more way to match; AND: one more row every line must hold.
        if ((verdicts[i] != 0) == (rule_ == Rule::EveryRow))
            verdicts[i] = holdsNulRun(batch.substr(start, ends[i] - start), nulRun_);
    }
}

bool ContainmentEngine::matches(std::string_view prepared) {
    if (never_) return false;
    if (prepared.size() > UINT_MAX) return ruleHolds(rule_, rows_, prepared); // beyond one scan
    const std::vector<std::size_t> ends{prepared.size()};
    std::vector<unsigned char> verdict;
    decide(prepared, ends, verdict);
    return verdict[0] != 0;
}

} // namespace vq::filtering
