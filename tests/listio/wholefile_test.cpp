#include "listio/fault_seam.h"
#include "listio/listio.h"
#include "outcome.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
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

bool isTemporary(const std::string& path) {
    return path.find("/.vq-save-") != std::string::npos;
}

// Fails the n-th call of `op` on the saver's temporary file.
vq::listio::faults::Hook failOnTemporary(Op op, int err, int nth = 1) {
    auto seen = std::make_shared<int>(0);
    return [=](Op o, const std::string& path) {
        return o == op && isTemporary(path) && ++*seen == nth ? err : 0;
    };
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

// Each failure on the way, from the folder to the rename, must leave the old
// list as it was and take the temporary file away again, whether the text
// came whole or partly ahead of the save; a saver dropped with its text
// partly written changes nothing at all.
TEST(WholeFileSaver, FailedSaveLeavesOldFileIntactAndNoTemporary) {
    vqtest::TempDir dir;
    const std::string target = dir.file("list.txt");
    const std::string cannotCreate = "Cannot create file " + target;
    const std::string text(5000, 'n');
    // Whole; the start in parts, the rest at the save; every byte in parts;
    // parts, then no save.
    enum class Way { Whole, InParts, AllInParts, Dropped };
    for (Way way : {Way::Whole, Way::InParts, Way::AllInParts, Way::Dropped}) {
        // Made afresh for each way: the hooks count calls.
        const struct {
            const char* name;
            vq::listio::faults::Hook hook;
            std::string expected;
        } cases[] = {
            {"none", {}, "ok"},
            {"open folder",
             [](Op o, const std::string& path) {
                 return o == Op::Open && path.ends_with("/") ? EMFILE : 0;
             },
             cannotCreate},
            {"folder allows no new file", failOnTemporary(Op::Open, EACCES), cannotCreate},
            {"write", failOnTemporary(Op::Write, ENOSPC), "Stream write error"},
            {"sync", failOnTemporary(Op::Sync, EIO), "Stream write error"},
            {"close", failOnTemporary(Op::Close, EIO), "Stream write error"},
            {"link", failOnTemporary(Op::Rename, ENOSPC), cannotCreate},
            {"rename", failOnTemporary(Op::Rename, EXDEV, 2), cannotCreate},
            {"named temporary, write",
             [](Op o, const std::string& path) {
                 return !isTemporary(path) ? 0
                        : o == Op::Open    ? EOPNOTSUPP
                        : o == Op::Write   ? ENOSPC
                                           : 0;
             },
             "Stream write error"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name + std::string(way == Way::Whole        ? ", whole"
                                              : way == Way::InParts    ? ", in parts"
                                              : way == Way::AllInParts ? ", all in parts"
                                                                       : ", dropped"));
            vqtest::writeFile(target, "old\r\n");
            HookGuard hook(c.hook);
            const std::string result = vqtest::outcome([&] {
                if (way == Way::Whole) return saveText(target, text);
                vq::listio::TextSaver saver(target);
                saver.write(std::string_view(text).substr(0, 2000));
                saver.write(std::string_view(text).substr(2000, 1000));
                if (way == Way::InParts) saver.commit(text);
                if (way != Way::AllInParts) return;
                saver.write(std::string_view(text).substr(3000));
                saver.commit();
            });
            const bool saved = way != Way::Dropped && c.expected == "ok";
            EXPECT_EQ(result, way == Way::Dropped ? "ok" : c.expected);
            EXPECT_TRUE(vqtest::sameBytes(vqtest::readFile(target), saved ? text : "old\r\n"));
            EXPECT_EQ(entries(dir.path()), Lines{"list.txt"});
        }
    }
}

// A device takes the parts as they come, with no temporary beside it: a
// part it refuses fails the save.
TEST(WholeFileSaver, ADeviceIsNotWrittenAhead) {
    int temporaries = 0;
    HookGuard hook([&](Op op, const std::string& path) {
        temporaries += op == Op::Open && isTemporary(path);
        return 0;
    });
    vq::listio::TextSaver saver("/dev/null");
    saver.write("kept\r\n");
    saver.commit("kept\r\nrows\r\n");
    vq::listio::TextSaver full("/dev/full");
    full.write("kept\r\n");
    EXPECT_TRUE(full.failed());
    EXPECT_EQ(vqtest::outcome([&] { full.commit(); }), "Stream write error");
    EXPECT_EQ(temporaries, 0);
}

// A scratch file goes beside the file to be saved, or to $TMPDIR when that
// is another file system with more room and not one held in memory. Unnamed,
// or named only until it is open, it leaves nothing in either folder, and
// reads back what was written.
TEST(WholeFileSaver, ScratchFilesGoBesideTheTargetOrToARoomierTmpdir) {
    vqtest::TempDir disk;
    fs::create_directory(disk.file("sub"));
    const bool shm = fs::is_directory("/dev/shm") && access("/dev/shm", W_OK) == 0;
    std::string inMemory;
    if (shm) {
        char name[] = "/dev/shm/vqtest-XXXXXX";
        inMemory = mkdtemp(name);
    }
    auto room = [](const std::string& folder) {
        struct statvfs v;
        return statvfs(folder.c_str(), &v) == 0 ? uint64_t(v.f_bavail) * v.f_frsize : 0;
    };
    const struct {
        const char* name;
        std::string target, tmpdir, expected;
        bool named = false;
    } rows[] = {
        {"TMPDIR in memory", disk.file("out.txt"), "/dev/shm", disk.path() + "/"},
        {"TMPDIR on the same disk", disk.file("out.txt"), disk.file("sub"), disk.path() + "/"},
        {"a file system without unnamed files", disk.file("out.txt"), disk.file("sub"),
         disk.path() + "/", true},
        {"target in memory, TMPDIR on a disk", inMemory + "/out.txt", disk.path(),
         room(disk.path()) > room(inMemory) ? disk.path() + "/" : inMemory + "/"},
    };
    const char* saved = getenv("TMPDIR");
    const std::string before = saved ? saved : "";
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        if (!shm && (r.tmpdir == "/dev/shm" || r.target.starts_with("/out"))) continue;
        setenv("TMPDIR", r.tmpdir.c_str(), 1);
        std::string opened;
        HookGuard hook([&](Op op, const std::string& path) {
            if (op != Op::Open || !isTemporary(path)) return 0;
            opened = path.substr(0, path.rfind('/') + 1);
            return r.named ? EOPNOTSUPP : 0;
        });
        vq::listio::ScratchFile scratch(r.target);
        EXPECT_EQ(opened, r.expected);
        EXPECT_EQ(scratch.folder(), r.expected);
        EXPECT_EQ(scratch.append("lines\r", 6), 0u);
        EXPECT_EQ(scratch.append("more\r", 5), 6u);
        char back[5];
        scratch.read(6, back, 5);
        EXPECT_EQ(std::string(back, 5), "more\r");
        EXPECT_TRUE(entries(r.expected).empty() || entries(r.expected) == Lines{"sub"});
    }
    if (saved)
        setenv("TMPDIR", before.c_str(), 1);
    else
        unsetenv("TMPDIR");
    if (shm) fs::remove_all(inMemory);
}

// A link moved to another folder while the text was partly written: the
// whole text goes beside the file the link leads to at the save.
TEST(WholeFileSaver, ALinkMovedWhileTheTextIsWrittenAhead) {
    vqtest::TempDir dir;
    for (const char* folder : {"a", "b"}) {
        fs::create_directory(dir.file(folder));
        vqtest::writeFile(dir.file(folder) + "/list.txt", "old\r\n");
    }
    fs::create_symlink("a/list.txt", dir.file("link.txt"));
    vq::listio::TextSaver saver(dir.file("link.txt"));
    saver.write("new\r\n");
    fs::remove(dir.file("link.txt"));
    fs::create_symlink("b/list.txt", dir.file("link.txt"));
    saver.commit("new\r\nlist\r\n");
    EXPECT_EQ(vqtest::readFile(dir.file("a/list.txt")), "old\r\n");
    EXPECT_EQ(vqtest::readFile(dir.file("b/list.txt")), "new\r\nlist\r\n");
    EXPECT_EQ(entries(dir.file("a")), Lines{"list.txt"});
    EXPECT_EQ(entries(dir.file("b")), Lines{"list.txt"});
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

// A folder the user may not add files to, holding a file the user may
// write: the file is neither emptied nor rewritten in place.
TEST(WholeFileSaver, FolderRefusingNewFilesRefusesAndKeepsTheOldFile) {
    vqtest::TempDir dir;
    fs::create_directory(dir.file("locked"));
    const std::string target = dir.file("locked/list.txt");
    vqtest::writeFile(target, "a much longer old text\r\n");
    ASSERT_EQ(chmod(target.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.file("locked").c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    // Root may write anywhere: the save runs as nobody in a child.
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        _exit(vqtest::outcome([&] { saveLines(target, {"new"}); }) == "Cannot create file " + target
                  ? 0
                  : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(vqtest::readFile(target), "a much longer old text\r\n");
    EXPECT_EQ(entries(dir.file("locked")), Lines{"list.txt"});
    chmod(dir.file("locked").c_str(), 0755);
}

// Replaced, the other names would keep the old text; written in place, a
// failure would lose both texts. The file is left alone.
TEST(WholeFileSaver, AFileWithOtherHardLinksIsRefused) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("list.txt"), "old\r\n");
    fs::create_hard_link(dir.file("list.txt"), dir.file("other.txt"));
    EXPECT_EQ(vqtest::outcome([&] { saveText(dir.file("other.txt"), "new\r\n"); }),
              "Cannot create file " + dir.file("other.txt"));
    EXPECT_EQ(vqtest::readFile(dir.file("list.txt")), "old\r\n");
    EXPECT_EQ(fs::hard_link_count(dir.file("list.txt")), 2u);
    EXPECT_EQ(entries(dir.path()), (Lines{"list.txt", "other.txt"}));
}

// The temporary name is longer than the target's: made relative to the
// folder, it fits wherever the target's own name does.
TEST(WholeFileSaver, ANameJustShortEnoughToOpen) {
    vqtest::TempDir dir;
    const std::string target = vqtest::longFileName(dir.path(), PATH_MAX - 10);
    ASSERT_EQ(target.size(), PATH_MAX - 10u);
    for (const char* text : {"made\r\n", "replaced\r\n"}) {
        saveText(target, text);
        EXPECT_EQ(vqtest::readFile(target), text);
    }
    EXPECT_EQ(entries(fs::path(target).parent_path()), Lines{"list.txt"});
}

// What another command writes under the name while the text is being
// written stays: the save is refused instead of replacing it.
TEST(WholeFileSaver, ANameWrittenMeanwhileByAnotherCommandIsKept) {
    vqtest::TempDir dir;
    const std::string target = dir.file("out.txt");
    const struct {
        const char* name;
        bool existed;
    } cases[] = {{"created meanwhile", false}, {"replaced meanwhile", true}};
    for (const auto& c : cases) {
        fs::remove(target);
        if (c.existed) vqtest::writeFile(target, "old\r\n");
        HookGuard hook([&, done = false](Op op, const std::string&) mutable {
            if (op == Op::Sync && !done) {
                done = true;
                fs::remove(target);
                vq::listio::TextWriter merged(target);
                merged.writeLine("merged");
                merged.close();
            }
            return 0;
        });
        EXPECT_EQ(vqtest::outcome([&] { saveText(target, "checked\r\n"); }),
                  "Cannot create file " + target)
            << c.name;
        EXPECT_EQ(vqtest::readFile(target), "merged\r\n") << c.name;
        EXPECT_EQ(entries(dir.path()), Lines{"out.txt"}) << c.name;
    }
}

// Left by saves that were killed after naming their temporary: removed by
// the next save in the folder unless their saver may still be at work.
TEST(WholeFileSaver, TheNextSaveRemovesTemporariesOfEndedProcesses) {
    pid_t ended = fork();
    if (ended == 0) _exit(0);
    waitpid(ended, nullptr, 0);
    const std::string gone = ".vq-save-" + std::to_string(ended);
    const std::string mine = ".vq-save-" + std::to_string(getpid());
    // The next save, or the next scratch file made in the folder.
    for (bool scratch : {false, true}) {
        SCOPED_TRACE(scratch ? "scratch file" : "save");
        vqtest::TempDir dir;
        for (const std::string& name : {gone + "-0.tmp", gone + "-12.tmp", gone + "-3.tmp",
                                        mine + "-999.tmp", std::string(".vq-save-x.tmp")})
            vqtest::writeFile(dir.file(name), "left");
        // Held open and locked, as by a saver in another process namespace.
        int held = open(dir.file(gone + "-3.tmp").c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        ASSERT_EQ(fcntl(held, F_OFD_SETLK, &fl), 0);
        if (scratch)
            vq::listio::ScratchFile(dir.file("list.txt")).append("x\r", 2);
        else
            saveText(dir.file("list.txt"), "new\r\n");
        close(held);
        Lines kept{gone + "-3.tmp", mine + "-999.tmp", ".vq-save-x.tmp"};
        if (!scratch) kept.push_back("list.txt");
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(entries(dir.path()), kept);
    }
}
