#include "maintenance/merge.h"
#include "outcome.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

using vq::maintenance::mergeFiles;

TEST(MergeCore, LinesOfAThenBEachEndingInCrLf) {
    vqtest::TempDir dir;
    const struct {
        const char* name;
        std::string a, b, out;
    } cases[] = {
        {"both empty", "", "", ""},
        {"last line of A without end", "A1\r\nA2\r\nA3", "B1\r\nB2\r\n",
         "A1\r\nA2\r\nA3\r\nB1\r\nB2\r\n"},
        {"mark in A",
         "A1\r\nA2\x1A"
         "gone\r\n",
         "B1\r\n", "A1\r\nA2\r\nB1\r\n"},
        {"nothing trimmed or dropped", " A@X.cn \r\n\r\nA@X.cn\r\n", "A@X.cn\r",
         " A@X.cn \r\n\r\nA@X.cn\r\nA@X.cn\r\n"},
        {"a linux list, then lone CRs", "a\nb\n", "c\rd", "a\r\nb\r\nc\r\nd\r\n"},
        {"lf is data after a first cr", "a\r\nb\nc", "d\n\re", "a\r\nb\nc\r\nd\r\n\r\ne\r\n"},
    };
    for (const auto& c : cases) {
        vqtest::writeFile(dir.file("a.txt"), c.a);
        vqtest::writeFile(dir.file("b.txt"), c.b);
        vqtest::writeFile(dir.file("out.txt"), "old output\r\n");
        mergeFiles(dir.file("a.txt"), dir.file("b.txt"), dir.file("out.txt"));
        EXPECT_EQ(vqtest::readFile(dir.file("out.txt")), c.out) << c.name;
    }
}

TEST(MergeCore, SameFileAsBothInputsIsCopiedTwice) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("a.txt"), "x\r\ny");
    mergeFiles(dir.file("a.txt"), dir.file("a.txt"), dir.file("out.txt"));
    EXPECT_EQ(vqtest::readFile(dir.file("out.txt")), "x\r\ny\r\nx\r\ny\r\n");
}

TEST(MergeCore, RefusedOutputsAndMissingInputsChangeNothing) {
    vqtest::TempDir dir;
    const std::string a = dir.file("a.txt"), b = dir.file("b.txt"), out = dir.file("out.txt");
    const struct {
        const char* name;
        std::string a, b, out, expected;
    } cases[] = {
        {"output is A", a, b, a, "io 32"},
        {"output is B", a, b, b, "io 32"},
        {"A missing", dir.file("none.txt"), b, out, "io 2"},
        {"B missing", a, dir.file("none.txt"), out, "io 2"},
    };
    for (const auto& c : cases) {
        vqtest::writeFile(a, "a1\r\na2");
        vqtest::writeFile(b, "b1\r\n");
        EXPECT_EQ(vqtest::outcome([&] { mergeFiles(c.a, c.b, c.out); }), c.expected) << c.name;
        EXPECT_EQ(vqtest::readFile(a), "a1\r\na2") << c.name;
        EXPECT_EQ(vqtest::readFile(b), "b1\r\n") << c.name;
        EXPECT_FALSE(vqtest::exists(out)) << c.name;
    }
}
