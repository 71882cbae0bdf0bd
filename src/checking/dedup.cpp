#include "checking/dedup.h"

#include "listio/listio.h"

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
// lands on a slot that is not in the cache. Reading ahead changes nothing
// that shows: lines are still checked, counted and stopped at one by one.
class LookAhead {
public:
    struct Line {
        std::string text;
        uint64_t hash = 0;
    };

    LookAhead(listio::TextReader& in, const KeptLines& grid) : in_(in), grid_(grid) {}

    // The reader's end test, for the lines not yet taken.
    bool atEnd() {
        // Long lines are not read ahead: one of them is worth no cache miss.
        while (count_ < kAhead && (count_ == 0 || bytes_ < kAheadBytes) && !in_.atEnd()) {
            Line& l = ring_[(head_ + count_) % kAhead];
            std::string_view text = in_.readLine();
            // A slot that held a very long line gives its memory back.
            if (l.text.capacity() > kAheadBytes && text.size() <= kAheadBytes)
                std::string().swap(l.text);
            l.text.assign(text);
            l.hash = grid_.hashOf(l.text);
            grid_.prefetch(l.hash);
            bytes_ += l.text.size();
            ++count_;
        }
        return count_ == 0;
    }
    // The oldest line read; valid until the next end test.
    const Line& take() {
        const Line& l = ring_[head_];
        head_ = (head_ + 1) % kAhead;
        --count_;
        bytes_ -= l.text.size();
        return l;
    }

private:
    static constexpr int kAhead = 8;
    static constexpr std::size_t kAheadBytes = std::size_t(64) << 10;
    listio::TextReader& in_;
    const KeptLines& grid_;
    Line ring_[kAhead];
    int head_ = 0, count_ = 0;
    std::size_t bytes_ = 0; // held in the slots not yet taken
};

} // namespace

Outcome removeDuplicates(const CheckRun& run, KeptLines& grid, const std::atomic<bool>& abort,
                         CheckListener& listener, CheckCounts& counts) {
    counts = CheckCounts{};
    counts.total = run.total;
    grid.clear();

    listio::TextReader in(run.input);
    listener.passStarted(run.total);
    grid.expectLines(run.total);
    LookAhead lines(in, grid);

    ProgressPacer pacer;
    int64_t shown = 0;
    // The first line is kept without a look at the abort flag: a stop can
    // only end the pass between lines.
    if (!lines.atEnd()) {
        const LookAhead::Line& line = lines.take();
        ++counts.linesRead;
        grid.insert(line.text, line.hash);
        if (run.afterLine) run.afterLine(counts.linesRead);
    }
    // The end test comes first, so a stop during the last line ends the loop
    // by the end test; the outcome below still reads the flag.
    while (!lines.atEnd() && !abort.load(std::memory_order_acquire)) {
        const LookAhead::Line& line = lines.take();
        ++counts.linesRead;
        grid.insert(line.text, line.hash);
        if (pacer.due(line.text.size())) {
            listener.progress(counts.linesRead, run.total);
            shown = counts.linesRead;
        }
        if (run.afterLine) run.afterLine(counts.linesRead);
    }
    counts.kept = grid.size();
    if (shown != counts.linesRead) listener.progress(counts.linesRead, run.total);
    in.close();
    listener.passEnded();

    Outcome outcome = abort.load(std::memory_order_acquire) ? Outcome::Stopped
                      : counts.kept == counts.linesRead     ? Outcome::NoDuplicates
                                                            : Outcome::DuplicatesRemoved;
    listener.outcomeReady(outcome, counts);
    if (outcome == Outcome::DuplicatesRemoved) listio::saveText(run.output, grid.text());
    return outcome;
}

} // namespace vq::checking
