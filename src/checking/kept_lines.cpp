#include "checking/kept_lines.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace vq::checking {

namespace {

// Offset bits of a wide slot: rows must start below 1 TiB of kept text.
constexpr unsigned kWideOffsetBits = 40;
constexpr std::size_t kArenaLimit = (std::size_t(1) << kWideOffsetBits) - 2;
// A narrow slot keeps at least this many hash bits; an arena that would
// leave fewer gets wide slots.
constexpr unsigned kFewestNarrowTagBits = 2;
constexpr std::size_t kFirstArena = std::size_t(1) << 20;
constexpr std::size_t kFewestSlots = KeptLines::kFewestSlots;
// An index sized up front from the line total stops here (128 MiB); a list
// with more distinct lines grows it as it fills. Larger indexes made for a
// list of mostly repeats would only cost memory.
constexpr std::size_t kMostSlotsUpFront = std::size_t(1) << 24;

inline uint64_t load64(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline uint64_t load32(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// 64 x 64 -> 128-bit multiply, folded: every input bit reaches every output
// bit in one step, which is what makes short keys hash well cheaply.
inline uint64_t fold(uint64_t a, uint64_t b) {
    unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

constexpr uint64_t kMul0 = 0x9e3779b97f4a7c15ull;
constexpr uint64_t kMul1 = 0xc2b2ae3d27d4eb4full;
constexpr uint64_t kMul2 = 0x165667b19e3779f9ull;
constexpr uint64_t kMul3 = 0x27d4eb2f165667c5ull;

} // namespace

uint64_t hashLine(const char* p, std::size_t n) {
    const std::size_t length = n;
    if (n > 16 && n <= 32) {
        // Most addresses are this long: their first and last 16 bytes are
        // folded side by side, so two multiplies wait for each other where
        // the loop below would chain three.
        const uint64_t x = fold(load64(p) ^ kMul1, load64(p + 8) ^ kMul0);
        const uint64_t y = fold(load64(p + n - 16) ^ kMul2, load64(p + n - 8) ^ kMul3);
        return fold(x ^ kMul0, y ^ (uint64_t(length) * kMul1));
    }
    uint64_t h = kMul0 ^ (uint64_t(n) * kMul1);
    while (n > 16) {
        h = fold(load64(p) ^ kMul1, load64(p + 8) ^ h);
        p += 16;
        n -= 16;
    }
    uint64_t a = 0, b = 0;
    if (n >= 8) {
        a = load64(p);
        b = load64(p + n - 8);
    } else if (n >= 4) {
        a = load32(p);
        b = load32(p + n - 4);
    } else if (n > 0) {
        a = (uint64_t(static_cast<unsigned char>(p[0])) << 16) |
            (uint64_t(static_cast<unsigned char>(p[n / 2])) << 8) |
            uint64_t(static_cast<unsigned char>(p[n - 1]));
    }
    h = fold(a ^ kMul2, b ^ h ^ kMul3);
    return fold(h ^ kMul0, uint64_t(length) ^ kMul1);
}

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t roundUp(std::size_t bytes, std::size_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

// Arena and index are anonymous mappings of their own: a fresh index reads
// as zero without a pass over it, and clear() hands the memory straight back
// to the system. Large ones are aligned to huge pages and asked for them:
// lookups land at random all over both, and with 4 KiB pages nearly every
// one also misses the TLB and every 4 KiB touched is a page fault of its own.
// Where the kernel offers no huge pages the advice is ignored.
void* mapFresh(std::size_t& bytes) {
    const bool huge = bytes >= kHugePage;
    if (huge) bytes = roundUp(bytes, kHugePage);
    const std::size_t span = huge ? bytes + kHugePage : bytes;
    void* p = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    if (!huge) return p;
    auto* start = static_cast<char*>(p);
    auto* aligned =
        reinterpret_cast<char*>(roundUp(reinterpret_cast<std::uintptr_t>(start), kHugePage));
    if (aligned > start) ::munmap(start, static_cast<std::size_t>(aligned - start));
    if (aligned + bytes < start + span)
        ::munmap(aligned + bytes, static_cast<std::size_t>(start + span - (aligned + bytes)));
    ::madvise(aligned, bytes, MADV_HUGEPAGE);
    return aligned;
}

// A grown arena keeps its pages: they are moved, not copied, to the start of
// a fresh aligned mapping.
void* grow(void* old, std::size_t oldBytes, std::size_t& bytes) {
    void* p = mapFresh(bytes);
    if (old && ::mremap(old, oldBytes, oldBytes, MREMAP_MAYMOVE | MREMAP_FIXED, p) == MAP_FAILED) {
        ::munmap(p, bytes);
        throw std::bad_alloc();
    }
    return p;
}

} // namespace

void faultIn(char* start, std::size_t bytes) {
    if (bytes > 0) ::madvise(start, bytes, MADV_POPULATE_WRITE);
}

namespace {

void unmap(void* p, std::size_t bytes) {
    if (p) ::munmap(p, bytes);
}

std::size_t slotsFor(int64_t lines) {
    // Keep the index at most 70 % full: linear probing stays short there.
    std::size_t want = static_cast<std::size_t>(lines) / 7 * 10 + 16;
    std::size_t slots = kFewestSlots;
    while (slots < want && slots < kMostSlotsUpFront)
        slots <<= 1;
    return slots;
}

} // namespace

KeptLines::~KeptLines() {
    clear();
}

void KeptLines::clear() {
    dropIndex();
    unmap(arena_, capacity_);
    arena_ = nullptr;
    used_ = capacity_ = 0;
    rows_ = 0;
}

void KeptLines::dropIndex() {
    unmap(slots_, slotsMapped_);
    slots_ = nullptr;
    slotsMapped_ = 0;
    mask_ = 0;
}

void KeptLines::expectLines(int64_t lines, uint64_t bytes, uint64_t most) {
    if (lines <= 0) return;
    // Every kept row is a line of the list with CR LF in place of its line
    // end (at least one byte in the list, none after the last line), so the
    // list's size plus a byte a line is room for all of them: the arena is
    // mapped once, and only the pages written to are ever given memory. It
    // comes first, since its size decides the index's slots.
    const uint64_t room = std::min(bytes + static_cast<uint64_t>(lines) + 2, most);
    if (bytes > 0 && room < kArenaLimit && room > capacity_) {
        try {
            reserve(room);
        } catch (const std::bad_alloc&) {
            // A list larger than the memory may still have few distinct
            // lines: the arena then grows as they come.
        }
    }
    std::size_t slots = slotsFor(lines);
    // Wide or narrow, the index takes at most half of `most`.
    while (slots > kFewestSlots && (slots << 3) > most / 2)
        slots >>= 1;
    if (!slots_ || slots > mask_ + 1) resizeIndex(slots);
}

void KeptLines::restart(int64_t lines, uint64_t bytes) {
    used_ = 0;
    rows_ = 0;
    const uint64_t room = bytes + static_cast<uint64_t>(std::max<int64_t>(lines, 0)) + 2;
    if (room > capacity_ && room < kArenaLimit) reserve(room);
    const std::size_t slots = slotsFor(lines);
    // Offsets narrow enough for the arena as it now is, in slots already
    // mapped: the index is cleared where it stands. Fresh pages would be
    // cleared by the system, and given memory one by one.
    const unsigned need = static_cast<unsigned>(std::bit_width(capacity_));
    const bool narrow = !wideOnly_ && need + kFewestNarrowTagBits <= 32;
    if (!slots_ || narrow != (slotShift_ == 2) || (slots << slotShift_) > slotsMapped_) {
        resizeIndex(slots);
        return;
    }
    mask_ = slots - 1;
    std::memset(slots_, 0, slots << slotShift_);
}

void KeptLines::releaseTextBefore(std::size_t offset) {
    const std::size_t whole = std::min(offset, used_) / kHugePage * kHugePage;
    if (arena_ && whole > 0) ::madvise(arena_, whole, MADV_DONTNEED);
}

bool KeptLines::reserve(std::size_t bytes) {
    arena_ = static_cast<char*>(grow(arena_, capacity_, bytes));
    capacity_ = bytes;
    // Narrow slots hold offsets only up to their width: a larger arena
    // needs the index rebuilt with wider offsets.
    if (!slots_ || slotShift_ != 2 || (capacity_ >> offsetBits_) == 0) return false;
    resizeIndex(mask_ + 1);
    return true;
}

bool KeptLines::makeRoom(std::size_t need) {
    if (used_ > kArenaLimit || need > kArenaLimit - used_) throw std::bad_alloc();
    std::size_t cap = capacity_ ? capacity_ : kFirstArena;
    while (need > cap - used_)
        cap *= 2;
    return reserve(cap);
}

bool KeptLines::sameAt(std::size_t offset, std::string_view line) const {
    // Kept rows hold no CR, so a row equals the line exactly when the line's
    // bytes are followed by the row's CR: a longer row would have no CR
    // there, a shorter one would differ at its own CR.
    const std::size_t n = line.size();
    return offset + n + 2 <= used_ && arena_[offset + n] == '\r' &&
           std::memcmp(arena_ + offset, line.data(), n) == 0;
}

bool KeptLines::insert(std::string_view line, uint64_t hash) {
    if (!slots_) resizeIndex(slotsFor(rows_ + 1));
    // Grow before the index passes 70 % full.
    if (static_cast<std::size_t>(rows_ + 1) * 10 > (mask_ + 1) * 7) resizeIndex((mask_ + 1) * 2);
    return slotShift_ == 2 ? insertInto(static_cast<uint32_t*>(slots_), line, hash)
                           : insertInto(static_cast<uint64_t*>(slots_), line, hash);
}

template <class Slot>
bool KeptLines::insertInto(Slot* slots, std::string_view line, uint64_t hash) {
    const uint64_t tag = tagOf(hash);
    std::size_t i = hash & mask_;
    for (;;) {
        const uint64_t slot = slots[i];
        if (slot == 0) break;
        if ((slot >> offsetBits_) == tag && sameAt((slot & offsetMask_) - 1, line)) return false;
        i = (i + 1) & mask_;
    }
    // Only a new row needs room; growing the arena may rebuild the index
    // with wider offsets, and the line is then looked up in the new one.
    if (line.size() + 2 > capacity_ - used_ && makeRoom(line.size() + 2)) return insert(line, hash);
    const std::size_t offset = used_;
    append(line);
    slots[i] = static_cast<Slot>((tag << offsetBits_) | (uint64_t(offset) + 1));
    ++rows_;
    return true;
}

// The caller has made room.
void KeptLines::append(std::string_view line) {
    const std::size_t need = line.size() + 2;
    std::memcpy(arena_ + used_, line.data(), line.size());
    arena_[used_ + line.size()] = '\r';
    arena_[used_ + line.size() + 1] = '\n';
    used_ += need;
}

void KeptLines::resizeIndex(std::size_t slots) {
    // Offsets up to the arena's capacity must fit; what is left of a 4-byte
    // slot holds hash bits, if enough are left.
    const unsigned need = static_cast<unsigned>(std::bit_width(capacity_));
    const bool narrow = !wideOnly_ && need + kFewestNarrowTagBits <= 32;
    dropIndex();
    slotShift_ = narrow ? 2 : 3;
    offsetBits_ = narrow ? std::max(need, 1u) : kWideOffsetBits;
    tagBits_ = (narrow ? 32 : 64) - offsetBits_;
    offsetMask_ = (uint64_t(1) << offsetBits_) - 1;
    // Fresh anonymous pages read as zero: every slot starts free.
    std::size_t bytes = slots << slotShift_;
    void* fresh = mapFresh(bytes);
    if (narrow)
        rebuildInto(static_cast<uint32_t*>(fresh), slots - 1);
    else
        rebuildInto(static_cast<uint64_t*>(fresh), slots - 1);
    slots_ = fresh;
    slotsMapped_ = bytes;
    mask_ = slots - 1;
}

// The slots keep only part of each hash, so the rows are hashed again,
// walking the arena in order.
template <class Slot> void KeptLines::rebuildInto(Slot* slots, std::size_t mask) {
    std::size_t pos = 0;
    while (pos < used_) {
        const char* start = arena_ + pos;
        const auto* cr = static_cast<const char*>(std::memchr(start, '\r', used_ - pos));
        const std::size_t n = static_cast<std::size_t>(cr - start);
        const uint64_t hash = hash_(start, n);
        std::size_t i = hash & mask;
        while (slots[i] != 0)
            i = (i + 1) & mask;
        slots[i] = static_cast<Slot>((tagOf(hash) << offsetBits_) | (uint64_t(pos) + 1));
        pos += n + 2;
    }
}

} // namespace vq::checking
