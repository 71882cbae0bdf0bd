// Removing a suppression list and counting by domain, on real files: each
// rule on its own, every path of the passes against the plain statement,
// refused outputs and what stays on disk.
#include "filtering/domain_count.h"
#include "filtering/rule.h"
#include "filtering/subtract.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <random>

using namespace vq::filtering;
using Lines = std::vector<std::string>;

TEST(Subtract, TheRule) {
    struct Case {
        std::string prepared;
        Lines suppression;
        bool suppressed;
    } const cases[] = {
        {"a@b.cn", {" A@B.CN\t"}, true}, // suppression lines are prepared too
        {"a@b.cn", {"x@y.com", "a@b.cn"}, true},
        {"a@b.cn", {"a@b.cn.com", "@b.cn", "a@b.c"}, false}, // equal, not contained
        {"", {"", " \t"}, false},                            // an empty line matches nothing
        {"\xB0\x5A@q.cn", {"\xB0\x5A@Q.CN"}, true},          // a trail byte 'Z' stays
        {"\xB0\x7A@q.cn", {"\xB0\x5A@Q.CN"}, false},
        {"a b@c", {"A B@C "}, true}, // inner blanks count
        {"a\nb@c", {"a\nB@c"}, true},
        {"a@b.cn", {}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isSuppressed(c.prepared, c.suppression), c.suppressed) << c.prepared;
}

TEST(Subtract, PreparedLineSetKeepsEachLineOnce) {
    PreparedLineSet set;
    const std::string longLine(300, 'x'); // a length of two bytes
    for (const std::string& line : {std::string("a@b"), std::string(""), longLine,
                                    std::string("a@b"), std::string("a@bc"), longLine})
        set.insert(line);
    EXPECT_EQ(set.size(), 3u);
    for (const auto& [line, kept] : {std::pair{std::string("a@b"), true},
                                     {longLine, true},
                                     {"a@bc", true},
                                     {"", false},
                                     {"a@", false},
                                     {longLine + "x", false},
                                     {std::string(2u << 20, 'y'), false}})
        EXPECT_EQ(set.contains(line), kept) << line.size();
    // A line larger than a block gets a block of its own.
    set.insert(std::string(2u << 20, 'y'));
    EXPECT_TRUE(set.contains(std::string(2u << 20, 'y')));
    EXPECT_TRUE(set.contains("a@b"));
}

namespace {

struct Files {
    std::string list;
    Lines suppression;
};

// What the rule makes of `files`: the list's lines as the reader yields them,
// each valid one to the removed or the kept file as it stands.
void expectEveryPathFollowsTheRule(const Files& f) {
    vqtest::TempDir d;
    vqtest::writeFile(d.file("in.txt"), f.list);
    Lines suppressionFiles, suppressionLines;
    for (std::size_t i = 0; i < f.suppression.size(); ++i) {
        suppressionFiles.push_back(d.file("s" + std::to_string(i) + ".txt"));
        vqtest::writeFile(suppressionFiles.back(), f.suppression[i]);
        for (const std::string& line : vqtest::linesOf(suppressionFiles.back()))
            suppressionLines.push_back(line);
    }
    std::string kept, removed, scratch;
    SubtractCounts expected;
    for (const std::string& raw : vqtest::linesOf(d.file("in.txt"))) {
        ++expected.read;
        const std::string prepared(prepareLine(raw, scratch));
        if (!isValidLine(prepared)) continue;
        const bool gone = isSuppressed(prepared, suppressionLines);
        (gone ? removed : kept) += raw + "\r\n";
        ++(gone ? expected.removed : expected.kept);
    }
    for (const std::size_t buffer :
         {std::size_t(1), std::size_t(7), std::size_t(64), vq::listio::kDefaultBufferSize}) {
        SCOPED_TRACE("buffer " + std::to_string(buffer));
        bool opened = false;
        const SubtractCounts n = subtractLists(
            d.file("in.txt"), suppressionFiles, d.file("k.txt"), d.file("r.txt"),
            [&] { opened = true; }, buffer);
        EXPECT_TRUE(opened);
        EXPECT_EQ(vqtest::readFile(d.file("k.txt")), kept);
        EXPECT_EQ(vqtest::readFile(d.file("r.txt")), removed);
        EXPECT_EQ(n.read, expected.read);
        EXPECT_EQ(n.removed, expected.removed);
        EXPECT_EQ(n.kept, expected.kept);
    }
}

} // namespace

TEST(Subtract, EveryPathFollowsTheRule) {
    using namespace std::string_literals;
    const std::string list = " A@B.CN \r\nx@y.com\r\n\r\n@z.cn\r\nQ@W.CN\rlone@cr.cn\r\n"
                             "a@b.cn\nc@d.com\r\n\xC4\xE3Hao@QQ.COM\r\n\xB0\x5A@x.cn\r\n"
                             "nul\0@x.cn\r\nnoat\r\na@b.cn\r\ntail@last.cn"s;
    std::mt19937 random(5);
    std::string many, half;
    for (int i = 0; i < 3000; ++i) {
        const std::string a = "u" + std::to_string(random() % 1000) + "@h" +
                              std::to_string(i % 17) + (i % 3 ? ".cn" : ".COM");
        many += (i % 11 == 0 ? "  " : "") + a + "\r\n";
        if (i % 2) half += (i % 5 ? a : "\t" + a + " ") + "\r\n";
    }
    const Files cases[] = {
        {list, {}},
        {list, {""}},
        {list, {"a@b.cn\r\n"}},
        {list, {"X@Y.COM\r\n  q@w.cn\r\n", "\xC4\xE3hao@qq.com\r\n\xB0\x5A@X.CN"}},
        {list, {"\r\n@z.cn\r\nnoat\r\n"}}, // invalid and empty lines never match
        {list, {"a@b.cn\nc@d.com\r\nnul\0@x.cn\r\n"s}},
        {list,
         {"TAIL@LAST.CN\x1a"
          "a@b.cn\r\n"}}, // nothing after the mark is read
        {list, {list}},
        {many, {half}},
        {"", {half}},
        // Lists written on Linux, alone and beside CR LF ones.
        {"A@B.CN\nx@y.com\n\nq@w.cn\r\nlast@x.cn", {"a@b.cn\nQ@W.CN\n"}},
        {list, {"x@y.com\nc@d.com\r\n"}},
        {"x@y.com\nc@d.com\n", {list}},
    };
    for (const Files& c : cases) {
        SCOPED_TRACE(c.list.substr(0, 20) + " / " + std::to_string(c.suppression.size()));
        expectEveryPathFollowsTheRule(c);
    }
}

TEST(Subtract, LinesKeepTheirBytesAndOrder) {
    vqtest::TempDir d;
    vqtest::writeFile(d.file("in.txt"), " A@B.CN \r\nbad\r\nx@y.com\r\nA@b.cn");
    vqtest::writeFile(d.file("s.txt"), "a@B.cn\r\n");
    const SubtractCounts n =
        subtractLists(d.file("in.txt"), {d.file("s.txt")}, d.file("k.txt"), d.file("r.txt"));
    EXPECT_EQ(vqtest::readFile(d.file("k.txt")), "x@y.com\r\n");
    EXPECT_EQ(vqtest::readFile(d.file("r.txt")), " A@B.CN \r\nA@b.cn\r\n");
    EXPECT_EQ(n.read, 4);
    EXPECT_EQ(n.invalid(), 1);
}

TEST(Subtract, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
    vqtest::TempDir d;
    const std::string in = d.file("in.txt"), s = d.file("s.txt"), k = d.file("k.txt"),
                      r = d.file("r.txt"), other = d.file("other.txt");
    struct Case {
        std::string kept, removed, refused;
    } const cases[] = {
        {in, r, in},           {k, in, in}, {s, r, s}, {k, d.file("./s.txt"), d.file("./s.txt")},
        {other, other, other}, // both outputs one existing file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kept + " " + c.removed);
        for (const std::string& f : {in, s, other})
            vqtest::writeFile(f, "a@b.cn\r\n");
        std::remove(k.c_str());
        std::remove(r.c_str());
        try {
            subtractLists(in, {s}, c.kept, c.removed);
            ADD_FAILURE() << "no error";
        } catch (const vq::EInOutError& e) {
            EXPECT_EQ(e.code(), 32);
            EXPECT_EQ(e.fileName(), c.refused);
        }
        for (const std::string& f : {in, s, other})
            EXPECT_EQ(vqtest::readFile(f), "a@b.cn\r\n");
        EXPECT_FALSE(vqtest::exists(k));
        EXPECT_FALSE(vqtest::exists(r));
    }
    // A missing suppression list is reported before any output exists.
    EXPECT_THROW(subtractLists(in, {s, d.file("none.txt")}, k, r), vq::EInOutError);
    EXPECT_FALSE(vqtest::exists(k));
}

TEST(Subtract, AFailedReadClosesTheOutputsWithWholeLines) {
    vqtest::TempDir d;
    std::string list, unsub;
    for (int i = 0; i < 40000; ++i) {
        list += "user" + std::to_string(i) + "@a.cn\r\n";
        if (i % 2) unsub += "USER" + std::to_string(i) + "@A.CN\r\n";
    }
    vqtest::writeFile(d.file("in.txt"), list);
    vqtest::writeFile(d.file("s.txt"), unsub);
    int reads = 0;
    vq::listio::faults::setHook([&](vq::listio::faults::Op op, const std::string& file) {
        return op == vq::listio::faults::Op::Read && file == d.file("in.txt") && ++reads == 2 ? EIO
                                                                                              : 0;
    });
    EXPECT_THROW(subtractLists(d.file("in.txt"), {d.file("s.txt")}, d.file("k.txt"),
                               d.file("r.txt"), {}, 64 * 1024),
                 vq::EInOutError);
    vq::listio::faults::setHook({});
    const std::string k = vqtest::readFile(d.file("k.txt")), r = vqtest::readFile(d.file("r.txt"));
    EXPECT_EQ(k.substr(0, 12), "user0@a.cn\r\n");
    EXPECT_EQ(r.substr(0, 12), "user1@a.cn\r\n");
    EXPECT_EQ(k.substr(k.size() - 2) + r.substr(r.size() - 2), "\r\n\r\n");
    EXPECT_NO_THROW(vq::listio::TextWriter(d.file("k.txt")).close());
}

TEST(DomainCount, DomainsOrderAndCsv) {
    struct Case {
        std::string prepared, domain;
    } const domains[] = {
        {"a@b.cn", "b.cn"}, {"a@b@c.cn", "c.cn"}, {"a@", ""}, {"a@\xD6\xD0.cn", "\xD6\xD0.cn"}};
    for (const Case& c : domains)
        EXPECT_EQ(domainOf(c.prepared), c.domain) << c.prepared;

    // Largest count first; equal counts by unsigned bytes, shorter first.
    vqtest::TempDir d;
    vqtest::writeFile(d.file("in.txt"), "x@B.cn\r\n  y@b.CN\r\nbad\r\n\r\nz@\xD6\xD0.cn\r\n"
                                        "w@b.c\r\nv@b.c,n\r\nu@\r\nt@a.cn\r\n");
    const DomainCounts n = countDomains(d.file("in.txt"), 7);
    EXPECT_EQ(n.read, 9);
    EXPECT_EQ(n.valid, 7);
    EXPECT_EQ(n.invalid(), 2);
    const std::vector<DomainRow> rows = {{"b.cn", 2}, {"", 1},      {"a.cn", 1},
                                         {"b.c", 1},  {"b.c,n", 1}, {"\xD6\xD0.cn", 1}};
    EXPECT_EQ(n.rows, rows);

    // Quoted only where a comma, quote, CR or LF needs it; bytes as they are.
    EXPECT_EQ(domainsCsv({{"b.cn", 2}, {"a,b", 1}, {"q\"t", 1}, {"l\nf", 1}, {"\xD6\xD0", 1}}),
              "domain,count\r\nb.cn,2\r\n\"a,b\",1\r\n\"q\"\"t\",1\r\n\"l\nf\",1\r\n"
              "\xD6\xD0,1\r\n");
    EXPECT_EQ(domainsCsv({}), "domain,count\r\n");
}
