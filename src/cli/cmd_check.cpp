// veskoqindra-cli check [--memory SIZE] IN OUT: the list check from a shell.
// Ctrl-C is the stop button; on a terminal the running count shows on
// stderr.
#include "checking/dedup.h"
#include "cli/cli.h"
#include "cli/run_files.h"
#include "listio/listio.h"

#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace {

namespace chk = vq::checking;

std::atomic<bool> stopRequested{false};
// The signal that stopped the check: its exit status is 128 + it, as shells
// report an interrupted command (130 for Ctrl-C, 143 for SIGTERM).
std::atomic<int> stopSignal{SIGINT};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");
static_assert(std::atomic<int>::is_always_lock_free,
              "the stop signal is set from a signal handler");

extern "C" void onInterrupt(int sig) {
    stopSignal.store(sig);
    stopRequested.store(true);
}

// Ctrl-C and SIGTERM set the abort flag instead of ending the process. Both
// are also unblocked: a check started with them blocked would otherwise be
// unstoppable, and one already pending is taken as a stop at once.
void catchInterrupt() {
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART; // reads and writes carry on; the pass looks at the flag
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGINT, SIGTERM}) {
        sigaction(s, &sa, nullptr);
        sigaddset(&stops, s);
    }
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
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

// "256M": bytes, or KiB, MiB, GiB, TiB with K, M, G, T; nothing when the
// text is no size or is 0.
std::optional<uint64_t> memorySize(const std::string& text) {
    std::size_t digits = 0;
    uint64_t value = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(text[digits] - '0');
    }
    if (digits == 0 || text.size() > digits + 1) return std::nullopt;
    unsigned shift = 0;
    if (text.size() == digits + 1) {
        const std::size_t unit = std::string_view("KMGT").find(
            static_cast<char>(std::toupper(static_cast<unsigned char>(text[digits]))));
        if (unit == std::string_view::npos) return std::nullopt;
        shift = 10 * static_cast<unsigned>(unit + 1);
    }
    if (value == 0 || value > (UINT64_MAX >> shift)) return std::nullopt;
    return value << shift;
}

int runCheck(const std::vector<std::string>& args) {
    auto p = vq::cli::parseArgs(args, {}, {"--memory"});
    if (!p.error.empty()) return vq::cli::usageError("check", p.error);
    uint64_t memory = 0; // the machine's default
    for (const auto& [name, value] : p.options) {
        const auto size = memorySize(value);
        if (!size) return vq::cli::usageError("check", "invalid memory size '" + value + "'");
        memory = *size;
    }
    if (p.positional.size() != 2) return vq::cli::usageError("check", "expects IN and OUT");

    // Standard input is read twice, so it is spooled to a temporary file.
    const auto files = vq::cli::startRun({p.positional[0]}, {p.positional[1]});
    catchInterrupt();
    chk::CheckRun run;
    run.input = files.inputs[0];
    run.output = files.outputs[0];
    run.total = vq::listio::countLines(run.input);
    run.memory = memory;

    chk::KeptLines grid;
    chk::CheckCounts counts;
    TerminalProgress progress;
    const chk::Outcome outcome = chk::removeDuplicates(run, grid, stopRequested, progress, counts);
    vq::cli::catchRunSignals();
    // Without a repeat the kept lines are all the lines. A file OUT is left
    // as it was, as the window leaves it; a pipe holds no older list, and
    // the stages after it must get the whole list, not nothing.
    const bool passedOn = outcome == chk::Outcome::NoDuplicates && vq::cli::isRelayed(run.output);
    if (passedOn) {
        vq::listio::TextReader in(run.input);
        vq::listio::TextWriter out(run.output);
        in.copyLinesTo(out);
        out.close();
        in.close();
    }
    vq::cli::finishRun();
    vq::cli::printMessage(chk::messageFor(outcome));
    // A script must not take an older OUT for this run's result.
    if (outcome == chk::Outcome::NoDuplicates)
        vq::cli::printNote(p.positional[1] + (passedOn
                                                  ? ": no line is repeated; the list is written "
                                                    "unchanged"
                                                  : ": not written, as no line is repeated"));
    return outcome == chk::Outcome::Stopped ? 128 + stopSignal.load() : 0;
}

const vq::cli::Register reg({"check", "[--memory SIZE] IN OUT",
                             "keep the first occurrence of every line of IN, in order, and "
                             "write them to OUT when a line was repeated (standard output or a "
                             "pipe gets them always); Ctrl-C stops. The check holds at most SIZE "
                             "bytes of lines (K, M, G suffixes; default: half the available "
                             "memory) and keeps the rest in a scratch file",
                             20, runCheck});

} // namespace
