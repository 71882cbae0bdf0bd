// The parameter list's add, delete, typing, import and export rules.
#include "filtering/parameter_list.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"
#include "listio/listio.h"
#include "testutil.h"

#include <gtest/gtest.h>

using vq::filtering::ParameterList;
using Rows = std::vector<std::string>;

namespace {

// "+text" adds, "-N" deletes row N, "=N:text" types into row N.
ParameterList after(const std::vector<std::string>& ops) {
    ParameterList l;
    for (const std::string& op : ops) {
        if (op[0] == '+') l.add(op.substr(1));
        if (op[0] == '-') l.remove(std::stoi(op.substr(1)));
        if (op[0] == '=') l.setRow(std::stoi(op.substr(1)), op.substr(op.find(':') + 1));
    }
    return l;
}

} // namespace

TEST(ParameterList, EditRules) {
    struct Case {
        std::vector<std::string> ops;
        Rows rows;
        int64_t count;
    } const cases[] = {
        {{}, {""}, 0},
        {{"+.cn", "+.cn"}, {".cn", ".cn"}, 2},
        {{"+ \t.COM\r\n "}, {".COM"}, 1},                     // trimmed, capitals kept
        {{"+   ", "+x"}, {"", "x"}, 2},                       // blanks add an empty row
        {{"+a", "+b", "+c", "+d", "-1"}, {"a", "d", "c"}, 3}, // exchanged with the last
        {{"+a", "+b", "+c", "+d", "-3"}, {"a", "b", "c"}, 3},
        {{"-0"}, {""}, -1},
        {{"-0", "-0", "+x"}, {"x"}, 1}, // below 0: raised to 0 first
        {{"+a", "+b", "-0", "-0", "+c", "+d"}, {"c", "d"}, 2},
        {{"+a", "+b", "-0", "+c"}, {"b", "c"}, 2},  // deleted text stays gone
        {{"+a", "+b", "-2", "--1"}, {"a", "b"}, 2}, // no such row
        {{"+a", "+b", "=1: X "}, {"a", " X "}, 2},  // typing changes no count
        {{"=0:typed", "+x"}, {"x"}, 1},             // the add replaces typed text
    };
    for (const Case& c : cases) {
        const ParameterList l = after(c.ops);
        EXPECT_EQ(l.shownRows(), c.rows) << ::testing::PrintToString(c.ops);
        EXPECT_EQ(l.parameterCount(), c.count) << ::testing::PrintToString(c.ops);
    }
}

TEST(ParameterList, ImportReplacesTheList) {
    struct Case {
        std::string bytes;
        Rows rows;
    } const cases[] = {
        {"", {""}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\r\nb", {"a", "b"}},
        {"a\r\n\r\nb\r\n", {"a", " ", "b"}},
        {"\r\n", {" "}},
        {"a\rb\nc\n", {"a", "b", "c"}}, // one row per line, whatever ends it
        {std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
        {"a\x1A\r\n .COM ", {"a\x1A", " .COM "}},
    };
    vqtest::TempDir dir;
    for (const Case& c : cases) {
        vqtest::writeFile(dir.file("p.txt"), c.bytes);
        ParameterList l = after({"+1", "+2", "+3", "+4", "+5", "+6", "+7", "+8", "+9", "+10"});
        l.importFile(dir.file("p.txt"));
        EXPECT_EQ(l.shownRows(), c.rows) << c.bytes;
        const auto lines = static_cast<int64_t>(c.bytes.empty() ? 0 : c.rows.size());
        EXPECT_EQ(l.parameterCount(), lines) << c.bytes;
        l.add("new");
        EXPECT_EQ(l.row(static_cast<int>(lines)), "new") << c.bytes;
    }
}

TEST(ParameterList, FailedImportLeavesTheListAsItWas) {
    vqtest::TempDir dir;
    ParameterList l = after({"+a", "+b"});
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
    ParameterList().exportFile(f);
    EXPECT_EQ(vqtest::readFile(f), "\r\n");

    const ParameterList l = after({"+.cn", "+", "+\xFF\x80 x"});
    l.exportFile(f);
    EXPECT_EQ(vqtest::readFile(f), ".cn\r\n\r\n\xFF\x80 x\r\n");
    ParameterList back;
    back.importFile(f);
    EXPECT_EQ(back.shownRows(), (Rows{".cn", " ", "\xFF\x80 x"}));

    EXPECT_THROW(l.exportFile(dir.file("no/such/folder.txt")), vq::EFCreateError);
}
