#include "checking/dedup.h"

#include "listio/listio.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
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

    BatchMaker(listio::TextReader& in, const KeptLines& grid) : in_(in), grid_(grid) {}

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
            return ahead_ && repeatSeen_ && rowBytes <= roomBytes_ &&
                   keptBytes_ >= ahead_->written() + kWriteAhead;
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
                const bool indexLeft = indexFaulted < indexBytes_ && lines <= indexRows_;
                changed_.wait(lock, [&] {
                    return quit_ || k - checked_ < kBatches || indexLeft || writable();
                });
                if (quit_) return;
                kept = keptBytes_;
                if (k - checked_ < kBatches) break;
                lock.unlock();
                if (indexLeft) {
                    const std::size_t step = std::min(kHugePage, indexBytes_ - indexFaulted);
                    faultIn(index_ + indexFaulted, step);
                    indexFaulted += step;
                } else {
                    writeAhead(kept);
                }
            }
            Batch& b = batches_[k % kBatches];
            maker_.fill(b);
            lines += static_cast<int64_t>(b.lines.size());
            for (const Line& l : b.lines)
                rowBytes += l.text.size() + 2;
            {
                std::lock_guard lock(mutex_);
                made_ = k + 1;
            }
            changed_.notify_all();
            if (b.last) break;
            // The arena's pages a little ahead of the rows get their memory
            // here rather than on the pass's thread.
            if (rowBytes <= roomBytes_) {
                // Whole huge pages, which also keeps the start page-aligned.
                const std::size_t want =
                    std::min(roomBytes_, (kept + kFaultAhead) / kHugePage * kHugePage);
                if (want > faulted) {
                    faultIn(room_ + faulted, want - faulted);
                    faulted = want;
                }
            }
        }
        // Every line is read: the rows kept from here on are written while
        // the pass checks the last batches.
        for (;;) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return quit_ || writable(); });
            if (quit_) return;
            const std::size_t kept = keptBytes_;
            lock.unlock();
            writeAhead(kept);
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

} // namespace

Outcome removeDuplicates(const CheckRun& run, KeptLines& grid, const std::atomic<bool>& stop,
                         CheckListener& listener, CheckCounts& counts) {
    counts = CheckCounts{};
    counts.total = run.total;
    grid.clear();

    listio::TextReader in(run.input);
    listener.passStarted(run.total);
    std::error_code sizeUnknown;
    const auto bytes = std::filesystem::file_size(run.input, sizeUnknown);
    grid.expectLines(run.total, sizeUnknown ? 0 : bytes);
    listio::TextSaver save(run.output);
    LineSource lines(in, grid, &save);

    ProgressPacer pacer(run.progressEvery);
    int64_t shown = 0;
    // The first line is kept without a look at the stop flag: a stop can
    // only end the pass between lines. The end test comes first, so a stop
    // during the last line ends the loop by the end test; the outcome below
    // still reads the flag.
    while (!lines.atEnd() && (counts.linesRead == 0 || !stop.load(std::memory_order_acquire))) {
        const Line& line = lines.take();
        ++counts.linesRead;
        grid.insert(line.text, line.hash);
        if (pacer.due(line.text.size())) {
            listener.progress(counts.linesRead, run.total);
            shown = counts.linesRead;
        }
    }
    counts.kept = grid.size();
    if (shown != counts.linesRead) listener.progress(counts.linesRead, run.total);
    lines.finish();
    in.close();
    listener.passEnded();

    Outcome outcome = stop.load(std::memory_order_acquire) ? Outcome::Stopped
                      : counts.kept == counts.linesRead    ? Outcome::NoDuplicates
                                                           : Outcome::DuplicatesRemoved;
    listener.outcomeReady(outcome, counts);
    if (outcome == Outcome::DuplicatesRemoved) {
        // The index is not needed for the save: the saved file's pages can
        // take its memory. Memory just given back is handed out again at
        // once, where memory never used (or returned to a virtual machine's
        // host) costs a fault to get.
        grid.dropIndex();
        save.commit(grid.text());
    }
    return outcome;
}

} // namespace vq::checking
