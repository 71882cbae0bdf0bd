#include "cli/cli.h"
#include "cli/run_files.h"
#include "filtering/domain_count.h"
#include "listio/errors.h"
#include "listio/listio.h"

#include <charconv>

namespace {

int runDomains(const std::vector<std::string>& args) {
    auto p = vq::cli::parseArgs(args, {}, {"--top"});
    if (!p.error.empty()) return vq::cli::usageError("domains", p.error);
    std::size_t top = SIZE_MAX;
    for (const auto& [name, value] : p.options) {
        const char* end = value.data() + value.size();
        std::size_t n = 0;
        const auto [at, ec] = std::from_chars(value.data(), end, n);
        if (ec != std::errc() || at != end || n == 0)
            return vq::cli::usageError("domains", "--top expects a whole number above 0");
        top = n;
    }
    if (p.positional.empty() || p.positional.size() > 2)
        return vq::cli::usageError("domains", "expects IN and, optionally, OUT");
    // Without OUT the table goes to standard output.
    const std::string out = p.positional.size() == 2 ? p.positional[1] : "-";
    const auto files = vq::cli::startRun({p.positional[0]}, {out});

    // The list is read to its end before the table is written: a table
    // written over the list would empty it.
    const auto in = vq::listio::identityOf(files.inputs[0]);
    if (in && in == vq::listio::identityOf(files.outputs[0]))
        throw vq::EInOutError(vq::iocode::SharingViolation, files.outputs[0]);
    const auto counts = vq::filtering::countDomains(files.inputs[0]);
    vq::listio::TextWriter writer(files.outputs[0]);
    std::string line;
    for (std::size_t i = 0; i < counts.rows.size() && i < top; ++i) {
        line = std::to_string(counts.rows[i].count);
        line += '\t';
        line += counts.rows[i].domain;
        writer.writeLine(line);
    }
    writer.close();
    vq::cli::finishRun();
    vq::cli::printCount("地址总数", counts.read);
    vq::cli::printCount("有效地址", counts.valid);
    vq::cli::printCount("无效列表", counts.invalid());
    vq::cli::printCount("域名数量", static_cast<int64_t>(counts.rows.size()));
    return 0;
}

const vq::cli::Register reg({"domains", "[--top N] IN [OUT]",
                             "count the valid addresses of IN by domain (the bytes after the last "
                             "'@', lower-cased) and write 'count<TAB>domain' lines, the largest "
                             "count first, to OUT or standard output; --top keeps the first N",
                             27, runDomains});

} // namespace
