#include "filtering/literal_automaton.h"

#include <algorithm>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vq::filtering {

LiteralAutomaton::LiteralAutomaton(const std::vector<std::string_view>& literals,
                                   std::size_t denseBytes) {
    // Only the bytes the literals hold get a class of their own, in byte
    // order, so that sorted literals give each state its children in order.
    std::array<bool, 256> used{};
    for (const auto lit : literals)
        for (const char b : lit)
            used[static_cast<unsigned char>(b)] = true;
    std::uint16_t classes = 1;
    for (unsigned b = 0; b < 256; ++b)
        if (used[b]) class_[b] = classes++;

    // The trie, literal by literal in sorted order: each shares with the one
    // before it the states of their common prefix.
    std::vector<std::uint32_t> order(literals.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return literals[a] < literals[b]; });
    struct Edge {
        std::uint32_t parent;
        std::uint16_t cls;
        std::uint32_t child;
    };
    std::vector<Edge> edges;
    std::vector<std::uint32_t> path{0}; // the states along the literal before
    std::string_view before;
    id_.assign(1, kNone);
    sameLiteral_.assign(literals.size(), kNone);
    for (const std::uint32_t id : order) {
        const std::string_view lit = literals[id];
        const std::size_t common =
            std::mismatch(lit.begin(), lit.end(), before.begin(), before.end()).first - lit.begin();
        path.resize(common + 1);
        for (std::size_t d = common; d < lit.size(); ++d) {
            const auto state = static_cast<std::uint32_t>(id_.size());
            id_.push_back(kNone);
            edges.push_back({path[d], class_[static_cast<unsigned char>(lit[d])], state});
            path.push_back(state);
        }
        std::uint32_t& at = id_[path[lit.size()]];
        sameLiteral_[id] = at;
        at = id;
        before = lit;
    }
    const std::size_t states = id_.size();

    // Children by state; the sort keeps each state's children in class order.
    std::stable_sort(edges.begin(), edges.end(),
                     [](const Edge& a, const Edge& b) { return a.parent < b.parent; });
    firstChild_.assign(states + 1, 0);
    for (const Edge& e : edges)
        ++firstChild_[e.parent + 1];
    std::partial_sum(firstChild_.begin(), firstChild_.end(), firstChild_.begin());
    childClass_.reserve(edges.size());
    childState_.reserve(edges.size());
    for (const Edge& e : edges) {
        childClass_.push_back(e.cls);
        childState_.push_back(e.child);
    }
    root_.assign(classes, 0);
    for (std::uint32_t k = firstChild_[0]; k < firstChild_[1]; ++k)
        root_[childClass_[k]] = childState_[k];

    // Failure and output links, breadth first: a state's links depend only
    // on shallower states.
    fail_.assign(states, 0);
    suffix_.assign(states, 0);
    std::vector<std::uint32_t> queue;
    queue.reserve(states);
    for (std::uint32_t k = firstChild_[0]; k < firstChild_[1]; ++k)
        queue.push_back(childState_[k]);
    for (std::size_t q = 0; q < queue.size(); ++q) {
        const std::uint32_t s = queue[q];
        for (std::uint32_t k = firstChild_[s]; k < firstChild_[s + 1]; ++k) {
            const std::uint32_t child = childState_[k];
            const std::uint32_t f = next(fail_[s], childClass_[k]);
            fail_[child] = f;
            suffix_[child] = id_[f] != kNone ? f : suffix_[f];
            queue.push_back(child);
        }
    }
    for (std::uint32_t k = firstChild_[0]; k < firstChild_[1] && starts_.size() <= 3; ++k)
        for (unsigned b = 0; b < 256; ++b)
            if (class_[b] == childClass_[k]) starts_.push_back(static_cast<unsigned char>(b));
    if (starts_.size() > 3)
        starts_.clear();
    else if (!starts_.empty())
        starts_.resize(3, starts_.front());
    endsHere_.resize(states);
    for (std::size_t s = 1; s < states; ++s)
        endsHere_[s] = id_[s] != kNone || suffix_[s] != 0;

    // The whole table, where it is small enough to stay mostly in the
    // caches: a state's row is its children over its failure state's row,
    // and failure states come earlier in breadth-first order.
    if (states * classes * sizeof(std::uint32_t) > denseBytes || states > kState) return;
    dense_.assign(states * classes, 0);
    auto flagged = [&](std::uint32_t t) { return endsHere_[t] ? t | kEnds : t; };
    for (std::uint16_t c = 1; c < classes; ++c)
        dense_[c] = flagged(root_[c]);
    for (const std::uint32_t s : queue) {
        std::copy_n(dense_.begin() + static_cast<std::ptrdiff_t>(fail_[s] * classes), classes,
                    dense_.begin() + static_cast<std::ptrdiff_t>(s * classes));
        for (std::uint32_t k = firstChild_[s]; k < firstChild_[s + 1]; ++k)
            dense_[s * classes + childClass_[k]] = flagged(childState_[k]);
    }
}

std::size_t LiteralAutomaton::nextStart(const unsigned char* p, std::size_t i,
                                        std::size_t n) const {
    if (starts_.empty()) return i;
#if defined(__SSE2__)
    const __m128i a = _mm_set1_epi8(static_cast<char>(starts_[0])),
                  b = _mm_set1_epi8(static_cast<char>(starts_[1])),
                  c = _mm_set1_epi8(static_cast<char>(starts_[2]));
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const int m = _mm_movemask_epi8(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(x, a), _mm_cmpeq_epi8(x, b)), _mm_cmpeq_epi8(x, c)));
        if (m) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(m)));
    }
#endif
    for (; i < n; ++i)
        if (p[i] == starts_[0] || p[i] == starts_[1] || p[i] == starts_[2]) return i;
    return n;
}

std::size_t LiteralAutomaton::memoryUse() const {
    return sizeof(*this) +
           4 * (root_.size() + firstChild_.size() + childState_.size() + fail_.size() + id_.size() +
                sameLiteral_.size() + suffix_.size() + dense_.size()) +
           2 * childClass_.size() + endsHere_.size() / 8;
}

} // namespace vq::filtering
