#pragma once
// Runs veskoqindra-cli with raw argument bytes (no shell in between) and a
// watchdog: a command that hangs is killed and reported, instead of hanging
// the suite.
#include "testutil.h"

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vqtest {

struct CliResult {
    int status = -1;   // exit status; -1 when killed by a signal
    bool hung = false; // the watchdog had to end it
    std::string out, err;
};

// With `asNobody`, a command started by root runs as the user nobody, whom
// file permissions bind.
inline CliResult runCliIn(const std::string& folder, std::vector<std::string> args,
                          unsigned watchdogSeconds = 120, bool asNobody = false) {
    TempDir capture;
    const std::string outPath = capture.file("stdout"), errPath = capture.file("stderr");
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || chdir(folder.c_str()) != 0) _exit(126);
        if (asNobody && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(VQ_CLI_PATH)};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        alarm(watchdogSeconds); // survives exec; SIGALRM ends a hung command
        execv(VQ_CLI_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    CliResult r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.hung = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

} // namespace vqtest
