#include "listio/fault_seam.h"
#include "listio/listio.h"
#include "outcome.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <random>
#include <string>
#include <vector>

using vq::listio::TextReader;
using Lines = std::vector<std::string>;

namespace {

Lines readAll(const std::string& path, std::size_t bufferSize) {
    TextReader r(path, bufferSize);
    Lines lines;
    while (!r.atEnd())
        lines.emplace_back(r.readLine());
    r.close();
    return lines;
}

struct ReadCase {
    const char* name;
    std::string bytes;
    Lines lines;
};

const ReadCase kReadCases[] = {
    {"empty file", "", {}},
    {"crlf ends", "a\r\nb\r\n", {"a", "b"}},
    {"last line without end", "a\r\nb", {"a", "b"}},
    {"two crlf at end", "a\r\nb\r\n\r\n", {"a", "b", ""}},
    {"only crlf", "\r\n", {""}},
    {"lone cr", "a\rb\r\n", {"a", "b"}},
    {"cr cr lf", "a\r\r\n", {"a", ""}},
    {"lf is data after a first cr", "a\r\nb\nc\n", {"a", "b\nc\n"}},
    {"mark mid file",
     std::string("a\r\nb\x1A"
                 "c\r\n"),
     {"a", "b"}},
    {"mark first",
     std::string("\x1A"
                 "a\r\n"),
     {}},
    {"nul is data", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
    {"cr then mark", std::string("abc\r\x1A\n"), {"abc"}},
    {"two lone cr", "\r\r", {"", ""}},
    {"lf after crlf", "ab\r\n\n", {"ab", "\n"}},
    {"lf cr after a first cr", "\ra\n\rb", {"", "a\n", "b"}},
    {"mixed", "hello world\r\nsecond line\rthird\n\r\n", {"hello world", "second line", "third\n"}},
    // A first line end that is a lone LF makes a list written on Linux: LF,
    // CR LF and a lone CR all end lines there.
    {"linux list", "a\nb\n", {"a", "b"}},
    {"linux list without last end", "a\nb", {"a", "b"}},
    {"linux list of lf alone", "\n\n\n", {"", "", ""}},
    {"leading lf", "\n\r\n", {"", ""}},
    {"lf cr is two ends", "a\n\rb\n", {"a", "", "b"}},
    {"cr lf and lone cr inside", "a\nb\r\nc\rd\n\n", {"a", "b", "c", "d", ""}},
    {"mark before the first end", std::string("ab\x1A\ncd\n"), {"ab"}},
};

} // namespace

// Every buffer size from one byte up puts each CR, LF and mark on a fill
// boundary somewhere, including a CR that ends one fill with its LF in the next.
TEST(TextReader, LinesAreTheSameForEveryBufferSize) {
    vqtest::TempDir dir;
    for (const auto& c : kReadCases) {
        std::string path = dir.file("list.txt");
        vqtest::writeFile(path, c.bytes);
        for (std::size_t size : {1, 2, 3, 4, 5, 7, 16, 1 << 20})
            EXPECT_EQ(readAll(path, size), c.lines) << c.name << ", buffer " << size;
        const auto plain = vq::listio::listLines(c.bytes);
        EXPECT_EQ(Lines(plain.begin(), plain.end()), c.lines) << c.name << ", the rule";
    }
}

using vqtest::joinLines;

TEST(TextReader, BlockCopyGivesTheLinesOfTheTable) {
    vqtest::TempDir dir;
    for (const bool lf : {false, true}) {
        vqtest::LfLineEnds eol(lf);
        for (const auto& c : kReadCases) {
            vqtest::writeFile(dir.file("list.txt"), c.bytes);
            for (std::size_t size : {1, 2, 3, 5, 16, 1 << 20}) {
                TextReader in(dir.file("list.txt"), size);
                vq::listio::TextWriter out(dir.file("out.txt"), 3);
                EXPECT_EQ(in.copyLinesTo(out), static_cast<int64_t>(c.lines.size())) << c.name;
                out.close();
                EXPECT_EQ(vqtest::readFile(dir.file("out.txt")),
                          joinLines(c.lines, lf ? "\n" : "\r\n"))
                    << c.name << ", buffer " << size << (lf ? ", LF" : "");
            }
        }
    }
}

// Long texts with line ends at every offset of the block scan, of both
// kinds: odd seeds make lists written on Linux. The large ones hold blocks
// of CR LF lines, or of LF lines, long enough to be copied by the kernel,
// with a rare other line end between them.
std::string scanTestText(unsigned seed) {
    const char* pieces[] = {seed % 2 ? "\n" : "\r\n",
                            "x",
                            "abcDEFghijklmnoPQ",
                            "",
                            "\r",
                            "\n",
                            "\n\r",
                            "\r\r\n",
                            "\xC4Z@"};
    std::mt19937 random(seed);
    const bool large = seed > 40;
    std::string text = seed % 2 ? "first\n" : "first\r\n";
    while (text.size() < (large ? 400000u : 3000u)) {
        std::size_t piece = random() % std::size(pieces);
        if (large && piece >= 4 && random() % 5000 != 0) piece = 0;
        text += pieces[piece];
    }
    if (seed % 4 == 0)
        text += "tail\x1A"
                "after\r\n";
    return text;
}

// Reading, block copies (whole, with either line end written, and in
// pieces of at most k lines) and the line count, checked against the rule.
TEST(TextReader, BlockCopyAndCountFollowTheRuleOnLongTexts) {
    vqtest::TempDir dir;
    for (unsigned seed = 1; seed <= 44; ++seed) {
        const std::string text = scanTestText(seed);
        vqtest::writeFile(dir.file("list.txt"), text);
        const auto rule = vq::listio::listLines(text);
        const Lines lines(rule.begin(), rule.end());
        for (std::size_t size : {7, 64, 100000, 1 << 20}) {
            const std::string where =
                "seed " + std::to_string(seed) + ", buffer " + std::to_string(size);
            // One buffer size runs the 16-byte kernels where wider ones exist.
            struct Narrow {
                explicit Narrow(bool on) { vq::listio::allowWideScans(!on); }
                ~Narrow() { vq::listio::allowWideScans(true); }
            } narrow(size == 100000);
            ASSERT_TRUE(readAll(dir.file("list.txt"), size) == lines) << where;
            for (const bool lf : {false, true}) {
                vqtest::LfLineEnds eol(lf);
                TextReader in(dir.file("list.txt"), size);
                vq::listio::TextWriter out(dir.file("out.txt"));
                out.writeLine("first");
                EXPECT_EQ(in.copyLinesTo(out), static_cast<int64_t>(lines.size())) << where;
                out.close();
                const std::string end = lf ? "\n" : "\r\n";
                EXPECT_TRUE(vqtest::sameBytes(vqtest::readFile(dir.file("out.txt")),
                                              "first" + end + joinLines(lines, end)))
                    << where << (lf ? ", LF" : "");
            }
            {
                TextReader in(dir.file("list.txt"), size);
                EXPECT_EQ(in.countLines(), static_cast<int64_t>(lines.size())) << where;
                EXPECT_TRUE(in.atEnd());
            }
            // Pieces of at most k lines, as the splitter cuts them, one after
            // the other into one file; every other piece lower-cased.
            const int64_t k = std::array<int64_t, 4>{1, 3, 29, 5000}[seed % 4];
            TextReader in(dir.file("list.txt"), size);
            vq::listio::TextWriter out(dir.file("pieces.txt"), 5);
            Lines expected;
            std::size_t next = 0;
            for (int piece = 0; !in.atEnd(); ++piece) {
                vq::listio::LineCopy how;
                how.maxLines = k;
                how.lowerCase = piece % 2 == 1;
                const int64_t got = in.copyLinesTo(out, how);
                ASSERT_TRUE(got == k || (got > 0 && in.atEnd())) << where << ", " << got;
                for (int64_t i = 0; i < got && next < lines.size(); ++i) {
                    expected.push_back(lines[next++]);
                    if (how.lowerCase)
                        for (auto& c : expected.back())
                            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
            }
            out.close();
            EXPECT_TRUE(
                vqtest::sameBytes(vqtest::readFile(dir.file("pieces.txt")), joinLines(expected)))
                << where;
            EXPECT_EQ(next, lines.size()) << where;
        }
    }
}

// A device cannot take a kernel copy; the block is written instead and the
// device's own failure is what the user sees.
TEST(TextReader, BlockCopyToADeviceWritesAndReportsItsFailure) {
    vqtest::TempDir dir;
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "user" + std::to_string(i) + "@example.cn\r\n";
    vqtest::writeFile(dir.file("list.txt"), text);
    TextReader in(dir.file("list.txt"));
    vq::listio::TextWriter out("/dev/full");
    EXPECT_EQ(vqtest::outcome([&] { in.copyLinesTo(out); }), "io 101");
}

TEST(TextReader, ReadAtEndYieldsEmptyLineAndConsumesNothing) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("a.txt"), "a\r\n");
    TextReader r(dir.file("a.txt"));
    EXPECT_EQ(r.readLine(), "a");
    EXPECT_TRUE(r.atEnd());
    EXPECT_EQ(r.readLine(), "");
    EXPECT_TRUE(r.atEnd());
}

// Lines longer than the buffer, also a first one whose line end, far past
// the first fill, decides the list.
TEST(TextReader, LinesLongerThanTheBufferComeWhole) {
    vqtest::TempDir dir;
    const std::string plain(3 * vq::listio::kDefaultBufferSize + 17, 'x');
    std::string withLf = plain;
    withLf[12345] = '\n';
    const struct {
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"s\r" + withLf + "\r\nshort\r" + withLf, {"s", withLf, "short", withLf}},
        {plain + "\nshort\r\n" + plain + "\n\r" + plain, {plain, "short", plain, "", plain}},
        {plain + "\r" + withLf, {plain, withLf}},
    };
    for (const auto& c : cases) {
        vqtest::writeFile(dir.file("big.txt"), c.bytes);
        const Lines got = readAll(dir.file("big.txt"), vq::listio::kDefaultBufferSize);
        ASSERT_EQ(got.size(), c.lines.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(vqtest::sameBytes(got[i], c.lines[i])) << "line " << i;
    }
}

TEST(TextReader, ReadFailureIsRaisedAndStays) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("a.txt"), "first\r\nsecond\r\n");
    int reads = 0;
    vq::listio::faults::setHook([&](vq::listio::faults::Op op, const std::string&) {
        return op == vq::listio::faults::Op::Read && ++reads == 2 ? EIO : 0;
    });
    TextReader r(dir.file("a.txt"), 8);
    EXPECT_EQ(r.readLine(), "first");
    EXPECT_EQ(vqtest::outcome([&] { r.readLine(); }), "io 1005");
    EXPECT_EQ(vqtest::outcome([&] { r.atEnd(); }), "io 1005");
    vq::listio::faults::setHook({});
}

TEST(TextReader, UseAfterCloseIsError103) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("a.txt"), "a\r\n");
    TextReader r(dir.file("a.txt"));
    r.close();
    EXPECT_EQ(vqtest::outcome([&] { r.atEnd(); }), "io 103");
    EXPECT_EQ(vqtest::outcome([&] { r.readLine(); }), "io 103");
    EXPECT_EQ(vqtest::outcome([&] { r.close(); }), "io 103");
}
