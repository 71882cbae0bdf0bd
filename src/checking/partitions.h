#pragma once
// The list check past what one index does well: the lines are cut into
// partitions by their hash, so that equal lines always share a partition,
// and each partition is checked on its own with an index small enough to
// stay in the processor's caches. What a partition decides is kept as one
// bit a line (first of its kind or not); a second reading of the list then
// writes the first occurrences in the list's order. A partition's lines are
// in memory while the check's memory budget allows, and in a scratch file
// beyond it, so the check holds a bounded amount of memory whatever the
// list's size.
#include "checking/kept_lines.h"
#include "listio/listio.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::checking {

// Byte streams that grow at their ends: each a sequence of chunks, kept in
// memory while their memory stays within a limit, written to a scratch file
// beside `target` (made when first needed) beyond it.
class ChunkStore {
public:
    ChunkStore(std::string target, std::size_t memoryLimit, std::size_t chunkBytes);
    ~ChunkStore();
    ChunkStore(const ChunkStore&) = delete;
    ChunkStore& operator=(const ChunkStore&) = delete;

    std::size_t addStream();
    // Adds a line followed by a CR; a line never spans two chunks, so each
    // chunk holds whole lines.
    void appendLine(std::size_t stream, std::string_view line) {
        Tail& t = tails_[stream];
        const std::size_t n = line.size() + 1;
        ++t.lines;
        t.bytes += n;
        if (t.used + n > t.capacity) return appendLong(stream, line);
        char* d = t.data + t.used;
        std::memcpy(d, line.data(), line.size());
        d[line.size()] = '\r';
        t.used += n;
    }
    // Adds bytes, which may span chunks.
    void appendBytes(std::size_t stream, const char* data, std::size_t size);
    // No more bytes come to this stream: its last chunk is put away.
    void seal(std::size_t stream);
    // Chunk k of the stream, read into `buffer` when it is in the file;
    // false past the last chunk.
    bool chunk(std::size_t stream, std::size_t k, std::vector<char>& buffer,
               std::string_view& bytes);
    // Forgets the stream's bytes and gives their memory back.
    void release(std::size_t stream);
    // The lines appended to the stream, and their bytes with their CRs.
    int64_t lines(std::size_t stream) const { return tails_[stream].lines; }
    uint64_t bytes(std::size_t stream) const { return tails_[stream].bytes; }

    std::size_t memoryInUse() const { return inMemory_; }
    uint64_t scratchBytes() const { return file_ ? file_->size() : 0; }
    // From another thread while this store fills: the next memory for its
    // chunks is mapped and given its pages there, while the budget has room
    // for it, so that the filling thread finds it ready.
    void prepare();

private:
    struct Chunk {
        char* memory = nullptr; // null: in the file at `at`
        bool pooled = false;    // a block of the pool, else its own allocation
        uint64_t at = 0;
        std::size_t size = 0, capacity = 0;
    };
    // What appending touches, apart from what it is kept in: small, so that
    // the tails of thousands of streams stay in the cache.
    struct Tail {
        char* data = nullptr; // a block of the pool, or null
        uint32_t used = 0, capacity = 0;
        int64_t lines = 0;
        uint64_t bytes = 0;
    };
    void appendLong(std::size_t stream, std::string_view line);
    void putAway(std::size_t stream);
    void newTail(Tail& t);
    void freeChunk(const Chunk& c);
    uint64_t toFile(const char* data, std::size_t size);
    char* takeBlock();
    void giveBlock(char* block);

    std::string target_;
    std::size_t limit_, chunkBytes_;
    // Changed by the filling thread alone, read by the one that prepares.
    std::atomic<std::size_t> inMemory_{0};
    std::vector<Tail> tails_;
    std::vector<std::vector<Chunk>> chunks_;
    // Blocks of chunkBytes_, carved out of large mappings, which all go back
    // to the system at once when the last block comes back.
    std::vector<std::pair<char*, std::size_t>> mappings_;
    std::vector<char*> freeBlocks_;
    char *carve_ = nullptr, *carveEnd_ = nullptr;
    std::size_t blocksOut_ = 0;
    std::mutex spareMutex_;
    char* spare_ = nullptr; // a mapping prepared ahead
    std::optional<listio::ScratchFile> file_;
};

// How a check went past its direct pass, for those who watch it.
struct PartitionReport {
    int partitions = 0;   // made when the direct pass ended
    int splits = 0;       // partitions cut again, being too large for the memory
    uint64_t scratch = 0; // bytes written to the scratch file
};

class Partitions {
public:
    // `count` partitions (at least 1) for lines that come with their hash
    // as the deciding grid makes it; a partition is checked in at most
    // `room` bytes of index and rows unless it cannot be cut further, and
    // the lines take at most `storeMemory` before the scratch file beside
    // `target` takes the rest.
    Partitions(std::string target, std::size_t count, std::size_t storeMemory, std::size_t room);

    // The number of partitions for lines of about `bytes` and `lines` in
    // all, each to be checked in at most `room` bytes.
    static std::size_t countFor(uint64_t bytes, uint64_t lines, std::size_t room);

    // A row the direct pass kept: it comes before every later line of its
    // partition and is the first of its kind there.
    void addKept(std::string_view row, uint64_t hash) {
        const std::size_t i = pick(hash, 0, roots_);
        ++parts_[i].kept;
        store_.appendLine(i, row);
    }
    // A later line, in the list's order.
    void addLine(std::string_view line, uint64_t hash) {
        // The first partitions' streams are the first of the store.
        store_.appendLine(pick(hash, 0, roots_), line);
    }
    // Every line has been added.
    void endOfLines();
    // While another thread adds the lines: see ChunkStore::prepare.
    void prepare() { store_.prepare(); }

    // Checks every partition, in `grid` and in one more grid of the same
    // hash on a second thread. `grid` is left with the rows of the last
    // partition it checked. `decided` hears, on this thread, how many later
    // lines have been decided. False when stop was set meanwhile.
    bool decide(KeptLines& grid, const std::atomic<bool>& stop,
                const std::function<void(int64_t)>& decided);
    // Of the later lines, how many are the first of their kind.
    int64_t kept() const { return kept_; }

    // The list read again, its later lines in order: whether the line of
    // this hash is the first of its kind. False, and `consistent` cleared,
    // once its partition has no more lines (a list changed since it was
    // read).
    bool isFirst(uint64_t hash, bool& consistent) {
        const std::size_t i = splits_ > 0 ? leafOf(hash) : pick(hash, 0, roots_);
        Cursor& c = cursors_[i];
        if (c.left == 0 || (c.at == c.end && !nextBits(i))) {
            consistent = false;
            return false;
        }
        const bool first = (*c.at >> c.bit) & 1;
        if (++c.bit == 8) {
            c.bit = 0;
            ++c.at;
        }
        --c.left;
        return first;
    }
    // Whether every decided line has been asked for.
    bool allAsked() const;

    PartitionReport report() const;

private:
    struct Part {
        std::size_t lines = 0, bits = 0; // streams in the store
        int64_t count = 0;               // lines, once all are in
        int64_t kept = 0;                // of them, rows the direct pass kept: the first ones
        uint64_t bytes = 0;              // the lines' bytes and their CRs, once all are in
        unsigned depth = 0;
        std::size_t firstChild = 0, children = 0; // when cut again
    };
    // Where the second reading is in a partition's bits: small, so that
    // thousands of them stay in the cache.
    struct Cursor {
        const unsigned char *at = nullptr, *end = nullptr;
        int64_t left = 0;      // lines not asked for
        uint32_t chunk = 0;    // the next chunk of bits
        unsigned char bit = 0; // in *at
    };
    bool nextBits(std::size_t index);
    // Which of `count` partitions a hash falls in at a depth: each depth
    // mixes the hash with its own seed, so a partition cut again spreads
    // over its children, and the bits the index takes from a hash stay
    // spread inside every partition.
    static std::size_t pick(uint64_t hash, unsigned depth, std::size_t count) {
        uint64_t x = hash ^ (0x9e3779b97f4a7c15ull * (depth + 1));
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdull;
        x ^= x >> 33;
        x *= 0xc4ceb9fe1a85ec53ull;
        x ^= x >> 33;
        return static_cast<std::size_t>((static_cast<unsigned __int128>(x) * count) >> 64);
    }
    struct Hashed {
        std::string_view line;
        uint64_t hash;
    };
    // What a thread deciding partitions has of its own.
    struct Decider {
        explicit Decider(KeptLines& g) : grid(g) {}
        KeptLines& grid;
        std::vector<char> buffer;   // a chunk read back from the file
        std::vector<Hashed> hashed; // the lines of the chunk being decided
        std::string bits;           // the partition's bits so far
    };
    enum class Verdict { Done, TooLarge, Stopped };

    std::size_t leafOf(uint64_t hash) const;
    // Decides one partition in the decider's grid; two threads may decide
    // two partitions at once.
    Verdict decideOne(std::size_t index, Decider& d, const std::atomic<bool>& stop);
    // Cuts a partition too large for the room and decides its parts; false
    // when stopped.
    bool decideSplit(std::size_t index, Decider& d, const std::atomic<bool>& stop,
                     const std::function<void(int64_t)>& decided);
    // False when stopped, the partition then half cut.
    bool split(std::size_t index, const KeptLines& grid, const std::atomic<bool>& stop);

    std::size_t room_;
    std::size_t roots_;
    ChunkStore store_;
    std::vector<Part> parts_;
    std::vector<Cursor> cursors_;             // one a partition, once decided
    std::vector<std::vector<char>> bitFiles_; // the bits read back from the file
    std::vector<char> buffer_;                // a chunk read back from the file, when cutting again
    std::mutex storeMutex_;                   // the store, while two threads decide
    int64_t kept_ = 0;
    int splits_ = 0;
};

} // namespace vq::checking
