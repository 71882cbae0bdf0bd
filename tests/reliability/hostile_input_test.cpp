// Hostile inputs for the command cores and veskoqindra-cli: files of one
// byte or none, NUL and end-of-file marks everywhere, binary data, odd file
// names, folders, links, FIFOs and devices where lists are expected, and a
// list another process holds. Nothing may crash, hang, or touch a file it
// was not asked to write.
#include "checking/dedup.h"
#include "cli_run.h"
#include "filtering/filter_pass.h"
#include "filtering/parameter_list.h"
#include "listio/byte_rules.h"
#include "listio/errors.h"
#include "listio/listio.h"
#include "maintenance/merge.h"
#include "testutil.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unordered_set>

namespace {

namespace fs = std::filesystem;
using vqtest::CliResult;
using vqtest::linesOf;
using vqtest::readFile;
using vqtest::writeFile;

// The message names the program, then the file unless the text does.
void expectRefused(const CliResult& r, const std::string& message) {
    EXPECT_FALSE(r.hung) << "the command hung";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "veskoqindra-cli: " + message + "\n");
}

class Hostile : public ::testing::Test {
protected:
    CliResult cli(std::vector<std::string> args) {
        return vqtest::runCliIn(dir.path(), std::move(args));
    }
    std::string at(const std::string& name) const { return dir.file(name); }
    vqtest::TempDir dir;
};

// Contents of one byte or none; the lines the reader finds in each follow
// from its rules: CR ends a line, and so does an LF that is the first line
// end; NUL is data, 0x1A ends the data.
struct Tiny {
    std::string bytes;
    std::string joined;   // every line followed by CR LF
    std::string appended; // the file after adding "x"
};

const Tiny kTiny[] = {
    {"", "", "x\r\n"},
    {"a", "a\r\n", "a\r\nx\r\n"},
    {"A", "A\r\n", "A\r\nx\r\n"},
    {"\r", "\r\n", "\rx\r\n"},
    {"\n", "\r\n", "\nx\r\n"}, // a list written on Linux, of one empty line
    {"\x1a", "", "x\r\n"},
    {std::string(1, '\0'), std::string(1, '\0') + "\r\n", std::string(1, '\0') + "\r\nx\r\n"},
    {" ", " \r\n", " \r\nx\r\n"},
    {"@", "@\r\n", "@\r\nx\r\n"},
    {"\xff", "\xff\r\n", "\xff\r\nx\r\n"},
};

TEST_F(Hostile, EmptyAndOneByteListsThroughEveryCommand) {
    fs::create_directory(at("folder"));
    for (const Tiny& t : kTiny) {
        SCOPED_TRACE("file of " + std::to_string(t.bytes.size()) + " byte(s), first " +
                     std::to_string(t.bytes.empty() ? -1 : static_cast<unsigned char>(t.bytes[0])));
        const std::size_t lines = t.joined.empty() ? 0 : 1;
        writeFile(at("t.txt"), t.bytes);
        for (const char* f : {"out.txt", "m.txt", "r.txt", "p1.txt", "p2.txt"})
            fs::remove(at(f));

        CliResult r = cli({"merge", "t.txt", "t.txt", "out.txt"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(at("out.txt")), t.joined + t.joined);

        r = cli({"check", "t.txt", "c.txt"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("邮件列表没有重复!"), std::string::npos) << r.out;
        EXPECT_FALSE(vqtest::exists(at("c.txt")));

        r = cli({"split", "t.txt", "--size", "1", "--base", "p"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(at("p1.txt")), t.joined); // always one file, empty or not
        EXPECT_FALSE(vqtest::exists(at("p2.txt")));

        r = cli({"filter", "--or", "-p", "a", "t.txt", "m.txt", "r.txt"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "过滤总数\t" + std::to_string(lines));
        EXPECT_EQ(readFile(at("m.txt")) + readFile(at("r.txt")), ""); // no line is an address

        writeFile(at("folder/t.txt"), t.bytes);
        r = cli({"merge-folder", "folder", "out.txt"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string lower = t.joined;
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        EXPECT_EQ(readFile(at("out.txt")), lower);

        r = cli({"add", "t.txt", "x"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(at("t.txt")), t.appended);
    }
}

TEST_F(Hostile, NulAndEndOfFileMarksEverywhere) {
    using namespace std::string_literals;
    const std::string list = "\0\0a@B.CN\0\r\nx\0y@z.com\r\n\x1a"s + "after@mark.cn\r\n";
    writeFile(at("l.txt"), list);
    // The mark ends the data; NUL is an ordinary byte of a line, and a
    // trimmed one at either end.
    EXPECT_EQ(linesOf(at("l.txt")), (std::vector<std::string>{"\0\0a@B.CN\0"s, "x\0y@z.com"s}));

    auto c = vq::filtering::filterList(at("l.txt"), at("m.txt"), at("r.txt"),
                                       vq::filtering::Rule::AnyRow, {".cn"});
    EXPECT_EQ(c.read, 2);
    EXPECT_EQ(readFile(at("m.txt")), "a@b.cn\r\n");
    EXPECT_EQ(readFile(at("r.txt")), "x\0y@z.com\r\n"s);

    vq::maintenance::mergeFiles(at("l.txt"), at("l.txt"), at("out.txt"));
    EXPECT_EQ(readFile(at("out.txt")),
              "\0\0a@B.CN\0\r\nx\0y@z.com\r\n\0\0a@B.CN\0\r\nx\0y@z.com\r\n"s);

    // As a parameter file the loader's text ends at the first NUL: no
    // parameter at all, so the list is the fresh one-empty-row list.
    vq::filtering::ParameterList params;
    params.add("keep");
    params.importFile(at("l.txt"));
    EXPECT_EQ(params.shownRows(), std::vector<std::string>{""});
    EXPECT_EQ(params.parameterCount(), 0);

    // The mark lies within the last 128 bytes: the file is cut there first.
    CliResult r = cli({"add", "l.txt", "n@n.cn"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(at("l.txt")), "\0\0a@B.CN\0\r\nx\0y@z.com\r\nn@n.cn\r\n"s);
}

TEST_F(Hostile, BinaryFileKeepsEveryCommandConsistent) {
    std::mt19937 random(20240607);
    std::string bin(256 * 1024, '\0');
    for (char& c : bin)
        c = static_cast<char>(random());
    // One end-of-file mark three quarters in: the data ends there, and the
    // lines before it are what every command sees.
    for (char& c : bin)
        if (c == '\x1a') c = '\x1b';
    bin[bin.size() / 4 * 3] = '\x1a';
    writeFile(at("bin.txt"), bin);
    writeFile(at("empty.txt"), "");
    const std::vector<std::string> lines = linesOf(at("bin.txt"));
    ASSERT_GT(lines.size(), 100u);

    // Merging with nothing rewrites every line with CR LF: the same lines.
    ASSERT_EQ(cli({"merge", "bin.txt", "empty.txt", "merged.txt"}).status, 0);
    EXPECT_EQ(linesOf(at("merged.txt")), lines);

    // The numbered files together are the merged file.
    ASSERT_EQ(cli({"split", "bin.txt", "--size", "37", "--base", "part"}).status, 0);
    std::string parts;
    for (std::size_t k = 1; k <= (lines.size() + 36) / 37; ++k)
        parts += readFile(at("part" + std::to_string(k) + ".txt"));
    EXPECT_EQ(parts, readFile(at("merged.txt")));

    // The check keeps first occurrences in order.
    std::vector<std::string> kept;
    std::unordered_set<std::string> seen;
    for (const auto& l : lines)
        if (seen.insert(l).second) kept.push_back(l);
    ASSERT_EQ(cli({"check", "bin.txt", "kept.txt"}).status, 0);
    if (kept.size() < lines.size()) {
        EXPECT_EQ(linesOf(at("kept.txt")), kept);
    } else {
        EXPECT_FALSE(vqtest::exists(at("kept.txt")));
    }

    // Every line the filter writes is a trimmed address.
    CliResult r = cli({"filter", "--and", "-p", "@", "bin.txt", "m.txt", "r.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "过滤总数\t" + std::to_string(lines.size()));
    for (const auto& l : linesOf(at("m.txt"))) {
        EXPECT_TRUE(vq::filtering::isValidLine(l));
        EXPECT_EQ(vq::listio::trimControls(l), l);
    }
    EXPECT_EQ(readFile(at("r.txt")), ""); // a valid line always holds "@"

    // The appender keeps everything before a mark in the last 128 bytes.
    const std::size_t tail = bin.size() - 128;
    const std::size_t mark = bin.find('\x1a', tail);
    ASSERT_EQ(cli({"add", "bin.txt", "z@z.z"}).status, 0);
    const std::string after = readFile(at("bin.txt"));
    const std::string kept128 = bin.substr(0, mark == std::string::npos ? bin.size() : mark);
    EXPECT_EQ(after.substr(0, kept128.size()), kept128);
    EXPECT_EQ(after.substr(after.size() - 7), "z@z.z\r\n");
}

TEST_F(Hostile, A200MegabyteSingleLine) {
    // One line of 200 MB without a line end: streamed, counted, copied,
    // filtered and de-duplicated whole.
    const std::size_t size = std::size_t(200) << 20;
    std::string line(size - 6, 'a');
    line += "@x.cn";
    line += 'b';
    writeFile(at("big.txt"), line);
    line.clear();
    line.shrink_to_fit();
    EXPECT_EQ(vq::listio::countLines(at("big.txt")), 1);

    vq::maintenance::mergeFiles(at("big.txt"), at("big.txt"), at("twice.txt"));
    EXPECT_EQ(fs::file_size(at("twice.txt")), 2 * (size + 2));

    auto c = vq::filtering::filterList(at("big.txt"), at("m.txt"), at("r.txt"),
                                       vq::filtering::Rule::AnyRow, {".cn"});
    EXPECT_EQ(c.matching, 1);
    EXPECT_EQ(fs::file_size(at("m.txt")), size + 2);
    fs::remove(at("m.txt"));

    // The line twice: the second is a repeat, the kept text is the line.
    vq::checking::CheckRun run{at("twice.txt"), at("kept.txt"), 2};
    vq::checking::KeptLines grid;
    vq::checking::CheckListener quiet;
    vq::checking::CheckCounts counts;
    std::atomic<bool> abort{false};
    EXPECT_EQ(vq::checking::removeDuplicates(run, grid, abort, quiet, counts),
              vq::checking::Outcome::DuplicatesRemoved);
    grid.clear();
    EXPECT_EQ(counts.kept, 1);
    EXPECT_EQ(readFile(at("kept.txt")), readFile(at("big.txt")) + "\r\n");
}

TEST_F(Hostile, ParameterFileThatIsNotGbk) {
    using namespace std::string_literals;
    // A lone lead byte, bytes that are never GBK, a lead byte cut off by the
    // line end: kept exactly, matched exactly, written back exactly.
    const std::string rows = "\x81\r\n\xff\xfe\x80x\r\n.c\xa1\r\n\x80\x80"s;
    writeFile(at("p.txt"), rows);
    vq::filtering::ParameterList list;
    list.importFile(at("p.txt"));
    EXPECT_EQ(list.shownRows(),
              (std::vector<std::string>{"\x81", "\xff\xfe\x80x", ".c\xa1", "\x80\x80"}));
    list.exportFile(at("back.txt"));
    EXPECT_EQ(readFile(at("back.txt")), rows + "\r\n");

    writeFile(at("in.txt"), "a@\xff\xfe\x80x.cn\r\nb@c.cn\r\n");
    auto c = vq::filtering::filterList(at("in.txt"), at("m.txt"), at("r.txt"),
                                       vq::filtering::Rule::AnyRow, list.shownRows());
    EXPECT_EQ(c.matching, 1);
    EXPECT_EQ(readFile(at("m.txt")), "a@\xff\xfe\x80x.cn\r\n");
}

TEST_F(Hostile, FileNamesWithSpacesNewlinesRawBytesAndDashes) {
    const std::string names[] = {"with space.txt", "new\nline.txt", "\xff\xfe raw.txt",
                                 "-dash.txt",      "--help",        "./-"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        writeFile(at(name), "x@y.cn\r\nx@y.cn");
        const std::string out = name + ".out";
        CliResult r = cli({"merge", "--", name, name, out});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(at(out)), "x@y.cn\r\nx@y.cn\r\nx@y.cn\r\nx@y.cn\r\n");
        r = cli({"check", "--", name, out});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(at(out)), "x@y.cn\r\n");
        r = cli({"add", "--", name, "n@n.cn"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(at(name)), "x@y.cn\r\nx@y.cn\r\nn@n.cn\r\n");
        // The core takes the same bytes from a window's dialog.
        vq::maintenance::mergeFiles(at(name), at(name), at(out));
        EXPECT_EQ(linesOf(at(out)).size(), 6u);
    }
    // Without "--" a leading dash is an option: wrong usage, nothing written.
    CliResult r = cli({"merge", "-dash.txt", "-dash.txt", "never.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(vqtest::exists(at("never.txt")));
    // A missing file with a raw name is named in the message as it is.
    r = cli({"check", "--", "\xff gone.txt", "o.txt"});
    expectRefused(r, "\xff gone.txt: File not found.");
}

TEST_F(Hostile, FolderNamedLikeAList) {
    fs::create_directory(at("x.txt"));
    writeFile(at("a.txt"), "a@b.cn\r\na@b.cn\r\n");
    expectRefused(cli({"merge", "x.txt", "a.txt", "o.txt"}), "x.txt: File access denied.");
    expectRefused(cli({"merge", "a.txt", "a.txt", "x.txt"}), "x.txt: File access denied.");
    expectRefused(cli({"check", "x.txt", "o.txt"}), "x.txt: File access denied.");
    expectRefused(cli({"check", "a.txt", "x.txt"}), "Cannot create file x.txt.");
    expectRefused(cli({"split", "x.txt"}), "x.txt: File access denied.");
    expectRefused(cli({"filter", "--or", "a.txt", "x.txt", "r.txt"}), "x.txt: File access denied.");
    expectRefused(cli({"add", "x.txt", "n@n.cn"}), "x.txt: File access denied.");
    expectRefused(cli({"filter", "--or", "--params", "x.txt", "a.txt", "m.txt", "r.txt"}),
                  "x.txt: File access denied.");
    EXPECT_TRUE(fs::is_directory(at("x.txt")));
    EXPECT_TRUE(fs::is_empty(at("x.txt")));
    EXPECT_EQ(readFile(at("a.txt")), "a@b.cn\r\na@b.cn\r\n");
}

TEST_F(Hostile, LinksFoldersFifosAndDevicesInTheMergedFolder) {
    fs::create_directories(at("lists/sub"));
    writeFile(at("lists/a.txt"), "A@B.CN\r\n");
    writeFile(at("lists/sub/deep.txt"), "deep@x.cn\r\n");
    fs::create_directory(at("lists/folder.txt"));              // a folder: skipped
    fs::create_directory_symlink("sub", at("lists/link.txt")); // a link to one: skipped too
    CliResult r = cli({"merge-folder", "lists", "out.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(at("out.txt")), "a@b.cn\r\n");

    // Entries that cannot be lists end the merge with their error; none may
    // hang it (a FIFO without a writer, an endless device).
    struct Trap {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* message;
    } traps[] = {
        {"loop.txt", [](const std::string& p) { fs::create_symlink("loop.txt", p); },
         "Invalid filename."},
        {"fifo.txt", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); },
         "File access denied."},
        {"zero.txt", [](const std::string& p) { fs::create_symlink("/dev/zero", p); },
         "File access denied."},
        {".hidden.txt", [](const std::string& p) { fs::create_directory(p); },
         "File access denied."},
        {"gone.txt", [](const std::string& p) { fs::create_symlink("nowhere.txt", p); },
         "File not found."},
    };
    for (const Trap& t : traps) {
        SCOPED_TRACE(t.name);
        const std::string path = at(std::string("lists/") + t.name);
        t.make(path);
        const std::string refusal = path + ": " + t.message;
        expectRefused(cli({"merge-folder", "lists", "out.txt"}), refusal);
        // Chosen as an input of the other commands, the same refusal.
        expectRefused(cli({"merge", "--", path, "lists/a.txt", "o.txt"}), refusal);
        expectRefused(cli({"check", "--", path, "o.txt"}), refusal);
        expectRefused(cli({"filter", "--or", "--", path, "m.txt", "r.txt"}), refusal);
        expectRefused(cli({"add", "--", path, "x"}), refusal);
        fs::remove(path);
    }
    EXPECT_EQ(readFile(at("lists/a.txt")), "A@B.CN\r\n");
}

TEST_F(Hostile, DevicesFifosAndLinkLoopsAsOutputs) {
    writeFile(at("a.txt"), "a@b.cn\r\na@b.cn\r\n");
    ASSERT_EQ(mkfifo(at("fifo.txt").c_str(), 0644), 0);
    // Writing a list to /dev/null is harmless; a full device reports it.
    EXPECT_EQ(cli({"merge", "a.txt", "a.txt", "/dev/null"}).status, 0);
    expectRefused(cli({"merge", "a.txt", "a.txt", "/dev/full"}), "/dev/full: Disk full.");
    expectRefused(cli({"check", "a.txt", "/dev/full"}), "/dev/full: Stream write error.");
    // A FIFO nobody reads is refused at once, never waited for.
    expectRefused(cli({"merge", "a.txt", "a.txt", "fifo.txt"}), "fifo.txt: File access denied.");
    expectRefused(cli({"check", "a.txt", "fifo.txt"}), "Cannot create file fifo.txt.");
    // A link that points at itself is no place for a list either.
    fs::create_symlink("loop.txt", at("loop.txt"));
    expectRefused(cli({"merge", "a.txt", "a.txt", "loop.txt"}), "loop.txt: Invalid filename.");
    expectRefused(cli({"check", "a.txt", "loop.txt"}), "Cannot create file loop.txt.");
    EXPECT_TRUE(fs::is_symlink(at("loop.txt")));
}

// The folder merge's output spelled through "..", through a linked folder,
// or as another hard link of a list is still its output: skipped, never read.
TEST_F(Hostile, TheMergedFolderKnowsItsOutputInEverySpelling) {
    fs::create_directory(at("lists"));
    fs::create_directory_symlink("lists", at("linked"));
    const struct {
        const char* folder;
        const char* output;
        const char* linkOf; // the list the output is another name of
    } cases[] = {
        {"lists", "lists/../lists/all.txt", nullptr}, {"lists", "linked/all.txt", nullptr},
        {"linked", "lists/all.txt", nullptr},         {"lists/", ".//lists/./all.txt", nullptr},
        {"lists", "all.txt", "lists/a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + " " + c.output);
        writeFile(at("lists/a.txt"), "A@B.CN\r\n");
        writeFile(at("lists/b.txt"), "C@D.CN\r\n");
        if (c.linkOf)
            fs::create_hard_link(at(c.linkOf), at(c.output));
        else
            writeFile(at(c.output), "OLD\r\n");
        CliResult r = cli({"merge-folder", c.folder, c.output});
        EXPECT_EQ(r.status, 0) << r.err;
        // A hard link of a.txt as output makes a.txt the output.
        const std::string merged = readFile(at(c.output));
        if (c.linkOf) {
            EXPECT_EQ(r.out, "1\n");
            EXPECT_EQ(merged, "c@d.cn\r\n");
        } else {
            EXPECT_EQ(r.out, "2\n");
            EXPECT_TRUE(merged == "a@b.cn\r\nc@d.cn\r\n" || merged == "c@d.cn\r\na@b.cn\r\n")
                << merged;
        }
        fs::remove(at("lists/all.txt"));
        fs::remove(at("all.txt"));
    }
}

// A name of 4,086 bytes: what can be opened under it can be saved, merged
// and added to, though the folder has no room for a longer name.
TEST_F(Hostile, ANameJustShortEnoughToOpenServesEveryCommand) {
    const std::string list = vqtest::longFileName(dir.path(), 4086, "l.txt");
    const std::string out = vqtest::longFileName(dir.path(), 4086, "o.txt");
    writeFile(list, "a@b.cn\r\na@b.cn\r\n");
    CliResult r = cli({"check", list, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(out), "a@b.cn\r\n");
    r = cli({"merge", list, list, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(out), "a@b.cn\r\na@b.cn\r\na@b.cn\r\na@b.cn\r\n");
    r = cli({"check", list, list});
    EXPECT_EQ(r.status, 0) << r.err;
    r = cli({"add", list, "x@y.cn"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(list), "a@b.cn\r\nx@y.cn\r\n");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(fs::path(list).parent_path()))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"l.txt", "o.txt"}));
}

// A folder its user may not add files to, holding a list the user may
// write: the list is never rewritten in place, so the check is refused.
TEST_F(Hostile, AFolderThatAllowsNoNewFile) {
    const std::string list = at("locked/l.txt");
    fs::create_directory(at("locked"));
    writeFile(list, "a@b.cn\r\na@b.cn\r\n");
    ASSERT_EQ(chmod(list.c_str(), 0666), 0);
    ASSERT_EQ(chmod(at("locked").c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    expectRefused(vqtest::runCliIn(at("locked"), {"check", "l.txt", "l.txt"}, 120, true),
                  "Cannot create file l.txt.");
    EXPECT_EQ(readFile(list), "a@b.cn\r\na@b.cn\r\n");
    // Adding needs no new file.
    EXPECT_EQ(vqtest::runCliIn(at("locked"), {"add", "l.txt", "x@y.cn"}, 120, true).status, 0);
    EXPECT_EQ(readFile(list), "a@b.cn\r\na@b.cn\r\nx@y.cn\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(at("locked")), {}), 1);
    chmod(at("locked").c_str(), 0755);
}

// A folder its user may not read would look like one without lists; the
// merge is refused before its output is made.
TEST_F(Hostile, AFolderThatCannotBeRead) {
    fs::create_directory(at("closed"));
    writeFile(at("closed/a.txt"), "a@b.cn\r\n");
    ASSERT_EQ(chmod(at("closed").c_str(), 0311), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    expectRefused(vqtest::runCliIn(dir.path(), {"merge-folder", "closed", "out.txt"}, 120, true),
                  "closed: File access denied.");
    EXPECT_FALSE(vqtest::exists(at("out.txt")));
    chmod(at("closed").c_str(), 0755);
}

// A real file system that is full: adding and saving are refused, and the
// list keeps every byte, the ones after an end-of-file mark included.
TEST_F(Hostile, AFullDisk) {
    const std::string disk = at("disk");
    fs::create_directory(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no small file system can be mounted here";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    // Whole pages of lines: anything added needs room the disk does not have.
    std::string page;
    while (page.size() < 4096)
        page += "a@b.cn\r\n";
    const std::string list = disk + "/l.txt";
    for (const std::string& before : {page, page.substr(0, 4094) + "\x1Aj"}) {
        SCOPED_TRACE(before.substr(4090));
        writeFile(list, before);
        int fill = open((disk + "/fill").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fill, 0);
        while (write(fill, page.data(), page.size()) > 0) {
        }
        close(fill);
        expectRefused(cli({"add", list, "new@example.cn"}), list + ": Disk full.");
        EXPECT_EQ(readFile(list), before);
        expectRefused(cli({"check", list, list}), list + ": Stream write error.");
        EXPECT_EQ(readFile(list), before);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(disk))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"fill", "l.txt"}));
        fs::remove(disk + "/fill");
    }
}

// A second process holding a list: a child of this test opens it with the
// modes of the program and keeps it until told to let go.
class Holder {
public:
    template <class Open> explicit Holder(Open open) {
        // Close-on-exec, so the commands this test starts never hold a pipe
        // end and keep the child waiting.
        int ready[2], release[2];
        if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]); // else the child would never see the release
            char c = 0;
            try {
                auto held = open();
                (void)!write(ready[1], &c, 1);
                (void)!read(release[0], &c, 1);
            } catch (...) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        char c;
        ok_ = read(ready[0], &c, 1) == 1;
        close(ready[0]);
        release_ = release[1];
    }
    ~Holder() {
        if (release_ >= 0) close(release_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    bool holding() const { return ok_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool ok_ = false;
};

TEST_F(Hostile, AListAnotherProcessHolds) {
    const std::string list = at("list.txt");
    writeFile(list, "a@b.cn\r\na@b.cn\r\n");
    {
        // Held by a writer: nobody may read or write it.
        Holder writer([&] { return std::make_unique<vq::listio::TextAppender>(list); });
        ASSERT_TRUE(writer.holding());
        expectRefused(cli({"merge", "list.txt", "list.txt", "o.txt"}), "list.txt: I/O error 32.");
        expectRefused(cli({"add", "list.txt", "x"}), "list.txt: I/O error 32.");
        expectRefused(cli({"filter", "--or", "--params", "list.txt", "list.txt", "m.txt", "r.txt"}),
                      "list.txt: I/O error 32.");
        EXPECT_THROW(vq::listio::TextReader{list}, vq::EInOutError);
    }
    {
        // Held by a reader: others may read it, but not replace or extend it.
        Holder reader([&] { return std::make_unique<vq::listio::TextReader>(list); });
        ASSERT_TRUE(reader.holding());
        EXPECT_EQ(cli({"merge", "list.txt", "list.txt", "o.txt"}).status, 0);
        expectRefused(cli({"add", "list.txt", "x"}), "list.txt: I/O error 32.");
        expectRefused(cli({"check", "o.txt", "list.txt"}), "Cannot create file list.txt.");
        expectRefused(cli({"merge", "o.txt", "o.txt", "list.txt"}), "list.txt: I/O error 32.");
    }
    EXPECT_EQ(readFile(list), "a@b.cn\r\na@b.cn\r\n");
    // Once the other process has let go, the list is free again.
    EXPECT_EQ(cli({"add", "list.txt", "x"}).status, 0);
}

} // namespace
