#include "cli/cli.h"
#include "cli/run_files.h"
#include "filtering/filter_pass.h"
#include "filtering/parameter_list.h"
#include "listio/byte_rules.h"

#include <algorithm>
#include <optional>

namespace {

using vq::filtering::Rule;

// Only the lines are lower-cased, so a capital in a row finds no line; a
// capital that trails a double-byte character is part of that character,
// as it is in the lines.
bool holdsCapital(const std::string& row) {
    std::string lowered(row.size(), '\0');
    vq::listio::lowerOutsideDoubleBytes(row.data(), row.size(), lowered.data());
    return lowered != row;
}

// Rows the filter takes as they stand, though they cannot be what was
// meant: said on stderr, the run itself is the window's.
void warnAboutRows(const std::vector<std::string>& rows) {
    for (const auto& row : rows)
        if (holdsCapital(row))
            vq::cli::printNote("warning: parameter '" + row +
                               "' never matches: lines are compared lower-cased");
    if (std::all_of(rows.begin(), rows.end(), [](const std::string& r) { return r.empty(); }))
        vq::cli::printNote("warning: no non-empty parameter: no line matches");
}

int runFilter(const std::vector<std::string>& args) {
    auto p = vq::cli::parseArgs(args, {"--or", "--and"}, {"-p", "--params"});
    if (!p.error.empty()) return vq::cli::usageError("filter", p.error);

    std::optional<Rule> rule;
    std::vector<std::string> rows;
    std::vector<std::string> parameterFiles;
    for (const auto& [name, value] : p.options) {
        if (name == "--or" || name == "--and") {
            const Rule r = name == "--or" ? Rule::AnyRow : Rule::EveryRow;
            if (rule && *rule != r)
                return vq::cli::usageError("filter", "choose --or or --and, not both");
            rule = r;
        } else if (name == "-p") {
            rows.push_back(value); // as typed: no trimming, no lower-casing
        } else {
            parameterFiles.push_back(value);
        }
    }
    if (!rule) return vq::cli::usageError("filter", "choose --or or --and");
    if (p.positional.size() != 3)
        return vq::cli::usageError("filter", "expects IN, MATCH and REST");

    std::vector<std::string> inputs{p.positional[0]};
    inputs.insert(inputs.end(), parameterFiles.begin(), parameterFiles.end());
    const auto files = vq::cli::startRun(inputs, {p.positional[1], p.positional[2]});
    // The file's rows follow the typed ones, as an import would give them.
    for (std::size_t i = 1; i < files.inputs.size(); ++i) {
        const std::string& file = files.inputs[i];
        auto imported = vq::filtering::readParameterFile(file);
        rows.insert(rows.end(), std::make_move_iterator(imported.begin()),
                    std::make_move_iterator(imported.end()));
    }
    // No rows at all is the fresh list's single empty row.
    const auto counts =
        vq::filtering::filterList(files.inputs[0], files.outputs[0], files.outputs[1], *rule, rows);
    vq::cli::finishRun();
    // After the run, so that a failure is told by its error alone.
    warnAboutRows(rows);
    vq::cli::printCount("过滤总数", counts.read);
    vq::cli::printCount("符合条件", counts.matching);
    vq::cli::printCount("剩余列表", counts.rest);
    vq::cli::printCount("无效列表", counts.invalid());
    return 0;
}

const vq::cli::Register reg({"filter", "--or|--and [-p PARAM]... [--params FILE] IN MATCH REST",
                             "write the valid addresses of IN that contain any (--or) or every "
                             "(--and) parameter to MATCH, the other valid ones to REST",
                             25, runFilter});

} // namespace
