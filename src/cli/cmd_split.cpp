#include "cli/cli.h"
#include "cli/run_files.h"
#include "listio/listio.h"
#include "maintenance/split.h"

namespace {

int runSplit(const std::vector<std::string>& args) {
    namespace m = vq::maintenance;
    auto p = vq::cli::parseArgs(args, {}, {"--size", "--base"});
    if (!p.error.empty()) return vq::cli::usageError("split", p.error);
    if (p.positional.size() != 1) return vq::cli::usageError("split", "expects one input list");
    std::string sizeText(m::kDefaultSplitSize), base(m::kDefaultSplitBase);
    for (const auto& [name, value] : p.options) {
        if (name == "--size") sizeText = value;
        if (name == "--base") base = value;
    }
    const std::string input = vq::cli::startRun({p.positional[0]}, {}).inputs[0];
    // Same order as the window: the count shows before the size is read.
    const int64_t lineCount = vq::listio::countLines(input);
    vq::cli::printCount("地址总数", lineCount);
    const int32_t size = m::splitSizeFromText(sizeText);
    // The files it will write, 1 when the list is empty.
    vq::cli::addNumberedOutputs(base, lineCount == 0 ? 1 : (lineCount - 1) / size + 1);
    // A relative base name is taken from the shell's current directory.
    const int64_t files = m::splitFile(input, lineCount, size, base);
    vq::cli::printCount("列表分割", files);
    vq::cli::printMessage("邮件列表分割成功!");
    return 0;
}

const vq::cli::Register reg({"split", "IN [--size TEXT] [--base NAME]",
                             "cut IN into BASE1.txt, BASE2.txt, ... of SIZE lines each "
                             "(defaults 1000 and qx@mail)",
                             30, runSplit});

} // namespace
