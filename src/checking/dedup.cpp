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

int64_t countLines(listio::TextReader& in) {
    int64_t n = 0;
    while (!in.atEnd()) {
        in.readLine();
        ++n;
    }
    return n;
}

int64_t countLines(const std::string& fileName) {
    listio::TextReader in(fileName);
    int64_t n = countLines(in);
    in.close();
    return n;
}

Outcome removeDuplicates(const CheckRun& run, KeptLines& grid, const std::atomic<bool>& abort,
                         CheckListener& listener, CheckCounts& counts) {
    counts = CheckCounts{};
    counts.total = run.total;
    grid.clear();

    listio::TextReader in(run.input);
    listener.passStarted(run.total);
    grid.expectLines(run.total);

    ProgressPacer pacer;
    int64_t shown = 0;
    // The first line is kept without a look at the abort flag: a stop can
    // only end the pass between lines.
    if (!in.atEnd()) {
        std::string_view line = in.readLine();
        ++counts.linesRead;
        grid.insert(line);
        if (run.afterLine) run.afterLine(counts.linesRead);
    }
    // The end test comes first, so a stop during the last line ends the loop
    // by the end test; the outcome below still reads the flag.
    while (!in.atEnd() && !abort.load(std::memory_order_acquire)) {
        std::string_view line = in.readLine();
        ++counts.linesRead;
        grid.insert(line);
        if (pacer.due(line.size())) {
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
