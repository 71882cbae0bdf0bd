// The de-duplication core below the window and the command line, for what
// neither shows: the index against a plain comparison with every kept row,
// a stop during the last line, and the pacing of progress.
#include "checking/dedup.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_set>

namespace chk = vq::checking;

// The index must answer exactly as comparing with every kept row would:
// through every growth of the index, and with a hash so poor that every
// lookup meets rows of the same hash and only the bytes decide.
TEST(CheckCore, KeptLinesMatchAComparisonWithEveryRow) {
    struct Run {
        chk::KeptLines::LineHash hash;
        int64_t hint;
        int lines;
    };
    auto firstByteOnly = [](const char* p, std::size_t n) -> uint64_t {
        return n ? static_cast<unsigned char>(p[0]) : 0;
    };
    for (const Run& r : {Run{&chk::hashLine, 0, 200000}, Run{&chk::hashLine, 300000, 200000},
                         Run{firstByteOnly, 0, 4000}}) {
        std::mt19937 rng(7);
        chk::KeptLines grid(r.hash);
        grid.expectLines(r.hint);
        std::unordered_set<std::string> seen;
        std::string expected;
        for (int i = 0; i < r.lines; ++i) {
            // Short lines of six bytes repeat often; longer ones of two rarely.
            std::string line(rng() % 40, '\0');
            for (char& ch : line)
                ch = "ab\n\0 Z"[rng() % (line.size() < 4 ? 6 : 2)];
            const bool isNew = seen.insert(line).second;
            ASSERT_EQ(grid.insert(line), isNew) << i;
            if (isNew) expected += line + "\r\n";
        }
        EXPECT_EQ(grid.size(), static_cast<int64_t>(seen.size()));
        EXPECT_TRUE(grid.text() == expected);
        grid.clear();
        EXPECT_TRUE(grid.insert("a"));
        EXPECT_EQ(grid.text(), "a\r\n");
    }
}

namespace {
struct Recorder : chk::CheckListener {
    std::string log;
    int progressCalls = 0;
    int64_t lastShown = -1;
    void passStarted(int64_t total) override { log += "started " + std::to_string(total) + ";"; }
    void progress(int64_t n, int64_t) override {
        ++progressCalls;
        lastShown = n;
    }
    void passEnded() override { log += "ended at " + std::to_string(lastShown) + ";"; }
    void outcomeReady(chk::Outcome o, const chk::CheckCounts& c) override {
        log += std::string(chk::messageFor(o)) + " " + std::to_string(c.linesRead) + ";";
    }
};
} // namespace

TEST(CheckCore, StopDuringTheLastLineIsStillAStopAndProgressIsPaced) {
    vqtest::TempDir dir;
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += std::to_string(i % 30000) + "\r\n";
    vqtest::writeFile(dir.file("in.txt"), text);
    std::atomic<bool> abort{false};
    // The flag is set during the last line: the loop ends by its end test.
    chk::CheckRun run{dir.file("in.txt"), dir.file("out.txt"), 50000,
                      [&](int64_t n) { abort = n == 50000; }};
    chk::KeptLines grid;
    chk::CheckCounts counts;
    Recorder rec;
    EXPECT_EQ(chk::removeDuplicates(run, grid, abort, rec, counts), chk::Outcome::Stopped);
    EXPECT_EQ(rec.log, "started 50000;ended at 50000;邮件列表校验终止! 50000;");
    EXPECT_FALSE(vqtest::exists(dir.file("out.txt")));
    // The clock is looked at once per batch of lines, never once per line.
    EXPECT_LE(rec.progressCalls, 50000 / chk::ProgressPacer::kLinesPerLook + 1);
}
