// veskoqindra-cli in a shell pipeline: "-" for standard input and output,
// its messages, standard output failures and signals, run on the real binary.
#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vqtest::readFile;
using vqtest::writeFile;

struct ShellRun {
    int status;
    std::string out, err;
};

// Runs a shell script in `folder`, $C being the program.
ShellRun shell(const std::string& folder, const std::string& script) {
    vqtest::TempDir capture;
    const std::string cmd = "cd '" + folder + "' && C='" VQ_CLI_PATH "' && { " + script + "\n} >'" +
                            capture.file("out") + "' 2>'" + capture.file("err") + "'";
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readFile(capture.file("out")),
            readFile(capture.file("err"))};
}

// A list with repeats, addresses of both kinds, an invalid line and mixed
// line ends.
const std::string kList = "a@b.cn\r\nx@y.com\ra@b.cn\r\nQ@W.CN\r\nbad\r\nx@y.com\r\n";

// The same kinds of lines without a repeat; the last has no line end.
const std::string kDistinct = "a@b.cn\r\nx@y.com\rQ@W.CN\r\nbad\r\nz@q.cn";

class Pipeline : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir.file("a.txt"), kList);
        writeFile(dir.file("b.txt"), "b@c.cn\r\n");
        writeFile(dir.file("p.txt"), ".cn\r\n");
        writeFile(dir.file("s.txt"), " Q@w.cn\r\n");
        writeFile(dir.file("u.txt"), kDistinct);
        writeFile(dir.file("e.txt"), "");
        fs::create_directory(dir.file("lists"));
        writeFile(dir.file("lists/a.txt"), kList);
    }
    vqtest::TempDir dir;
};

TEST_F(Pipeline, DashRunsGiveTheBytesOfFileRuns) {
    const struct {
        const char* name;
        const char* piped; // writes its result files
        const char* files; // the same work with list files
        std::vector<std::pair<const char*, const char*>> same;
    } cases[] = {
        {"check then filter",
         "cat a.txt | $C check - - | $C filter --or -p .cn - cn.txt - > rest.txt",
         "$C check a.txt c.txt && $C filter --or -p .cn c.txt cn2.txt rest2.txt",
         {{"cn.txt", "cn2.txt"}, {"rest.txt", "rest2.txt"}}},
        // Without a repeat the list goes on as every line read, each with
        // CR LF, which is what a merge with an empty list writes.
        {"check without repeats, then filter",
         "cat u.txt | $C check - - | $C filter --or -p .cn - cn.txt - > rest.txt",
         "$C check u.txt c.txt && $C filter --or -p .cn u.txt cn2.txt rest2.txt",
         {{"cn.txt", "cn2.txt"}, {"rest.txt", "rest2.txt"}}},
        {"check without repeats to standard output",
         "cat u.txt | $C check - - > k.txt",
         "$C merge u.txt e.txt k2.txt",
         {{"k.txt", "k2.txt"}}},
        {"check without repeats to /dev/stdout as a pipe",
         "$C check u.txt /dev/stdout | cat > k.txt",
         "$C merge u.txt e.txt k2.txt",
         {{"k.txt", "k2.txt"}}},
        {"standard input that is a file",
         "$C check - - < a.txt > k.txt",
         "$C check a.txt k2.txt",
         {{"k.txt", "k2.txt"}}},
        {"/dev/stdout as a pipe",
         "$C check a.txt /dev/stdout | cat > k.txt",
         "$C check a.txt k2.txt",
         {{"k.txt", "k2.txt"}}},
        {"merge",
         "cat b.txt | $C merge a.txt - - > m.txt",
         "$C merge a.txt b.txt m2.txt",
         {{"m.txt", "m2.txt"}}},
        {"split",
         "cat a.txt | $C split - --size 4 --base s",
         "$C split a.txt --size 4 --base t",
         {{"s1.txt", "t1.txt"}, {"s2.txt", "t2.txt"}}},
        {"merge-folder",
         "$C merge-folder lists - > f.txt",
         "$C merge-folder lists f2.txt",
         {{"f.txt", "f2.txt"}}},
        {"subtract",
         "cat a.txt | $C subtract -s p.txt -s s.txt - - r.txt > k.txt",
         "$C subtract -s p.txt -s s.txt a.txt k2.txt r2.txt",
         {{"k.txt", "k2.txt"}, {"r.txt", "r2.txt"}}},
        {"suppression list from standard input",
         "cat a.txt | $C subtract -s - a.txt k.txt - > r.txt",
         "$C subtract -s a.txt a.txt k2.txt r2.txt",
         {{"r.txt", "r2.txt"}}},
        {"domains",
         "cat a.txt | $C domains - > d.txt 2>/dev/null",
         "$C domains a.txt d2.txt",
         {{"d.txt", "d2.txt"}}},
        {"parameters from standard input",
         "cat p.txt | $C filter --and --params - a.txt m.txt r.txt",
         "$C filter --and --params p.txt a.txt m2.txt r2.txt",
         {{"m.txt", "m2.txt"}, {"r.txt", "r2.txt"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ShellRun piped = shell(dir.path(), c.piped);
        const ShellRun files = shell(dir.path(), c.files);
        EXPECT_EQ(piped.status, 0) << piped.err;
        EXPECT_EQ(files.status, 0) << files.err;
        for (const auto& [a, b] : c.same) {
            EXPECT_FALSE(readFile(dir.file(b)).empty()) << b;
            EXPECT_EQ(readFile(dir.file(a)), readFile(dir.file(b))) << a;
        }
    }
}

TEST_F(Pipeline, CountsLeaveStandardOutputToTheList) {
    // With an output on stdout the counts and message go to stderr.
    ShellRun r = shell(dir.path(), "$C filter --or -p .cn a.txt - r.txt");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a@b.cn\r\na@b.cn\r\nq@w.cn\r\n");
    EXPECT_EQ(r.err, "过滤总数\t6\n符合条件\t3\n剩余列表\t2\n无效列表\t1\n");
    // The table in the list's order; the totals apart.
    r = shell(dir.path(), "$C domains --top 2 a.txt");
    EXPECT_EQ(r.out, "2\tb.cn\r\n2\ty.com\r\n");
    EXPECT_EQ(r.err, "地址总数\t6\n有效地址\t5\n无效列表\t1\n域名数量\t3\n");
    r = shell(dir.path(), "$C subtract -s s.txt a.txt - r.txt");
    EXPECT_EQ(r.out, "a@b.cn\r\nx@y.com\r\na@b.cn\r\nx@y.com\r\n");
    EXPECT_EQ(r.err, "过滤总数\t6\n符合条件\t1\n剩余列表\t4\n无效列表\t1\n");
    r = shell(dir.path(), "$C filter --or -p .cn a.txt m.txt r.txt");
    EXPECT_EQ(r.out, "过滤总数\t6\n符合条件\t3\n剩余列表\t2\n无效列表\t1\n");
    EXPECT_EQ(r.err, "");
    // No temporary file stays behind.
    fs::create_directory(dir.file("tmp"));
    r = shell(dir.path(), "cat a.txt | TMPDIR=tmp $C check - - >/dev/null");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::is_empty(dir.file("tmp")));
}

TEST_F(Pipeline, EveryMessageAndStatus) {
    fs::create_directory(dir.file("x.txt"));
    writeFile(dir.file("u.txt"), "one\r\ntwo\r\n");
    const std::string usage = "Try 'veskoqindra-cli --help' for more information.\n";
    const struct {
        const char* script;
        int status;
        std::string err;
    } cases[] = {
        {"$C merge none.txt a.txt o.txt", 1, "veskoqindra-cli: none.txt: File not found.\n"},
        {"$C merge a.txt b.txt a.txt", 1, "veskoqindra-cli: a.txt: I/O error 32.\n"},
        {"$C filter --or a.txt no/m.txt r.txt", 1,
         "veskoqindra-cli: no/m.txt: Invalid filename.\n"},
        {"$C merge a.txt b.txt /dev/full", 1, "veskoqindra-cli: /dev/full: Disk full.\n"},
        {"$C check a.txt /dev/full", 1, "veskoqindra-cli: /dev/full: Stream write error.\n"},
        {"$C check a.txt x.txt", 1, "veskoqindra-cli: Cannot create file x.txt.\n"},
        {"cat a.txt | $C check - x.txt", 1, "veskoqindra-cli: Cannot create file x.txt.\n"},
        // Partitioned, the same failures.
        {"$C check --memory 1 a.txt /dev/full", 1,
         "veskoqindra-cli: /dev/full: Stream write error.\n"},
        {"$C check --memory 1 a.txt x.txt", 1, "veskoqindra-cli: Cannot create file x.txt.\n"},
        {"$C filter --or --params none.txt a.txt m.txt r.txt", 1,
         "veskoqindra-cli: none.txt: File not found.\n"},
        {"$C add x.txt n@n.cn", 1, "veskoqindra-cli: x.txt: File access denied.\n"},
        {"$C split a.txt --size abc", 1, "veskoqindra-cli: 'abc' is not a valid integer value.\n"},
        // Standard output that fails, for a list and for the counts.
        {"$C merge a.txt b.txt - > /dev/full", 1, "veskoqindra-cli: -: Disk full.\n"},
        {"$C merge a.txt b.txt o.txt > /dev/full", 1,
         "veskoqindra-cli: write error: No space left on device\n"},
        {"$C --help > /dev/full", 1, "veskoqindra-cli: write error: No space left on device\n"},
        {"$C merge a.txt b.txt o.txt >&-", 1,
         "veskoqindra-cli: write error: Bad file descriptor\n"},
        // Nothing written is said; standard output gets the list as it is.
        {"$C check u.txt c.txt > /dev/null", 0,
         "veskoqindra-cli: c.txt: not written, as no line is repeated\n"},
        {"$C check - - < u.txt", 0,
         "地址总数\t2\n删除重复\t0\n有效地址\t2\n邮件列表没有重复!\n"
         "veskoqindra-cli: -: no line is repeated; the list is written unchanged\n"},
        // A folder that is not there, or is a file, is no folder without lists.
        {"$C merge-folder none mf.txt", 1, "veskoqindra-cli: none: not a folder\n"},
        {"$C merge-folder a.txt/ mf.txt", 1, "veskoqindra-cli: a.txt/: not a folder\n"},
        {"$C merge-folder a.txt -", 1, "veskoqindra-cli: a.txt: not a folder\n"},
        // Rows that cannot match are said; the run is the same.
        {"$C filter --or -p .CN a.txt m.txt r.txt > /dev/null", 0,
         "veskoqindra-cli: warning: parameter '.CN' never matches: lines are compared "
         "lower-cased\n"},
        {"$C filter --and -p .cn -p x.Com --params p.txt a.txt m.txt - > /dev/null", 0,
         "veskoqindra-cli: warning: parameter 'x.Com' never matches: lines are compared "
         "lower-cased\n过滤总数\t6\n符合条件\t0\n剩余列表\t5\n无效列表\t1\n"},
        {"printf '.CN\\r\\n\\r\\n' | $C filter --or --params - a.txt - r.txt > /dev/null", 0,
         "veskoqindra-cli: warning: parameter '.CN' never matches: lines are compared "
         "lower-cased\n过滤总数\t6\n符合条件\t0\n剩余列表\t5\n无效列表\t1\n"},
        // A capital that trails a double-byte character belongs to it.
        {"$C filter --or -p \"$(printf '\\260A.cn')\" a.txt m.txt r.txt > /dev/null", 0, ""},
        {"cat a.txt | $C filter --or - m.txt - > /dev/null", 0,
         "veskoqindra-cli: warning: no non-empty parameter: no line matches\n"
         "过滤总数\t6\n符合条件\t0\n剩余列表\t5\n无效列表\t1\n"},
        {"$C filter --and -p '' a.txt m.txt r.txt > /dev/null", 0,
         "veskoqindra-cli: warning: no non-empty parameter: no line matches\n"},
        {"$C filter --or -p '' -p .cn a.txt m.txt r.txt > /dev/null", 0, ""},
        {"$C subtract -s b.txt a.txt b.txt r.txt", 1, "veskoqindra-cli: b.txt: I/O error 32.\n"},
        {"$C subtract -s b.txt a.txt k.txt k.txt", 1, "veskoqindra-cli: k.txt: I/O error 32.\n"},
        {"$C subtract -s none.txt a.txt k.txt r.txt", 1,
         "veskoqindra-cli: none.txt: File not found.\n"},
        {"$C domains a.txt a.txt", 1, "veskoqindra-cli: a.txt: I/O error 32.\n"},
        {"$C check --memory 2k u.txt c.txt > /dev/null", 0,
         "veskoqindra-cli: c.txt: not written, as no line is repeated\n"},
        // Wrong usage.
        {"$C subtract a.txt k.txt r.txt", 2,
         "veskoqindra-cli: subtract: expects at least one -s SUPPRESS\nusage: veskoqindra-cli "
         "subtract -s SUPPRESS [-s SUPPRESS]... IN KEPT REMOVED\n" +
             usage},
        {"$C domains --top 0 a.txt", 2,
         "veskoqindra-cli: domains: --top expects a whole number above 0\nusage: "
         "veskoqindra-cli domains [--top N] IN [OUT]\n" +
             usage},
        {"$C", 2, "usage: veskoqindra-cli COMMAND ARGS...\n" + usage},
        {"$C mrege", 2,
         "veskoqindra-cli: unknown command 'mrege'\nusage: veskoqindra-cli COMMAND ARGS...\n" +
             usage},
        {"$C --frob", 2,
         "veskoqindra-cli: unknown option '--frob'\nusage: veskoqindra-cli COMMAND ARGS...\n" +
             usage},
        {"$C merge - - o.txt", 2,
         "veskoqindra-cli: merge: standard input ('-') can be read only once\n"
         "usage: veskoqindra-cli merge A B OUT\n" +
             usage},
        {"$C filter --or a.txt - -", 2,
         "veskoqindra-cli: filter: only one output can be standard output ('-')\n"
         "usage: veskoqindra-cli filter --or|--and [-p PARAM]... [--params FILE] IN MATCH "
         "REST\n" +
             usage},
        {"$C add - x", 2,
         "veskoqindra-cli: add: FILE cannot be '-'\nusage: veskoqindra-cli add FILE TEXT\n" +
             usage},
        {"$C check --memory 0 a.txt o.txt", 2,
         "veskoqindra-cli: check: invalid memory size '0'\n"
         "usage: veskoqindra-cli check [--memory SIZE] IN OUT\n" +
             usage},
        {"$C check --memory 1.5G a.txt o.txt", 2,
         "veskoqindra-cli: check: invalid memory size '1.5G'\n"
         "usage: veskoqindra-cli check [--memory SIZE] IN OUT\n" +
             usage},
        {"$C check --memory 4Q a.txt o.txt", 2,
         "veskoqindra-cli: check: invalid memory size '4Q'\n"
         "usage: veskoqindra-cli check [--memory SIZE] IN OUT\n" +
             usage},
        {"$C check --memory 20000000000T a.txt o.txt", 2,
         "veskoqindra-cli: check: invalid memory size '20000000000T'\n"
         "usage: veskoqindra-cli check [--memory SIZE] IN OUT\n" +
             usage},
        {"$C merge-folder - o.txt", 2,
         "veskoqindra-cli: merge-folder: DIR cannot be '-'\nusage: veskoqindra-cli merge-folder "
         "DIR OUT\n" +
             usage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const ShellRun r = shell(dir.path(), c.script);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(vqtest::exists(dir.file("-")));
    EXPECT_FALSE(vqtest::exists(dir.file("mf.txt"))) << "a merge of no folder made its OUT";
}

TEST_F(Pipeline, HelpAndVersionFitEightyColumns) {
    for (const char* script : {"$C --help", "$C --version", "$C filter --help", "$C check -h"}) {
        SCOPED_TRACE(script);
        const ShellRun r = shell(dir.path(), script);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out, "");
        std::size_t from = 0, longest = 0;
        for (std::size_t nl; (nl = r.out.find('\n', from)) != std::string::npos; from = nl + 1)
            longest = std::max(longest, nl - from);
        EXPECT_LE(longest, 80u);
    }
    EXPECT_EQ(shell(dir.path(), "$C --version").out, "veskoqindra-cli (VeskoQindra V3.4)\n");
}

// ---- signals ---------------------------------------------------------------

// A terminal nobody reads: a list written to it blocks once the terminal's
// buffer is full, which holds a command in the middle of its work for as
// long as a test needs.
class StalledTerminal {
public:
    StalledTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            name_ = ptsname(master_);
    }
    ~StalledTerminal() {
        if (master_ >= 0) close(master_);
    }
    const std::string& name() const { return name_; }

private:
    int master_ = -1;
    std::string name_;
};

pid_t start(const std::string& folder, const std::vector<std::string>& args, int stdinFd,
            const std::string& tmp) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(126);
        dup2(stdinFd, 0);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        setenv("TMPDIR", tmp.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(VQ_CLI_PATH)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VQ_CLI_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for a condition the command brings about; a watchdog, not a timing.
template <class Cond> bool waitFor(Cond cond) {
    for (int i = 0; i < 6000; ++i) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int statusOf(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

std::uintmax_t sizeOf(const std::string& path) {
    std::error_code ec;
    auto n = fs::file_size(path, ec);
    return ec ? 0 : n;
}

const struct {
    int signal;
    int status;
} kSignals[] = {{SIGINT, 130}, {SIGTERM, 143}};

TEST_F(Pipeline, SignalWhileFilteringRemovesThePartialOutputs) {
    // 2 MiB of matching lines fill the matching file first; the rest then
    // blocks on the terminal.
    std::string big;
    while (big.size() < (std::size_t(2) << 20))
        big += "someone@example.cn\r\n";
    while (big.size() < (std::size_t(4) << 20))
        big += "someone@example.com\r\n";
    writeFile(dir.file("big.txt"), big);
    fs::create_directory(dir.file("tmp"));
    for (const auto& s : kSignals) {
        SCOPED_TRACE(s.signal);
        StalledTerminal tty;
        ASSERT_FALSE(tty.name().empty());
        writeFile(dir.file("m.txt"), "an older list\r\n"); // emptied by the run: removed too
        int in = open("/dev/null", O_RDONLY);
        pid_t pid =
            start(dir.path(), {"filter", "--or", "-p", ".cn", "big.txt", "m.txt", tty.name()}, in,
                  dir.file("tmp"));
        close(in);
        ASSERT_TRUE(waitFor([&] { return sizeOf(dir.file("m.txt")) > 100; }));
        kill(pid, s.signal);
        EXPECT_EQ(statusOf(pid), s.status);
        EXPECT_FALSE(vqtest::exists(dir.file("m.txt")));
        EXPECT_EQ(readFile(dir.file("big.txt")).size(), big.size());
    }
}

TEST_F(Pipeline, SignalWhileSplittingRemovesTheFilesOfTheRun) {
    std::string list;
    for (int i = 0; i < 200000; ++i)
        list += "line" + std::to_string(i) + "@x.cn\r\n";
    writeFile(dir.file("big.txt"), list);
    fs::create_directory(dir.file("tmp"));
    for (const auto& s : kSignals) {
        SCOPED_TRACE(s.signal);
        StalledTerminal tty;
        // Files 1 and 2 are written whole, file 3 blocks; file 4 was there before.
        fs::remove(dir.file("p3.txt"));
        fs::create_symlink(tty.name(), dir.file("p3.txt"));
        writeFile(dir.file("p4.txt"), "kept\r\n");
        int in = open("/dev/null", O_RDONLY);
        pid_t pid = start(dir.path(), {"split", "big.txt", "--size", "60000", "--base", "p"}, in,
                          dir.file("tmp"));
        close(in);
        ASSERT_TRUE(waitFor([&] { return sizeOf(dir.file("p2.txt")) > 0; }));
        kill(pid, s.signal);
        EXPECT_EQ(statusOf(pid), s.status);
        EXPECT_FALSE(vqtest::exists(dir.file("p1.txt")));
        EXPECT_FALSE(vqtest::exists(dir.file("p2.txt")));
        EXPECT_EQ(readFile(dir.file("p4.txt")), "kept\r\n");
    }
}

TEST_F(Pipeline, SignalWhileReadingStandardInputLeavesNothing) {
    for (const auto& s : kSignals) {
        SCOPED_TRACE(s.signal);
        const std::string tmp = dir.file("tmp" + std::to_string(s.signal));
        fs::create_directory(tmp);
        int feed[2];
        ASSERT_EQ(pipe(feed), 0);
        pid_t pid = start(dir.path(), {"filter", "--or", "-", "m.txt", "r.txt"}, feed[0], tmp);
        close(feed[0]);
        ASSERT_EQ(write(feed[1], kList.data(), kList.size()), ssize_t(kList.size()));
        // The copy of standard input has its first bytes; the writer stays open.
        ASSERT_TRUE(waitFor([&] {
            for (const auto& e : fs::recursive_directory_iterator(tmp))
                if (e.is_regular_file() && e.file_size() > 0) return true;
            return false;
        }));
        kill(pid, s.signal);
        EXPECT_EQ(statusOf(pid), s.status);
        close(feed[1]);
        EXPECT_TRUE(fs::is_empty(tmp));
        EXPECT_FALSE(vqtest::exists(dir.file("m.txt")));
        EXPECT_FALSE(vqtest::exists(dir.file("r.txt")));
    }
}

TEST_F(Pipeline, AReaderThatGoesAwayEndsTheRunAsSigpipeDoes) {
    // More than a pipe holds, so the write meets the closed pipe.
    writeFile(dir.file("big.txt"), std::string(std::size_t(1) << 20, 'a') + "\r\n");
    fs::create_directory(dir.file("tmp"));
    const ShellRun r = shell(dir.path(), "{ TMPDIR=tmp $C merge big.txt big.txt -; echo $? > st; } "
                                         "| head -c 1 > /dev/null");
    EXPECT_EQ(readFile(dir.file("st")), "141\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::is_empty(dir.file("tmp")));
}

TEST_F(Pipeline, CheckStoppedBySigtermWritesNothing) {
    // Born with SIGTERM pending, as check_cli_test does for Ctrl-C: the stop
    // lands as soon as the check lets it in.
    sigset_t term, saved;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, &saved);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        kill(getpid(), SIGTERM);
        std::string folder = dir.path();
        if (chdir(folder.c_str()) != 0) _exit(126);
        execl(VQ_CLI_PATH, VQ_CLI_PATH, "check", "a.txt", "c.txt", (char*)nullptr);
        _exit(127);
    }
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    EXPECT_EQ(statusOf(pid), 143);
    EXPECT_FALSE(vqtest::exists(dir.file("c.txt")));
}

} // namespace
