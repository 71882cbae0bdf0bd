// The filter pass on real files: prepared and valid lines, the OR and AND
// rules, the counts, failures, and the command-line companion.
#include "filtering/engine.h"
#include "filtering/filter_pass.h"
#include "filtering/literal_automaton.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"
#include "listio/listio.h"
#include "testutil.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>

using namespace vq::filtering;
using Rows = std::vector<std::string>;

TEST(FilterPass, PreparedAndValidLines) {
    struct Case {
        std::string raw, prepared;
        bool valid;
    } const cases[] = {
        {" \tA@B.CN\x01 ", "a@b.cn", true},
        {"Mixed.Case@Longer.Example.ORG", "mixed.case@longer.example.org", true},
        {"[AZ@az\x7F]", "[az@az\x7F]", true}, // only A to Z change
        {"  @a.cn", "@a.cn", false},
        {"noat.cn", "noat.cn", false},
        {"\x1F\x20", "", false},
        {"a@", "a@", true},
        // Capital-letter codes that trail a double-byte character stay.
        {"\xC4\xE3Hao@QQ.COM\x81\x41Z\xB0\x5A", "\xC4\xE3hao@qq.com\x81\x41z\xB0\x5A", true},
        {"a\nB@c", "a\nb@c", true},
    };
    std::string scratch = "leftover from a longer line";
    for (const Case& c : cases) {
        const std::string_view prepared = prepareLine(c.raw, scratch);
        EXPECT_EQ(prepared, c.prepared) << c.raw;
        EXPECT_EQ(isValidLine(prepared), c.valid) << c.raw;
    }
}

TEST(FilterPass, Rules) {
    struct Case {
        Rows rows;
        std::string line;
        bool any, every;
    } const cases[] = {
        {{""}, "a@b.cn", false, false},           // start state
        {{".cn"}, "a.cn@b.cnet.org", true, true}, // anywhere in the line
        {{".CN"}, "a@b.cn", false, false},        // parameters keep capitals
        {{".com", ".cn"}, "a@b.com.cn", true, true},
        {{".com", ".cn"}, "a@b.com", true, false},
        {{"", ".cn"}, "a@b.cn", true, false}, // OR skips it, AND fails on it
        {{" "}, "a@b.cn", false, false},      // an imported blank line
        {{}, "a@b.cn", false, false},         // no rows is one empty row
        {{".cn", ".cn"}, "a@b.cn", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ruleHolds(Rule::AnyRow, c.rows, c.line), c.any) << c.line;
        EXPECT_EQ(ruleHolds(Rule::EveryRow, c.rows, c.line), c.every) << c.line;
    }
}

namespace {

// Runs one file and one set of rows through every way the filters can
// decide a line: each way of the engine, one line at a time and over a
// batch of all lines, and the whole pass both over a batch and over lines
// where they stand in the block, with read buffers from one byte (every
// line longer than the buffer) to the default, writing lines with CR LF
// or with LF. Each must sort the lines of the rule exactly as ruleHolds
// says.
void expectEveryPathFollowsTheRule(const Rows& rows, const std::string& file, bool lf = false) {
    using Way = ContainmentEngine::Way;
    vqtest::TempDir d;
    vqtest::writeFile(d.file("in.txt"), file);
    vqtest::LfLineEnds eol(lf);
    for (const Rule rule : {Rule::AnyRow, Rule::EveryRow}) {
        std::string matching, rest, scratch, batch;
        std::vector<std::size_t> ends;
        std::vector<bool> expected;
        ContainmentEngine single[] = {
            {rule, rows, Way::Matcher}, {rule, rows, Way::FewRows}, {rule, rows, Way::Automaton}};
        for (const std::string_view raw : vq::listio::listLines(file)) {
            const std::string prepared(prepareLine(raw, scratch));
            const bool holds = ruleHolds(rule, rows, prepared);
            for (ContainmentEngine& e : single)
                ASSERT_EQ(e.matches(prepared), holds) << prepared;
            if (!isValidLine(prepared)) continue;
            (holds ? matching : rest) += prepared + (lf ? "\n" : "\r\n");
            batch += prepared;
            ends.push_back(batch.size());
            batch += '\r';
            expected.push_back(holds);
        }
        for (const Way way : {Way::Matcher, Way::FewRows, Way::Automaton}) {
            ContainmentEngine batched(rule, rows, way);
            std::vector<unsigned char> verdicts;
            batched.decide(batch, ends, verdicts);
            for (std::size_t i = 0; i < expected.size(); ++i)
                ASSERT_EQ(verdicts[i] != 0, expected[i]) << "batch line " << i;
        }
        // Auto and FewRows take lines where they stand in the block when the
        // rows are few, marking it with the widest vectors the processor has
        // and with 16-byte ones; with more rows, or Matcher, every line is
        // prepared into a batch.
        for (const Way way : {Way::Auto, Way::FewRows, Way::Matcher}) {
            if (way != Way::Auto && rows.size() > ContainmentEngine::kFewRows) continue;
            for (const std::size_t buffer : {std::size_t(1), std::size_t(7), std::size_t(64),
                                             std::size_t(200), vq::listio::kDefaultBufferSize}) {
                SCOPED_TRACE("buffer " + std::to_string(buffer) + ", way " +
                             std::to_string(static_cast<int>(way)));
                const FilterCounts counts =
                    filterList(d.file("in.txt"), d.file("m.txt"), d.file("r.txt"), rule, rows, {},
                               buffer, way);
                ASSERT_EQ(vqtest::readFile(d.file("m.txt")), matching);
                ASSERT_EQ(vqtest::readFile(d.file("r.txt")), rest);
                ASSERT_EQ(counts.matching + counts.rest, static_cast<int64_t>(expected.size()));
            }
        }
    }
}

} // namespace

TEST(FilterPass, EveryPathFollowsTheRule) {
    using namespace std::string_literals;
    const std::string longRow(70, 'x');
    // Capitals at both ends of A to Z, and the bytes just outside them.
    const std::string addresses =
        " A@B.CN \r\nx@y.com\r\n\r\n@z.cn\r\nQ@W.CN.COM\r\nx@y.com\rlone@cr.cn\r\n"
        "a@b.cn\nc@d.com\r\n\xC4\xE3Hao@QQ.COM\r\n\xB0\x5A@\xB0\x7A.cn\r\n"
        "ZAZ@[Z.CN]\r\n@AZ[@AZ.cn\r\nz@`{.Z\r\n"
        "sp ace@x.cn\r\ntrail@x.cn\t \r\n\0@nul\0.cn\r\n"s +
        "x@" + longRow + ".cn\r\n" + "y@" + longRow + "\r\n" + "tail@last.cn";
    // Lines of every length from empty to past a 64-byte word, so that line
    // ends, at signs, capitals, blanks and rows fall at every place in a word.
    // The same lines ended by LF, CR LF, a lone CR and LF CR, a list written
    // on Linux, so that each kind of line end falls at every place too.
    std::mt19937 random(7);
    const std::string alphabet("ab.cnZ@A[ \x81\0", 12);
    std::string varied, variedLf = "first\n";
    const char* linuxEnds[] = {"\n", "\r\n", "\n", "\r", "\n\r", "\n"};
    for (int size = 0; size < 150; ++size) {
        std::string line;
        for (int i = 0; i < size % 75; ++i)
            line += alphabet[random() % (size % 5 == 0 ? 12 : 9)];
        varied += line + (size % 7 == 0 ? "\r" : "\r\n");
        variedLf += line + linuxEnds[size % std::size(linuxEnds)];
    }
    struct Case {
        const char* what;
        Rows rows;
        std::string file;
    } const cases[] = {
        {"start state", {""}, addresses},
        {"no rows", {}, addresses},
        {"one row", {".cn"}, addresses},
        {"capitals in a row", {".CN", ".com"}, addresses},
        {"empty row among others", {"", ".cn"}, addresses},
        {"duplicates and prefixes", {".c", ".cn", ".cn", ".com"}, addresses},
        {"a row not within one line", {"cn\r", ".cn"}, "a@b.cn\rc@d.cn\r"},
        {"a row across the LF of CR LF", {"n\r\nx", "@"}, addresses},
        {"a row with LF, which is data", {"cn\nc@", "a@"}, addresses},
        {"spaces inside a row, blanks trimmed", {"p a", " a@b"}, addresses},
        {"GBK bytes, trail bytes that look like capitals", {"\xB0\x5A", "\xC4\xE3hao"}, addresses},
        {"a NUL inside a row", {"\0@nul\0"s}, addresses},
        {"rows of 64 bytes and more", {longRow, longRow + ".cn", "@" + longRow}, addresses},
        {"a row longer than any line", {std::string(300, 'y')}, addresses},
        {"a row of 64 bytes", {std::string(64, 'x'), ".cn"}, addresses},
        {"rows starting with an LF", {"\nc@", "\nx@"}, addresses},
        {"rows at every place in a word", {".cn", "a@", "b"}, varied},
        {"rows at every place in a word of a list written on Linux", {".cn", "a@", "b"}, variedLf},
        {"rows of more than four bytes", {"ab.cn", "n@a.b", "c@"}, varied},
        {"rows with LF in a list written on Linux", {"b\nc", "n\r", "a@"}, variedLf},
        {"capitals, '@' and '['", {"z@[", "az", "@a"}, varied},
        {"only LF bytes", {"@"}, std::string(300, '\n')},
        {"a first line longer than the buffer",
         {".cn"},
         "x@" + longRow + ".cn\nz@y.cn\r\n\n\rb@a.cn"},
        {"rows of more than four bytes in capitals' lines", {".cn.com", "@w.cn"}, addresses},
        {"a row across 4 KiB of the block", {".cn"}, "x@" + std::string(4093, 'y') + ".cn\r\n"},
        {"rows at the start and end of lines in a row",
         {"ab", "@", "cn"},
         "ab@x.cn\r\nab@y.cn\r\n"},
        {"a file ending in a mark",
         {".cn"},
         "a@b.cn\r\n\x1a"
         "c@d.cn\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectEveryPathFollowsTheRule(c.rows, c.file);
        // The same list written on Linux (where it is not one already, and
        // unless its first line end is a lone CR), with either line end written.
        const std::string lf = vqtest::writtenOnLinux(c.file);
        if (lf == c.file) continue;
        SCOPED_TRACE("written on Linux");
        expectEveryPathFollowsTheRule(c.rows, lf);
        expectEveryPathFollowsTheRule(c.rows, lf, true);
    }
}

TEST(FilterPass, ThousandsOfRowsFollowTheRule) {
    // Many rows of many lengths, some of them prefixes or duplicates of one
    // another, against lines that hold none, one, several or all of a few.
    std::mt19937 random(12);
    auto word = [&](std::size_t n) {
        std::string w;
        for (std::size_t i = 0; i < n; ++i)
            w += "abc.@x"[random() % 6];
        return w;
    };
    Rows rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back(word(1 + random() % (i % 50 == 0 ? 90 : 9)));
    std::string file;
    for (int i = 0; i < 2000; ++i)
        file += word(random() % 12) + "@" + word(random() % 80) + "\r\n";
    expectEveryPathFollowsTheRule(rows, file);
    // Every row a line holds: the AND rule over many rows.
    Rows few(rows.begin(), rows.begin() + 40);
    std::string all;
    for (const auto& r : few)
        all += r;
    expectEveryPathFollowsTheRule(few, "a@" + all + "\r\nb@" + all.substr(1) + "\r\n");
}

TEST(LiteralAutomaton, FindsEveryEndWithAndWithoutTheWholeTable) {
    using Found = std::vector<std::pair<std::uint32_t, std::size_t>>;
    struct Case {
        std::vector<std::string_view> literals;
        std::string_view text;
    } const cases[] = {
        {{"he", "she", "his", "hers"}, "ushers and his hers"},
        {{"a", "aa", "aaa"}, "aaaa"},
        {{"ab", "ab", "b"}, "abab"}, // the same bytes twice: both ids
        {{"\xB0\x5A", "\xFF", "x"}, "\xB0\x5A\xFFx\xB0"},
        {{".cn", "@h1.", "@h12.cn", "h12"}, "u@h12.cn\ru@h1.com"},
        {{"ab", "cd", "ef", "gh"},
         "xabcdxefghxxxxxxxxxxxxxxxxxab"}, // too many first bytes to skip to
        {{"@q"}, "xxxxxxxxxxxxxxxxxxxxxxxx@q@@qxxxxxxxxxxxx@q"},
    };
    for (const Case& c : cases) {
        Found plain;
        for (std::size_t end = 1; end <= c.text.size(); ++end)
            for (std::uint32_t id = 0; id < c.literals.size(); ++id)
                if (c.text.substr(0, end).ends_with(c.literals[id])) plain.emplace_back(id, end);
        std::sort(plain.begin(), plain.end());
        for (const std::size_t denseBytes : {std::size_t(0), LiteralAutomaton::kDenseBytes}) {
            Found found;
            LiteralAutomaton(c.literals, denseBytes)
                .scan(c.text, [&](std::uint32_t id, std::size_t end) {
                    found.emplace_back(id, end);
                    return false;
                });
            std::sort(found.begin(), found.end());
            EXPECT_EQ(found, plain) << c.text << (denseBytes ? " dense" : " sparse");
        }
    }
}

namespace {

const std::string kInput =
    " A@B.CN \r\nx@y.com\r\n\r\n@z.cn\r\nno-at.cn\r\nQ@W.CN.COM\r\nx@y.com\r\ntail@last.cn";
const std::string kAllValid = "a@b.cn\r\nx@y.com\r\nq@w.cn.com\r\nx@y.com\r\ntail@last.cn\r\n";

} // namespace

TEST(FilterPass, SortsTheLinesOfAFile) {
    struct Case {
        std::string input;
        Rule rule;
        Rows rows;
        std::string matching, rest;
        int64_t read, invalid;
    } const cases[] = {
        {kInput, Rule::AnyRow, {""}, "", kAllValid, 8, 3},
        {kInput, Rule::EveryRow, {""}, "", kAllValid, 8, 3},
        {kInput,
         Rule::AnyRow,
         {".cn"},
         "a@b.cn\r\nq@w.cn.com\r\ntail@last.cn\r\n",
         "x@y.com\r\nx@y.com\r\n",
         8,
         3},
        {kInput,
         Rule::EveryRow,
         {".cn"},
         "a@b.cn\r\nq@w.cn.com\r\ntail@last.cn\r\n",
         "x@y.com\r\nx@y.com\r\n",
         8,
         3},
        {kInput,
         Rule::EveryRow,
         {".com", ".cn"},
         "q@w.cn.com\r\n",
         "a@b.cn\r\nx@y.com\r\nx@y.com\r\ntail@last.cn\r\n",
         8,
         3},
        {kInput, Rule::AnyRow, {".CN"}, "", kAllValid, 8, 3},
        {"a@b.cn\nc@d.com\n", Rule::AnyRow, {".cn"}, "a@b.cn\r\n", "c@d.com\r\n", 2, 0}, // Linux
        {"x@y.cn\r\na@b.cn\nc@d.com\r\n",
         Rule::AnyRow,
         {".cn"},
         "x@y.cn\r\na@b.cn\nc@d.com\r\n",
         "",
         2,
         0}, // LF is data after a first CR
        {"", Rule::AnyRow, {".cn"}, "", "", 0, 0},
        {"Long.Name@Example.CN\r\nno-at-sign.example.cn\r\n@starts.with.at.sign.cn\r\n",
         Rule::AnyRow,
         {".cn"},
         "long.name@example.cn\r\n",
         "",
         3,
         2},
    };
    vqtest::TempDir d;
    for (const Case& c : cases) {
        vqtest::writeFile(d.file("in.txt"), c.input);
        const FilterCounts n =
            filterList(d.file("in.txt"), d.file("m.txt"), d.file("r.txt"), c.rule, c.rows);
        EXPECT_EQ(vqtest::readFile(d.file("m.txt")), c.matching) << c.rows[0];
        EXPECT_EQ(vqtest::readFile(d.file("r.txt")), c.rest) << c.rows[0];
        EXPECT_EQ(n.read, c.read);
        EXPECT_EQ(n.invalid(), c.invalid);
        EXPECT_EQ(n.matching + n.rest + n.invalid(), n.read);
    }
}

TEST(FilterPass, InputChosenAsOutputIsRefusedBeforeAnythingIsWritten) {
    vqtest::TempDir d;
    vqtest::writeFile(d.file("in.txt"), kInput);
    try {
        filterList(d.file("in.txt"), d.file("in.txt"), d.file("r.txt"), Rule::AnyRow, {".cn"});
        FAIL() << "no error";
    } catch (const vq::EInOutError& e) {
        EXPECT_EQ(e.code(), 32);
    }
    EXPECT_EQ(vqtest::readFile(d.file("in.txt")), kInput);
    EXPECT_FALSE(vqtest::exists(d.file("r.txt")));
}

TEST(FilterPass, ReadFailureClosesTheOutputsWithWhatWasWritten) {
    vqtest::TempDir d;
    std::string input;
    for (int i = 0; i < 40000; ++i)
        input += "user" + std::to_string(i) + (i % 2 ? "@a.cn\r\n" : "@b.org\r\n");
    vqtest::writeFile(d.file("in.txt"), input);
    int reads = 0;
    vq::listio::faults::setHook([&](vq::listio::faults::Op op, const std::string&) {
        return op == vq::listio::faults::Op::Read && ++reads == 2 ? EIO : 0;
    });
    EXPECT_THROW(
        filterList(d.file("in.txt"), d.file("m.txt"), d.file("r.txt"), Rule::AnyRow, {".cn"}),
        vq::EInOutError);
    vq::listio::faults::setHook({});
    const std::string m = vqtest::readFile(d.file("m.txt")), r = vqtest::readFile(d.file("r.txt"));
    EXPECT_EQ(m.substr(0, 14), "user1@a.cn\r\nus");
    EXPECT_EQ(r.substr(0, 14), "user0@b.org\r\nu");
    EXPECT_EQ(m.substr(m.size() - 2) + r.substr(r.size() - 2), "\r\n\r\n"); // whole lines only
    // Both outputs were closed: the sharing rule lets them be created again.
    EXPECT_NO_THROW(vq::listio::TextWriter(d.file("m.txt")).close());
}

TEST(FilterCli, RunsThePassAndPrintsTheFourCounts) {
    vqtest::TempDir d;
    vqtest::writeFile(d.file("in.txt"), kInput);
    vqtest::writeFile(d.file("p.txt"), ".cn\n\n"); // the blank line is one space: matches nothing
    const std::string files =
        " " + d.file("in.txt") + " " + d.file("m.txt") + " " + d.file("r.txt");
    struct Case {
        std::string args, out;
        int status;
    } const cases[] = {
        {"--or -p .cn", "过滤总数\t8\n符合条件\t3\n剩余列表\t2\n无效列表\t3\n", 0},
        {"--and -p .com -p .cn", "过滤总数\t8\n符合条件\t1\n剩余列表\t4\n无效列表\t3\n", 0},
        {"--or -p .com --params " + d.file("p.txt"),
         "过滤总数\t8\n符合条件\t5\n剩余列表\t0\n无效列表\t3\n", 0},
        {"--and -p .cn --params " + d.file("p.txt"),
         "过滤总数\t8\n符合条件\t0\n剩余列表\t5\n无效列表\t3\n", 0},
        {"--and -p ' .cn'", "过滤总数\t8\n符合条件\t0\n剩余列表\t5\n无效列表\t3\n", 0}, // as typed
        {"-p .cn", "", 2},
        {"--or --and -p .cn", "", 2},
        {"--or -p .cn --params " + d.file("none.txt"), "", 1},
    };
    for (const Case& c : cases) {
        FILE* p = popen(
            (std::string(VQ_CLI_PATH) + " filter " + c.args + files + " 2>/dev/null").c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[256];
        while (std::size_t n = fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        const int st = pclose(p);
        EXPECT_EQ(WIFEXITED(st) ? WEXITSTATUS(st) : -1, c.status) << c.args;
        EXPECT_EQ(out, c.out) << c.args;
    }
}
