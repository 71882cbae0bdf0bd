#include "check_cases.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct CliRun {
    int status; // exit status, or -signal
    std::string out, err;
};

// Runs `veskoqindra-cli check in out`. With interrupted, a Ctrl-C is already
// waiting when the program starts: it is born with SIGINT blocked and
// pending, so the stop lands wherever the program first lets it in. The
// child raises it on itself before exec; sent by the parent after fork it
// could arrive only after a short check had already ended.
CliRun runCheck(const vqtest::TempDir& dir, const std::string& in, const std::string& out,
                bool interrupted = false, const std::string& memory = {}) {
    const std::string outPath = dir.file(".stdout"), errPath = dir.file(".stderr");
    sigset_t interrupt, saved;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    if (interrupted) sigprocmask(SIG_BLOCK, &interrupt, &saved);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        if (interrupted) kill(getpid(), SIGINT); // stays pending across exec
        if (memory.empty())
            execl(VQ_CLI_PATH, VQ_CLI_PATH, "check", in.c_str(), out.c_str(), (char*)nullptr);
        else
            execl(VQ_CLI_PATH, VQ_CLI_PATH, "check", "--memory", memory.c_str(), in.c_str(),
                  out.c_str(), (char*)nullptr);
        _exit(127);
    }
    if (interrupted) sigprocmask(SIG_SETMASK, &saved, nullptr);
    int status = 0;
    waitpid(pid, &status, 0);
    CliRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), vqtest::readFile(outPath),
             vqtest::readFile(errPath)};
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return r;
}

} // namespace

TEST(CheckCli, PrintsTheLabelsThenTheMessage) {
    for (const auto& way : vqtest::checkWays()) {
        if (way.partitions > 0 || way.uncounted) continue;
        for (const auto& c : vqtest::checkCases()) {
            SCOPED_TRACE(way.name + ", " + c.name);
            vqtest::TempDir dir;
            vqtest::writeFile(dir.file("in.txt"), c.input);
            vqtest::writeFile(dir.file("out.txt"), "old\r\n");
            CliRun r = runCheck(dir, dir.file("in.txt"), dir.file("out.txt"), false,
                                way.memory ? std::to_string(way.memory) : "");
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out,
                      "地址总数\t" + std::to_string(c.lines) + "\n删除重复\t" +
                          std::to_string(c.lines - c.kept) + "\n有效地址\t" +
                          std::to_string(c.kept) + "\n" +
                          (c.written.empty() ? "邮件列表没有重复!\n" : "邮件列表校验完毕!\n"));
            // Progress only on a terminal; an OUT left as it was is said.
            EXPECT_EQ(r.err, c.written.empty() ? "veskoqindra-cli: " + dir.file("out.txt") +
                                                     ": not written, as no line is repeated\n"
                                               : "");
            EXPECT_EQ(vqtest::readFile(dir.file("out.txt")),
                      c.written.empty() ? "old\r\n" : c.written);
        }
    }
}

TEST(CheckCli, CtrlCStopsWithStatus130AndNoFile) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("in.txt"), "a\r\na\r\nb\r\nb\r\n");
    CliRun r = runCheck(dir, dir.file("in.txt"), dir.file("out.txt"), true);
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.out, "地址总数\t4\n邮件列表校验终止!\n");
    EXPECT_FALSE(vqtest::exists(dir.file("out.txt")));
}
