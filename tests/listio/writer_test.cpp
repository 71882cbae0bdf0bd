#include "listio/fault_seam.h"
#include "listio/listio.h"
#include "outcome.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using vq::listio::TextAppender;
using vq::listio::TextReader;
using vq::listio::TextWriter;
using Lines = std::vector<std::string>;

namespace {

struct WriteCase {
    Lines lines;
    std::string bytes;
};

const WriteCase kWriteCases[] = {
    {{}, ""},
    {{""}, "\r\n"},
    {{"a", "b"}, "a\r\nb\r\n"},
    {{"a\nb", "\x1A", std::string("x\0y", 3)}, std::string("a\nb\r\n\x1A\r\nx\0y\r\n", 13)},
    {{"0123456789", "", "z"}, "0123456789\r\n\r\nz\r\n"},
};

} // namespace

TEST(TextWriter, EveryLineGetsCrLfWhateverTheBufferSize) {
    vqtest::TempDir dir;
    for (const auto& c : kWriteCases) {
        for (std::size_t size : {1, 3, 4, 11, 1 << 20}) {
            vqtest::writeFile(dir.file("out.txt"), "old content that must go\r\n");
            TextWriter w(dir.file("out.txt"), size);
            for (const auto& l : c.lines)
                w.writeLine(l);
            w.close();
            EXPECT_EQ(vqtest::readFile(dir.file("out.txt")), c.bytes) << "buffer " << size;
        }
    }
    // A writer takes over the buffer of the one closed before it: nothing of
    // the earlier text may reach the later file.
    for (const char* text : {"a much longer line of the first file", "b"}) {
        TextWriter w(dir.file(text));
        w.writeLine(text);
        w.close();
        EXPECT_EQ(vqtest::readFile(dir.file(text)), std::string(text) + "\r\n");
    }
}

TEST(TextWriter, DiskFullIsReportedNotSwallowed) {
    TextWriter w("/dev/full");
    w.writeLine("a");
    EXPECT_EQ(vqtest::outcome([&] { w.close(); }), "io 101");
    EXPECT_EQ(vqtest::outcome([&] { w.writeLine("b"); }), "io 103");
}

TEST(TextWriter, DestroyedWithoutCloseWritesNothingMore) {
    vqtest::TempDir dir;
    {
        TextWriter w(dir.file("out.txt"));
        w.writeLine("buffered");
    }
    EXPECT_EQ(vqtest::readFile(dir.file("out.txt")), "");
}

struct AppendCase {
    const char* name;
    std::string before;
    std::string after; // after appending the line "new"
};

std::string filler(std::size_t n) {
    return std::string(n, 'f');
}

const AppendCase kAppendCases[] = {
    {"empty file", "", "new\r\n"},
    {"ends with crlf", "a\r\n", "a\r\nnew\r\n"},
    {"no line end joins", "a", "anew\r\n"},
    {"mark at end", "a\r\n\x1A", "a\r\nnew\r\n"},
    {"first of two marks",
     "a\x1A"
     "b\x1A"
     "c",
     "anew\r\n"},
    {"mark first byte of window", "\x1A" + filler(127), "new\r\n"},
    {"mark just before window", "\x1A" + filler(128), "\x1A" + filler(128) + "new\r\n"},
    {"mark in window of long file", filler(300) + "\x1A" + filler(50), filler(300) + "new\r\n"},
};

TEST(TextAppender, EndOfFileMarkInTheLast128BytesIsCut) {
    vqtest::TempDir dir;
    for (const auto& c : kAppendCases) {
        vqtest::writeFile(dir.file("list.txt"), c.before);
        TextAppender a(dir.file("list.txt"));
        a.writeLine("new");
        a.close();
        EXPECT_EQ(vqtest::readFile(dir.file("list.txt")), c.after) << c.name;
    }
}

TEST(TextAppender, AnEarlierMarkHidesTheAppendedLineFromTheReader) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("list.txt"), "a\r\n\x1A" + filler(200));
    TextAppender a(dir.file("list.txt"));
    a.writeLine("new");
    a.close();
    TextReader r(dir.file("list.txt"));
    EXPECT_EQ(r.readLine(), "a");
    EXPECT_TRUE(r.atEnd());
}

// A write that fails, injected or cut short for real at the file-size limit,
// leaves the file as it was at open: its length and the bytes from the mark.
TEST(TextAppender, AFailedAppendLeavesTheFileAsItWas) {
    vqtest::TempDir dir;
    const std::string list = dir.file("list.txt");
    const std::string line = "new@example.cn";
    const struct {
        const char* name;
        std::string before;
    } files[] = {{"no mark", "a\r\n"},
                 {"more cut than added", "a\r\n\x1A" + filler(100)},
                 {"less cut than added", "a\r\n\x1Aj"}};
    for (const auto& f : files) {
        // The limits: no room at all, room for part of the line, for all but its line end.
        const std::size_t limits[] = {0, 6, 3 + line.size() + 1};
        for (std::size_t limit : limits) {
            SCOPED_TRACE(std::string(f.name) + ", limit " + std::to_string(limit));
            vqtest::writeFile(list, f.before);
            TextAppender a(list);
            a.writeLine(line);
            struct rlimit saved, small;
            ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
            auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            small = saved;
            small.rlim_cur = limit;
            setrlimit(RLIMIT_FSIZE, &small);
            const std::string result = vqtest::outcome([&] { a.close(); });
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
            EXPECT_EQ(result, "io 101");
            EXPECT_EQ(vqtest::readFile(list), f.before);
        }
        vqtest::writeFile(list, f.before);
        TextAppender a(list);
        a.writeLine(line);
        vq::listio::faults::setHook([](vq::listio::faults::Op op, const std::string&) {
            return op == vq::listio::faults::Op::Write ? EIO : 0;
        });
        EXPECT_EQ(vqtest::outcome([&] { a.close(); }), "io " + std::to_string(1000 + EIO));
        vq::listio::faults::setHook({});
        EXPECT_EQ(vqtest::readFile(list), f.before) << f.name;
    }
}

// A FIFO must be refused at once: opening it the ordinary way would wait
// for a writer forever.
TEST(AccessModes, NonRegularFilesAreRefusedWithoutHanging) {
    vqtest::TempDir dir;
    std::string fifo = dir.file("fifo.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    const std::string folder = dir.path();
    const struct {
        std::string path;
        std::function<void(const std::string&)> open;
        std::string expected;
    } cases[] = {
        {fifo, [](auto& p) { TextReader r(p); }, "io 5"},
        {fifo, [](auto& p) { TextWriter w(p); }, "io 5"},
        {fifo, [](auto& p) { TextAppender a(p); }, "io 5"},
        {folder, [](auto& p) { TextReader r(p); }, "io 5"},
        {folder, [](auto& p) { TextWriter w(p); }, "io 5"},
        {folder, [](auto& p) { TextAppender a(p); }, "io 5"},
        {"/dev/null", [](auto& p) { TextReader r(p); }, "io 5"},
        {"/dev/null", [](auto& p) { TextAppender a(p); }, "io 5"},
        {"/dev/null",
         [](auto& p) {
             TextWriter w(p);
             w.writeLine("x");
             w.close();
         },
         "ok"},
        // Only lists are shared by the rule: a device takes two writers.
        {"/dev/null",
         [](auto& p) {
             TextWriter a(p), b(p);
             b.close();
             a.close();
         },
         "ok"},
        {fifo, [](auto& p) { vq::listio::loadLines(p); }, "Cannot open file " + fifo},
        {fifo, [](auto& p) { vq::listio::saveText(p, "x"); }, "Cannot create file " + fifo},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vqtest::outcome([&] { c.open(c.path); }), c.expected) << c.path;
}
