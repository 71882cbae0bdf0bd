// The filter pass on real files: prepared and valid lines, the OR and AND
// rules, the counts, failures, and the command-line companion.
#include "filtering/filter_pass.h"
#include "listio/errors.h"
#include "listio/listio.h"
#include "testutil.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace vq::filtering;
using Rows = std::vector<std::string>;

TEST(FilterPass, PreparedAndValidLines) {
    struct Case {
        std::string raw, prepared;
        bool valid;
    };
    const Case cases[] = {
        {" \tA@B.CN\x01 ", "a@b.cn", true},
        {"x@y", "x@y", true},
        {"@a.cn", "@a.cn", false},
        {"  @a.cn", "@a.cn", false},
        {"noat.cn", "noat.cn", false},
        {"a@@", "a@@", true},
        {"", "", false},
        {"\x1F\x20", "", false},
        {"\xC4\xE3Hao@QQ.COM", "\xC4\xE3hao@qq.com", true},
        // Capital-letter codes that trail a double-byte character stay.
        {"\x81\x41Z@\xB0\x5A", "\x81\x41z@\xB0\x5A", true},
        {"\x80Q@\xFFQ", "\x80q@\xFFq", true},
        {"a\nB@c", "a\nb@c", true},
        {"Mixed.Case@Longer.Example.ORG", "mixed.case@longer.example.org", true},
        {"[AZ@az\x7F]", "[az@az\x7F]", true}, // only A to Z change
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
    };
    const Case cases[] = {
        {{""}, "a@b.cn", false, false},                       // start state
        {{".cn"}, "a@b.cn", true, true},                      // at the end
        {{".cn"}, "a@b.cn.example", true, true},              // inside the domain
        {{".cn"}, "a@b.cnet.org", true, true},                // start of a label
        {{".cn"}, "a.cn@b.org", true, true},                  // before the at sign
        {{".CN"}, "a@b.cn", false, false},                    // parameters keep capitals
        {{".com", ".cn"}, "a@b.cn.com", true, true},
        {{".com", ".cn"}, "a@b.com.cn", true, true},
        {{".com", ".cn"}, "a@b.com", true, false},
        {{"", ".cn"}, "a@b.cn", true, false},                 // OR skips, AND fails
        {{" "}, "a@b.cn", false, false},                      // imported blank line
        {{"aaa"}, "a@aab.aaa", true, true},                   // partial first candidate
        {{"a@b.cn.longer"}, "a@b.cn", false, false},
        {{"\xC4\xE3"}, "x@\xC4\xE3.cn", true, true},
        {{}, "a@b.cn", false, false},                         // no rows is one empty row
    };
    for (const Case& c : cases) {
        ParameterSearchers s(c.rows);
        EXPECT_EQ(s.matches(Rule::AnyRow, c.line), c.any) << c.line;
        EXPECT_EQ(s.matches(Rule::EveryRow, c.line), c.every) << c.line;
    }
}

TEST(FilterPass, ContainmentAtEveryPositionAndLength) {
    // Lines of every length around the block sizes of the search, with the
    // parameter, or a near miss of it, at every position.
    const std::string needles[] = {"@", ".c", ".cn", "q.cn", "a@b.example.com",
                                   std::string(40, 'x') + "y"};
    for (const std::string& needle : needles) {
        const ByteSearcher s(needle);
        std::string nearMiss = needle;
        if (nearMiss.size() > 2) nearMiss[nearMiss.size() / 2] = '#';
        const std::string* const variants[] = {&needle, &nearMiss};
        for (std::size_t len = 0; len < 80; ++len) {
            for (std::size_t at = 0; at + needle.size() <= len; ++at) {
                for (const std::string* put : variants) {
                    std::string hay(len, 'x');
                    hay.replace(at, put->size(), *put);
                    const bool expected = hay.find(needle) != std::string::npos;
                    ASSERT_EQ(s.occursIn(hay), expected) << needle << " in " << hay;
                }
            }
        }
    }
}

namespace {

const std::string kInput = " A@B.CN \r\n"  // trimmed, lower-cased, matches .cn
                           "x@y.com\r\n"
                           "\r\n"           // empty: invalid
                           "@z.cn\r\n"      // starts with @: invalid though it contains .cn
                           "no-at.cn\r\n"   // no @: invalid
                           "Q@W.CN.COM\r\n"
                           "x@y.com\r\n"    // repeated: written twice
                           "tail@last.cn";  // no line end

struct Outcome {
    FilterCounts counts;
    std::string matching, rest;
};

Outcome run(const vqtest::TempDir& d, const std::string& input, Rule rule, const Rows& rows) {
    vqtest::writeFile(d.file("in.txt"), input);
    Outcome o;
    o.counts = filterList(d.file("in.txt"), d.file("m.txt"), d.file("r.txt"), rule,
                          ParameterSearchers(rows));
    o.matching = vqtest::readFile(d.file("m.txt"));
    o.rest = vqtest::readFile(d.file("r.txt"));
    EXPECT_EQ(o.counts.matching + o.counts.rest + o.counts.invalid(), o.counts.read);
    return o;
}

} // namespace

TEST(FilterPass, SortsTheLinesOfAFile) {
    struct Case {
        const char* name;
        std::string input;
        Rule rule;
        Rows rows;
        std::string matching, rest;
        int64_t read, invalid;
    };
    const Case cases[] = {
        {"OR start state", kInput, Rule::AnyRow, {""}, "",
         "a@b.cn\r\nx@y.com\r\nq@w.cn.com\r\nx@y.com\r\ntail@last.cn\r\n", 8, 3},
        {"AND start state", kInput, Rule::EveryRow, {""}, "",
         "a@b.cn\r\nx@y.com\r\nq@w.cn.com\r\nx@y.com\r\ntail@last.cn\r\n", 8, 3},
        {"OR .cn", kInput, Rule::AnyRow, {".cn"}, "a@b.cn\r\nq@w.cn.com\r\ntail@last.cn\r\n",
         "x@y.com\r\nx@y.com\r\n", 8, 3},
        {"AND with one row equals OR", kInput, Rule::EveryRow, {".cn"},
         "a@b.cn\r\nq@w.cn.com\r\ntail@last.cn\r\n", "x@y.com\r\nx@y.com\r\n", 8, 3},
        {"OR .com .cn", kInput, Rule::AnyRow, {".com", "", ".cn"},
         "a@b.cn\r\nx@y.com\r\nq@w.cn.com\r\nx@y.com\r\ntail@last.cn\r\n", "", 8, 3},
        {"AND .com .cn", kInput, Rule::EveryRow, {".com", ".cn"}, "q@w.cn.com\r\n",
         "a@b.cn\r\nx@y.com\r\nx@y.com\r\ntail@last.cn\r\n", 8, 3},
        {"capital parameter", kInput, Rule::AnyRow, {".CN"}, "",
         "a@b.cn\r\nx@y.com\r\nq@w.cn.com\r\nx@y.com\r\ntail@last.cn\r\n", 8, 3},
        {"LF-only input is one line", "a@b.cn\nc@d.com\n", Rule::AnyRow, {".cn"},
         "a@b.cn\nc@d.com\r\n", "", 1, 0},
        {"empty input", "", Rule::AnyRow, {".cn"}, "", "", 0, 0},
        {"0x1A ends the input", "a@b.cn\r\n\x1A" "c@d.cn\r\n", Rule::AnyRow, {".cn"},
         "a@b.cn\r\n", "", 1, 0},
    };
    vqtest::TempDir dir;
    for (const Case& c : cases) {
        Outcome o = run(dir, c.input, c.rule, c.rows);
        EXPECT_EQ(o.matching, c.matching) << c.name;
        EXPECT_EQ(o.rest, c.rest) << c.name;
        EXPECT_EQ(o.counts.read, c.read) << c.name;
        EXPECT_EQ(o.counts.invalid(), c.invalid) << c.name;
    }
}

TEST(FilterPass, InputChosenAsOutputIsRefusedBeforeAnythingIsWritten) {
    vqtest::TempDir d;
    vqtest::writeFile(d.file("in.txt"), kInput);
    try {
        filterList(d.file("in.txt"), d.file("in.txt"), d.file("r.txt"), Rule::AnyRow,
                   ParameterSearchers({".cn"}));
        FAIL() << "no error";
    } catch (const vq::EInOutError& e) {
        EXPECT_EQ(e.code(), 32);
    }
    EXPECT_EQ(vqtest::readFile(d.file("in.txt")), kInput);
    EXPECT_FALSE(vqtest::exists(d.file("r.txt")));
}

TEST(FilterPass, ReadFailureClosesTheOutputsWithWhatWasWritten) {
    vqtest::TempDir d;
    // Enough lines to need more than one read of the input.
    std::string input;
    for (int i = 0; i < 40000; ++i) input += "user" + std::to_string(i) + (i % 2 ? "@a.cn\r\n" : "@b.org\r\n");
    vqtest::writeFile(d.file("in.txt"), input);
    int reads = 0;
    vq::listio::faults::setHook([&](vq::listio::faults::Op op, const std::string&) {
        return op == vq::listio::faults::Op::Read && ++reads == 2 ? EIO : 0;
    });
    EXPECT_THROW(filterList(d.file("in.txt"), d.file("m.txt"), d.file("r.txt"), Rule::AnyRow,
                            ParameterSearchers({".cn"})),
                 vq::EInOutError);
    vq::listio::faults::setHook({});
    const std::string m = vqtest::readFile(d.file("m.txt")), r = vqtest::readFile(d.file("r.txt"));
    EXPECT_EQ(m.substr(0, 14), "user1@a.cn\r\nus");
    EXPECT_EQ(r.substr(0, 14), "user0@b.org\r\nu");
    // Whole lines only, and each one a prefix of the full result.
    EXPECT_EQ(m.substr(m.size() - 2), "\r\n");
    EXPECT_EQ(r.substr(r.size() - 2), "\r\n");
    // Both outputs are closed: the sharing rule lets them be created again.
    EXPECT_NO_THROW(vq::listio::TextWriter(d.file("m.txt")).close());
}

namespace {

struct CliResult {
    int status;
    std::string out;
};

CliResult runCli(const std::string& args) {
    CliResult r{-1, {}};
    FILE* p = popen((std::string(VQ_CLI_PATH) + " " + args + " 2>/dev/null").c_str(), "r");
    if (!p) return r;
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

} // namespace

TEST(FilterCli, RunsThePassAndPrintsTheFourCounts) {
    vqtest::TempDir d;
    vqtest::writeFile(d.file("in.txt"), kInput);
    vqtest::writeFile(d.file("p.txt"), ".cn\n\n"); // blank line: one space, matches nothing
    const std::string files = " " + d.file("in.txt") + " " + d.file("m.txt") + " " + d.file("r.txt");
    struct Case {
        std::string args;
        std::string matching;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {"--or -p .cn", "a@b.cn\r\nq@w.cn.com\r\ntail@last.cn\r\n", 0,
         "过滤总数\t8\n符合条件\t3\n剩余列表\t2\n无效列表\t3\n"},
        {"--and -p .com -p .cn", "q@w.cn.com\r\n", 0,
         "过滤总数\t8\n符合条件\t1\n剩余列表\t4\n无效列表\t3\n"},
        {"--or -p .com --params " + d.file("p.txt"),
         "a@b.cn\r\nx@y.com\r\nq@w.cn.com\r\nx@y.com\r\ntail@last.cn\r\n", 0, ""},
        {"--and -p .cn --params " + d.file("p.txt"), "", 0, ""},
        {"--and -p ' .cn'", "", 0, ""}, // taken as typed, not trimmed
        {"--and", "", 0, ""},
        {"-p .cn", "", 2, ""},
        {"--or --and -p .cn", "", 2, ""},
    };
    for (const Case& c : cases) {
        std::remove(d.file("m.txt").c_str());
        CliResult r = runCli("filter " + c.args + files);
        EXPECT_EQ(r.status, c.status) << c.args;
        if (c.status != 0) {
            EXPECT_FALSE(vqtest::exists(d.file("m.txt"))) << c.args;
            continue;
        }
        EXPECT_EQ(vqtest::readFile(d.file("m.txt")), c.matching) << c.args;
        if (!c.out.empty()) {
            EXPECT_EQ(r.out, c.out) << c.args;
        }
    }
    CliResult missing = runCli("filter --or -p .cn " + d.file("none.txt") + " " + d.file("m.txt") +
                               " " + d.file("r.txt"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
}
