#include "checking/dedup.h"

#include "listio/listio.h"

#include <cstring>
#include <filesystem>

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

// Lines read a few ahead of the one being checked, each hashed and its index
// slot already on its way from memory: in a large list nearly every lookup
// lands on a slot that is not in the cache. Lines are taken straight from the
// reader's buffer, a block of whole lines at a time, without copying.
// Reading ahead changes nothing that shows: lines are still checked, counted
// and stopped at one by one.
class LookAhead {
public:
    struct Line {
        std::string_view text;
        uint64_t hash = 0;
    };

    LookAhead(listio::TextReader& in, const KeptLines& grid) : in_(in), grid_(grid) {}

    // The reader's end test, for the lines not yet taken. Lines taken before
    // are no longer valid afterwards.
    bool atEnd() {
        if (count_ == 0 && block_.empty()) {
            block_ = in_.readLines();
            if (block_.empty()) {
                // A line that does not end within the reader's buffer (a long
                // one, or the last one without a line end) comes on its own.
                if (in_.atEnd()) return true;
                push(in_.readLine());
                return false;
            }
        }
        while (count_ < kAhead && !block_.empty()) {
            // Every line of a block ends at a CR; an LF right after it
            // belongs to that line end.
            const char* cr =
                static_cast<const char*>(std::memchr(block_.data(), '\r', block_.size()));
            const auto n = static_cast<std::size_t>(cr - block_.data());
            push(block_.substr(0, n));
            const std::size_t end = n + 1 < block_.size() && cr[1] == '\n' ? n + 2 : n + 1;
            block_.remove_prefix(end);
        }
        return false;
    }
    // The oldest line read; valid until the next end test.
    const Line& take() {
        const Line& l = ring_[head_];
        head_ = (head_ + 1) % kAhead;
        --count_;
        return l;
    }

private:
    void push(std::string_view text) {
        Line& l = ring_[(head_ + count_) % kAhead];
        l.text = text;
        l.hash = grid_.hashOf(text);
        grid_.prefetch(l.hash);
        ++count_;
    }

    static constexpr int kAhead = 16;
    listio::TextReader& in_;
    const KeptLines& grid_;
    std::string_view block_; // lines of the reader's buffer not yet in the ring
    Line ring_[kAhead];
    int head_ = 0, count_ = 0;
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
    LookAhead lines(in, grid);

    ProgressPacer pacer(run.progressEvery);
    int64_t shown = 0;
    // The first line is kept without a look at the stop flag: a stop can
    // only end the pass between lines.
    if (!lines.atEnd()) {
        const LookAhead::Line& line = lines.take();
        ++counts.linesRead;
        grid.insert(line.text, line.hash);
        if (pacer.due(line.text.size())) {
            listener.progress(counts.linesRead, run.total);
            shown = counts.linesRead;
        }
    }
    // The end test comes first, so a stop during the last line ends the loop
    // by the end test; the outcome below still reads the flag.
    while (!lines.atEnd() && !stop.load(std::memory_order_acquire)) {
        const LookAhead::Line& line = lines.take();
        ++counts.linesRead;
        grid.insert(line.text, line.hash);
        if (pacer.due(line.text.size())) {
            listener.progress(counts.linesRead, run.total);
            shown = counts.linesRead;
        }
    }
    counts.kept = grid.size();
    if (shown != counts.linesRead) listener.progress(counts.linesRead, run.total);
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
        listio::saveText(run.output, grid.text());
    }
    return outcome;
}

} // namespace vq::checking
