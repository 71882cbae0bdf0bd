// The splitter's core and its command: size arithmetic, names, refusals.
#include "listio/errors.h"
#include "listio/listio.h"
#include "maintenance/split.h"
#include "testutil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace m = vq::maintenance;
using vqtest::readFile;
using vqtest::writeFile;

std::string numberedLines(int from, int count) {
    std::string s;
    for (int i = from; i < from + count; ++i)
        s += "u" + std::to_string(i) + "@example.com\r\n";
    return s;
}

TEST(Split, FilesHoldSizeLinesAndTheRest) {
    const struct {
        int lines, size;
        std::vector<int> perFile;
    } cases[] = {
        {2500, 1000, {1000, 1000, 500}},
        {2000, 1000, {1000, 1000}}, // no empty third file
        {3, 1000, {3}},
        {0, 1000, {0}}, // an empty list still gives one (empty) file
        {10, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        vqtest::TempDir dir;
        std::string in = dir.file("in.txt"), base = dir.file("part");
        writeFile(in, numberedLines(1, c.lines));
        ASSERT_EQ(vq::listio::countLines(in), c.lines);
        EXPECT_EQ(m::splitFile(in, c.lines, c.size, base), (int64_t)c.perFile.size());
        int first = 1;
        for (size_t k = 0; k < c.perFile.size(); first += c.perFile[k++])
            EXPECT_EQ(readFile(base + std::to_string(k + 1) + ".txt"),
                      numberedLines(first, c.perFile[k]))
                << c.lines << " / " << c.size << ", file " << k + 1;
        EXPECT_FALSE(vqtest::exists(m::numberedFileName(base, (int64_t)c.perFile.size() + 1)));
    }
}

TEST(Split, CopiesLinesUnchangedAndNeverInventsAny) {
    vqtest::TempDir dir;
    std::string in = dir.file("in.txt");
    // Lone CR ends a line, LF is data, an empty line counts toward the size.
    writeFile(in, "A\rb\n C\r\n\r\nd\x1Aignored");
    ASSERT_EQ(vq::listio::countLines(in), 4);
    EXPECT_EQ(m::splitFile(in, 4, 2, dir.file("p")), 2);
    EXPECT_EQ(readFile(dir.file("p1.txt")), "A\r\nb\n C\r\n");
    EXPECT_EQ(readFile(dir.file("p2.txt")), "\r\nd\r\n");
    // A list that shrank after it was counted: the pass stops at its end.
    EXPECT_EQ(m::splitFile(in, 7, 3, dir.file("q")), 2);
    EXPECT_EQ(readFile(dir.file("q2.txt")), "d\r\n");
    EXPECT_FALSE(vqtest::exists(dir.file("q3.txt")));
}

TEST(Split, BaseNamesAreUsedAsTyped) {
    vqtest::KeepCurrentFolder keep;
    vqtest::TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    writeFile(dir.file("in.txt"), numberedLines(1, 1));
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const std::pair<std::string, std::string> cases[] = {
        {"qx@mail", "qx@mail1.txt"},   {"part ", "part 1.txt"},
        {"list.txt", "list.txt1.txt"}, {"", "1.txt"},
        {"sub/x", "sub/x1.txt"},       {dir.file("sub/abs"), "sub/abs1.txt"},
    };
    for (const auto& [base, expected] : cases) {
        m::splitFile("in.txt", 1, 1000, base);
        EXPECT_EQ(readFile(dir.file(expected)), numberedLines(1, 1)) << "'" << base << "'";
    }
}

TEST(SplitCommand, PrintsCountsAndRefusesBadSizesBeforeWriting) {
    vqtest::TempDir dir, capture;
    writeFile(dir.file("in.txt"), numberedLines(1, 2500));
    auto run = [&](const std::string& args) {
        std::string cmd = "cd '" + dir.path() + "' && '" VQ_CLI_PATH "' split " + args + " >'" +
                          capture.file("out") + "' 2>'" + capture.file("err") + "'";
        int rc = std::system(cmd.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
    EXPECT_EQ(run("in.txt"), 0);
    EXPECT_EQ(readFile(capture.file("out")), "地址总数\t2500\n列表分割\t3\n邮件列表分割成功!\n");
    EXPECT_EQ(readFile(dir.file("qx@mail3.txt")), numberedLines(2001, 500));
    EXPECT_EQ(run("in.txt --size 2000 --base 'a b'"), 0);
    EXPECT_EQ(readFile(dir.file("a b2.txt")), numberedLines(2001, 500));

    for (const char* size : {"0", "-5", "abc"}) {
        EXPECT_EQ(run(std::string("in.txt --base z --size ") + size), 1);
        EXPECT_EQ(readFile(capture.file("out")), "地址总数\t2500\n");
        std::string err = readFile(capture.file("err"));
        EXPECT_NE(err.find(std::string("'") + size + "'"), std::string::npos) << err;
        EXPECT_FALSE(vqtest::exists(dir.file("z1.txt")));
    }
    EXPECT_EQ(run("missing.txt"), 1);
    EXPECT_EQ(readFile(capture.file("err")), "veskoqindra-cli: missing.txt: File not found.\n");
    EXPECT_EQ(run(""), 2);
}

} // namespace
