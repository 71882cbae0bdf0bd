#include "testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct CliRun {
    int status;
    std::string out, err;
};

// Runs the real binary with its output caught in files.
CliRun runCli(const vqtest::TempDir& dir, std::vector<std::string> args) {
    const std::string outPath = dir.file(".stdout"), errPath = dir.file(".stderr");
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(VQ_CLI_PATH)};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(VQ_CLI_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    CliRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, vqtest::readFile(outPath),
             vqtest::readFile(errPath)};
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return r;
}

} // namespace

TEST(CliMerge, MergesAndSaysSo) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("a.txt"), "a1\r\na2");
    vqtest::writeFile(dir.file("-b.txt"), "b1\rb2\x1Ax\r\n");
    // Relative names are taken from the current folder, as in the window;
    // "--" lets a name start with a dash.
    vqtest::KeepCurrentFolder keep;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    CliRun r = runCli(dir, {"merge", "a.txt", "--", "-b.txt", "out.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "邮件列表合并成功!\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(vqtest::readFile(dir.file("out.txt")), "a1\r\na2\r\nb1\r\nb2\r\n");
}

TEST(CliMerge, HelpAfterDoubleDashIsAFileName) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("a.txt"), "a1\r\n");
    vqtest::writeFile(dir.file("--help"), "h1\r\n");
    vqtest::KeepCurrentFolder keep;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    CliRun r = runCli(dir, {"merge", "--", "a.txt", "--help", "out.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "邮件列表合并成功!\n");
    EXPECT_EQ(vqtest::readFile(dir.file("out.txt")), "a1\r\nh1\r\n");
}

TEST(CliMerge, FailuresPrintTheErrorBoxTextAndExit1) {
    vqtest::TempDir dir;
    const std::string a = dir.file("a.txt"), b = dir.file("b.txt");
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {"missing input",
         {"merge", dir.file("none.txt"), b, dir.file("out.txt")},
         "veskoqindra-cli: " + dir.file("none.txt") + ": File not found.\n"},
        {"output is A", {"merge", a, b, a}, "veskoqindra-cli: " + a + ": I/O error 32.\n"},
        {"output is B", {"merge", a, b, b}, "veskoqindra-cli: " + b + ": I/O error 32.\n"},
        {"output in a missing folder",
         {"merge", a, b, dir.file("no/out.txt")},
         "veskoqindra-cli: " + dir.file("no/out.txt") + ": Invalid filename.\n"},
        {"disk full", {"merge", a, b, "/dev/full"}, "veskoqindra-cli: /dev/full: Disk full.\n"},
    };
    for (const auto& c : cases) {
        vqtest::writeFile(a, "a1\r\n");
        vqtest::writeFile(b, "b1\r\n");
        CliRun r = runCli(dir, c.args);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(vqtest::readFile(a), "a1\r\n") << c.name;
        EXPECT_EQ(vqtest::readFile(b), "b1\r\n") << c.name;
        EXPECT_FALSE(vqtest::exists(dir.file("out.txt"))) << c.name;
    }
}

TEST(CliMerge, WrongUsageExits2WithUsage) {
    vqtest::TempDir dir;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"merge"},
                                                 {"merge", "a", "b"},
                                                 {"merge", "a", "b", "c", "d"},
                                                 {"merge", "--size", "a", "b", "c"}}) {
        CliRun r = runCli(dir, args);
        EXPECT_EQ(r.status, 2) << args.size();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: veskoqindra-cli merge A B OUT\n"), std::string::npos) << r.err;
    }
}

TEST(CliMerge, HelpListsTheCommand) {
    vqtest::TempDir dir;
    CliRun all = runCli(dir, {"--help"});
    EXPECT_EQ(all.status, 0);
    EXPECT_NE(all.out.find("  merge A B OUT\n"), std::string::npos) << all.out;
    CliRun one = runCli(dir, {"merge", "--help"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out.rfind("usage: veskoqindra-cli merge A B OUT\n", 0), 0u) << one.out;
}
