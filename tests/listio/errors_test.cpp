#include "listio/errors.h"
#include "listio/listio.h"
#include "outcome.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using vq::listio::TextReader;
using vq::listio::TextWriter;

// The codes no test below can provoke; the others are checked where they
// happen.
TEST(Errors, TextsOfTheCodesNoFileFailureGives) {
    EXPECT_EQ(vq::EInOutError(100).message(), "Read beyond end of file");
    EXPECT_EQ(vq::EInOutError(106).message(), "Invalid numeric input");
    EXPECT_EQ(vq::EInOutError(104).message(), "I/O error 104");
}

TEST(Errors, FullStopOnlyAfterBytesAboveFullStop) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {"File not found", "File not found."},
        {"I/O error 32", "I/O error 32."},
        {"", ""},
        {"done.", "done."},
        {"x-", "x-"},
        {"a!", "a!"},
        {"a/", "a/."},
        {"合并成功", "合并成功."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vq::withFullStop(c.text), c.shown) << c.text;
}

TEST(Errors, ErrnoMapsToWindowsCodesAndNothingElseCollides) {
    vqtest::TempDir dir;
    const struct {
        int err;
        std::string path;
        int code;
    } cases[] = {
        {ENOENT, dir.file("x.txt"), 2},
        {ENOENT, "x.txt", 2},
        {ENOENT, dir.file("no/x.txt"), 3},
        {ENOTDIR, "", 3},
        {ENAMETOOLONG, "", 3},
        {EMFILE, "", 4},
        {ENFILE, "", 4},
        {EACCES, "", 5},
        {EPERM, "", 5},
        {EROFS, "", 5},
        {EISDIR, "", 5},
        {ENOSPC, "", 101},
        {EDQUOT, "", 101},
        {EFBIG, "", 101},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vq::codeFromErrno(c.err, c.path), c.code) << c.err;

    const std::set<int> tableCodes = {2, 3, 4, 5, 32, 100, 101, 103, 104, 105, 106};
    const std::set<int> mapped = {ENOENT,  ENOTDIR, ENAMETOOLONG, ELOOP,  EMFILE, ENFILE,
                                  EACCES,  EPERM,   EROFS,        EISDIR, ENXIO,  EAGAIN,
                                  ETXTBSY, ENOSPC,  EDQUOT,       EFBIG};
    for (int err = 1; err < 200; ++err) {
        if (!mapped.count(err)) {
            EXPECT_FALSE(tableCodes.count(vq::codeFromErrno(err))) << err;
        }
    }
}

// The codes a user can meet, each provoked for real.
TEST(Errors, ReachableCodesFromTheModes) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("a.txt"), "a\r\n");
    const std::string longName = dir.file(std::string(300, 'n'));
    const struct {
        const char* name;
        std::function<void()> action;
        const char* expected;
    } cases[] = {
        {"missing file", [&] { TextReader r(dir.file("none.txt")); }, "File not found"},
        {"appending to nothing", [&] { vq::listio::TextAppender a(dir.file("none.txt")); },
         "File not found"},
        {"missing folder", [&] { TextReader r(dir.file("none/a.txt")); }, "Invalid filename"},
        {"through a file", [&] { TextReader r(dir.file("a.txt/b")); }, "Invalid filename"},
        {"name too long", [&] { TextWriter w(longName); }, "Invalid filename"},
        {"folder", [&] { TextReader r(dir.path()); }, "File access denied"},
        {"disk full",
         [] {
             TextWriter w("/dev/full");
             w.writeLine("x");
             w.close();
         },
         "Disk full"},
        {"held by reader",
         [&] {
             TextReader r(dir.file("a.txt"));
             TextWriter w(dir.file("a.txt"));
         },
         "I/O error 32"},
    };
    for (const auto& c : cases) {
        try {
            c.action();
            ADD_FAILURE() << c.name << " did not fail";
        } catch (const vq::EInOutError& e) {
            EXPECT_EQ(e.message(), c.expected) << c.name;
        }
    }
    EXPECT_FALSE(vqtest::exists(dir.file("none.txt"))); // the appender creates nothing
}

TEST(Errors, TooManyOpenFiles) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("a.txt"), "a\r\n");
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    int lowest = dup(0); // the lowest free descriptor: a limit there allows no more
    ASSERT_GE(lowest, 0);
    close(lowest);
    struct rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::string result = vqtest::outcome([&] { TextReader r(dir.file("a.txt")); });
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(result, "io 4");
}
