#include "listio/fault_seam.h"
#include "listio/listio.h"
#include "outcome.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

using namespace vq::listio;

namespace {

using Opener = std::function<void(const std::string&)>;

// The second opening of the matrix: it opens (and for the whole-file modes,
// finishes) while the first one still holds the file.
const std::map<std::string, Opener> kSecond = {
    {"reader", [](const std::string& p) { TextReader r(p); }},
    {"writer", [](const std::string& p) { TextWriter w(p); }},
    {"appender", [](const std::string& p) { TextAppender a(p); }},
    {"loader", [](const std::string& p) { loadLines(p); }},
    {"saver", [](const std::string& p) { saveText(p, "saved\r\n"); }},
};

std::shared_ptr<void> holdWith(const std::string& mode, const std::string& path) {
    if (mode == "reader") return std::make_shared<TextReader>(path);
    if (mode == "writer") return std::make_shared<TextWriter>(path);
    return std::make_shared<TextAppender>(path);
}

} // namespace

// Both openings are made by this one process: the sharing rule must hold
// between them as it does between two programs.
TEST(SharingRule, MatrixBetweenOpeningsInOneProcess) {
    vqtest::TempDir dir;
    const std::string path = dir.file("list.txt");
    const std::string create = "Cannot create file " + path;
    const std::string open = "Cannot open file " + path;
    const struct {
        const char* first;
        std::map<std::string, std::string> second;
    } rows[] = {
        {"reader",
         {{"reader", "ok"},
          {"writer", "io 32"},
          {"appender", "io 32"},
          {"loader", "ok"},
          {"saver", create}}},
        {"writer",
         {{"reader", "io 32"},
          {"writer", "io 32"},
          {"appender", "io 32"},
          {"loader", open},
          {"saver", create}}},
        {"appender",
         {{"reader", "io 32"},
          {"writer", "io 32"},
          {"appender", "io 32"},
          {"loader", open},
          {"saver", create}}},
    };
    for (const auto& row : rows) {
        for (const auto& [second, expected] : row.second) {
            vqtest::writeFile(path, "held\r\n");
            {
                auto holder = holdWith(row.first, path);
                EXPECT_EQ(vqtest::outcome([&] { kSecond.at(second)(path); }), expected)
                    << row.first << " then " << second;
            }
            if (std::string(row.first) == "reader" && expected != "ok") {
                EXPECT_EQ(vqtest::readFile(path), "held\r\n") << "refused " << second;
            }
        }
    }
}

// The loader and the saver hold their file only during the call; the seam
// lets the second opening happen in the middle of it.
TEST(SharingRule, WholeFileModesHoldTheFileWhileTheyWork) {
    vqtest::TempDir dir;
    const std::string path = dir.file("list.txt");
    vqtest::writeFile(path, "held\r\n");
    const struct {
        faults::Op during;
        std::function<void()> first;
        std::map<std::string, std::string> second;
    } rows[] = {
        {faults::Op::Read,
         [&] { loadLines(path); },
         {{"reader", "ok"}, {"loader", "ok"}, {"writer", "io 32"}, {"appender", "io 32"}}},
        {faults::Op::Write,
         [&] { saveText(path, "new\r\n"); },
         {{"reader", "io 32"}, {"loader", "Cannot open file " + path}, {"writer", "io 32"}}},
    };
    for (const auto& row : rows) {
        std::map<std::string, std::string> seen;
        bool inside = false;
        faults::setHook([&](faults::Op op, const std::string&) {
            if (op == row.during && !inside) {
                inside = true;
                for (const auto& [second, expected] : row.second)
                    if (!seen.count(second))
                        seen[second] = vqtest::outcome([&] { kSecond.at(second)(path); });
                inside = false;
            }
            return 0;
        });
        row.first();
        faults::setHook({});
        EXPECT_EQ(seen, row.second);
    }
}
