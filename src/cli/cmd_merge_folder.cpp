#include "cli/cli.h"
#include "maintenance/folder_merge.h"

#include <string>

namespace {

int runMergeFolder(const std::vector<std::string>& args) {
    auto p = vq::cli::parseArgs(args, {}, {});
    if (!p.error.empty()) return vq::cli::usageError("merge-folder", p.error);
    if (p.positional.size() != 2)
        return vq::cli::usageError("merge-folder", "expects a folder and an output list");
    std::string folder = p.positional[0];
    // A folder typed with a trailing slash names the same folder; without
    // trimming, "lists/" would give "lists//out.txt", which never equals
    // "lists/out.txt", and the output would not be kept out of its own input.
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty()) return vq::cli::usageError("merge-folder", "the folder name is empty");
    vq::maintenance::FolderMerger merger;
    vq::cli::printMessage(std::to_string(merger.run(folder, p.positional[1])));
    return 0;
}

const vq::cli::Register reg({"merge-folder", "DIR OUT",
                             "write every *.txt list of DIR, lower-cased, into OUT; "
                             "prints the number of lines",
                             20, runMergeFolder});

} // namespace
