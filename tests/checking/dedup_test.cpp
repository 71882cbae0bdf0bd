// The de-duplication core below the window and the command line, for what
// neither shows: the index against a plain comparison with every kept row,
// a stop during the last line, and the pacing of progress.
#include "check_cases.h"
#include "checking/dedup.h"
#include "listio/fault_seam.h"
#include "listio/outcome.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <thread>
#include <unordered_set>

namespace chk = vq::checking;

// The index must answer exactly as comparing with every kept row would:
// through every growth of the index, and with a hash so poor that every
// lookup meets rows of the same hash and only the bytes decide.
TEST(CheckCore, KeptLinesMatchAComparisonWithEveryRow) {
    struct Run {
        chk::KeptLines::LineHash hash;
        bool wideSlots;
        int64_t hintLines;
        uint64_t hintBytes; // too small for the rows: the arena outgrows it
        int lines;
    };
    auto firstByteOnly = [](const char* p, std::size_t n) -> uint64_t {
        return n ? static_cast<unsigned char>(p[0]) : 0;
    };
    for (const Run& r :
         {Run{&chk::hashLine, false, 0, 0, 200000},
          Run{&chk::hashLine, false, 300000, 100000, 200000},
          Run{&chk::hashLine, true, 300000, 0, 200000}, Run{firstByteOnly, false, 0, 0, 4000},
          Run{firstByteOnly, true, 0, 0, 4000}}) {
        std::mt19937 rng(7);
        chk::KeptLines grid(r.hash, r.wideSlots);
        grid.expectLines(r.hintLines, r.hintBytes);
        std::unordered_set<std::string> seen;
        std::string expected;
        for (int i = 0; i < r.lines; ++i) {
            // Short lines of six bytes repeat often; longer ones of two rarely.
            std::string line(rng() % 40, '\0');
            for (char& ch : line)
                ch = "ab\n\0 Z"[rng() % (line.size() < 4 ? 6 : 2)];
            const bool isNew = seen.insert(line).second;
            // Halfway the index is given back, as before a save: it must
            // come back whole.
            if (i == r.lines / 2) grid.dropIndex();
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

// Every case in every way, against what the case says: the outcome, the
// counts, the bytes written, the running count ending at the last line,
// and nothing left beside the files. Partitioned, the lines also go
// through a hash so poor that the partitions cannot be cut apart.
TEST(CheckCore, EveryCaseInEveryWay) {
    struct Watch : chk::CheckListener {
        int64_t last = 0;
        std::optional<chk::PartitionReport> report;
        void progress(int64_t n, int64_t) override {
            EXPECT_GE(n, last) << "the running count went back";
            last = n;
        }
        void partitioned(const chk::PartitionReport& r) override { report = r; }
    };
    auto firstByteOnly = [](const char* p, std::size_t n) -> uint64_t {
        return n ? static_cast<unsigned char>(p[0]) : 0;
    };
    std::vector<vqtest::CheckWay> ways = vqtest::checkWays();
    ways.push_back({"PartitionedWithAPoorHash", 1, 3});
    for (const auto& way : ways) {
        for (const auto& c : vqtest::checkCases()) {
            SCOPED_TRACE(way.name + ", " + c.name);
            vqtest::TempDir dir;
            vqtest::writeFile(dir.file("in.txt"), c.input);
            vqtest::writeFile(dir.file("out.txt"), "old\r\n");
            chk::CheckRun run{
                dir.file("in.txt"),           dir.file("out.txt"), way.uncounted ? 0 : c.lines,
                std::chrono::milliseconds(0), way.memory,          way.partitions};
            const bool poor = way.name == "PartitionedWithAPoorHash";
            chk::KeptLines grid(poor ? +firstByteOnly : &chk::hashLine);
            chk::CheckCounts counts;
            Watch watch;
            std::atomic<bool> stop{false};
            const chk::Outcome outcome = chk::removeDuplicates(run, grid, stop, watch, counts);
            EXPECT_EQ(outcome, c.written.empty() ? chk::Outcome::NoDuplicates
                                                 : chk::Outcome::DuplicatesRemoved);
            EXPECT_EQ(counts.linesRead, c.lines);
            EXPECT_EQ(counts.kept, c.kept);
            EXPECT_TRUE(vqtest::sameBytes(vqtest::readFile(dir.file("out.txt")),
                                          c.written.empty() ? "old\r\n" : c.written));
            EXPECT_EQ(watch.last, c.lines);
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
            // The smallest budget partitions every list with a line, in the
            // scratch file.
            if (way.memory == 0) {
                EXPECT_FALSE(watch.report.has_value());
            }
            if (way.memory == 1) {
                EXPECT_EQ(watch.report.has_value(), c.lines > 0);
                if (watch.report) {
                    EXPECT_GT(watch.report->scratch, 0u);
                }
            }
            if (way.partitions > 0 && watch.report) {
                EXPECT_EQ(watch.report->partitions, way.partitions);
            }
            if (way.memory >= 48 << 10 && watch.report) {
                EXPECT_EQ(watch.report->scratch, 0u);
            }
        }
    }
}

// The pass takes lines in blocks straight from the reader's buffer, and a
// line that runs past the buffer on its own: lines of every length, ended
// by CR or CR LF, must come out as comparing with every kept row keeps them.
TEST(CheckCore, PassOverLinesLongerThanTheReadBufferKeepsFirstOccurrences) {
    std::mt19937 rng(11);
    std::vector<std::string> pool = {"", "a@b.cn", "A@b.cn", "a@b.cn ", "x\ny", "\x1b\xb0\xa1"};
    for (int i = 0; i < 30; ++i)
        pool.push_back("u" + std::to_string(i) + "@mail.example.com");
    for (std::size_t size : {std::size_t(300000), std::size_t(1) << 20, std::size_t(1500000)})
        for (char last : {'a', 'b'})
            pool.push_back(std::string(size, 'q') + last);
    std::string text;
    std::vector<std::string> lines;
    while (text.size() < (std::size_t(9) << 20)) {
        // One long line in forty.
        const std::size_t pick =
            rng() % 40 == 0 ? pool.size() - 1 - rng() % 6 : rng() % (pool.size() - 6);
        lines.push_back(pool[pick]);
        text += pool[pick] + (rng() % 3 == 0 ? "\r" : "\r\n");
    }
    std::vector<std::string> kept;
    for (const std::string& line : lines)
        if (std::find(kept.begin(), kept.end(), line) == kept.end()) kept.push_back(line);
    std::string written;
    for (const std::string& line : kept)
        written += line + "\r\n";

    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("in.txt"), text);
    const auto total = static_cast<int64_t>(lines.size());
    chk::CheckRun run{dir.file("in.txt"), dir.file("out.txt"), total};
    chk::KeptLines grid;
    chk::CheckCounts counts;
    chk::CheckListener quiet;
    std::atomic<bool> abort{false};
    EXPECT_EQ(chk::removeDuplicates(run, grid, abort, quiet, counts),
              chk::Outcome::DuplicatesRemoved);
    EXPECT_EQ(counts.linesRead, total);
    EXPECT_EQ(counts.kept, static_cast<int64_t>(kept.size()));
    EXPECT_TRUE(vqtest::readFile(dir.file("out.txt")) == written);
}

namespace {
struct Recorder : chk::CheckListener {
    std::atomic<bool> stop{false};
    int64_t stopAt = 0; // the line whose report presses the stop
    std::string log;
    int progressCalls = 0;
    int64_t lastShown = -1;
    void passStarted(int64_t total) override { log += "started " + std::to_string(total) + ";"; }
    void progress(int64_t n, int64_t) override {
        ++progressCalls;
        lastShown = n;
        if (stopAt > 0 && n >= stopAt) stop = true;
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
    chk::KeptLines grid;
    chk::CheckCounts counts;

    // Reported after every line, the stop comes during the last one: the
    // loop ends by its end test, and the outcome is still a stop.
    Recorder everyLine;
    everyLine.stopAt = 50000;
    chk::CheckRun run{dir.file("in.txt"), dir.file("out.txt"), 50000, std::chrono::milliseconds(0)};
    EXPECT_EQ(chk::removeDuplicates(run, grid, everyLine.stop, everyLine, counts),
              chk::Outcome::Stopped);
    EXPECT_EQ(everyLine.log, "started 50000;ended at 50000;邮件列表校验终止! 50000;");
    EXPECT_EQ(everyLine.progressCalls, 50000);
    EXPECT_FALSE(vqtest::exists(dir.file("out.txt")));

    // Lines are read a few batches ahead of the one checked: a stop in the
    // middle of the list still ends the pass right after its line.
    Recorder midway;
    midway.stopAt = 20000;
    EXPECT_EQ(chk::removeDuplicates(run, grid, midway.stop, midway, counts), chk::Outcome::Stopped);
    EXPECT_EQ(midway.log, "started 50000;ended at 20000;邮件列表校验终止! 20000;");
    EXPECT_EQ(counts.kept, 20000);

    // Paced, the clock is looked at once per batch of lines, and the last
    // count still arrives before the end.
    Recorder paced;
    run.progressEvery = chk::kProgressInterval;
    EXPECT_EQ(chk::removeDuplicates(run, grid, paced.stop, paced, counts),
              chk::Outcome::DuplicatesRemoved);
    EXPECT_EQ(paced.log, "started 50000;ended at 50000;邮件列表校验完毕! 50000;");
    EXPECT_LE(paced.progressCalls, 50000 / chk::ProgressPacer::kLinesPerLook + 1);

    // Partitioned, the count shows the lines going into their partitions
    // in its first third, the partitions being decided in its second and
    // the kept lines being written in its last: a stop in any of them ends
    // the pass, and nothing is written or left behind.
    run.memory = 64 << 10;
    run.progressEvery = std::chrono::milliseconds(0);
    std::filesystem::remove(dir.file("out.txt"));
    for (int64_t at : {8000, 25000, 42000}) {
        SCOPED_TRACE(at);
        Recorder partitioned;
        partitioned.stopAt = at;
        EXPECT_EQ(chk::removeDuplicates(run, grid, partitioned.stop, partitioned, counts),
                  chk::Outcome::Stopped);
        EXPECT_GE(partitioned.lastShown, at);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

// Once a repeat is found, the rows kept so far go into the save's temporary
// while the pass is still at work. Held at a line, the pass finds them
// written before the save begins; a write that fails there fails the save
// as it would have failed at the end, which then leaves nothing behind. A
// list that grew after it was counted outgrows the rows' room, which must
// stop the writing ahead from reading rows about to move; grown further
// past the budget, its rows written so far stay the start of the text.
TEST(CheckCore, KeptRowsAreWrittenAheadOfTheSave) {
    using vq::listio::faults::Op;
    struct Hold : chk::CheckListener {
        std::atomic<int> writes{0};
        bool spilled = false;
        void partitioned(const chk::PartitionReport&) override { spilled = true; }
        int waits = 0; // of 10 ms, at line 150,000, until something is written
        void progress(int64_t n, int64_t) override {
            for (int i = 0; n == 150000 && writes == 0 && i < waits; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    const struct {
        const char* name;
        const char* ends; // of every line
        int repeatEvery;  // lines
        int failWrite;    // errno of the first write to the temporary, or 0
        int64_t total;    // what the pass is told of the list's length
        int waits;
        uint64_t memory = 0;
    } cases[] = {
        {"written ahead", "\r\n", 10, 0, 200000, 2000},
        {"first write fails", "\r\n", 10, ENOSPC, 200000, 2000},
        {"grown since counted empty", "\r", 1000, 0, 0, 30},
        {"grown past the budget", "\r\n", 10, 0, 10000, 2000, 3584 << 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text, expected;
        for (int i = 0; i < 200000; ++i) {
            const bool repeat = i % c.repeatEvery == c.repeatEvery - 1;
            const std::string line = "user" + std::to_string(repeat ? i - 1 : i) + "@mail.cn";
            text += line + c.ends;
            if (!repeat) expected += line + "\r\n";
        }
        vqtest::TempDir dir;
        vqtest::writeFile(dir.file("in.txt"), text);
        Hold held;
        held.waits = c.waits;
        vq::listio::faults::setHook([&](Op op, const std::string& path) {
            const bool temporary = path.find("/.vq-save-") != std::string::npos;
            return op == Op::Write && temporary && ++held.writes == 1 ? c.failWrite : 0;
        });
        chk::CheckRun run{dir.file("in.txt"), dir.file("out.txt"), c.total,
                          std::chrono::milliseconds(0), c.memory};
        chk::KeptLines grid;
        chk::CheckCounts counts;
        std::atomic<bool> stop{false};
        const std::string result = vqtest::outcome([&] {
            EXPECT_EQ(chk::removeDuplicates(run, grid, stop, held, counts),
                      chk::Outcome::DuplicatesRemoved);
        });
        vq::listio::faults::setHook({});
        if (c.total > 0 && !c.failWrite) {
            EXPECT_GT(held.writes, 1) << "nothing was written ahead";
        }
        EXPECT_EQ(held.spilled, c.memory > 0);
        EXPECT_EQ(result, c.failWrite ? "Stream write error" : "ok");
        if (c.failWrite)
            EXPECT_FALSE(vqtest::exists(dir.file("out.txt")));
        else
            EXPECT_TRUE(vqtest::sameBytes(vqtest::readFile(dir.file("out.txt")), expected));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
                  c.failWrite ? 1 : 2);
    }
}
