#include "cli/cli.h"
#include "cli/run_files.h"
#include "maintenance/merge.h"

namespace {

int runMerge(const std::vector<std::string>& args) {
    auto p = vq::cli::parseArgs(args, {}, {});
    if (!p.error.empty()) return vq::cli::usageError("merge", p.error);
    if (p.positional.size() != 3) return vq::cli::usageError("merge", "expects A, B and OUT");
    const auto files = vq::cli::startRun({p.positional[0], p.positional[1]}, {p.positional[2]});
    vq::maintenance::mergeFiles(files.inputs[0], files.inputs[1], files.outputs[0]);
    vq::cli::finishRun();
    vq::cli::printMessage("邮件列表合并成功!");
    return 0;
}

const vq::cli::Register reg({"merge", "A B OUT",
                             "write every line of A, then every line of B, into OUT", 10,
                             runMerge});

} // namespace
