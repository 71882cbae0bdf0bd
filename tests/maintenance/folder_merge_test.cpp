// The folder merge core, the folder search under it, and merge-folder.
#include "listio/errors.h"
#include "maintenance/folder_merge.h"
#include "platform/folder_search.h"
#include "testutil.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace {

namespace m = vq::maintenance;
namespace p = vq::platform;
using vqtest::readFile;
using vqtest::writeFile;

// A folder of lists as users keep them: mixed case, a hidden list, a GB2312
// line, a sub-folder whose name ends in .txt, a file that is no list.
class FolderOfLists : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir.file("a.txt"), "One\r\nTWO");
        writeFile(dir.file("b.TXT"), "Three@EXAMPLE.com\r\n\r\nFour\r\n");
        writeFile(dir.file(".hidden.txt"), "Hid\r\n");
        writeFile(dir.file("gb.txt"), "\xC4\xE3\xBA\xC3"
                                      "ABC@X.CN\r\n");
        std::filesystem::create_directory(dir.file("sub.txt"));
        writeFile(dir.file("sub.txt/inner.txt"), "not merged\r\n");
        writeFile(dir.file("notes.md"), "not a list\r\n");
    }
    // Each file's lines stay together; the files may come in any order.
    void expectMerged(const std::string& output) {
        std::vector<std::string> blocks = {"one\r\ntwo\r\n", "three@example.com\r\n\r\nfour\r\n",
                                           "hid\r\n",
                                           "\xC4\xE3\xBA\xC3"
                                           "abc@x.cn\r\n"};
        std::sort(blocks.begin(), blocks.end());
        std::string got = readFile(output);
        bool found = false;
        do {
            std::string joined;
            for (auto& b : blocks)
                joined += b;
            found = joined == got;
        } while (!found && std::next_permutation(blocks.begin(), blocks.end()));
        EXPECT_TRUE(found) << got;
    }
    vqtest::TempDir dir, elsewhere;
};

TEST_F(FolderOfLists, MergesEveryListLowerCasedAndCountsEveryLine) {
    m::FolderMerger merger;
    std::vector<int64_t> seen;
    merger.onLine = [&](int64_t n) { seen.push_back(n); };
    EXPECT_EQ(merger.run(dir.path(), elsewhere.file("out.txt")), 7);
    expectMerged(elsewhere.file("out.txt"));
    EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7}));
    // A second merge gives the same again, counted from 0.
    EXPECT_EQ(merger.run(dir.path(), elsewhere.file("out.txt")), 7);
    expectMerged(elsewhere.file("out.txt"));
}

TEST_F(FolderOfLists, TheOutputInsideTheFolderIsSkippedWhenSpelledAlike) {
    for (const char* name : {"all.txt", "ALL.TXT"}) {
        std::string out = dir.file(name);
        writeFile(out, "OLD\r\n");
        EXPECT_EQ(m::FolderMerger().run(dir.path(), out), 7) << name;
        expectMerged(out);
        std::filesystem::remove(out);
    }
}

TEST_F(FolderOfLists, TheOutputUnderAnotherSpellingIsRefusedWithTheSharingCode) {
    m::FolderMerger merger;
    std::string out = dir.path() + "/./all.txt";
    try {
        merger.run(dir.path(), out);
        ADD_FAILURE() << "the output was read as an input";
    } catch (const vq::EInOutError& e) {
        EXPECT_EQ(e.code(), 32);
    }
    // The count covers every line handed to the output; lines still in the
    // write buffer need not reach the disk.
    std::string written = readFile(dir.file("all.txt"));
    EXPECT_LE(std::count(written.begin(), written.end(), '\n'), merger.lines());
    EXPECT_LE(merger.lines(), 7);
}

TEST_F(FolderOfLists, AFolderWithMoreThanTheFolderAttributeEndsTheMerge) {
    std::filesystem::create_directory(dir.file(".old.txt"));
    EXPECT_THROW(m::FolderMerger().run(dir.path(), elsewhere.file("out.txt")), vq::EInOutError);
}

TEST(FolderMerge, NothingToMergeGivesAnEmptyOutput) {
    vqtest::TempDir dir;
    for (std::string folder : {dir.path(), dir.file("missing")}) {
        writeFile(dir.file("out.list"), "old");
        EXPECT_EQ(m::FolderMerger().run(folder, dir.file("out.list")), 0);
        EXPECT_EQ(readFile(dir.file("out.list")), "");
    }
}

TEST(FolderMerge, LowerCasingTouchesOnlyAsciiCapitals) {
    std::string all, expected, got;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
        expected += static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b);
    }
    for (std::size_t from : {0, 3, 250, 256}) { // whole words and every kind of tail
        m::lowerAscii(std::string_view(all).substr(from), got);
        EXPECT_EQ(got, expected.substr(from)) << from;
    }
}

TEST(FolderSearch, MatchesPatternsWithoutRegardToAsciiCase) {
    const struct {
        const char *pattern, *name;
        bool match;
    } cases[] = {
        {"*.txt", "a.txt", true},      {"*.txt", "A.TXT", true},  {"*.txt", ".txt", true},
        {"*.txt", "a.txt.bak", false}, {"*.txt", "atxt", false},  {"a?c", "abc", true},
        {"a?c", "ac", false},          {"*", "", true},           {"*a*b", "xaxxb", true},
        {"*a*b", "xaxxbc", false},     {"\xC4*", "\xE4x", false}, {"\xC4*", "\xC4x", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(p::matchesPattern(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(FolderSearch, GivesEachEntryItsAttributes) {
    vqtest::TempDir dir;
    writeFile(dir.file("f.txt"), "");
    writeFile(dir.file(".h.txt"), "");
    writeFile(dir.file("r.TXT"), "");
    chmod(dir.file("r.TXT").c_str(), 0444);
    writeFile(dir.file("other.csv"), "");
    std::filesystem::create_directory(dir.file("d.txt"));
    mkfifo(dir.file("p.txt").c_str(), 0644);
    std::map<std::string, uint32_t> found;
    p::FolderSearch search;
    p::FolderEntry e;
    for (bool ok = search.findFirst(dir.path() + "/*.txt", e); ok; ok = search.findNext(e))
        found[e.name] = e.attributes;
    const std::map<std::string, uint32_t> expected = {
        {"f.txt", p::attr::Archive},
        {".h.txt", p::attr::Archive | p::attr::Hidden},
        {"r.TXT", p::attr::Archive | p::attr::ReadOnly},
        {"d.txt", p::attr::Directory},
        {"p.txt", p::attr::System},
    };
    EXPECT_EQ(found, expected);
    EXPECT_FALSE(search.findFirst(dir.path() + "/*.none", e));
    EXPECT_FALSE(search.isOpen());
}

TEST(FolderMergeCommand, PrintsTheCount) {
    vqtest::TempDir dir, capture;
    writeFile(dir.file("a.txt"), "A\r\nB\r\n");
    // A trailing slash still keeps the output out of its own input.
    std::string cmd = "'" VQ_CLI_PATH "' merge-folder '" + dir.path() + "/' '" +
                      dir.file("out.txt") + "' >'" + capture.file("o") + "' 2>&1";
    int rc = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << readFile(capture.file("o"));
    EXPECT_EQ(readFile(capture.file("o")), "2\n");
    EXPECT_EQ(readFile(dir.file("out.txt")), "a\r\nb\r\n");
}

} // namespace
