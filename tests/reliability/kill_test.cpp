// Saves and appends killed before each of their system calls: the list holds
// its old text or the new one whole, never a cut one, and no temporary file
// outlives the next save in the folder.
#include "checking/dedup.h"
#include "listio/fault_seam.h"
#include "listio/listio.h"
#include "maintenance/selfadd.h"
#include "testutil.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using vq::listio::faults::Op;
using vqtest::linesOf;

const Op kOps[] = {Op::Open, Op::Read, Op::Write, Op::Sync, Op::Close, Op::Rename};
const char* const kOpNames[] = {"open", "read", "write", "sync", "close", "rename"};

bool isTemporary(const std::string& name) {
    return name.find(".vq-save-") != std::string::npos;
}

// Runs `action` in a child process that is killed just before its n-th call
// of `op`. With `named`, the file system plays one without unnamed files.
// False when the action ended before that call.
bool killedBefore(Op op, int n, bool named, const std::function<void()>& action) {
    pid_t child = fork();
    if (child == 0) {
        int seen = 0;
        vq::listio::faults::setHook([&](Op o, const std::string& path) {
            if (o == op && ++seen == n) raise(SIGKILL);
            return named && o == Op::Open && isTemporary(path) ? EOPNOTSUPP : 0;
        });
        try {
            action();
        } catch (...) {
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

int temporariesIn(const std::string& folder) {
    return static_cast<int>(std::count_if(fs::directory_iterator(folder), {}, [](const auto& e) {
        return isTemporary(e.path().filename().string());
    }));
}

// A save, and a check partitioned in a scratch file, whose save follows.
TEST(Killed, SaveLeavesTheOldFileOrTheNewOneAndNoTemporary) {
    vqtest::TempDir dir;
    const std::string target = dir.file("list.txt"), input = dir.file("in.txt");
    std::string list, kept;
    for (int i = 0; i < 3000; ++i) {
        const std::string line = "u" + std::to_string(i % 2000) + "@mail.cn\r\n";
        list += line;
        if (i < 2000) kept += line;
    }
    vqtest::writeFile(input, list);
    const struct {
        const char* name;
        std::string newText;
        std::function<void()> action;
    } actions[] = {
        {"save", std::string(100000, 'n'),
         [&] { vq::listio::saveText(target, std::string(100000, 'n')); }},
        {"partitioned check", kept,
         [&] {
             vq::checking::CheckRun run{input, target, 3000, std::chrono::milliseconds(40), 1};
             vq::checking::KeptLines grid;
             vq::checking::CheckCounts counts;
             vq::checking::CheckListener quiet;
             std::atomic<bool> stop{false};
             vq::checking::removeDuplicates(run, grid, stop, quiet, counts);
         }},
    };
    for (const auto& a : actions) {
        const std::string& newText = a.newText;
        for (bool named : {false, true}) {
            for (bool existed : {true, false}) {
                for (Op op : kOps) {
                    for (int n = 1;; ++n) {
                        SCOPED_TRACE(std::string(a.name) + (named ? ", named" : ", unnamed") +
                                     (existed ? ", replacing" : ", new") + ", killed before " +
                                     kOpNames[static_cast<int>(op)] + " #" + std::to_string(n));
                        fs::remove(target);
                        if (existed) vqtest::writeFile(target, "old\r\n");
                        if (!killedBefore(op, n, named, a.action)) break;
                        const std::string now = vqtest::readFile(target);
                        EXPECT_TRUE(now == (existed ? "old\r\n" : "") || now == newText)
                            << now.size();
                        EXPECT_EQ(vqtest::exists(target), existed || now == newText);
                        vq::listio::saveText(dir.file("next.txt"), "next\r\n");
                        EXPECT_EQ(temporariesIn(dir.path()), 0);
                    }
                }
            }
        }
    }
}

TEST(Killed, AppendLeavesTheOldListOrTheListWithTheWholeNewLine) {
    const std::string junk(100, 'j');
    const std::string before[] = {
        "a@x.cn\r\n",
        "a@x.cn",                // the line end is added first
        "a@x.cn\r\n\x1A" + junk, // the bytes cut are more than the line
        "a@x.cn\r\n\x1A"
        "j", // and fewer
    };
    vqtest::TempDir dir;
    const std::string list = dir.file("list.txt");
    for (const std::string& old : before) {
        vqtest::writeFile(list, old);
        vq::maintenance::appendAddress(list, "new@x.cn");
        const std::string whole = vqtest::readFile(list);
        for (Op op : kOps) {
            for (int n = 1;; ++n) {
                SCOPED_TRACE(::testing::PrintToString(old) + " killed before " +
                             kOpNames[static_cast<int>(op)] + " #" + std::to_string(n));
                vqtest::writeFile(list, old);
                if (!killedBefore(op, n, false,
                                  [&] { vq::maintenance::appendAddress(list, "new@x.cn"); }))
                    break;
                // Byte for byte: the bytes after a mark are kept until the
                // line takes their place.
                const std::string now = vqtest::readFile(list);
                EXPECT_TRUE(now == old || now == whole) << ::testing::PrintToString(now);
                const auto lines = linesOf(list);
                // A later add finds the list as it should: its line follows.
                vq::maintenance::appendAddress(list, "later@x.cn");
                auto expected = lines;
                expected.push_back("later@x.cn");
                EXPECT_EQ(linesOf(list), expected);
            }
        }
    }
}

} // namespace
