#include "cli/cli.h"
#include "cli/run_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <unistd.h>

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

const std::vector<Command>& commands() {
    return registry();
}

const Command* find(std::string_view name) {
    for (const auto& c : registry())
        if (c.name == name) return &c;
    return nullptr;
}

int usageError(std::string_view command, std::string_view problem) {
    std::string text;
    if (!problem.empty())
        text += "veskoqindra-cli: " + std::string(command) + ": " + std::string(problem) + "\n";
    if (const Command* c = find(command))
        text +=
            "usage: veskoqindra-cli " + std::string(c->name) + " " + std::string(c->usage) + "\n";
    text += kTryHelp;
    std::cerr << text;
    return 2;
}

namespace {
std::string& stdoutText() {
    static std::string text;
    return text;
}

void report(std::string text) {
    if (stdoutIsAnOutput())
        std::cerr << text;
    else
        stdoutText() += text;
}
} // namespace

void printCount(std::string_view caption, int64_t value) {
    report(std::string(caption) + '\t' + std::to_string(value) + '\n');
}

void printMessage(std::string_view text) {
    report(std::string(text) + '\n');
}

void printNote(std::string_view text) {
    std::cerr << "veskoqindra-cli: " << text << '\n';
}

void writeStdout(std::string_view text) {
    stdoutText() += text;
}

int flushStdout() {
    std::string& text = stdoutText();
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            text.clear();
            return err;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    text.clear();
    return 0;
}

std::string wrapText(std::string_view text, std::size_t indent, std::size_t width) {
    std::string out, line;
    std::size_t columns = 0;
    auto flush = [&] {
        out += std::string(indent, ' ') + line + "\n";
        line.clear();
        columns = 0;
    };
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find(' ', from);
        if (to == std::string_view::npos) to = text.size();
        const std::string_view word = text.substr(from, to - from);
        const std::size_t wordColumns = word.size();
        if (columns > 0 && indent + columns + 1 + wordColumns > width) flush();
        if (columns > 0) {
            line += ' ';
            ++columns;
        }
        line += word;
        columns += wordColumns;
        from = to + 1;
    }
    if (columns > 0) flush();
    return out;
}

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
        } else if (!inlineValue && std::find(flags.begin(), flags.end(), name) != flags.end()) {
            r.options.emplace_back(name, std::string());
        } else {
            r.error = "unknown option " + a;
            return r;
        }
    }
    return r;
}

} // namespace vq::cli
