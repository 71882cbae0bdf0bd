// The folder merge core, the folder search under it, and merge-folder.
#include "listio/byte_rules.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"
#include "listio/listio.h"
#include "maintenance/folder_merge.h"
#include "platform/folder_search.h"
#include "testutil.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

namespace m = vq::maintenance;
namespace p = vq::platform;
using vqtest::readFile;
using vqtest::writeFile;

// A folder as users keep one: mixed case, a hidden list, a GB2312 line, a
// sub-folder whose name ends in .txt, a file that is no list.
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
        const std::string got = readFile(output);
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
    merger.progress = [&](int64_t n) { seen.push_back(n); };
    for (int run = 0; run < 2; ++run) { // a second merge gives the same, counted from 0
        seen.clear();
        EXPECT_EQ(merger.run(dir.path(), elsewhere.file("out.txt")), 7);
        expectMerged(elsewhere.file("out.txt"));
        ASSERT_FALSE(seen.empty());
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
        EXPECT_EQ(seen.back(), 7);
    }
}

// The output is one of the folder's lists however the names reach it; it is
// skipped before anything is read, and the other lists are all merged.
TEST_F(FolderOfLists, TheOutputInsideIsSkippedHoweverSpelled) {
    namespace fs = std::filesystem;
    fs::create_directory_symlink(dir.path(), elsewhere.file("linked"));
    const struct {
        std::string folder, output;
        std::string made; // a further name of the output, "" for none
    } cases[] = {
        {dir.path(), dir.file("all.txt"), ""},
        {dir.path(), dir.file("ALL.TXT"), ""},
        {dir.path() + "/", dir.file("all.txt"), ""}, // as the root folder ends
        {dir.path(), dir.path() + "/./all.txt", ""},
        {dir.path(), dir.file("sub.txt/../all.txt"), ""},
        {dir.path(), elsewhere.file("linked/all.txt"), ""},
        {elsewhere.file("linked"), dir.file("all.txt"), ""},
        {dir.path(), elsewhere.file("hard.txt"), dir.file("all.txt")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder + " " + c.output);
        writeFile(c.output, "OLD\r\n");
        if (!c.made.empty()) fs::create_hard_link(c.output, c.made);
        m::FolderMerger merger;
        EXPECT_EQ(merger.run(c.folder, c.output), 7);
        expectMerged(c.output);
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().starts_with("all") ||
                e.path().filename().string().starts_with("ALL"))
                fs::remove(e.path());
        fs::remove(elsewhere.file("hard.txt"));
    }
}

TEST(FolderMerge, AnInputThatCannotBeOpenedKeepsWhatWasMergedBeforeIt) {
    vqtest::TempDir dir, elsewhere;
    writeFile(dir.file("a.txt"), "A1\r\nA2\r\n");
    writeFile(dir.file("b.txt"), "B1\r\n");
    const std::string out = elsewhere.file("out.txt");
    // The second list opened is refused, whichever the search returns second.
    int opened = 0;
    vq::listio::faults::setHook([&](vq::listio::faults::Op op, const std::string& path) {
        return op == vq::listio::faults::Op::Open && path != out && ++opened == 2 ? EACCES : 0;
    });
    m::FolderMerger merger;
    EXPECT_THROW(merger.run(dir.path(), out), vq::EInOutError);
    vq::listio::faults::setHook({});
    const std::string merged = readFile(out);
    EXPECT_TRUE(merger.lines() == 2 ? merged == "a1\r\na2\r\n" : merged == "b1\r\n") << merged;
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
        got = all.substr(from);
        vq::listio::lowerAscii(got.data(), got.size(), got.data());
        EXPECT_EQ(got, expected.substr(from)) << from;
    }
}

TEST(FolderSearch, MatchesPatternsWithoutRegardToAsciiCase) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"*.txt", "A.TXT", true}, {"*.txt", ".txt", true},   {"*.txt", "a.txt.bak", false},
        {"a?c", "abc", true},     {"a?c", "ac", false},      {"*a*b", "xaxxb", true},
        {"*a*b", "xaxb0", false}, {"\xC4*", "\xE4x", false}, // only ASCII letters fold
    };
    for (const auto& [pattern, name, match] : cases)
        EXPECT_EQ(p::matchesPattern(pattern, name), match) << pattern << " " << name;
}

TEST(FolderMergeCommand, KnowsItsOutputHoweverTheNamesAreSpelled) {
    vqtest::TempDir dir, capture;
    writeFile(dir.file("a.txt"), "A\r\nB\r\n");
    const std::pair<std::string, std::string> spellings[] = {
        {".", "out.txt"},
        {dir.path() + "/", dir.file("out.txt")},
        {dir.path(), "./out.txt"},
        {"./", dir.path() + "//out.txt"},
    };
    for (const auto& [folder, output] : spellings) {
        writeFile(dir.file("out.txt"), "OLD\r\n");
        std::string cmd = "cd '" + dir.path() + "' && '" VQ_CLI_PATH "' merge-folder '" + folder +
                          "' '" + output + "' >'" + capture.file("o") + "' 2>&1";
        int rc = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << folder << " " << output;
        EXPECT_EQ(readFile(capture.file("o")), "2\n") << folder << " " << output;
        EXPECT_EQ(readFile(dir.file("out.txt")), "a\r\nb\r\n") << folder << " " << output;
    }
}

} // namespace
