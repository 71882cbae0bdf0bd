// Every command of veskoqindra-cli on a list written on Linux and on the same
// list with CR LF line ends, with and without --lf, and through pipes.
#include "reliability/cli_run.h"
#include "testutil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace {

using vqtest::kMixedList;
using vqtest::kOtherList;

struct Outcome {
    std::map<std::string, std::string> files; // every file of the folder after the commands
    std::string said;                         // what the commands printed, in order
};

const std::vector<std::vector<std::string>> kCommands = {
    {"merge", "in.txt", "b.txt", "merged.txt"},
    {"check", "in.txt", "checked.txt"},
    {"filter", "--or", "-p", ".cn", "in.txt", "or-m.txt", "or-r.txt"},
    {"filter", "--and", "-p", "@", "-p", ".c", "in.txt", "and-m.txt", "and-r.txt"},
    {"split", "in.txt", "--size", "3", "--base", "part"},
    {"merge-folder", "folder", "folder-merged.txt"},
    {"add", "add.txt", "new@x.cn"},
    {"subtract", "-s", "unsub.txt", "-s", "b.txt", "in.txt", "kept.txt", "removed.txt"},
    {"domains", "in.txt", "domains.txt"},
};

Outcome runEveryCommand(bool linuxList, bool lfOption) {
    vqtest::TempDir dir;
    vqtest::writeCommandLists(dir, linuxList);
    Outcome r;
    for (std::vector<std::string> args : kCommands) {
        if (lfOption) args.insert(args.begin() + (args.size() % 2), "--lf"); // before or after
        const vqtest::CliResult c = vqtest::runCliIn(dir.path(), args);
        EXPECT_EQ(c.status, 0) << args[0] << ": " << c.err;
        r.said += c.out + c.err;
    }
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.is_regular_file()) r.files[e.path().filename()] = vqtest::readFile(e.path());
    return r;
}

} // namespace

TEST(LinuxListsCli, EveryCommandGivesWhatTheCrLfListGives) {
    const Outcome crLf = runEveryCommand(false, false);
    EXPECT_EQ(crLf.files.at("checked.txt"), "A@B.CN\r\nx@y.com\r\n  pad@z.cn \r\n\r\nbad\r\n"
                                            "q@w.cn.com\r\nlast@x.cn\r\n");
    EXPECT_EQ(crLf.files.at("part3.txt"), "q@w.cn.com\r\nlast@x.cn\r\n");
    EXPECT_EQ(crLf.files.at("removed.txt"), "x@y.com\r\nx@y.com\r\nlast@x.cn\r\n");
    EXPECT_EQ(crLf.files.at("domains.txt"), "2\ty.com\r\n1\tb.cn\r\n1\tw.cn.com\r\n"
                                            "1\tx.cn\r\n1\tz.cn\r\n");
    for (const bool linuxList : {false, true}) {
        for (const bool lfOption : {false, true}) {
            if (!linuxList && !lfOption) continue;
            SCOPED_TRACE(std::string(linuxList ? "written on Linux" : "CR LF") +
                         (lfOption ? ", --lf" : ""));
            const Outcome other = runEveryCommand(linuxList, lfOption);
            EXPECT_EQ(other.said, crLf.said);
            EXPECT_EQ(other.files.size(), crLf.files.size());
            for (const auto& [name, bytes] : crLf.files) {
                // The inputs keep their own line ends. The self-add follows a
                // Linux list's last LF with no empty line between.
                std::string expected = lfOption ? vqtest::writtenOnLinux(bytes) : bytes;
                if (name == "in.txt" || name == "b.txt" || name == "unsub.txt")
                    expected = linuxList ? vqtest::writtenOnLinux(bytes) : bytes;
                if (name == "add.txt")
                    expected = (linuxList ? vqtest::writtenOnLinux(kOtherList) : kOtherList) +
                               (lfOption ? "new@x.cn\n" : "new@x.cn\r\n");
                EXPECT_EQ(other.files.count(name) ? other.files.at(name) : "(none)", expected)
                    << name;
            }
        }
    }
}

// Standard input is spooled before it is read: a Linux list through a pipe
// gives the bytes of the CR LF list read from a file.
TEST(LinuxListsCli, PipelinesOfBothKinds) {
    vqtest::TempDir dir;
    vqtest::writeFile(dir.file("crlf.txt"), kMixedList);
    vqtest::writeFile(dir.file("lf.txt"), vqtest::writtenOnLinux(kMixedList));
    const std::string cli = VQ_CLI_PATH;
    auto pipeline = [&](const std::string& list, const std::string& lf, const std::string& out) {
        return "cd " + dir.path() + " && cat " + list + " | " + cli + lf +
               " check - - 2>/dev/null | " + cli + lf + " filter --or -p .cn - - " + out +
               ".rest 2>/dev/null > " + out;
    };
    ASSERT_EQ(std::system(pipeline("crlf.txt", "", "a.txt").c_str()), 0);
    ASSERT_EQ(std::system(pipeline("lf.txt", "", "b.txt").c_str()), 0);
    ASSERT_EQ(std::system(pipeline("lf.txt", " --lf", "c.txt").c_str()), 0);
    const std::string cn = "a@b.cn\r\npad@z.cn\r\nq@w.cn.com\r\nlast@x.cn\r\n";
    EXPECT_EQ(vqtest::readFile(dir.file("a.txt")), cn);
    EXPECT_EQ(vqtest::readFile(dir.file("b.txt")), cn);
    EXPECT_EQ(vqtest::readFile(dir.file("b.txt.rest")), "x@y.com\r\n");
    EXPECT_EQ(vqtest::readFile(dir.file("c.txt")), vqtest::writtenOnLinux(cn));
    EXPECT_EQ(vqtest::readFile(dir.file("c.txt.rest")), "x@y.com\n");
}
