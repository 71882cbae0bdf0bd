#pragma once
// The working grid of the list check: the distinct lines of a list in order
// of first appearance. Lines are packed one after another into one arena,
// each already followed by CR LF, so the arena is at once the grid and the
// text the whole-file saver writes. An open-addressing hash index over the
// arena finds an equal kept line in constant expected time, which gives the
// same answer as comparing a new line with every kept row in order: rows are
// distinct, so at most one of them can be equal.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vq::checking {

// The index's hash of a line's bytes.
uint64_t hashLine(const char* bytes, std::size_t size);

class KeptLines {
public:
    using LineHash = uint64_t (*)(const char* bytes, std::size_t size);

    KeptLines() = default;
    // Tests give a poor hash here, so that lookups run into rows with the
    // same hash and only the byte comparison tells them apart.
    explicit KeptLines(LineHash hash) : hash_(hash) {}
    ~KeptLines();
    KeptLines(const KeptLines&) = delete;
    KeptLines& operator=(const KeptLines&) = delete;

    // Keeps the line unless an equal one (same length, same bytes) is kept
    // already; returns whether it was kept. A line never holds a CR: the
    // text-file reader ends every line at one.
    bool insert(std::string_view line) { return insert(line, hashOf(line)); }
    // The same with the line's hash already known (hashOf).
    bool insert(std::string_view line, uint64_t hash);

    uint64_t hashOf(std::string_view line) const { return hash_(line.data(), line.size()); }
    // Starts loading the index slot where a line of this hash is looked up
    // first. A pass that hashes a few lines ahead hides most of the memory
    // latency of a large index this way.
    void prefetch(uint64_t hash) const {
        if (slots_) __builtin_prefetch(slots_ + (hash & mask_));
    }

    // Number of kept rows.
    int64_t size() const { return rows_; }
    bool empty() const { return rows_ == 0; }

    // Every kept row in order, each followed by CR LF.
    std::string_view text() const { return {arena_, used_}; }

    // Sizes the index for a list of about this many lines, so that a typical
    // list is indexed without rebuilding the index as it fills.
    void expectLines(int64_t lines);

    // Empties the grid and gives its memory back.
    void clear();

private:
    void append(std::string_view line);
    void resizeIndex(std::size_t slots);
    bool sameAt(std::size_t offset, std::string_view line) const;

    LineHash hash_ = &hashLine;
    char* arena_ = nullptr;
    std::size_t used_ = 0, capacity_ = 0;
    // Each slot: the row's arena offset + 1 in the low 40 bits (0 = free),
    // 24 more bits of its hash above, so most probes never touch the arena.
    uint64_t* slots_ = nullptr;
    std::size_t mask_ = 0; // slot count - 1; slot count is a power of two
    int64_t rows_ = 0;
};

} // namespace vq::checking
