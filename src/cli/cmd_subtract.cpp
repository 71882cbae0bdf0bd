#include "cli/cli.h"
#include "cli/run_files.h"
#include "filtering/subtract.h"

namespace {

int runSubtract(const std::vector<std::string>& args) {
    auto p = vq::cli::parseArgs(args, {}, {"-s", "--suppress"});
    if (!p.error.empty()) return vq::cli::usageError("subtract", p.error);
    std::vector<std::string> suppression;
    for (const auto& option : p.options)
        suppression.push_back(option.second);
    if (suppression.empty())
        return vq::cli::usageError("subtract", "expects at least one -s SUPPRESS");
    if (p.positional.size() != 3)
        return vq::cli::usageError("subtract", "expects IN, KEPT and REMOVED");

    std::vector<std::string> inputs{p.positional[0]};
    inputs.insert(inputs.end(), suppression.begin(), suppression.end());
    const auto files = vq::cli::startRun(inputs, {p.positional[1], p.positional[2]});
    const std::vector<std::string> suppressionFiles(files.inputs.begin() + 1, files.inputs.end());
    const auto counts = vq::filtering::subtractLists(files.inputs[0], suppressionFiles,
                                                     files.outputs[0], files.outputs[1]);
    vq::cli::finishRun();
    // The captions of the statistics row the window fills.
    vq::cli::printCount("过滤总数", counts.read);
    vq::cli::printCount("符合条件", counts.removed);
    vq::cli::printCount("剩余列表", counts.kept);
    vq::cli::printCount("无效列表", counts.invalid());
    return 0;
}

const vq::cli::Register reg({"subtract", "-s SUPPRESS [-s SUPPRESS]... IN KEPT REMOVED",
                             "write the valid addresses of IN that are on none of the SUPPRESS "
                             "lists (trimmed, capitals as small letters) to KEPT, the others to "
                             "REMOVED, each as it stands in IN",
                             26, runSubtract});

} // namespace
