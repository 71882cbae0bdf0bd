#include "checking/partitions.h"

#include <algorithm>
#include <cstring>

namespace vq::checking {

namespace {

// A partition checked in this many bytes of rows and index keeps them in
// the caches of one core and the shared cache: a lookup then waits for no
// main memory, where one index over a large list misses the caches (and
// the address translations) on nearly every line.
constexpr std::size_t kCacheSized = std::size_t(4) << 20;
constexpr std::size_t kMostPartitions = 4096;
// Cut again, a partition becomes at most this many.
constexpr std::size_t kMostChildren = 64;
// A partition still too large after this many cuts holds few distinct
// lines too long for the room, or a hash that cannot tell them apart: it is
// checked as it is.
constexpr unsigned kDeepest = 6;
// Chunks much smaller would cost more in their records and system calls
// than in their bytes.
constexpr std::size_t kSmallestChunk = 4096;
constexpr std::size_t kLargestChunk = std::size_t(64) << 10;
constexpr std::size_t kBitChunk = 4096;
// How many lines ahead a partition's lookups ask for their slots.
constexpr std::size_t kAhead = 8;

// Which of `count` partitions a hash falls in at a depth: each depth mixes
// the hash with its own seed, so a partition cut again spreads over its
// children, and the bits the index takes from a hash stay spread inside
// every partition.
std::size_t pick(uint64_t hash, unsigned depth, std::size_t count) {
    uint64_t x = hash ^ (0x9e3779b97f4a7c15ull * (depth + 1));
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return static_cast<std::size_t>((static_cast<unsigned __int128>(x) * count) >> 64);
}

// Calls f(line) for each line of a chunk of whole lines, each ended by CR.
template <class F> void forEachLine(std::string_view bytes, F f) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        const auto* cr = static_cast<const char*>(std::memchr(p, '\r', end - p));
        if (!f(std::string_view(p, static_cast<std::size_t>(cr - p)))) return;
        p = cr + 1;
    }
}

// However small the memory, the chunks being filled take at most a few MiB.
std::size_t mostPartitions(std::size_t storeMemory) {
    return std::min(kMostPartitions,
                    std::max(storeMemory / 2, std::size_t(4) << 20) / kSmallestChunk);
}

} // namespace

// ==== chunk store ==========================================================

ChunkStore::ChunkStore(std::string target, std::size_t memoryLimit)
    : target_(std::move(target)), limit_(memoryLimit) {}

ChunkStore::~ChunkStore() = default;

std::size_t ChunkStore::addStream(std::size_t chunkBytes) {
    streams_.emplace_back();
    streams_.back().chunkBytes = std::max(chunkBytes, kSmallestChunk);
    return streams_.size() - 1;
}

uint64_t ChunkStore::toFile(const char* data, std::size_t size) {
    if (!file_) file_.emplace(target_);
    return file_->append(data, size);
}

// The full tail becomes a chunk: in memory while the store's memory allows,
// else written out, its buffer kept for the next bytes.
void ChunkStore::putAway(Stream& s) {
    if (s.used == 0) return;
    Chunk c;
    c.size = s.used;
    if (inMemory_ <= limit_) {
        c.memory = std::move(s.tail);
        c.capacity = s.chunkBytes;
    } else {
        c.at = toFile(s.tail.get(), s.used);
    }
    s.used = 0;
    s.chunks.push_back(std::move(c));
}

void ChunkStore::appendLine(std::size_t stream, std::string_view line) {
    Stream& s = streams_[stream];
    const std::size_t n = line.size() + 1;
    if (s.used + n > s.chunkBytes) putAway(s);
    if (n > s.chunkBytes) {
        // A line longer than a chunk is a chunk of its own.
        Chunk c;
        c.size = c.capacity = n;
        if (inMemory_ + n <= limit_) {
            c.memory.reset(new char[n]);
            std::memcpy(c.memory.get(), line.data(), line.size());
            c.memory[n - 1] = '\r';
            inMemory_ += n;
        } else {
            c.at = toFile(line.data(), line.size());
            toFile("\r", 1);
        }
        s.chunks.push_back(std::move(c));
        return;
    }
    if (!s.tail) {
        s.tail.reset(new char[s.chunkBytes]);
        inMemory_ += s.chunkBytes;
    }
    char* d = s.tail.get() + s.used;
    std::memcpy(d, line.data(), line.size());
    d[line.size()] = '\r';
    s.used += n;
}

void ChunkStore::appendBytes(std::size_t stream, const char* data, std::size_t size) {
    Stream& s = streams_[stream];
    while (size > 0) {
        if (!s.tail) {
            s.tail.reset(new char[s.chunkBytes]);
            inMemory_ += s.chunkBytes;
        }
        const std::size_t k = std::min(size, s.chunkBytes - s.used);
        std::memcpy(s.tail.get() + s.used, data, k);
        s.used += k;
        data += k;
        size -= k;
        if (s.used == s.chunkBytes) putAway(s);
    }
}

void ChunkStore::seal(std::size_t stream) {
    Stream& s = streams_[stream];
    putAway(s);
    if (s.tail) {
        s.tail.reset();
        inMemory_ -= s.chunkBytes;
    }
}

bool ChunkStore::chunk(std::size_t stream, std::size_t k, std::vector<char>& buffer,
                       std::string_view& bytes) {
    const Stream& s = streams_[stream];
    if (k >= s.chunks.size()) return false;
    const Chunk& c = s.chunks[k];
    if (c.memory) {
        bytes = {c.memory.get(), c.size};
    } else {
        if (buffer.size() < c.size) buffer.resize(c.size);
        file_->read(c.at, buffer.data(), c.size);
        bytes = {buffer.data(), c.size};
    }
    return true;
}

void ChunkStore::release(std::size_t stream) {
    Stream& s = streams_[stream];
    for (const Chunk& c : s.chunks)
        if (c.memory) inMemory_ -= c.capacity;
    std::vector<Chunk>().swap(s.chunks);
    if (s.tail) {
        s.tail.reset();
        inMemory_ -= s.chunkBytes;
    }
    s.used = 0;
}

// ==== partitions ===========================================================

std::size_t Partitions::countFor(uint64_t bytes, uint64_t lines, std::size_t room) {
    // A partition's rows take its lines' bytes and one more a line; its
    // index, at most 70 % full and a power of two, up to 12 bytes a line.
    const uint64_t need = bytes + lines * 13;
    const uint64_t each = std::max<uint64_t>(std::min(room, kCacheSized), 1);
    return static_cast<std::size_t>(
        std::clamp<uint64_t>((need + each - 1) / each, 1, kMostPartitions));
}

Partitions::Partitions(std::string target, std::size_t count, std::size_t storeMemory,
                       std::size_t room)
    : room_(room), store_(std::move(target), storeMemory),
      roots_(std::clamp<std::size_t>(count, 1, mostPartitions(storeMemory))) {
    // Half of the store's memory is for the chunks being filled, one a
    // partition; the other half keeps full ones out of the file.
    chunkBytes_ = std::clamp(storeMemory / 2 / roots_, kSmallestChunk, kLargestChunk);
    parts_.resize(roots_);
    for (Part& p : parts_)
        p.lines = store_.addStream(chunkBytes_);
}

void Partitions::add(std::string_view line, uint64_t hash, bool keptRow) {
    Part& p = parts_[pick(hash, 0, roots_)];
    store_.appendLine(p.lines, line);
    ++p.count;
    p.bytes += line.size() + 1;
    if (keptRow) ++p.kept;
}

void Partitions::endOfLines() {
    for (std::size_t i = 0; i < roots_; ++i)
        store_.seal(parts_[i].lines);
}

bool Partitions::decide(KeptLines& grid, const std::atomic<bool>& stop,
                        const std::function<void(int64_t)>& decided) {
    for (std::size_t i = 0; i < roots_; ++i)
        if (!decidePart(i, grid, stop, decided)) return false;
    return true;
}

bool Partitions::decidePart(std::size_t index, KeptLines& grid, const std::atomic<bool>& stop,
                            const std::function<void(int64_t)>& decided) {
    const std::size_t lines = parts_[index].lines;
    const int64_t keptRows = parts_[index].kept;
    const unsigned depth = parts_[index].depth;
    grid.restart(parts_[index].count, parts_[index].bytes);
    const std::size_t bits = store_.addStream(std::min(chunkBytes_, kBitChunk));
    // One bit a later line, the first line's in the lowest bit.
    unsigned char byte = 0;
    unsigned filled = 0;
    int64_t i = 0, kept = 0;
    bool stopped = false, tooLarge = false;
    std::string_view bytes;
    for (std::size_t k = 0; !stopped && !tooLarge && store_.chunk(lines, k, buffer_, bytes); ++k) {
        // The chunk's lines are hashed first, so that each line's slot is
        // asked for a few lines before it is looked up.
        hashed_.clear();
        forEachLine(bytes, [&](std::string_view line) {
            hashed_.push_back({line, grid.hashOf(line)});
            return true;
        });
        for (std::size_t j = 0; j < kAhead && j < hashed_.size(); ++j)
            grid.prefetch(hashed_[j].hash);
        for (std::size_t j = 0; j < hashed_.size() && !stopped && !tooLarge; ++j) {
            if (j + kAhead < hashed_.size()) grid.prefetch(hashed_[j + kAhead].hash);
            if (j + kAhead / 2 < hashed_.size()) {
                const Hashed& later = hashed_[j + kAhead / 2];
                grid.prefetchRow(later.hash, later.line.size());
            }
            const std::string_view line = hashed_[j].line;
            const bool first = grid.insert(line, hashed_[j].hash);
            if (i++ >= keptRows) {
                byte |= static_cast<unsigned char>(first) << filled;
                kept += first;
                if (++filled == 8) {
                    store_.appendBytes(bits, reinterpret_cast<const char*>(&byte), 1);
                    byte = 0;
                    filled = 0;
                }
            }
            if ((i & 1023) == 0 && stop.load(std::memory_order_relaxed)) stopped = true;
            // Cutting again can only help while the rows are more than one.
            if (grid.memoryUsed() > room_ && grid.size() >= 2 && depth < kDeepest) tooLarge = true;
        }
    }
    if (stopped) return false;
    if (tooLarge) {
        store_.release(bits);
        split(index, grid);
        const std::size_t first = parts_[index].firstChild, n = parts_[index].children;
        for (std::size_t c = first; c < first + n; ++c)
            if (!decidePart(c, grid, stop, decided)) return false;
        return true;
    }
    if (filled > 0) store_.appendBytes(bits, reinterpret_cast<const char*>(&byte), 1);
    store_.seal(bits);
    store_.release(lines);
    Part& p = parts_[index];
    p.bits = bits;
    kept_ += kept;
    decided(p.count - p.kept);
    return true;
}

void Partitions::split(std::size_t index, const KeptLines& grid) {
    const Part& p = parts_[index];
    const std::size_t children =
        std::clamp<std::size_t>(countFor(p.bytes, static_cast<uint64_t>(p.count), room_), 2,
                                std::min(kMostChildren, mostPartitions(0)));
    const std::size_t first = parts_.size();
    const unsigned depth = p.depth + 1;
    const std::size_t lines = p.lines;
    const int64_t keptRows = p.kept;
    for (std::size_t c = 0; c < children; ++c) {
        Part child;
        child.depth = depth;
        child.lines = store_.addStream(chunkBytes_);
        parts_.push_back(std::move(child));
    }
    int64_t i = 0;
    std::string_view bytes;
    for (std::size_t k = 0; store_.chunk(lines, k, buffer_, bytes); ++k) {
        forEachLine(bytes, [&](std::string_view line) {
            Part& to = parts_[first + pick(grid.hashOf(line), depth, children)];
            store_.appendLine(to.lines, line);
            ++to.count;
            to.bytes += line.size() + 1;
            if (i++ < keptRows) ++to.kept;
            return true;
        });
    }
    for (std::size_t c = first; c < first + children; ++c)
        store_.seal(parts_[c].lines);
    store_.release(lines);
    parts_[index].firstChild = first;
    parts_[index].children = children;
    ++splits_;
}

std::size_t Partitions::leafOf(uint64_t hash) const {
    std::size_t i = pick(hash, 0, roots_);
    while (parts_[i].children > 0)
        i = parts_[i].firstChild + pick(hash, parts_[i].depth + 1, parts_[i].children);
    return i;
}

bool Partitions::isFirst(uint64_t hash, bool& consistent) {
    Part& p = parts_[leafOf(hash)];
    if (p.asked >= p.count - p.kept) {
        consistent = false;
        return false;
    }
    if (p.bit == 0 && p.pos == p.bytesNow.size()) {
        if (!store_.chunk(p.bits, p.chunk++, p.buffer, p.bytesNow)) {
            consistent = false;
            return false;
        }
        p.pos = 0;
    }
    const bool first = (static_cast<unsigned char>(p.bytesNow[p.pos]) >> p.bit) & 1;
    if (++p.bit == 8) {
        p.bit = 0;
        ++p.pos;
    }
    ++p.asked;
    return first;
}

bool Partitions::allAsked() const {
    for (const Part& p : parts_)
        if (p.children == 0 && p.asked != p.count - p.kept) return false;
    return true;
}

PartitionReport Partitions::report() const {
    return {static_cast<int>(roots_), splits_, store_.scratchBytes()};
}

} // namespace vq::checking
