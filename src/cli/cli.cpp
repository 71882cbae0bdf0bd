#include "cli/cli.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace vq::cli {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> all;
    return all;
}
} // namespace

Register::Register(const Command& c) {
    auto& all = registry();
    all.push_back(c);
    std::sort(all.begin(), all.end(),
              [](const Command& x, const Command& y) { return x.order < y.order; });
}

const std::vector<Command>& commands() { return registry(); }

const Command* find(std::string_view name) {
    for (const auto& c : registry())
        if (c.name == name) return &c;
    return nullptr;
}

int usageError(std::string_view command, std::string_view problem) {
    if (!problem.empty()) std::cerr << "veskoqindra-cli " << command << ": " << problem << "\n";
    if (const Command* c = find(command))
        std::cerr << "usage: veskoqindra-cli " << c->name << " " << c->usage << "\n";
    std::cerr << "Try 'veskoqindra-cli --help'.\n";
    return 2;
}

void printCount(std::string_view caption, int64_t value) {
    std::cout << caption << '\t' << value << '\n';
}

void printMessage(std::string_view text) { std::cout << text << '\n'; }

ParsedArgs parseArgs(const std::vector<std::string>& args,
                     const std::vector<std::string_view>& flags,
                     const std::vector<std::string_view>& withValue) {
    ParsedArgs r;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            r.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = a, value;
        bool inlineValue = false;
        if (auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            inlineValue = true;
        }
        if (std::find(withValue.begin(), withValue.end(), name) != withValue.end()) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) {
                    r.error = "option " + name + " needs a value";
                    return r;
                }
                value = args[++i];
            }
            r.options.emplace_back(name, value);
        } else if (!inlineValue &&
                   std::find(flags.begin(), flags.end(), name) != flags.end()) {
            r.options.emplace_back(name, std::string());
        } else {
            r.error = "unknown option " + a;
            return r;
        }
    }
    return r;
}

} // namespace vq::cli
