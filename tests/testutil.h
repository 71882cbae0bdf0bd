#pragma once
// Small helpers shared by the tests: a temporary folder that cleans itself
// up, and whole-file reads and writes that bypass the code under test.
#include "listio/listio.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace vqtest {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vqtest-XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The lines of a list as the program's own reader yields them.
inline std::vector<std::string> linesOf(const std::string& file) {
    vq::listio::TextReader r(file);
    std::vector<std::string> lines;
    while (!r.atEnd())
        lines.emplace_back(r.readLine());
    r.close();
    return lines;
}

inline bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// The full name, exactly `length` bytes long, of `name` in a chain of
// folders under `root`, which are created: a name just short enough to open,
// to which nothing may be added.
inline std::string longFileName(const std::string& root, std::size_t length,
                                const std::string& name = "list.txt") {
    std::string path = root;
    for (std::size_t room; (room = length - name.size() - 1 - path.size()) > 0;) {
        path += "/" + std::string(room > 202 ? 200 : room - 1, 'd');
        std::filesystem::create_directory(path);
    }
    return path + "/" + name;
}

// Written lines end in LF alone while this lives, as with the command
// line's --lf.
class LfLineEnds {
public:
    explicit LfLineEnds(bool lf = true) { vq::listio::setWrittenLineEnd(lf); }
    ~LfLineEnds() { vq::listio::setWrittenLineEnd(false); }
    LfLineEnds(const LfLineEnds&) = delete;
    LfLineEnds& operator=(const LfLineEnds&) = delete;
};

// Every line followed by `eol`.
inline std::string joinLines(const std::vector<std::string>& lines,
                             const std::string& eol = "\r\n") {
    std::string out;
    for (const auto& l : lines)
        out += l + eol;
    return out;
}

// The same list written on Linux: every CR LF turned into LF.
inline std::string writtenOnLinux(const std::string& text) {
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
    return lf;
}

// A list with repeats, capitals, padding, an empty line and invalid lines,
// and a second one, for running every command on both kinds of list.
inline const std::string kMixedList =
    "A@B.CN\r\nx@y.com\r\n  pad@z.cn \r\n\r\nbad\r\nx@y.com\r\nq@w.cn.com\r\nlast@x.cn";
inline const std::string kOtherList = "o@p.cn\r\nO@P.COM\r\n";

// The files every command is run on, of one kind: in.txt, b.txt,
// folder/in.txt, add.txt and the suppression list unsub.txt.
inline void writeCommandLists(const TempDir& dir, bool linuxList) {
    auto kind = [&](const std::string& text) { return linuxList ? writtenOnLinux(text) : text; };
    std::filesystem::create_directory(dir.file("folder"));
    writeFile(dir.file("in.txt"), kind(kMixedList));
    writeFile(dir.file("b.txt"), kind(kOtherList));
    writeFile(dir.file("folder/in.txt"), kind(kMixedList));
    writeFile(dir.file("add.txt"), kind(kOtherList));
    writeFile(dir.file("unsub.txt"), kind("X@Y.COM\r\n  last@x.cn\r\n"));
}

// Restores the process's current folder, which dialogs change on purpose.
class KeepCurrentFolder {
public:
    KeepCurrentFolder() : saved_(std::filesystem::current_path()) {}
    ~KeepCurrentFolder() {
        std::error_code ec;
        std::filesystem::current_path(saved_, ec);
    }

private:
    std::filesystem::path saved_;
};

} // namespace vqtest
