#include "checking/partitions.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <utility>

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
// How many lines ahead a partition's lookups ask for their slots.
constexpr std::size_t kAhead = 8;

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

namespace {
constexpr std::size_t kMapping = std::size_t(32) << 20;
} // namespace

ChunkStore::ChunkStore(std::string target, std::size_t memoryLimit, std::size_t chunkBytes)
    : target_(std::move(target)), limit_(memoryLimit),
      chunkBytes_(std::clamp(chunkBytes, kSmallestChunk, kLargestChunk)) {}

ChunkStore::~ChunkStore() {
    for (const auto& chunks : chunks_)
        for (const Chunk& c : chunks)
            if (c.memory && !c.pooled) delete[] c.memory;
    for (const auto& [start, bytes] : mappings_)
        ::munmap(start, bytes);
    if (spare_) ::munmap(spare_, kMapping);
}

void ChunkStore::prepare() {
    {
        std::lock_guard lock(spareMutex_);
        if (spare_) return;
    }
    if (inMemory_.load(std::memory_order_relaxed) + 2 * kMapping > limit_) return;
    void* p = ::mmap(nullptr, kMapping, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    ::madvise(p, kMapping, MADV_POPULATE_WRITE);
    std::lock_guard lock(spareMutex_);
    spare_ = static_cast<char*>(p);
}

std::size_t ChunkStore::addStream() {
    tails_.emplace_back();
    chunks_.emplace_back();
    return tails_.size() - 1;
}

char* ChunkStore::takeBlock() {
    ++blocksOut_;
    if (!freeBlocks_.empty()) {
        char* b = freeBlocks_.back();
        freeBlocks_.pop_back();
        return b;
    }
    if (static_cast<std::size_t>(carveEnd_ - carve_) < chunkBytes_) {
        // Small pages: the chunks are written and read in order, so their
        // pages cost no misses of the address translation, and huge pages
        // can cost far more to get than they save, when the system must
        // first gather free memory into them.
        void* p;
        {
            std::lock_guard lock(spareMutex_);
            p = std::exchange(spare_, nullptr);
        }
        if (!p)
            p = ::mmap(nullptr, kMapping, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1,
                       0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        carve_ = static_cast<char*>(p);
        carveEnd_ = carve_ + kMapping;
        mappings_.emplace_back(carve_, kMapping);
    }
    char* b = carve_;
    carve_ += chunkBytes_;
    return b;
}

void ChunkStore::giveBlock(char* block) {
    freeBlocks_.push_back(block);
    // With every block back, the mappings go back to the system: the
    // memory is the saved file's pages' next.
    if (--blocksOut_ == 0) {
        for (const auto& [start, bytes] : mappings_)
            ::munmap(start, bytes);
        mappings_.clear();
        freeBlocks_.clear();
        carve_ = carveEnd_ = nullptr;
    }
}

uint64_t ChunkStore::toFile(const char* data, std::size_t size) {
    if (!file_) file_.emplace(target_);
    return file_->append(data, size);
}

void ChunkStore::newTail(Tail& t) {
    t.data = takeBlock();
    t.capacity = static_cast<uint32_t>(chunkBytes_);
    t.used = 0;
    inMemory_ += chunkBytes_;
}

void ChunkStore::freeChunk(const Chunk& c) {
    if (!c.memory) return;
    inMemory_ -= c.capacity;
    if (c.pooled)
        giveBlock(c.memory);
    else
        delete[] c.memory;
}

// The tail becomes a chunk: in memory while the store's memory allows,
// else written out, its block kept for the next bytes.
void ChunkStore::putAway(std::size_t stream) {
    Tail& t = tails_[stream];
    if (t.used == 0) return;
    Chunk c;
    c.size = t.used;
    if (inMemory_ <= limit_) {
        c.memory = t.data;
        c.pooled = true;
        c.capacity = chunkBytes_;
        t.data = nullptr;
        t.capacity = 0;
    } else {
        c.at = toFile(t.data, t.used);
    }
    t.used = 0;
    chunks_[stream].push_back(c);
}

// The line did not fit the tail (or there was none).
void ChunkStore::appendLong(std::size_t stream, std::string_view line) {
    const std::size_t n = line.size() + 1;
    putAway(stream);
    Tail& t = tails_[stream];
    if (n <= chunkBytes_) {
        if (!t.data) newTail(t);
        std::memcpy(t.data, line.data(), line.size());
        t.data[line.size()] = '\r';
        t.used = static_cast<uint32_t>(n);
        return;
    }
    // A line longer than a chunk is a chunk of its own.
    Chunk c;
    c.size = c.capacity = n;
    if (inMemory_ + n <= limit_) {
        c.memory = new char[n];
        std::memcpy(c.memory, line.data(), line.size());
        c.memory[n - 1] = '\r';
        inMemory_ += n;
    } else {
        c.at = toFile(line.data(), line.size());
        toFile("\r", 1);
    }
    chunks_[stream].push_back(c);
}

void ChunkStore::appendBytes(std::size_t stream, const char* data, std::size_t size) {
    Tail& t = tails_[stream];
    t.bytes += size;
    while (size > 0) {
        if (!t.data) newTail(t);
        const std::size_t k = std::min<std::size_t>(size, t.capacity - t.used);
        std::memcpy(t.data + t.used, data, k);
        t.used += static_cast<uint32_t>(k);
        data += k;
        size -= k;
        if (t.used == t.capacity) putAway(stream);
    }
}

void ChunkStore::seal(std::size_t stream) {
    Tail& t = tails_[stream];
    if (t.used > 0 && t.used <= chunkBytes_ / 2 && inMemory_ <= limit_) {
        // A last chunk barely filled keeps only what it holds.
        Chunk c;
        c.size = c.capacity = t.used;
        c.memory = new char[t.used];
        std::memcpy(c.memory, t.data, t.used);
        inMemory_ += t.used;
        chunks_[stream].push_back(c);
        t.used = 0;
    }
    putAway(stream);
    if (t.data) {
        giveBlock(t.data);
        inMemory_ -= chunkBytes_;
        t.data = nullptr;
        t.capacity = 0;
    }
}

bool ChunkStore::chunk(std::size_t stream, std::size_t k, std::vector<char>& buffer,
                       std::string_view& bytes) {
    const std::vector<Chunk>& chunks = chunks_[stream];
    if (k >= chunks.size()) return false;
    const Chunk& c = chunks[k];
    if (c.memory) {
        bytes = {c.memory, c.size};
    } else {
        if (buffer.size() < c.size) buffer.resize(c.size);
        file_->read(c.at, buffer.data(), c.size);
        bytes = {buffer.data(), c.size};
    }
    return true;
}

void ChunkStore::release(std::size_t stream) {
    for (const Chunk& c : chunks_[stream])
        freeChunk(c);
    std::vector<Chunk>().swap(chunks_[stream]);
    Tail& t = tails_[stream];
    if (t.data) {
        giveBlock(t.data);
        inMemory_ -= chunkBytes_;
        t.data = nullptr;
        t.capacity = 0;
    }
    t.used = 0;
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

namespace {
// Half of the store's memory is for the chunks being filled, one a
// partition; the other half keeps full ones out of the file.
std::size_t chunkFor(std::size_t storeMemory, std::size_t partitions) {
    return std::clamp(storeMemory / 2 / partitions, kSmallestChunk, kLargestChunk);
}
} // namespace

Partitions::Partitions(std::string target, std::size_t count, std::size_t storeMemory,
                       std::size_t room)
    : room_(room), roots_(std::clamp<std::size_t>(count, 1, mostPartitions(storeMemory))),
      store_(std::move(target), storeMemory, chunkFor(storeMemory, roots_)) {
    parts_.resize(roots_);
    for (Part& p : parts_)
        p.lines = store_.addStream();
}

void Partitions::endOfLines() {
    for (std::size_t i = 0; i < roots_; ++i) {
        Part& p = parts_[i];
        store_.seal(p.lines);
        p.count = store_.lines(p.lines);
        p.bytes = store_.bytes(p.lines);
    }
}

bool Partitions::decide(KeptLines& grid, const std::atomic<bool>& stop,
                        const std::function<void(int64_t)>& decided) {
    // Every stream is made before the threads start: while they run, the
    // store's lists keep their places.
    for (std::size_t i = 0; i < roots_; ++i)
        parts_[i].bits = store_.addStream();
    std::atomic<std::size_t> next{0};
    std::atomic<int64_t> done{0};
    std::atomic<bool> halt{false};
    std::vector<std::size_t> tooLarge;
    std::mutex tooLargeMutex;
    std::exception_ptr failure;
    auto work = [&](Decider& d, bool reporting) {
        for (std::size_t i; !halt.load() && !stop.load(std::memory_order_acquire) &&
                            (i = next.fetch_add(1)) < roots_;) {
            const Verdict v = decideOne(i, d, stop);
            if (v == Verdict::Stopped) {
                halt = true;
            } else if (v == Verdict::TooLarge) {
                std::lock_guard lock(tooLargeMutex);
                tooLarge.push_back(i);
            } else {
                done += parts_[i].count - parts_[i].kept;
            }
            if (reporting) decided(done.exchange(0));
        }
    };
    // The partitions are shared out between this thread and one more, each
    // with a grid of its own: on two cores the deciding takes half as long.
    KeptLines second(grid.hashFunction(), grid.wideSlotsOnly());
    Decider mine{grid}, other{second};
    std::thread helper;
    if (roots_ > 1) {
        try {
            helper = std::thread([&] {
                try {
                    work(other, false);
                } catch (...) {
                    std::lock_guard lock(tooLargeMutex);
                    failure = std::current_exception();
                    halt = true;
                }
            });
        } catch (const std::system_error&) {
            // No thread: this one decides them all.
        }
    }
    try {
        work(mine, true);
    } catch (...) {
        halt = true;
        if (helper.joinable()) helper.join();
        throw;
    }
    if (helper.joinable()) helper.join();
    if (failure) std::rethrow_exception(failure);
    if (stop.load(std::memory_order_acquire)) return false;
    decided(done.exchange(0));
    // Partitions too large for the room are cut again here, one at a time.
    std::sort(tooLarge.begin(), tooLarge.end());
    for (std::size_t i : tooLarge)
        if (!decideSplit(i, mine, stop, decided)) return false;
    cursors_.assign(parts_.size(), Cursor{});
    for (std::size_t i = 0; i < parts_.size(); ++i)
        if (parts_[i].children == 0) cursors_[i].left = parts_[i].count - parts_[i].kept;
    return true;
}

bool Partitions::decideSplit(std::size_t index, Decider& d, const std::atomic<bool>& stop,
                             const std::function<void(int64_t)>& decided) {
    store_.release(parts_[index].bits);
    // The rows that did not fit give their memory back before the lines
    // are cut again.
    d.grid.clear();
    if (!split(index, d.grid, stop)) return false;
    const std::size_t first = parts_[index].firstChild, n = parts_[index].children;
    for (std::size_t c = first; c < first + n; ++c) {
        parts_[c].bits = store_.addStream();
        const Verdict v = decideOne(c, d, stop);
        if (v == Verdict::Stopped) return false;
        if (v == Verdict::TooLarge && !decideSplit(c, d, stop, decided)) return false;
        if (v == Verdict::Done) decided(parts_[c].count - parts_[c].kept);
    }
    return true;
}

Partitions::Verdict Partitions::decideOne(std::size_t index, Decider& d,
                                          const std::atomic<bool>& stop) {
    KeptLines& grid = d.grid;
    const Part& p = parts_[index];
    grid.restart(p.count, p.bytes);
    // One bit a later line, the first line's in the lowest bit.
    d.bits.clear();
    unsigned char byte = 0;
    unsigned filled = 0;
    int64_t i = 0, kept = 0;
    std::string_view bytes;
    for (std::size_t k = 0; store_.chunk(p.lines, k, d.buffer, bytes); ++k) {
        // The chunk's lines are hashed first, so that each line's slot is
        // asked for a few lines before it is looked up.
        d.hashed.clear();
        forEachLine(bytes, [&](std::string_view line) {
            d.hashed.push_back({line, grid.hashOf(line)});
            return true;
        });
        const auto& hashed = d.hashed;
        for (std::size_t j = 0; j < kAhead && j < hashed.size(); ++j)
            grid.prefetch(hashed[j].hash);
        for (std::size_t j = 0; j < hashed.size(); ++j) {
            if (j + kAhead < hashed.size()) grid.prefetch(hashed[j + kAhead].hash);
            if (j + kAhead / 2 < hashed.size()) {
                const Hashed& later = hashed[j + kAhead / 2];
                grid.prefetchRow(later.hash, later.line.size());
            }
            const bool first = grid.insert(hashed[j].line, hashed[j].hash);
            if (i++ >= p.kept) {
                byte |= static_cast<unsigned char>(first) << filled;
                kept += first;
                if (++filled == 8) {
                    d.bits.push_back(static_cast<char>(byte));
                    byte = 0;
                    filled = 0;
                }
            }
            if ((i & 1023) == 0 && stop.load(std::memory_order_relaxed)) return Verdict::Stopped;
            // Cutting again can only help while the rows are more than one.
            if (grid.memoryUsed() > room_ && grid.size() >= 2 && p.depth < kDeepest) {
                if (d.buffer.size() > kLargestChunk) std::vector<char>().swap(d.buffer);
                return Verdict::TooLarge;
            }
        }
    }
    if (filled > 0) d.bits.push_back(static_cast<char>(byte));
    // A line longer than a chunk was read back whole: its room goes now.
    if (d.buffer.size() > kLargestChunk) std::vector<char>().swap(d.buffer);
    std::lock_guard lock(storeMutex_);
    store_.appendBytes(p.bits, d.bits.data(), d.bits.size());
    store_.seal(p.bits);
    store_.release(p.lines);
    kept_ += kept;
    return Verdict::Done;
}

bool Partitions::split(std::size_t index, const KeptLines& grid, const std::atomic<bool>& stop) {
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
        child.lines = store_.addStream();
        parts_.push_back(std::move(child));
    }
    int64_t i = 0;
    std::string_view bytes;
    for (std::size_t k = 0; store_.chunk(lines, k, buffer_, bytes); ++k) {
        if (stop.load(std::memory_order_acquire)) return false;
        forEachLine(bytes, [&](std::string_view line) {
            Part& to = parts_[first + pick(grid.hashOf(line), depth, children)];
            store_.appendLine(to.lines, line);
            if (i++ < keptRows) ++to.kept;
            return true;
        });
    }
    if (buffer_.size() > kLargestChunk) std::vector<char>().swap(buffer_);
    for (std::size_t c = first; c < first + children; ++c) {
        Part& child = parts_[c];
        store_.seal(child.lines);
        child.count = store_.lines(child.lines);
        child.bytes = store_.bytes(child.lines);
    }
    store_.release(lines);
    parts_[index].firstChild = first;
    parts_[index].children = children;
    ++splits_;
    return true;
}

std::size_t Partitions::leafOf(uint64_t hash) const {
    std::size_t i = pick(hash, 0, roots_);
    while (parts_[i].children > 0)
        i = parts_[i].firstChild + pick(hash, parts_[i].depth + 1, parts_[i].children);
    return i;
}

bool Partitions::nextBits(std::size_t index) {
    Cursor& c = cursors_[index];
    if (bitFiles_.size() <= index) bitFiles_.resize(parts_.size());
    std::string_view bytes;
    if (!store_.chunk(parts_[index].bits, c.chunk++, bitFiles_[index], bytes) || bytes.empty())
        return false;
    c.at = reinterpret_cast<const unsigned char*>(bytes.data());
    c.end = c.at + bytes.size();
    return true;
}

bool Partitions::allAsked() const {
    for (std::size_t i = 0; i < parts_.size(); ++i)
        if (parts_[i].children == 0 && cursors_[i].left != 0) return false;
    return true;
}

PartitionReport Partitions::report() const {
    return {static_cast<int>(roots_), splits_, store_.scratchBytes()};
}

} // namespace vq::checking
