#include "filtering/engine.h"

#include <hs/hs.h>

#include <algorithm>
#include <climits>
#include <new>
#include <unordered_set>

namespace vq::filtering {

namespace {

bool holdsNulRun(std::string_view line, std::size_t run) {
    return line.find(std::string(run, '\0')) != std::string_view::npos;
}

} // namespace

ContainmentEngine::ContainmentEngine(Rule rule, const std::vector<std::string>& rows)
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
    std::vector<unsigned> ids;
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
        ids.push_back(static_cast<unsigned>(patterns.size()));
        patterns.push_back(row.data() + nuls);
        lengths_.push_back(row.size() - nuls);
        if (nuls && leadingNuls_.empty()) leadingNuls_.resize(rows_.size());
        if (nuls) leadingNuls_[ids.back()] = static_cast<std::uint32_t>(nuls);
    }
    required_ = static_cast<std::uint32_t>(patterns.size());
    if (rule == Rule::EveryRow) never_ = emptyRow || unreachable;
    if (patterns.empty() && nulRun_ == 0) never_ = true;
    if (never_ || patterns.empty()) return;

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
    if (rule == Rule::EveryRow) seenIn_.assign(patterns.size(), 0);
}

ContainmentEngine::~ContainmentEngine() {
    hs_free_scratch(scratch_);
    hs_free_database(db_);
}

std::size_t ContainmentEngine::memoryUse() const {
    std::size_t db = 0, scratch = 0;
    if (db_) hs_database_size(db_, &db);
    if (scratch_) hs_scratch_size(scratch_, &scratch);
    return db + scratch;
}

struct ContainmentEngine::Scan {
    ContainmentEngine& engine;
    const char* data;
    const std::size_t* ends;
    unsigned char* verdicts;
    bool single; // one line: stop at the first verdict
    std::size_t line = 0;

    std::size_t lineStart(std::size_t i) const { return i == 0 ? 0 : ends[i - 1] + 1; }
};

bool ContainmentEngine::leadingNulsFit(const Scan& s, std::size_t line, std::uint32_t id,
                                       unsigned long long to) const {
    const std::size_t nuls = leadingNuls_[id];
    const std::size_t from = static_cast<std::size_t>(to) - lengths_[id];
    if (from < s.lineStart(line) + nuls) return false;
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
    if (!e.leadingNuls_.empty() && e.leadingNuls_[id] && !e.leadingNulsFit(s, i, id, to)) return 0;
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

void ContainmentEngine::decide(std::string_view batch, const std::vector<std::size_t>& ends,
                               std::vector<unsigned char>& verdicts) {
    verdicts.assign(ends.size(), 0);
    if (never_ || ends.empty()) return;
    if (db_) {
        if (rule_ == Rule::EveryRow) found_.assign(ends.size(), 0);
        Scan s{*this, batch.data(), ends.data(), verdicts.data(), ends.size() == 1};
        // A batch is at most a few read buffers long, far below 4 GiB.
        hs_scan(db_, batch.data(), static_cast<unsigned>(batch.size()), 0, scratch_, onMatch, &s);
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
