#pragma once
// An Aho-Corasick automaton over byte literals: every place where any of
// them ends is found in one pass over the text, and it is built in time that
// grows with the literals' total length, however many there are.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vq::filtering {

class LiteralAutomaton {
public:
    // Literal i is reported as id i; each must be non-empty. The whole
    // table of moves is built where it takes at most `denseBytes`.
    static constexpr std::size_t kDenseBytes = std::size_t(32) << 20;
    explicit LiteralAutomaton(const std::vector<std::string_view>& literals,
                              std::size_t denseBytes = kDenseBytes);

    // Calls report(id, end) for each literal that ends at byte `end` (one
    // past its last byte), in the order of the ends; stops when it returns
    // true.
    template <class Report> void scan(std::string_view text, Report&& report) const {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t n = text.size();
        std::uint32_t s = 0;
        const std::size_t classes = root_.size();
        for (std::size_t i = 0; i < n; ++i) {
            // Each move waits for the one before, so the root skips ahead to
            // the next byte that can begin a literal, many bytes a step.
            if ((s & kState) == 0 && (i = nextStart(p, i, n)) == n) return;
            if (!dense_.empty()) {
                // One look-up a byte; a flagged state has literals ending in it.
                s = dense_[(s & kState) * classes + class_[p[i]]];
                if (s & kEnds && reportAt(s & kState, i + 1, report)) return;
            } else {
                const std::uint16_t c = class_[p[i]];
                s = c == 0 ? 0 : next(s, c); // a byte no literal holds leads home
                if (endsHere_[s] && reportAt(s, i + 1, report)) return;
            }
        }
    }

    std::size_t memoryUse() const;

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;
    static constexpr std::uint32_t kEnds = 0x80000000u, kState = 0x7fffffffu;

    // The first place from i on whose byte begins a literal, or n.
    std::size_t nextStart(const unsigned char* p, std::size_t i, std::size_t n) const;

    template <class Report> bool reportAt(std::uint32_t s, std::size_t end, Report& report) const {
        for (std::uint32_t o = id_[s] != kNone ? s : suffix_[s]; o; o = suffix_[o])
            for (std::uint32_t id = id_[o]; id != kNone; id = sameLiteral_[id])
                if (report(id, end)) return true;
        return false;
    }
    // The state after `s` reads a byte of class c, falling back along the
    // failure links.
    std::uint32_t next(std::uint32_t s, std::uint16_t c) const {
        for (;;) {
            if (s == 0) return root_[c];
            const std::uint16_t* first = childClass_.data() + firstChild_[s];
            const std::uint16_t* last = childClass_.data() + firstChild_[s + 1];
            for (const std::uint16_t* k = first; k != last; ++k)
                if (*k == c) return childState_[static_cast<std::size_t>(k - childClass_.data())];
            s = fail_[s];
        }
    }

    std::array<std::uint16_t, 256> class_{}; // 0 for bytes in no literal
    std::vector<std::uint32_t> root_;        // by class: the root's moves, 0 to stay
    // The children of state s: classes and states in [firstChild_[s], firstChild_[s + 1]).
    std::vector<std::uint32_t> firstChild_;
    std::vector<std::uint16_t> childClass_;
    std::vector<std::uint32_t> childState_;
    std::vector<std::uint32_t> fail_;
    std::vector<std::uint32_t> id_;          // a literal that ends at this state, or kNone
    std::vector<std::uint32_t> sameLiteral_; // by id: another id of the same bytes, or kNone
    std::vector<std::uint32_t> suffix_;      // the nearest shorter state where one ends, 0 for none
    std::vector<bool> endsHere_;             // a literal ends at this state or at a suffix of it
    // Where it fits: every state's move on every class, the failure links
    // followed in advance, kEnds set on states that end a literal.
    std::vector<std::uint32_t> dense_;
    // The first bytes of the literals, when there are at most three of
    // them, repeated to fill the set; empty when any byte may begin one.
    std::vector<unsigned char> starts_;
};

} // namespace vq::filtering
