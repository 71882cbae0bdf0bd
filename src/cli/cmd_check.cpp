// veskoqindra-cli check IN OUT: the list check from a shell. Ctrl-C is the
// stop button; on a terminal the running count shows on stderr.
#include "checking/dedup.h"
#include "cli/cli.h"
#include "listio/listio.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

namespace chk = vq::checking;

// The exit status of a check stopped by Ctrl-C, as shells report an
// interrupted command.
constexpr int kStoppedStatus = 130;

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

extern "C" void onInterrupt(int) {
    stopRequested.store(true);
}

// Ctrl-C sets the abort flag instead of ending the process. SIGINT is also
// unblocked: a check started with it blocked would otherwise be unstoppable,
// and one already pending is taken as a stop at once.
void catchInterrupt() {
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART; // reads and writes carry on; the pass looks at the flag
    sigaction(SIGINT, &sa, nullptr);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
}

class TerminalProgress : public chk::CheckListener {
public:
    TerminalProgress() : shown_(isatty(STDERR_FILENO) == 1) {}

    void passStarted(int64_t total) override { show(0, total); }
    void progress(int64_t linesRead, int64_t total) override { show(linesRead, total); }
    void passEnded() override {
        if (shown_) std::fputc('\n', stderr);
    }
    void outcomeReady(chk::Outcome outcome, const chk::CheckCounts& c) override {
        // The labels the window fills, in its order; a stopped check fills
        // only the line total.
        if (outcome == chk::Outcome::Stopped) {
            vq::cli::printCount("地址总数", c.total);
            return;
        }
        vq::cli::printCount("地址总数", c.linesRead);
        vq::cli::printCount("删除重复", c.duplicates());
        vq::cli::printCount("有效地址", c.kept);
    }

private:
    void show(int64_t linesRead, int64_t total) {
        if (!shown_) return;
        std::fprintf(stderr, "\r%s", chk::progressText(linesRead, total).c_str());
        std::fflush(stderr);
    }
    bool shown_;
};

int runCheck(const std::vector<std::string>& args) {
    auto p = vq::cli::parseArgs(args, {}, {});
    if (!p.error.empty()) return vq::cli::usageError("check", p.error);
    if (p.positional.size() != 2) return vq::cli::usageError("check", "expects IN and OUT");

    catchInterrupt();
    chk::CheckRun run;
    run.input = p.positional[0];
    run.output = p.positional[1];
    run.total = vq::listio::countLines(run.input);

    chk::KeptLines grid;
    chk::CheckCounts counts;
    TerminalProgress progress;
    const chk::Outcome outcome = chk::removeDuplicates(run, grid, stopRequested, progress, counts);
    vq::cli::printMessage(chk::messageFor(outcome));
    return outcome == chk::Outcome::Stopped ? kStoppedStatus : 0;
}

const vq::cli::Register reg({"check", "IN OUT",
                             "keep the first occurrence of every line of IN, in order, and "
                             "write them to OUT when a line was repeated; Ctrl-C stops",
                             20, runCheck});

} // namespace
