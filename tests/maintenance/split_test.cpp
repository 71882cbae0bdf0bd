// The splitter's core and its command: size arithmetic, names, refusals.
#include "listio/errors.h"
#include "maintenance/split.h"
#include "testutil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

struct Cli {
    int status;
    std::string out, err;
};

// Runs the command-line companion inside folder.
Cli runCli(const std::string& folder, const std::string& args) {
    vqtest::TempDir capture;
    std::string cmd = "cd '" + folder + "' && '" VQ_CLI_PATH "' " + args + " >'" +
                      capture.file("out") + "' 2>'" + capture.file("err") + "'";
    int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readFile(capture.file("out")),
            readFile(capture.file("err"))};
}

TEST(Split, FilesHoldSizeLinesAndTheRest) {
    struct Case {
        int lines, size;
        std::vector<int> perFile;
    } cases[] = {
        {2500, 1000, {1000, 1000, 500}},
        {2000, 1000, {1000, 1000}}, // no empty third file
        {3, 1000, {3}},
        {0, 1000, {0}}, // an empty list still gives one (empty) file
        {10, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        vqtest::TempDir dir;
        std::string in = dir.file("in.txt");
        writeFile(in, numberedLines(1, c.lines));
        ASSERT_EQ(m::countLines(in), c.lines);
        std::string base = dir.file("part");
        EXPECT_EQ(m::splitFile(in, c.lines, c.size, base), (int64_t)c.perFile.size());
        int first = 1;
        for (size_t k = 0; k < c.perFile.size(); ++k) {
            EXPECT_EQ(readFile(m::numberedFileName(base, (int64_t)k + 1)),
                      numberedLines(first, c.perFile[k]))
                << c.lines << " / " << c.size << ", file " << k + 1;
            first += c.perFile[k];
        }
        EXPECT_FALSE(vqtest::exists(m::numberedFileName(base, (int64_t)c.perFile.size() + 1)));
    }
}

TEST(Split, LinesAreCopiedAsTheReaderYieldsThem) {
    vqtest::TempDir dir;
    std::string in = dir.file("in.txt");
    // Lone CR ends a line, LF is data, an empty line counts toward the size.
    writeFile(in, "A\rb\n C\r\n\r\nd\x1Aignored");
    ASSERT_EQ(m::countLines(in), 4);
    EXPECT_EQ(m::splitFile(in, 4, 2, dir.file("p")), 2);
    EXPECT_EQ(readFile(dir.file("p1.txt")), "A\r\nb\n C\r\n");
    EXPECT_EQ(readFile(dir.file("p2.txt")), "\r\nd\r\n");
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

TEST(Split, FewerFilesLeaveEarlierHigherNumbersAlone) {
    vqtest::TempDir dir;
    std::string in = dir.file("in.txt"), base = dir.file("p");
    writeFile(in, numberedLines(1, 30));
    EXPECT_EQ(m::splitFile(in, 30, 10, base), 3);
    writeFile(in, numberedLines(100, 5));
    EXPECT_EQ(m::splitFile(in, 5, 10, base), 1);
    EXPECT_EQ(readFile(dir.file("p1.txt")), numberedLines(100, 5));
    EXPECT_EQ(readFile(dir.file("p3.txt")), numberedLines(21, 10));
}

TEST(Split, ANumberedFileThatIsTheInputIsRefused) {
    vqtest::TempDir dir;
    std::string in = dir.file("p2.txt");
    writeFile(in, numberedLines(1, 3));
    try {
        m::splitFile(in, 3, 1, dir.file("p"));
        ADD_FAILURE() << "the input was overwritten";
    } catch (const vq::EInOutError& e) {
        EXPECT_EQ(e.code(), 32);
    }
    EXPECT_EQ(readFile(dir.file("p1.txt")), numberedLines(1, 1)); // finished before
    EXPECT_EQ(readFile(in), numberedLines(1, 3));
}

TEST(Split, AListThatShrankSinceCountingGetsNoInventedLines) {
    vqtest::TempDir dir;
    std::string in = dir.file("in.txt");
    writeFile(in, numberedLines(1, 3));
    EXPECT_EQ(m::splitFile(in, 5, 2, dir.file("p")), 2);
    EXPECT_EQ(readFile(dir.file("p2.txt")), numberedLines(3, 1));
    EXPECT_FALSE(vqtest::exists(dir.file("p3.txt")));
}

TEST(Split, SizesBelowOneAreRefusedNamingTheText) {
    for (const char* text : {"0", "-5", "$FFFFFFFF"}) {
        try {
            m::splitSizeFromText(text);
            ADD_FAILURE() << text << " accepted";
        } catch (const vq::EConvertError&) {
            ADD_FAILURE() << text << " is a valid integer";
        } catch (const vq::Exception& e) {
            EXPECT_NE(e.message().find(std::string("'") + text + "'"), std::string::npos);
        }
    }
    EXPECT_THROW(m::splitSizeFromText("50 "), vq::EConvertError);
    EXPECT_EQ(m::splitSizeFromText(" 50"), 50);
}

TEST(SplitCommand, PrintsCountsAndRefusesBadSizesBeforeWriting) {
    vqtest::TempDir dir;
    writeFile(dir.file("in.txt"), numberedLines(1, 2500));
    Cli r = runCli(dir.path(), "split in.txt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "地址总数\t2500\n列表分割\t3\n邮件列表分割成功!\n");
    EXPECT_EQ(readFile(dir.file("qx@mail3.txt")), numberedLines(2001, 500));

    r = runCli(dir.path(), "split in.txt --size 2000 --base 'a b'");
    EXPECT_EQ(r.out, "地址总数\t2500\n列表分割\t2\n邮件列表分割成功!\n");
    EXPECT_EQ(readFile(dir.file("a b2.txt")), numberedLines(2001, 500));

    for (const char* size : {"0", "abc"}) {
        r = runCli(dir.path(), std::string("split in.txt --base z --size ") + size);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "地址总数\t2500\n");
        EXPECT_NE(r.err.find(std::string("'") + size + "'"), std::string::npos) << r.err;
        EXPECT_FALSE(vqtest::exists(dir.file("z1.txt")));
    }
    r = runCli(dir.path(), "split missing.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "File not found.\n");
    EXPECT_EQ(runCli(dir.path(), "split").status, 2);
}

} // namespace
