#pragma once
// The list check without its windows: the counting pass, the
// de-duplication pass and the saving of the kept lines. The main window (on
// its worker thread) and the command-line companion both drive it; what
// they show of its progress they learn through a CheckListener.
#include "checking/kept_lines.h"
#include "checking/partitions.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vq::listio {
class TextReader;
}

namespace vq::checking {

inline constexpr std::string_view kCheckStopped = "邮件列表校验终止!";
inline constexpr std::string_view kNoDuplicates = "邮件列表没有重复!";
inline constexpr std::string_view kCheckFinished = "邮件列表校验完毕!";

enum class Outcome {
    Stopped,           // the stop button was pressed: nothing written
    NoDuplicates,      // every line distinct: nothing written
    DuplicatesRemoved, // the kept lines replaced the output file
};

std::string_view messageFor(Outcome outcome);

struct CheckCounts {
    int64_t total = 0;     // lines found by the counting pass
    int64_t linesRead = 0; // lines read by the de-duplication pass
    int64_t kept = 0;      // distinct lines
    int64_t duplicates() const { return linesRead - kept; }
};

// "17 of Total 250..."
std::string progressText(int64_t linesRead, int64_t total);

// How often a running count is shown: a few dozen times a second.
inline constexpr std::chrono::milliseconds kProgressInterval{40};

// Decides when a running count is worth showing: the pass counts every line,
// but a display wants the newest count only a few dozen times a second. The
// clock is read once per batch of lines (or of bytes, for long lines), so the
// pacing costs next to nothing per line.
class ProgressPacer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kLinesPerLook = 1024;
    static constexpr std::size_t kBytesPerLook = std::size_t(1) << 20;

    // A zero interval makes every line due.
    explicit ProgressPacer(Clock::duration interval) : interval_(interval), last_(Clock::now()) {}

    // Called after each line; true when its count should be shown now.
    bool due(std::size_t lineBytes) {
        if (interval_ == Clock::duration::zero()) return true;
        bytes_ += lineBytes;
        if (++lines_ < kLinesPerLook && bytes_ < kBytesPerLook) return false;
        lines_ = 0;
        bytes_ = 0;
        const auto now = Clock::now();
        if (now - last_ < interval_) return false;
        last_ = now;
        return true;
    }

private:
    Clock::duration interval_;
    Clock::time_point last_;
    int lines_ = 0;
    std::size_t bytes_ = 0;
};

// What a caller shows of a running pass, in the order of the pass.
class CheckListener {
public:
    virtual ~CheckListener() = default;
    // The input is open again; nothing is read yet (progress 0 of total).
    virtual void passStarted(int64_t /*total*/) {}
    // A newer count of lines read; paced by ProgressPacer. The count of the
    // last line read always arrives before passEnded.
    virtual void progress(int64_t /*linesRead*/, int64_t /*total*/) {}
    // The input is closed; the pass is over.
    virtual void passEnded() {}
    // The outcome and its counts, before anything is written.
    virtual void outcomeReady(Outcome, const CheckCounts&) {}
    // The check went past its direct pass into partitions; before passEnded.
    virtual void partitioned(const PartitionReport&) {}
};

struct CheckRun {
    std::string input, output;
    int64_t total = 0; // from the counting pass
    // The pacing of CheckListener::progress; zero reports every line.
    std::chrono::milliseconds progressEvery = kProgressInterval;
    // The memory budget in bytes; 0 takes defaultMemoryBudget().
    uint64_t memory = 0;
    // Tests fix the number of partitions here; 0 lets the sizes decide.
    int partitions = 0;
};

// The memory a check may hold when nothing else is said: half of what the
// system has available at its start, and no more than half of what a limit
// on the process (its control group's memory.max, ulimit -v) leaves.
uint64_t defaultMemoryBudget();

// The de-duplication pass and its end: reads run.input again, keeps the
// first occurrence of each line in grid (emptied first), ends early when
// stop is set (looked at once per line, never before the first), and, when
// not stopped and a repeat was found, saves the kept lines to run.output
// with the whole-file saver. The grid is left filled for the caller, who
// empties it once the outcome has been shown. Throws the list-file errors.
//
// The check holds at most run.memory bytes of lines and index, beyond a few
// MiB of buffers and four times its longest line (a line is always held
// whole). While the distinct lines fit that budget and one index serves
// them well, they are kept in grid as they come (the direct pass). Past
// that, the later lines go into partitions (in memory while the budget
// allows, in a scratch file beyond it), each is checked on its own, and the
// list is read once more to write the first occurrences in order: the
// outcome, the counts and the bytes are those of the direct pass. The
// progress then counts each later line in three steps (partitioned,
// decided, written), so the count still reaches the line total once, at
// the end. A stop ends any of these steps within a fraction of a second.
Outcome removeDuplicates(const CheckRun& run, KeptLines& grid, const std::atomic<bool>& stop,
                         CheckListener& listener, CheckCounts& counts);

} // namespace vq::checking
