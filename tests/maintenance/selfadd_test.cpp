// Self-add: the appender's end-of-file-mark window, the trim, the line end
// put in front of an address that would otherwise join the last line.
#include "listio/errors.h"
#include "maintenance/selfadd.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

using vqtest::readFile;
using vqtest::writeFile;

TEST(SelfAdd, AppendsOneTrimmedLine) {
    const std::string longTail(200, 'y');
    const struct {
        std::string before, typed, after;
    } cases[] = {
        {"a@x.com\r\n", "new@example.com", "a@x.com\r\nnew@example.com\r\n"},
        {"a@x.com\r\n", "a@x.com", "a@x.com\r\na@x.com\r\n"}, // no de-duplication
        {"a@x.com", "n@e.com", "a@x.com\r\nn@e.com\r\n"},     // never glued to the last line
        {"a@x.com\r\n\x1A", "n@e.com", "a@x.com\r\nn@e.com\r\n"},
        {"a@x.com\r\n\x1Ajunk\x1A", "n@e.com", "a@x.com\r\nn@e.com\r\n"},
        {"a@x.com\x1Ajunk", "n@e.com", "a@x.com\r\nn@e.com\r\n"},
        // A mark further back than 128 bytes stays; the line goes at the very end.
        {"x\x1A" + longTail + "\r\n", "n", "x\x1A" + longTail + "\r\nn\r\n"},
        {"x\x1A" + longTail, "n", "x\x1A" + longTail + "\r\nn\r\n"},
        {"", "n@e.com", "n@e.com\r\n"},
        {"\x1A", "n@e.com", "n@e.com\r\n"},
        // After a first CR a lone LF is data of the last line, so the line
        // end still comes first; a list written on Linux ends it at the LF.
        {"x\r\na\n", "n", "x\r\na\n\r\nn\r\n"},
        {"\rb\n", "n", "\rb\n\r\nn\r\n"},
        {"a\n", "n", "a\nn\r\n"},
        {"\n", "n", "\nn\r\n"},
        {"a\nb", "n", "a\nb\r\nn\r\n"},
        {"a\nb\r\n\n", "n", "a\nb\r\n\nn\r\n"},
        // The reader's data ends at a mark before any line end: no LF ends a line.
        {"x\x1A\n" + longTail + "\n", "n", "x\x1A\n" + longTail + "\n\r\nn\r\n"},
        {"a\r", "n", "a\rn\r\n"},
        {"\r", "n", "\rn\r\n"},
        {"a\n\r", "n", "a\n\rn\r\n"},
        {"a\r\n", " \t new@example.com \r\n", "a\r\nnew@example.com\r\n"},
        {"a\r\n", "  in ner  ", "a\r\nin ner\r\n"},
        {"a\r\n", "   ", "a\r\n\r\n"},
        {"a\r\n", "\xC4\xE3\xBA\xC3@x.cn", "a\r\n\xC4\xE3\xBA\xC3@x.cn\r\n"},
    };
    for (const auto& c : cases) {
        vqtest::TempDir dir;
        writeFile(dir.file("l.txt"), c.before);
        vq::maintenance::appendAddress(dir.file("l.txt"), c.typed);
        EXPECT_EQ(readFile(dir.file("l.txt")), c.after) << "before: " << c.before;
    }
}

TEST(SelfAdd, AMissingFileIsNotCreated) {
    vqtest::TempDir dir;
    try {
        vq::maintenance::appendAddress(dir.file("none.txt"), "n@e.com");
        ADD_FAILURE() << "no failure";
    } catch (const vq::EInOutError& e) {
        EXPECT_EQ(e.message(), "File not found");
    }
    EXPECT_FALSE(vqtest::exists(dir.file("none.txt")));
}

TEST(SelfAddCommand, WritesTheTextInCodePage936) {
    vqtest::TempDir dir;
    writeFile(dir.file("l.txt"), "a\r\n");
    std::string cmd = "'" VQ_CLI_PATH "' add '" + dir.file("l.txt") + "' ' 你好@example.com ' >'" +
                      dir.file("o") + "' 2>&1";
    int rc = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << readFile(dir.file("o"));
    EXPECT_EQ(readFile(dir.file("o")), "邮件地址添加完毕!\n");
    EXPECT_EQ(readFile(dir.file("l.txt")), "a\r\n\xC4\xE3\xBA\xC3@example.com\r\n");
}

} // namespace
