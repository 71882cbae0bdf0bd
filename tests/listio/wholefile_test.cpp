#include "listio/listio.h"
#include "outcome.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using vq::listio::loadLines;
using vq::listio::saveLines;
using vq::listio::saveText;
using vq::listio::faults::Op;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

struct LoadCase {
    const char* name;
    std::string bytes;
    Lines lines;
};

const LoadCase kLoadCases[] = {
    {"empty", "", {}},
    {"crlf", "a\r\nb\r\n", {"a", "b"}},
    {"no final end", "a\r\nb", {"a", "b"}},
    {"lone lf", "a\nb\n", {"a", "b"}},
    {"lone cr", "a\rb", {"a", "b"}},
    {"lf cr is two ends", "a\n\rb", {"a", "", "b"}},
    {"empty lines kept", "\r\n\r\na\r\n\r\n", {"", "", "a", ""}},
    {"nul ends text", std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}},
    {"nul first", std::string("\0a\r\n", 4), {}},
    {"mark is a byte",
     "a\x1A"
     "b\r\n\x1A",
     {"a\x1A"
      "b",
      "\x1A"}},
};

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

struct HookGuard {
    explicit HookGuard(vq::listio::faults::Hook h) { vq::listio::faults::setHook(std::move(h)); }
    ~HookGuard() { vq::listio::faults::setHook({}); }
};

// Fails the first call of `op` on a file other than `keep`: the saver's
// temporary file.
vq::listio::faults::Hook failOnTemporary(Op op, int err, const std::string& keep) {
    return [=](Op o, const std::string& path) { return o == op && path != keep ? err : 0; };
}

} // namespace

TEST(WholeFileLoader, SplitsAtCrLfCrAndLfAndStopsAtNul) {
    vqtest::TempDir dir;
    for (const auto& c : kLoadCases) {
        vqtest::writeFile(dir.file("p.txt"), c.bytes);
        EXPECT_EQ(loadLines(dir.file("p.txt")), c.lines) << c.name;
    }
}

TEST(WholeFileLoader, UnopenableNamesGiveCannotOpenFile) {
    vqtest::TempDir dir;
    for (const std::string& name : {dir.file("none.txt"), dir.path()})
        EXPECT_EQ(vqtest::outcome([&] { loadLines(name); }), "Cannot open file " + name);
}

TEST(WholeFileSaver, EveryEntryEndsWithCrLf) {
    vqtest::TempDir dir;
    const struct {
        Lines lines;
        std::string bytes;
    } cases[] = {{{}, ""}, {{""}, "\r\n"}, {{"a", "", "b\n"}, "a\r\n\r\nb\n\r\n"}};
    for (const auto& c : cases) {
        saveLines(dir.file("out.txt"), c.lines);
        EXPECT_EQ(vqtest::readFile(dir.file("out.txt")), c.bytes);
    }
    EXPECT_EQ(entries(dir.path()), Lines{"out.txt"});
}

TEST(WholeFileSaver, ReplacedFileKeepsItsPermissionBits) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("out.txt"), "old\r\n");
    ASSERT_EQ(chmod(dir.file("out.txt").c_str(), 0640), 0);
    saveText(dir.file("out.txt"), "new\r\n");
    struct stat st;
    ASSERT_EQ(stat(dir.file("out.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(vqtest::readFile(dir.file("out.txt")), "new\r\n");
}

TEST(WholeFileSaver, WritesThroughSymbolicLinks) {
    vqtest::TempDir dir;
    fs::create_directory(dir.file("real"));
    vqtest::writeFile(dir.file("real/list.txt"), "old\r\n");
    fs::create_symlink("real/list.txt", dir.file("link.txt"));
    fs::create_symlink("real/new.txt", dir.file("dangling.txt"));
    saveText(dir.file("link.txt"), "new\r\n");
    saveText(dir.file("dangling.txt"), "made\r\n");
    EXPECT_TRUE(fs::is_symlink(dir.file("link.txt")));
    EXPECT_EQ(vqtest::readFile(dir.file("real/list.txt")), "new\r\n");
    EXPECT_EQ(vqtest::readFile(dir.file("real/new.txt")), "made\r\n");
    EXPECT_EQ(entries(dir.file("real")), (Lines{"list.txt", "new.txt"}));
}

TEST(WholeFileSaver, NamesThatCannotBeCreated) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("plain.txt"), "x");
    fs::create_directory(dir.file("folder.txt"));
    for (const std::string& name :
         {dir.file("folder.txt"), dir.file("plain.txt/x.txt"), dir.file("none/x.txt")})
        EXPECT_EQ(vqtest::outcome([&] { saveText(name, "a\r\n"); }), "Cannot create file " + name);
    EXPECT_EQ(vqtest::readFile(dir.file("plain.txt")), "x");
    EXPECT_EQ(vqtest::outcome([] { saveText("/dev/full", "a\r\n"); }), "Stream write error");
}

// Each failure after the temporary file exists must leave the old list as it
// was and take the temporary file away again.
TEST(WholeFileSaver, FailedSaveLeavesOldFileIntactAndNoTemporary) {
    vqtest::TempDir dir;
    const std::string target = dir.file("list.txt");
    const struct {
        const char* name;
        vq::listio::faults::Hook hook;
        std::string expected;
    } cases[] = {
        {"write", failOnTemporary(Op::Write, ENOSPC, target), "Stream write error"},
        {"sync", failOnTemporary(Op::Sync, EIO, target), "Stream write error"},
        {"close", failOnTemporary(Op::Close, EIO, target), "Stream write error"},
        {"rename", failOnTemporary(Op::Rename, EXDEV, target), "Cannot create file " + target},
        {"create temporary", failOnTemporary(Op::Open, EMFILE, target),
         "Cannot create file " + target},
    };
    for (const auto& c : cases) {
        vqtest::writeFile(target, "old\r\n");
        HookGuard hook(c.hook);
        EXPECT_EQ(vqtest::outcome([&] { saveText(target, std::string(5000, 'n')); }), c.expected)
            << c.name;
        EXPECT_EQ(vqtest::readFile(target), "old\r\n") << c.name;
        EXPECT_EQ(entries(dir.path()), Lines{"list.txt"}) << c.name;
    }
}

// A real short write: the file-size limit stops the temporary file half way.
TEST(WholeFileSaver, FileSizeLimitDoesNotDestroyTheOldFile) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("list.txt"), "old\r\n");
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string result =
        vqtest::outcome([&] { saveText(dir.file("list.txt"), std::string(10000, 'n')); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, "Stream write error");
    EXPECT_EQ(vqtest::readFile(dir.file("list.txt")), "old\r\n");
    EXPECT_EQ(entries(dir.path()), Lines{"list.txt"});
}

TEST(WholeFileSaver, FolderRefusingNewFilesFallsBackToWritingInPlace) {
    vqtest::TempDir dir;
    const std::string target = dir.file("list.txt");
    vqtest::writeFile(target, "a much longer old text\r\n");
    HookGuard hook(failOnTemporary(Op::Open, EACCES, target));
    saveLines(target, {"new"});
    EXPECT_EQ(vqtest::readFile(target), "new\r\n");
    EXPECT_EQ(entries(dir.path()), Lines{"list.txt"});
}
