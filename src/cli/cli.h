#pragma once
// veskoqindra-cli: each command registers itself from its own file.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vq::cli {

struct Command {
    std::string_view name;
    std::string_view usage;   // arguments, e.g. "A B OUT"
    std::string_view summary; // one line for --help
    int order;                // position in --help
    // Returns the exit status. Wrong usage: return usageError(...).
    int (*run)(const std::vector<std::string>& args);
};

struct Register {
    explicit Register(const Command& c);
};

const std::vector<Command>& commands();
const Command* find(std::string_view name);

inline constexpr std::string_view kTryHelp = "Try 'veskoqindra-cli --help' for more information.\n";

// Prints the problem and the command's usage on stderr; returns 2.
int usageError(std::string_view command, std::string_view problem = {});
// "caption<TAB>value", as the statistics panel would show it, and the
// closing message: on stdout, or on stderr when stdout is an output.
void printCount(std::string_view caption, int64_t value);
void printMessage(std::string_view text);
// A line of the program's own on stderr: "veskoqindra-cli: text".
void printNote(std::string_view text);

// Text for stdout, kept until flushStdout() writes it.
void writeStdout(std::string_view text);
// Writes what is kept; returns 0 or the errno of the failed write.
int flushStdout();
// `text` (English) cut at spaces into lines of at most `width` columns,
// each after `indent` spaces.
std::string wrapText(std::string_view text, std::size_t indent, std::size_t width = 80);

// Splits args into options and positional arguments. Options take the next
// argument as value when listed in withValue ("--size"); "--" ends options,
// so file names that start with a dash can be given after it.
struct ParsedArgs {
    std::vector<std::pair<std::string, std::string>> options; // name, value ("" for flags)
    std::vector<std::string> positional;
    std::string error; // set when an unknown option or a missing value is found
};
ParsedArgs parseArgs(const std::vector<std::string>& args,
                     const std::vector<std::string_view>& flags,
                     const std::vector<std::string_view>& withValue);

} // namespace vq::cli
