#include "cli/cli.h"
#include "cli/run_files.h"
#include "listio/errors.h"
#include "maintenance/folder_merge.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

// The window compares the absolute names its folder list and save dialog
// give. From a shell, "merge-folder . all.txt" or "lists/ lists/all.txt"
// name the same files; spelled as typed, the output would not be known as
// one of the folder's lists and the merge would stop on it with I/O error
// 32. So both names are made absolute, without "." parts and without
// repeated or trailing separators, which names the same file or folder.
// ".." stays: after a link it is not the lexical parent.
std::string plainAbsolute(const std::string& name) {
    std::string path = name;
    if (path.empty() || path[0] != '/') {
        std::error_code ec;
        const std::filesystem::path cwd = std::filesystem::current_path(ec);
        if (ec) return name;
        path = cwd.string() + "/" + path;
    }
    std::string plain;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t to = path.find('/', from);
        if (to == std::string::npos) to = path.size();
        std::string_view part(path.data() + from, to - from);
        if (!part.empty() && part != ".") {
            plain += '/';
            plain += part;
        }
        from = to + 1;
    }
    return plain.empty() ? "/" : plain;
}

int runMergeFolder(const std::vector<std::string>& args) {
    auto p = vq::cli::parseArgs(args, {}, {});
    if (!p.error.empty()) return vq::cli::usageError("merge-folder", p.error);
    if (p.positional.size() != 2)
        return vq::cli::usageError("merge-folder", "expects a folder and an output list");
    const std::string& folder = p.positional[0];
    if (folder.empty()) return vq::cli::usageError("merge-folder", "the folder name is empty");
    if (folder == "-") return vq::cli::usageError("merge-folder", "DIR cannot be '-'");
    // The window merges the folder its list shows, which is there; typed in
    // a shell, a missing or unreadable folder would pass for one without
    // lists, with an empty OUT and status 0.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) {
            vq::cli::printNote(folder + ": not a folder");
            return 1;
        }
        throw vq::EInOutError(vq::codeFromErrno(err, folder), folder);
    }
    ::close(dir);
    std::string output = vq::cli::startRun({}, {p.positional[1]}).outputs[0];
    // "out.txt/" and "out.txt/." name no file; made plain, they would.
    const std::string last = output.substr(output.rfind('/') + 1);
    if (!last.empty() && last != ".") {
        const std::string given = output;
        output = plainAbsolute(output);
        vq::cli::addAlias(output, given);
    }
    vq::maintenance::FolderMerger merger;
    const int64_t lines = merger.run(plainAbsolute(folder), output);
    vq::cli::finishRun();
    vq::cli::printMessage(std::to_string(lines));
    return 0;
}

const vq::cli::Register reg({"merge-folder", "DIR OUT",
                             "write every *.txt list of DIR, lower-cased, into OUT; "
                             "prints the number of lines",
                             20, runMergeFolder});

} // namespace
