#include "check_cases.h"
#include "checking/dedup.h"
#include "listio/errors.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_set>

namespace {

namespace chk = vq::checking;
using vqtest::readFile;
using vqtest::writeFile;

// Records the listener's calls as text, in the order they came.
struct Recorder : chk::CheckListener {
    std::string log;
    int progressCalls = 0;
    int64_t lastShown = -1;
    void passStarted(int64_t total) override { log += "started " + std::to_string(total) + ";"; }
    void progress(int64_t n, int64_t) override {
        ++progressCalls;
        lastShown = n;
    }
    void passEnded() override { log += "ended " + std::to_string(lastShown) + ";"; }
    void outcomeReady(chk::Outcome o, const chk::CheckCounts&) override {
        log += "outcome " + std::to_string(static_cast<int>(o)) + ";";
    }
};

struct Fixture {
    vqtest::TempDir dir;
    std::string in = dir.file("in.txt"), out = dir.file("out.txt");
    chk::KeptLines grid;
    chk::CheckCounts counts;
    std::atomic<bool> abort{false};
    Recorder rec;
    chk::Outcome run(std::function<void(int64_t)> afterLine = {}) {
        chk::CheckRun r{in, out, chk::countLines(in), std::move(afterLine)};
        return chk::removeDuplicates(r, grid, abort, rec, counts);
    }
};

} // namespace

TEST(CheckCore, EveryCase) {
    for (const auto& c : vqtest::checkCases()) {
        SCOPED_TRACE(c.name);
        Fixture f;
        writeFile(f.in, c.input);
        writeFile(f.out, "old\r\n");
        const chk::Outcome o = f.run();
        EXPECT_EQ(f.counts.total, c.lines);
        EXPECT_EQ(f.counts.linesRead, c.lines);
        EXPECT_EQ(f.counts.kept, c.kept);
        EXPECT_EQ(o,
                  c.written.empty() ? chk::Outcome::NoDuplicates : chk::Outcome::DuplicatesRemoved);
        // Nothing written leaves a file under the output name as it was.
        EXPECT_EQ(readFile(f.out), c.written.empty() ? "old\r\n" : c.written);
        EXPECT_EQ(f.rec.lastShown, c.lines > 0 ? c.lines : -1);
    }
}

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
        EXPECT_TRUE(grid.empty());
        EXPECT_TRUE(grid.insert("a"));
        EXPECT_EQ(grid.text(), "a\r\n");
    }
}

TEST(CheckCore, StopBeforeThePassKeepsOnlyTheFirstLineAndWritesNothing) {
    Fixture f;
    writeFile(f.in, "a\r\na\r\nb\r\n");
    f.abort = true;
    EXPECT_EQ(f.run(), chk::Outcome::Stopped);
    EXPECT_EQ(f.counts.linesRead, 1);
    EXPECT_EQ(f.counts.total, 3);
    EXPECT_FALSE(vqtest::exists(f.out));
}

TEST(CheckCore, StopDuringTheLastLineIsStillAStop) {
    Fixture f;
    writeFile(f.in, "a\r\na\r\nb\r\n");
    EXPECT_EQ(f.run([&](int64_t n) { f.abort = n == 3; }), chk::Outcome::Stopped);
    EXPECT_EQ(f.counts.linesRead, 3);
    EXPECT_FALSE(vqtest::exists(f.out));
}

TEST(CheckCore, ProgressIsPacedAndEndsWithTheLastCount) {
    Fixture f;
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += std::to_string(i % 30000) + "\r\n";
    writeFile(f.in, text);
    f.run();
    // Started, then the final count before the end, then the outcome.
    EXPECT_EQ(f.rec.log, "started 50000;ended 50000;outcome 2;");
    // The clock is looked at once per batch of lines: never a call per line.
    EXPECT_LE(f.rec.progressCalls, 50000 / chk::ProgressPacer::kLinesPerLook + 1);
    EXPECT_EQ(chk::progressText(17, 250), "17 of Total 250...");
}

TEST(CheckCore, FailuresLeaveNoOutput) {
    Fixture f;
    writeFile(f.in, "a\r\na\r\n");
    chk::CheckRun toMissingFolder{f.in, f.dir.file("no/out.txt"), 2, {}};
    EXPECT_THROW(chk::removeDuplicates(toMissingFolder, f.grid, f.abort, f.rec, f.counts),
                 vq::EFCreateError);
    EXPECT_FALSE(vqtest::exists(f.dir.file("no")));
    chk::CheckRun missingInput{f.dir.file("gone.txt"), f.out, 2, {}};
    try {
        chk::removeDuplicates(missingInput, f.grid, f.abort, f.rec, f.counts);
        FAIL() << "a missing input must fail";
    } catch (const vq::EInOutError& e) {
        EXPECT_EQ(e.code(), vq::iocode::FileNotFound);
    }
    EXPECT_FALSE(vqtest::exists(f.out));
}
