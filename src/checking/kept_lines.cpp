#include "checking/kept_lines.h"

#include <cstring>
#include <new>
#include <sys/mman.h>

namespace vq::checking {

namespace {

constexpr std::size_t kOffsetBits = 40;
constexpr uint64_t kOffsetMask = (uint64_t(1) << kOffsetBits) - 1;
// Rows must start below this offset to fit a slot (1 TiB of kept text).
constexpr std::size_t kArenaLimit = std::size_t(kOffsetMask) - 1;
constexpr std::size_t kFirstArena = std::size_t(1) << 20;
constexpr std::size_t kFewestSlots = 1024;
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

// Arena and index are anonymous mappings of their own: a fresh index reads
// as zero without a pass over it, a grown arena is remapped rather than
// copied, and clear() hands the memory straight back to the system. (Huge
// pages were tried: the kernel's compaction for them cost more system time
// than the TLB misses they saved.)
void* mapOrGrow(void* old, std::size_t oldBytes, std::size_t bytes) {
    void* p =
        old ? ::mremap(old, oldBytes, bytes, MREMAP_MAYMOVE)
            : ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return p;
}

void unmap(void* p, std::size_t bytes) {
    if (p) ::munmap(p, bytes);
}

inline uint64_t tagOf(uint64_t hash) {
    return hash >> kOffsetBits;
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
    unmap(arena_, capacity_);
    unmap(slots_, slots_ ? (mask_ + 1) * sizeof(uint64_t) : 0);
    arena_ = nullptr;
    slots_ = nullptr;
    used_ = capacity_ = 0;
    mask_ = 0;
    rows_ = 0;
}

void KeptLines::expectLines(int64_t lines) {
    if (lines <= 0) return;
    std::size_t slots = slotsFor(lines);
    if (!slots_ || slots > mask_ + 1) resizeIndex(slots);
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
    if (!slots_) resizeIndex(kFewestSlots);
    // Grow before the index passes 70 % full.
    if (static_cast<std::size_t>(rows_ + 1) * 10 > (mask_ + 1) * 7) resizeIndex((mask_ + 1) * 2);

    const uint64_t tag = tagOf(hash);
    std::size_t i = hash & mask_;
    for (;;) {
        const uint64_t slot = slots_[i];
        if (slot == 0) break;
        if ((slot >> kOffsetBits) == tag && sameAt((slot & kOffsetMask) - 1, line)) return false;
        i = (i + 1) & mask_;
    }
    const std::size_t offset = used_;
    append(line);
    slots_[i] = (tag << kOffsetBits) | (uint64_t(offset) + 1);
    ++rows_;
    return true;
}

void KeptLines::append(std::string_view line) {
    const std::size_t need = line.size() + 2;
    if (used_ > kArenaLimit || need > kArenaLimit - used_) throw std::bad_alloc();
    if (need > capacity_ - used_) {
        std::size_t cap = capacity_ ? capacity_ : kFirstArena;
        while (need > cap - used_)
            cap *= 2;
        arena_ = static_cast<char*>(mapOrGrow(arena_, capacity_, cap));
        capacity_ = cap;
    }
    std::memcpy(arena_ + used_, line.data(), line.size());
    arena_[used_ + line.size()] = '\r';
    arena_[used_ + line.size() + 1] = '\n';
    used_ += need;
}

void KeptLines::resizeIndex(std::size_t slots) {
    // Fresh anonymous pages read as zero: every slot starts free.
    auto* fresh = static_cast<uint64_t*>(mapOrGrow(nullptr, 0, slots * sizeof(uint64_t)));
    const std::size_t mask = slots - 1;
    // The slots keep only part of each hash, so the rows are hashed again,
    // walking the arena in order.
    std::size_t pos = 0;
    while (pos < used_) {
        const char* start = arena_ + pos;
        const auto* cr = static_cast<const char*>(std::memchr(start, '\r', used_ - pos));
        const std::size_t n = static_cast<std::size_t>(cr - start);
        const uint64_t hash = hash_(start, n);
        std::size_t i = hash & mask;
        while (fresh[i] != 0)
            i = (i + 1) & mask;
        fresh[i] = (tagOf(hash) << kOffsetBits) | (uint64_t(pos) + 1);
        pos += n + 2;
    }
    unmap(slots_, slots_ ? (mask_ + 1) * sizeof(uint64_t) : 0);
    slots_ = fresh;
    mask_ = mask;
}

} // namespace vq::checking
