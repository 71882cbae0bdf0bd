#include "checking/dedup.h"

#include "listio/errors.h"
#include "listio/listio.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vq::checking {

std::string_view messageFor(Outcome outcome) {
    switch (outcome) {
    case Outcome::Stopped:
        return kCheckStopped;
    case Outcome::NoDuplicates:
        return kNoDuplicates;
    case Outcome::DuplicatesRemoved:
        return kCheckFinished;
    }
    return {};
}

std::string progressText(int64_t linesRead, int64_t total) {
    return std::to_string(linesRead) + " of Total " + std::to_string(total) + "...";
}

namespace {

struct Line {
    std::string_view text;
    uint64_t hash = 0;
};

// A run of whole lines copied out of the reader's buffer, each hashed.
struct Batch {
    std::vector<char> text;
    std::vector<Line> lines;
    std::exception_ptr error; // the reader's failure, met after the lines
    bool last = false;        // no line follows
};

// Cuts the list into batches. A batch is short enough to stay in the cache
// between the thread that makes it and the one that checks its lines.
class BatchMaker {
public:
    static constexpr std::size_t kBatchLines = 8192;

    // Without `copy`, a batch's lines stay in the reader's buffer: they are
    // valid only until the next fill.
    BatchMaker(listio::TextReader& in, const KeptLines& grid, bool copy = true)
        : in_(in), grid_(grid), copy_(copy) {}

    // The reader's failures end the batches; they are thrown where the pass
    // meets them, after the lines before them.
    void fill(Batch& b) {
        b.lines.clear();
        b.error = nullptr;
        b.last = false;
        try {
            if (block_.empty()) {
                if (in_.atEnd()) {
                    b.last = true;
                    return;
                }
                block_ = in_.readLines();
                if (block_.empty()) {
                    // A line that does not end within the reader's buffer (a
                    // long one, or the last one without a line end) comes on
                    // its own.
                    const std::string_view line = in_.readLine();
                    if (!copy_) {
                        b.lines.push_back({line, grid_.hashOf(line)});
                        return;
                    }
                    b.text.assign(line.begin(), line.end());
                    b.lines.push_back({{b.text.data(), b.text.size()}, grid_.hashOf(line)});
                    return;
                }
            }
            const char* from = block_.data();
            // Every line of a block ends at a line end of the list's kind; an
            // LF right after a CR belongs to that line end.
            const listio::LineEnds ends = in_.lineEnds();
            while (b.lines.size() < kBatchLines && !block_.empty()) {
                const std::size_t n = listio::findLineEnd(block_.data(), block_.size(), ends);
                const std::string_view line = block_.substr(0, n);
                b.lines.push_back({line, grid_.hashOf(line)});
                const bool crLf =
                    block_[n] == '\r' && n + 1 < block_.size() && block_[n + 1] == '\n';
                block_.remove_prefix(crLf ? n + 2 : n + 1);
            }
            if (!copy_) return;
            // The reader's buffer is refilled by the next read: the lines
            // move to the batch's own copy.
            b.text.assign(from, block_.data());
            for (Line& l : b.lines)
                l.text = {b.text.data() + (l.text.data() - from), l.text.size()};
        } catch (...) {
            b.lines.clear();
            b.error = std::current_exception();
            b.last = true;
        }
    }

private:
    listio::TextReader& in_;
    const KeptLines& grid_;
    const bool copy_;
    std::string_view block_; // lines of the reader's buffer not yet batched
};

// The lines of the list in order, read, cut and hashed on a thread of their
// own a few batches ahead, while the caller's thread looks them up: on two
// cores the two halves of the work overlap. Without a second thread the
// batches are made on the caller's thread as it needs them. Reading ahead
// changes nothing that shows: lines are still checked, counted and stopped
// at one by one, and a read failure is thrown only once the lines before it
// are checked.
//
// Once a repeat has been found, the thread also writes the rows kept so far
// into `ahead` whenever it is ahead of the pass, so that a save finds most of
// its text written already.
class LineSource {
public:
    LineSource(listio::TextReader& in, const KeptLines& grid, listio::TextSaver* ahead)
        : maker_(in, grid), grid_(grid), ahead_(ahead), room_(grid.room()),
          roomBytes_(grid.roomBytes()), index_(grid.indexStart()), indexBytes_(grid.indexBytes()),
          indexRows_(grid.rowsBeforeRebuild()) {
        try {
            thread_ = std::thread([this] { makeBatches(); });
        } catch (const std::system_error&) {
            // The system gave no thread: the batches are made inline.
        }
    }
    ~LineSource() { finish(); }
    LineSource(const LineSource&) = delete;
    LineSource& operator=(const LineSource&) = delete;

    // Ends the reading thread; the reader is then the caller's again.
    void finish() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    // From here on the thread leaves the grid's memory and the save alone:
    // the pass is about to give the grid's rows to partitions. Returns once
    // the thread has stopped touching them.
    void leaveGrid() {
        std::unique_lock lock(mutex_);
        gridLeft_ = true;
        changed_.wait(lock, [this] { return !touching_; });
    }

    // True when no line is left. Throws the reader's failure once every line
    // before it is taken. Lines taken before are no longer valid afterwards.
    bool atEnd() {
        while (next_ == batch_->lines.size()) {
            if (batch_->last) {
                if (batch_->error) std::rethrow_exception(batch_->error);
                return true;
            }
            nextBatch();
        }
        return false;
    }

    const Line& take() {
        const auto& lines = batch_->lines;
        if (next_ + kAhead < lines.size()) grid_.prefetch(lines[next_ + kAhead].hash);
        if (next_ + kRowAhead < lines.size()) {
            const Line& later = lines[next_ + kRowAhead];
            grid_.prefetchRow(later.hash, later.text.size());
        }
        return lines[next_++];
    }

private:
    static constexpr std::size_t kBatches = 8;
    // How far ahead of the kept rows the arena is given memory: a few huge
    // pages, so that faulting one in does not hold up the batches for long.
    static constexpr std::size_t kHugePage = std::size_t(2) << 20;
    static constexpr std::size_t kFaultAhead = 4 * kHugePage;
    // Each line's index slot is asked for this many lines before it is
    // looked up (in a large list nearly every lookup lands on a slot that is
    // not in the cache), and the kept row the slot points at half as many,
    // once the slot has arrived.
    static constexpr std::size_t kAhead = 16;
    static constexpr std::size_t kRowAhead = kAhead / 2;
    // The kept rows are written ahead once this many are waiting, so a
    // small list is saved in one piece; at most kWriteStep at a time, so
    // that the next batch is not held up for long.
    static constexpr std::size_t kWriteAhead = std::size_t(1) << 20;
    static constexpr std::size_t kWriteStep = std::size_t(4) << 20;

    void nextBatch() {
        if (!thread_.joinable()) {
            maker_.fill(batches_[0]);
            batch_ = &batches_[0];
        } else {
            std::unique_lock lock(mutex_);
            // The batch just checked is free for the thread again.
            checked_ = taken_;
            keptBytes_ = grid_.text().size();
            linesChecked_ += static_cast<int64_t>(batch_->lines.size());
            repeatSeen_ = grid_.size() < linesChecked_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return made_ > taken_; });
            batch_ = &batches_[taken_++ % kBatches];
        }
        next_ = 0;
        const auto& lines = batch_->lines;
        for (std::size_t i = 0; i < kAhead && i < lines.size(); ++i)
            grid_.prefetch(lines[i].hash);
    }

    void makeBatches() {
        uint64_t rowBytes = 0; // the most the rows of the batches made can take
        int64_t lines = 0;     // lines in the batches made
        std::size_t faulted = 0, indexFaulted = 0;
        // While the rows of every batch made fit the arena, the pass cannot
        // have mapped it anew, and the rows kept stay where they are.
        auto writable = [&] {
            return ahead_ && !gridLeft_ && repeatSeen_ && rowBytes <= roomBytes_ &&
                   keptBytes_ >= ahead_->written() + kWriteAhead;
        };
        // The grid's memory and the save are touched without the lock, and
        // only while the pass has not left them to partitions.
        auto doneTouching = [&] {
            std::lock_guard lock(mutex_);
            touching_ = false;
            changed_.notify_all();
        };
        // Writes the kept rows not yet written; called without the lock.
        auto writeAhead = [&](std::size_t kept) {
            const std::size_t from = ahead_->written();
            ahead_->write(std::string_view(room_ + from, std::min(kept - from, kWriteStep)));
        };
        for (uint64_t k = 0;; ++k) {
            std::size_t kept;
            for (;;) {
                std::unique_lock lock(mutex_);
                // A fresh index is touched all over by the first lines: while
                // the pass waits for its pages, this thread fills others.
                const bool indexLeft =
                    !gridLeft_ && indexFaulted < indexBytes_ && lines <= indexRows_;
                changed_.wait(lock, [&] {
                    return quit_ || k - checked_ < kBatches || indexLeft || writable();
                });
                if (quit_) return;
                kept = keptBytes_;
                if (k - checked_ < kBatches) break;
                touching_ = true;
                lock.unlock();
                if (indexLeft) {
                    const std::size_t step = std::min(kHugePage, indexBytes_ - indexFaulted);
                    faultIn(index_ + indexFaulted, step);
                    indexFaulted += step;
                } else {
                    writeAhead(kept);
                }
                doneTouching();
            }
            Batch& b = batches_[k % kBatches];
            maker_.fill(b);
            lines += static_cast<int64_t>(b.lines.size());
            for (const Line& l : b.lines)
                rowBytes += l.text.size() + 2;
            // The arena's pages a little ahead of the rows get their memory
            // here rather than on the pass's thread.
            bool faultAhead;
            {
                std::lock_guard lock(mutex_);
                made_ = k + 1;
                faultAhead = !b.last && !gridLeft_ && rowBytes <= roomBytes_;
                touching_ = faultAhead;
            }
            changed_.notify_all();
            if (b.last) break;
            if (faultAhead) {
                // Whole huge pages, which also keeps the start page-aligned.
                const std::size_t want =
                    std::min(roomBytes_, (kept + kFaultAhead) / kHugePage * kHugePage);
                if (want > faulted) {
                    faultIn(room_ + faulted, want - faulted);
                    faulted = want;
                }
                doneTouching();
            }
        }
        // Every line is read: the rows kept from here on are written while
        // the pass checks the last batches.
        for (;;) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return quit_ || writable(); });
            if (quit_) return;
            const std::size_t kept = keptBytes_;
            touching_ = true;
            lock.unlock();
            writeAhead(kept);
            doneTouching();
        }
    }

    BatchMaker maker_; // the reading thread's alone while it runs
    const KeptLines& grid_;
    listio::TextSaver* const ahead_; // written by the reading thread alone while it runs
    Batch batches_[kBatches];
    Batch empty_;
    const Batch* batch_ = &empty_; // the batch being taken from
    std::size_t next_ = 0;         // its next line
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t made_ = 0;    // batches made
    uint64_t taken_ = 0;   // batches handed to the pass
    uint64_t checked_ = 0; // batches the pass is done with
    bool quit_ = false;
    bool gridLeft_ = false;     // the pass has given the grid's rows to partitions
    bool touching_ = false;     // the thread is at the grid's memory or the save
    std::size_t keptBytes_ = 0; // the rows' bytes when the pass last took a batch
    int64_t linesChecked_ = 0;  // lines of the batches the pass is done with
    bool repeatSeen_ = false;   // and whether they held a repeat
    char* const room_;
    const std::size_t roomBytes_;
    char* const index_;
    const std::size_t indexBytes_;
    const int64_t indexRows_; // while the lines made are no more, the index stays
    std::thread thread_;      // last: started once everything above is ready
};

// Past this many bytes of rows and index the direct pass hands over to
// partitions, whatever the budget: its rows then stay below 1 GiB, which
// keeps the index's slots at four bytes.
constexpr std::size_t kDirectMost = std::size_t(960) << 20;
// Nor does the direct pass grow its index past this: with more distinct
// lines, every lookup misses the caches, and each growth hashes every row
// again.
constexpr std::size_t kMostDirectIndex = std::size_t(64) << 20;
// The most rows that index holds, at most 70 % full with four-byte slots.
constexpr int64_t kMostDirectRows = static_cast<int64_t>(kMostDirectIndex / 4 * 7 / 10);
// A partition is always given this much room, however small the budget.
constexpr std::size_t kLeastRoom = std::size_t(16) << 10;
// The kept lines of the second reading go to the save in pieces this large.
constexpr std::size_t kWritePiece = std::size_t(1) << 20;

// Whether the next line, should it be new, still fits the direct pass.
bool fitsDirect(const KeptLines& grid, std::size_t lineSize, std::size_t direct) {
    std::size_t index = grid.indexBytesAfterNextRow();
    if (index > kMostDirectIndex) return false;
    if (index == 0) index = grid.indexBytes();
    return grid.text().size() + lineSize + 2 + index <= direct;
}

// What tells a list read twice from one changed in between.
struct Stamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t seconds = 0, nanoseconds = 0;
    bool operator==(const Stamp&) const = default;
};

Stamp stampOf(const std::string& fileName) {
    struct stat st;
    if (::stat(fileName.c_str(), &st) != 0) return {};
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
            static_cast<uint64_t>(std::max<off_t>(st.st_size, 0)), st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec};
}

// The running count the pass shows, in thirds of a line: a line the direct
// pass decides counts three at once, a later line one as it goes into its
// partition, one as its partition is decided and one as it is written.
class Progress {
public:
    Progress(CheckListener& listener, const CheckRun& run)
        : listener_(listener), total_(run.total), pacer_(run.progressEvery) {}

    void add(int64_t thirds, std::size_t bytes) {
        thirds_ += thirds;
        if (pacer_.due(bytes)) show();
    }
    // Every line is done.
    void finish(int64_t lines) {
        thirds_ = 3 * lines;
        flush();
    }
    // The newest count, if it has not been shown.
    void flush() {
        if (shown_ != thirds_ / 3) show();
    }

private:
    void show() {
        const int64_t n = thirds_ / 3;
        if (n == shown_) return;
        shown_ = n;
        listener_.progress(n, total_);
    }
    CheckListener& listener_;
    int64_t total_;
    ProgressPacer pacer_;
    int64_t thirds_ = 0, shown_ = 0;
};

// The list's lines handled batch by batch on a thread of their own, where
// they are cut and hashed, while the caller's thread shows how far the work
// has come, watches the stop flag, and writes out what the thread hands it.
// The lines then never cross from one core to the other; only counts and
// whole pieces of output do. Without a second thread the caller's thread
// does the work itself.
class LineFeed {
public:
    // Handles a batch on the feed's thread: returns how many thirds of a
    // line the progress gains by it, or -1 to end the feed early.
    using Handle = std::function<int64_t(const Batch&)>;
    static constexpr std::size_t kWaitingPieces = 2;

    // The handle runs right after each batch is made, on the same thread:
    // the lines need no copy of their own.
    LineFeed(listio::TextReader& in, const KeptLines& grid, Handle handle)
        : maker_(in, grid, false), handle_(std::move(handle)) {}
    ~LineFeed() { end(); }
    LineFeed(const LineFeed&) = delete;
    LineFeed& operator=(const LineFeed&) = delete;

    // From the handle: gives a piece of output to the caller's thread, and
    // waits while enough are waiting. False when the feed is ending.
    bool hand(std::string& piece) {
        if (!threaded_) {
            write_(piece);
            piece.clear();
            return true;
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return quit_ || pieces_.size() < kWaitingPieces; });
        if (quit_) return false;
        pieces_.push_back(std::move(piece));
        piece.clear();
        changed_.notify_all();
        return true;
    }

    // Runs the feed to its end, writing the handed pieces with `write`.
    // False when stop was set first. Throws the failures of the reader and
    // the handle.
    // `idle` runs on this thread between its looks at the feed.
    bool follow(const std::atomic<bool>& stop, Progress& progress,
                std::function<void(const std::string&)> write = {},
                const std::function<void()>& idle = {}) {
        write_ = std::move(write);
        // Set before the thread starts, which reads it.
        threaded_ = true;
        try {
            thread_ = std::thread([this] { feed(); });
        } catch (const std::system_error&) {
            // No thread: the batches are handled here, one by one.
            threaded_ = false;
            Batch b;
            for (;;) {
                if (stop.load(std::memory_order_acquire)) return false;
                maker_.fill(b);
                if (b.error) std::rethrow_exception(b.error);
                const int64_t thirds = handle_(b);
                if (thirds < 0 || b.last) return true;
                progress.add(thirds, batchBytes(b));
            }
        }
        for (;;) {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(20),
                              [this] { return done_ || thirds_ > 0 || !pieces_.empty(); });
            const int64_t thirds = std::exchange(thirds_, 0);
            const std::size_t bytes = std::exchange(bytes_, 0);
            std::deque<std::string> pieces = std::move(pieces_);
            pieces_.clear();
            const bool done = done_;
            changed_.notify_all();
            lock.unlock();
            for (const std::string& piece : pieces)
                write_(piece);
            if (thirds > 0) progress.add(thirds, bytes);
            if (stop.load(std::memory_order_acquire)) {
                end();
                return false;
            }
            if (done && pieces.empty()) break;
            if (idle) idle();
        }
        end();
        if (error_) std::rethrow_exception(error_);
        return true;
    }

private:
    static std::size_t batchBytes(const Batch& b) {
        std::size_t bytes = 0;
        for (const Line& l : b.lines)
            bytes += l.text.size();
        return bytes;
    }

    void feed() {
        Batch b;
        try {
            for (;;) {
                {
                    std::lock_guard lock(mutex_);
                    if (quit_) break;
                }
                maker_.fill(b);
                if (b.error) std::rethrow_exception(b.error);
                const int64_t thirds = handle_(b);
                std::lock_guard lock(mutex_);
                if (thirds > 0) {
                    thirds_ += thirds;
                    bytes_ += batchBytes(b);
                }
                changed_.notify_all();
                if (thirds < 0 || b.last) break;
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            error_ = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }

    void end() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    BatchMaker maker_; // the feed's thread's alone while it runs
    Handle handle_;
    std::function<void(const std::string&)> write_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t thirds_ = 0;    // progress not yet shown
    std::size_t bytes_ = 0; // the bytes of its lines
    std::deque<std::string> pieces_;
    bool done_ = false, quit_ = false;
    std::exception_ptr error_;
    bool threaded_ = false;
    std::thread thread_; // last: started once everything above is ready
};

// Partitions for the lines after the direct pass, as many as the list
// left to read and the rows kept so far need.
std::unique_ptr<Partitions> partitionsFor(const CheckRun& run, uint64_t budget,
                                          const KeptLines& grid, uint64_t fileBytes,
                                          int64_t linesRead, uint64_t lineBytes) {
    // Each line read took its bytes and at least one of line end.
    const uint64_t read = lineBytes + static_cast<uint64_t>(linesRead);
    const uint64_t restBytes = fileBytes > read ? fileBytes - read : 0;
    uint64_t restLines = run.total > linesRead ? static_cast<uint64_t>(run.total - linesRead) : 0;
    if (linesRead > 0)
        restLines = std::max(restLines, restBytes / std::max<uint64_t>(read / linesRead, 1));
    else if (restLines == 0)
        restLines = restBytes / 16; // uncounted: lines of about an address each
    const uint64_t rows = static_cast<uint64_t>(grid.size());
    // Half the budget for the partitions' lines, a quarter for each of the
    // two grids that decide them.
    const std::size_t room = static_cast<std::size_t>(std::max<uint64_t>(budget / 4, kLeastRoom));
    const std::size_t count =
        run.partitions > 0
            ? static_cast<std::size_t>(run.partitions)
            : Partitions::countFor(grid.text().size() - rows + restBytes, rows + restLines, room);
    return std::make_unique<Partitions>(run.output, count, static_cast<std::size_t>(budget / 2),
                                        room);
}

// The direct pass ends: the rows it kept are the start of the saved text,
// and the first lines of their partitions. The grid is emptied on the way,
// its memory given back as the rows move, so that they and the partitions
// never take the budget twice. False when stopped meanwhile.
bool moveRows(KeptLines& grid, listio::TextSaver& save, Partitions& parts,
              const std::atomic<bool>& stop) {
    constexpr std::size_t kStep = std::size_t(4) << 20;
    const std::string_view text = grid.text();
    for (std::size_t from = save.written(); from < text.size(); from += kStep) {
        if (stop.load(std::memory_order_acquire)) return false;
        save.write(text.substr(from, kStep));
    }
    grid.dropIndex();
    std::size_t released = 0;
    int64_t rows = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto* cr =
            static_cast<const char*>(std::memchr(text.data() + pos, '\r', text.size() - pos));
        const std::string_view row(text.data() + pos,
                                   static_cast<std::size_t>(cr - (text.data() + pos)));
        parts.addKept(row, grid.hashOf(row));
        pos += row.size() + 2;
        if ((++rows & 4095) == 0) {
            if (stop.load(std::memory_order_acquire)) return false;
            if (pos - released >= kStep) {
                grid.releaseTextBefore(pos);
                released = pos;
            }
        }
    }
    grid.clear();
    return true;
}

// The list read again with `in`, just opened: its lines after the first
// `skip`, of `lines` in all, go into the save when their partition kept
// them, in the list's order and each ended by CR LF as the rows of the
// direct pass. False when stopped. A list that changed since it was first
// read fails as a read would.
bool writeKeptLines(const CheckRun& run, listio::TextReader& in, const Stamp& stamp,
                    const KeptLines& grid, Partitions& parts, int64_t skip, int64_t lines,
                    listio::TextSaver& save, const std::atomic<bool>& stop, Progress& progress) {
    if (!(stampOf(run.input) == stamp)) throw EReadError(run.input);
    bool consistent = true;
    std::atomic<bool> failed{false};
    int64_t n = 0;
    std::string piece;
    piece.reserve(kWritePiece + 4096);
    LineFeed* self = nullptr;
    LineFeed feed(in, grid, [&](const Batch& b) -> int64_t {
        int64_t counted = 0;
        if (failed.load(std::memory_order_relaxed)) return -1;
        for (const Line& line : b.lines) {
            if (n == lines) {
                consistent = false; // more lines than the first reading found
                return -1;
            }
            if (++n <= skip) continue;
            ++counted;
            if (!parts.isFirst(line.hash, consistent)) continue;
            piece.append(line.text);
            piece.append("\r\n");
            if (piece.size() >= kWritePiece && !self->hand(piece)) return -1;
        }
        if (b.last && !piece.empty() && !self->hand(piece)) return -1;
        return counted;
    });
    self = &feed;
    const bool done = feed.follow(stop, progress, [&](const std::string& p) {
        // Once a part fails the save will fail; nothing more is worth writing.
        if (!failed.load()) save.write(p);
        failed = save.failed();
    });
    if (!done) return false;
    in.close();
    if (!failed.load() &&
        (!consistent || n != lines || !parts.allAsked() || !(stampOf(run.input) == stamp)))
        throw EReadError(run.input);
    return true;
}

} // namespace

namespace {

// Partitions of some GiB take a good part of a second to give their pages
// and scratch file back, which neither a stop nor the outcome should wait
// for: they go on a thread of their own, or here when none can be started.
void releaseApart(std::unique_ptr<Partitions> parts) {
    try {
        std::thread([held = std::move(parts)]() mutable { held.reset(); }).detach();
    } catch (const std::system_error&) {
    }
}

} // namespace

uint64_t defaultMemoryBudget() {
    constexpr uint64_t kLeast = uint64_t(16) << 20;
    uint64_t budget = UINT64_MAX;
    std::ifstream meminfo("/proc/meminfo");
    for (std::string key; meminfo >> key;) {
        uint64_t kib = 0;
        meminfo >> kib;
        if (key == "MemAvailable:") {
            budget = kib * 1024 / 2;
            break;
        }
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    if (budget == UINT64_MAX) {
        const long pages = ::sysconf(_SC_AVPHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
        if (pages > 0 && page > 0) budget = static_cast<uint64_t>(pages) * page / 2;
    }
    // A control group's limit (cgroup v2): half of what it leaves.
    std::ifstream cgroup("/proc/self/cgroup");
    for (std::string line; std::getline(cgroup, line);) {
        if (!line.starts_with("0::")) continue;
        const std::string folder = "/sys/fs/cgroup" + line.substr(3);
        uint64_t most = 0, now = 0;
        std::ifstream max(folder + "/memory.max"), current(folder + "/memory.current");
        if (max >> most && current >> now && most > now)
            budget = std::min(budget, (most - now) / 2);
    }
    // ulimit -v: half of the address space left.
    struct rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        uint64_t mapped = 0;
        std::ifstream statm("/proc/self/statm");
        statm >> mapped;
        mapped *= static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
        const uint64_t most = limit.rlim_cur;
        budget = std::min(budget, most > mapped ? (most - mapped) / 2 : 0);
    }
    return budget == UINT64_MAX ? kLeast : std::max(budget, kLeast);
}

Outcome removeDuplicates(const CheckRun& run, KeptLines& grid, const std::atomic<bool>& stop,
                         CheckListener& listener, CheckCounts& counts) {
    counts = CheckCounts{};
    counts.total = run.total;
    grid.clear();
    const uint64_t budget = std::max<uint64_t>(run.memory ? run.memory : defaultMemoryBudget(), 1);
    const std::size_t direct = static_cast<std::size_t>(std::min<uint64_t>(budget, kDirectMost));

    listio::TextReader in(run.input);
    const Stamp stamp = stampOf(run.input);
    listener.passStarted(run.total);
    listio::TextSaver save(run.output);
    Progress progress(listener, run);

    // Past the direct pass: the partitions, the rows the direct pass kept,
    // and the lines it read.
    std::unique_ptr<Partitions> parts;
    int64_t directRows = 0, directLines = 0;
    bool stopped = false;
    // A list whose lines, all distinct, would not fit the direct pass is
    // partitioned from its first line: most large lists are mostly
    // distinct, and a line partitioned at once costs less than one kept in
    // a direct pass that then hands it over.
    const uint64_t worst = stamp.size + 13 * static_cast<uint64_t>(std::max<int64_t>(run.total, 0));
    if (worst > direct || run.total > kMostDirectRows) {
        parts = partitionsFor(run, budget, grid, stamp.size, 0, 0);
        LineFeed feed(in, grid, [&](const Batch& b) -> int64_t {
            for (const Line& line : b.lines)
                parts->addLine(line.text, line.hash);
            counts.linesRead += static_cast<int64_t>(b.lines.size());
            return static_cast<int64_t>(b.lines.size());
        });
        // This thread gives the partitions' memory its pages meanwhile.
        stopped = !feed.follow(stop, progress, {}, [&] { parts->prepare(); });
    } else {
        grid.expectLines(run.total, stamp.size, direct);
        LineSource lines(in, grid, &save);
        uint64_t lineBytes = 0;
        // The first line is kept without a look at the stop flag: a stop can
        // only end the pass between lines. The end test comes first, so a
        // stop during the last line ends the loop by the end test; the
        // outcome below still reads the flag.
        while (!lines.atEnd() && (counts.linesRead == 0 || !stop.load(std::memory_order_acquire))) {
            const Line& line = lines.take();
            ++counts.linesRead;
            if (!parts) {
                if (counts.linesRead == 1 || fitsDirect(grid, line.text.size(), direct)) {
                    grid.insert(line.text, line.hash);
                    lineBytes += line.text.size();
                    progress.add(3, line.text.size());
                    continue;
                }
                directLines = counts.linesRead - 1;
                directRows = grid.size();
                lines.leaveGrid();
                parts = partitionsFor(run, budget, grid, stamp.size, directLines, lineBytes);
                if (!moveRows(grid, save, *parts, stop)) {
                    stopped = true;
                    break;
                }
            }
            parts->addLine(line.text, line.hash);
            progress.add(1, line.text.size());
        }
        lines.finish();
    }
    stopped = stopped || stop.load(std::memory_order_acquire);

    if (parts && !stopped) {
        parts->endOfLines();
        // The list stays open, and so under the sharing rule, through both
        // readings; the first reader's buffers, which a long line may have
        // made large, go before the partitions are decided.
        listio::TextReader again(run.input);
        in.close();
        stopped = !parts->decide(grid, stop, [&](int64_t n) { progress.add(n, 0); });
        grid.clear();
        counts.kept = directRows + parts->kept();
        if (!stopped && counts.kept < counts.linesRead && !save.failed())
            stopped = !writeKeptLines(run, again, stamp, grid, *parts, directLines,
                                      counts.linesRead, save, stop, progress);
        else
            again.close();
    } else {
        if (!parts) counts.kept = grid.size();
        in.close();
    }

    if (!stopped) progress.finish(counts.linesRead);
    progress.flush();
    const bool partitioned = parts != nullptr;
    if (partitioned) {
        listener.partitioned(parts->report());
        releaseApart(std::move(parts));
    }
    listener.passEnded();

    Outcome outcome = stopped || stop.load(std::memory_order_acquire) ? Outcome::Stopped
                      : counts.kept == counts.linesRead               ? Outcome::NoDuplicates
                                                                      : Outcome::DuplicatesRemoved;
    listener.outcomeReady(outcome, counts);
    if (outcome == Outcome::DuplicatesRemoved) {
        if (partitioned) {
            save.commit();
        } else {
            // The index is not needed for the save: the saved file's pages
            // can take its memory. Memory just given back is handed out again
            // at once, where memory never used (or returned to a virtual
            // machine's host) costs a fault to get.
            grid.dropIndex();
            save.commit(grid.text());
        }
    }

    return outcome;
}

} // namespace vq::checking
