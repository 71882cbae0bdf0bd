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

// Gives memory to the mapped but untouched pages of [start, start + bytes),
// as writing them would, without changing a byte. Another thread can do this
// ahead of the rows: fresh memory is zeroed as it is handed out, which is
// slow on a virtual machine. Where the kernel cannot, nothing happens.
void faultIn(char* start, std::size_t bytes);

class KeptLines {
public:
    using LineHash = uint64_t (*)(const char* bytes, std::size_t size);

    KeptLines() = default;
    // Tests give a poor hash here, so that lookups run into rows with the
    // same hash and only the byte comparison tells them apart, and ask for
    // the wide slots that only lists of gigabytes would otherwise get.
    explicit KeptLines(LineHash hash, bool wideSlots = false) : hash_(hash), wideOnly_(wideSlots) {}
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
    LineHash hashFunction() const { return hash_; }
    bool wideSlotsOnly() const { return wideOnly_; }
    // Starts loading the index slot where a line of this hash is looked up
    // first. A pass that hashes a few lines ahead hides most of the memory
    // latency of a large index this way.
    void prefetch(uint64_t hash) const {
        if (slots_)
            __builtin_prefetch(static_cast<const char*>(slots_) + ((hash & mask_) << slotShift_));
    }

    // Once the slot prefetch has had time to arrive: starts loading the kept
    // row the slot points at, when its hash bits match. A repeated line is
    // then compared with its first occurrence without a second wait on
    // memory. Only a hint: the slot may change before the line is looked up.
    void prefetchRow(uint64_t hash, std::size_t size) const {
        if (!slots_) return;
        const std::size_t i = hash & mask_;
        const uint64_t slot = slotShift_ == 2 ? static_cast<const uint32_t*>(slots_)[i]
                                              : static_cast<const uint64_t*>(slots_)[i];
        if (slot == 0 || (slot >> offsetBits_) != tagOf(hash)) return;
        const char* row = arena_ + ((slot & offsetMask_) - 1);
        __builtin_prefetch(row);
        __builtin_prefetch(row + size);
    }

    // Number of kept rows.
    int64_t size() const { return rows_; }
    bool empty() const { return rows_ == 0; }

    // Every kept row in order, each followed by CR LF.
    std::string_view text() const { return {arena_, used_}; }
    // The arena: where the rows go, and how many bytes of rows it holds
    // before it is mapped anew.
    char* room() const { return arena_; }
    std::size_t roomBytes() const { return capacity_; }
    // The index's memory, and how many rows it takes before it is rebuilt.
    char* indexStart() const { return static_cast<char*>(slots_); }
    std::size_t indexBytes() const { return slots_ ? (mask_ + 1) << slotShift_ : 0; }
    int64_t rowsBeforeRebuild() const {
        return slots_ ? static_cast<int64_t>((mask_ + 1) * 7 / 10) : 0;
    }

    // Sizes the index for a list of about this many lines, so that a typical
    // list is indexed without rebuilding the index as it fills, and, given
    // the list's size in bytes, maps room for all its rows at once. Neither
    // the room nor the index is made larger than `most` bytes.
    void expectLines(int64_t lines, uint64_t bytes = 0, uint64_t most = UINT64_MAX);

    // The memory the rows and the index take.
    std::size_t memoryUsed() const { return used_ + indexBytes(); }
    // The index's size in bytes once the next new row has made it grow, or
    // 0 when that row fits the index as it is.
    std::size_t indexBytesAfterNextRow() const {
        if (slots_ && static_cast<std::size_t>(rows_ + 1) * 10 <= (mask_ + 1) * 7) return 0;
        return slots_ ? indexBytes() * 2 : std::size_t(kFewestSlots) << 3;
    }
    static constexpr std::size_t kFewestSlots = 1024;

    // Empties the grid for a list of at most this many lines and bytes,
    // keeping the memory it has: the next list's rows and index go where the
    // last ones were, without asking the system for fresh pages.
    void restart(int64_t lines, uint64_t bytes);
    // Empties the grid and gives its memory back.
    void clear();
    // Gives the index's memory back and keeps the rows; a later insert
    // builds the index again.
    void dropIndex();
    // Gives back the memory of the rows before `offset` of text(), whose
    // bytes then read as zero; the rows stay counted. Only clear() or
    // restart() may follow.
    void releaseTextBefore(std::size_t offset);

private:
    template <class Slot> bool insertInto(Slot* slots, std::string_view line, uint64_t hash);
    template <class Slot> void rebuildInto(Slot* slots, std::size_t mask);
    uint64_t tagOf(uint64_t hash) const { return tagBits_ ? hash >> (64 - tagBits_) : 0; }
    void append(std::string_view line);
    // Both return whether the index was rebuilt.
    bool reserve(std::size_t bytes);
    bool makeRoom(std::size_t need);
    void resizeIndex(std::size_t slots);
    bool sameAt(std::size_t offset, std::string_view line) const;

    LineHash hash_ = &hashLine;
    bool wideOnly_ = false;
    char* arena_ = nullptr;
    std::size_t used_ = 0, capacity_ = 0;
    // Each slot holds a row's arena offset + 1 in its low offsetBits_ bits
    // (0 = free) and the top bits of the row's hash above them, so most
    // probes never touch the arena. Slots are 4 bytes while the arena's
    // offsets leave room for a few bits of hash there, 8 bytes beyond.
    void* slots_ = nullptr;
    std::size_t slotsMapped_ = 0; // bytes mapped for the index: restart() may use fewer
    std::size_t mask_ = 0;        // slot count - 1; slot count is a power of two
    unsigned slotShift_ = 3;      // log2 of the slot's size in bytes
    unsigned offsetBits_ = 0;     // bits of a slot that hold the offset
    unsigned tagBits_ = 0;        // bits of a slot that hold hash bits
    uint64_t offsetMask_ = 0;
    int64_t rows_ = 0;
};

} // namespace vq::checking
