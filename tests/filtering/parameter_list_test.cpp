// The parameter list's add, delete, typing, import and export rules.
#include "filtering/parameter_list.h"
#include "listio/errors.h"
#include "listio/listio.h"
#include "testutil.h"

#include <gtest/gtest.h>

using vq::filtering::ParameterList;
using Rows = std::vector<std::string>;

namespace {

struct Op {
    enum Kind { Add, Delete, Type } kind;
    std::string text;
    int row = 0;
};
Op add(std::string t) { return {Op::Add, std::move(t)}; }
Op del(int row) { return {Op::Delete, {}, row}; }
Op type(int row, std::string t) { return {Op::Type, std::move(t), row}; }

struct EditCase {
    const char* name;
    std::vector<Op> ops;
    Rows rows;
    int64_t count;
};

void apply(ParameterList& l, const std::vector<Op>& ops) {
    for (const Op& op : ops) {
        if (op.kind == Op::Add) l.add(op.text);
        if (op.kind == Op::Delete) l.remove(op.row);
        if (op.kind == Op::Type) l.setRow(op.row, op.text);
    }
}

ParameterList listOf(const Rows& rows) {
    ParameterList l;
    for (const auto& r : rows) l.add(r);
    return l;
}

} // namespace

TEST(ParameterList, EditRules) {
    const std::vector<Op> abcd = {add("a"), add("b"), add("c"), add("d")};
    auto then = [&](std::vector<Op> more) {
        std::vector<Op> all = abcd;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const EditCase cases[] = {
        {"start state", {}, {""}, 0},
        {"first add fills row 0", {add(".cn")}, {".cn"}, 1},
        {"same text twice gives two rows", {add(".cn"), add(".cn")}, {".cn", ".cn"}, 2},
        {"add trims control bytes, keeps capitals", {add(" \t.COM\r\n ")}, {".COM"}, 1},
        {"add of blanks adds an empty row", {add("   "), add("x")}, {"", "x"}, 2},
        {"add keeps inner spaces and high bytes", {add(" a b\xC4\xE3 ")}, {"a b\xC4\xE3"}, 1},
        {"delete exchanges with the last row", then({del(1)}), {"a", "d", "c"}, 3},
        {"delete the top row", then({del(0)}), {"d", "b", "c"}, 3},
        {"delete the last row only shortens", then({del(3)}), {"a", "b", "c"}, 3},
        {"delete on the start state", {del(0)}, {""}, -1},
        {"count below 0 is raised to 0 by add", {del(0), del(0), add("x")}, {"x"}, 1},
        {"emptied list: next add fills row 0", {add("a"), add("b"), del(0), del(0), add("c"), add("d")},
         {"c", "d"}, 2},
        {"delete outside the rows does nothing", then({del(4), del(-1)}), {"a", "b", "c", "d"}, 4},
        {"typing changes neither count nor rows", then({type(2, " X ")}), {"a", "b", " X ", "d"}, 4},
        {"next add replaces text typed into the start row", {type(0, "typed"), add("x")}, {"x"}, 1},
    };
    for (const EditCase& c : cases) {
        ParameterList l;
        apply(l, c.ops);
        EXPECT_EQ(l.shownRows(), c.rows) << c.name;
        EXPECT_EQ(l.rowCount(), static_cast<int>(c.rows.size())) << c.name;
        EXPECT_EQ(l.parameterCount(), c.count) << c.name;
    }
}

TEST(ParameterList, DeletedTextDoesNotReappearBelowTheLastRow) {
    ParameterList l = listOf({"a", "b"});
    l.remove(0);
    EXPECT_EQ(l.row(1), "");
    l.add("c");
    EXPECT_EQ(l.shownRows(), (Rows{"b", "c"}));
}

TEST(ParameterList, ImportTakesTheFileLines) {
    struct Case {
        const char* name;
        std::string bytes;
        Rows rows;
        int64_t count;
    };
    const Case cases[] = {
        {"empty file", "", {""}, 0},
        {"CR LF lines", "a\r\nb\r\n", {"a", "b"}, 2},
        {"last line without line end", "a\r\nb", {"a", "b"}, 2},
        {"blank line becomes one space", "a\r\n\r\nb\r\n", {"a", " ", "b"}, 3},
        {"exported start state", "\r\n", {" "}, 1},
        {"lone CR", "a\rb\r", {"a", "b"}, 2},
        {"LF-only lines, one row each", "a\nb\nc\n", {"a", "b", "c"}, 3},
        {"NUL ends the text", std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}, 2},
        {"0x1A is an ordinary byte", "a\x1A\r\nb", {"a\x1A", "b"}, 2},
        {"taken as they stand", " .COM \r\n", {" .COM "}, 1},
    };
    vqtest::TempDir dir;
    for (const Case& c : cases) {
        vqtest::writeFile(dir.file("p.txt"), c.bytes);
        ParameterList l = listOf({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"});
        l.importFile(dir.file("p.txt"));
        EXPECT_EQ(l.shownRows(), c.rows) << c.name;
        EXPECT_EQ(l.parameterCount(), c.count) << c.name;
        l.add("new");
        EXPECT_EQ(l.row(static_cast<int>(c.count)), "new") << c.name;
        EXPECT_EQ(l.parameterCount(), c.count + 1) << c.name;
    }
}

TEST(ParameterList, FailedImportLeavesTheListAsItWas) {
    vqtest::TempDir dir;
    ParameterList l = listOf({"a", "b"});
    try {
        l.importFile(dir.file("missing.txt"));
        FAIL() << "no error";
    } catch (const vq::EInOutError& e) {
        EXPECT_EQ(e.code(), 2);
    }
    // The count passes; the load of the whole file is refused.
    vqtest::writeFile(dir.file("p.txt"), "x\r\ny\r\nz\r\n");
    int opens = 0;
    vq::listio::faults::setHook([&](vq::listio::faults::Op op, const std::string&) {
        return op == vq::listio::faults::Op::Open && ++opens == 2 ? EACCES : 0;
    });
    EXPECT_THROW(l.importFile(dir.file("p.txt")), vq::EFOpenError);
    vq::listio::faults::setHook({});
    EXPECT_EQ(l.shownRows(), (Rows{"a", "b"}));
    EXPECT_EQ(l.parameterCount(), 2);
}

TEST(ParameterList, ExportWritesEveryRowWithCrLf) {
    vqtest::TempDir dir;
    const std::string f = dir.file("out.txt");
    ParameterList start;
    start.exportFile(f);
    EXPECT_EQ(vqtest::readFile(f), "\r\n");

    ParameterList l = listOf({".cn", "", "\xFF\x80 x"});
    l.exportFile(f);
    EXPECT_EQ(vqtest::readFile(f), ".cn\r\n\r\n\xFF\x80 x\r\n");
    ParameterList back;
    back.importFile(f);
    EXPECT_EQ(back.shownRows(), (Rows{".cn", " ", "\xFF\x80 x"}));

    EXPECT_THROW(l.exportFile(dir.file("no/such/folder.txt")), vq::EFCreateError);
}

TEST(ParameterList, SearchersFollowTheRows) {
    ParameterList l = listOf({".cn"});
    const auto first = l.searchers();
    EXPECT_EQ(l.searchers(), first); // reused while nothing changes
    EXPECT_TRUE(first->matches(vq::filtering::Rule::EveryRow, "a@b.cn"));
    l.setRow(0, ".de");
    EXPECT_NE(l.searchers(), first);
    EXPECT_FALSE(l.searchers()->matches(vq::filtering::Rule::EveryRow, "a@b.cn"));
    EXPECT_TRUE(l.searchers()->matches(vq::filtering::Rule::EveryRow, "a@b.de"));
}
