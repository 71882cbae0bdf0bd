// veskoqindra-cli: the program's commands from a shell, on the same cores and
// with the same files, byte for byte.
#include "cli/cli.h"
#include "cli/run_files.h"
#include "listio/errors.h"
#include "listio/listio.h"

#include <cstring>
#include <iostream>
#include <unistd.h>

namespace {

constexpr std::string_view kShortUsage = "usage: veskoqindra-cli COMMAND ARGS...\n";

std::string help() {
    std::string text = std::string(kShortUsage) +
                       "VeskoQindra V3.4 mailing-list commands, on the same files as the "
                       "program.\n\nCommands:\n";
    for (const auto& c : vq::cli::commands()) {
        text += vq::cli::wrapText(std::string(c.name) + " " + std::string(c.usage), 2);
        text += vq::cli::wrapText(c.summary, 6);
    }
    text += "\n";
    text += vq::cli::wrapText(
        "A FILE of '-' is standard input or, for one output of a run, standard output; "
        "'./-' names a file called '-'. Standard input that is not a file is first copied "
        "to a temporary file in $TMPDIR (or /tmp), as every command reads its input as a "
        "file. When an output is standard output, the counts and messages go to standard "
        "error. Put '--' before file names that start with a dash.",
        0);
    text += "\n";
    text += vq::cli::wrapText(
        "Exit status: 0 done; 1 failed, with the message on standard error; 2 wrong "
        "usage; 130 (SIGINT) or 143 (SIGTERM) stopped, after removing the outputs the "
        "run had created or emptied. 'check' takes SIGINT and SIGTERM as its stop "
        "button and then writes nothing.",
        0);
    text += "\n";
    text += vq::cli::wrapText(
        "Lists are read line by line whatever their line ends: a list whose first line end "
        "is a lone LF (written on Linux) ends its lines at LF, CR LF or CR; any other ends "
        "them at CR or CR LF, and an LF inside a line is kept as data. Every written line "
        "ends in CR LF, as the program writes it, unless --lf is given.",
        0);
    text += "\n  --lf       end the lines this run writes in LF alone (before or after COMMAND)\n"
            "  --help     show this help; 'COMMAND --help' shows one command\n"
            "  --version  show the version\n";
    return text;
}

// Every way out after a command has run passes here: what is kept for
// stdout is written first, then the failure's line, if any; a failure to
// write stdout is an error of the run.
int finish(int status, const std::string& failure = {}) {
    int err = vq::cli::flushStdout();
    if (err == 0 && ::close(STDOUT_FILENO) != 0 && errno != EBADF) err = errno;
    if (!failure.empty()) {
        std::cerr << failure << "\n";
        status = 1;
    }
    if (err != 0) {
        vq::cli::printNote(std::string("write error: ") + std::strerror(err));
        return status == 0 ? 1 : status;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (argc < 2) {
        std::cerr << kShortUsage << vq::cli::kTryHelp;
        return 2;
    }
    // --lf applies to the whole run, before the command's name or among its
    // options; after "--" it is a file name.
    int first = 1;
    if (std::string_view(argv[1]) == "--lf") {
        vq::listio::setWrittenLineEnd(true);
        if (argc < 3) {
            std::cerr << kShortUsage << vq::cli::kTryHelp;
            return 2;
        }
        first = 2;
    }
    std::string name = argv[first];
    if (name == "--help" || name == "-h" || name == "help") {
        vq::cli::writeStdout(help());
        return finish(0);
    }
    if (name == "--version") {
        vq::cli::writeStdout("veskoqindra-cli (VeskoQindra V3.4)\n");
        return finish(0);
    }
    const vq::cli::Command* cmd = vq::cli::find(name);
    if (!cmd) {
        std::cerr << "veskoqindra-cli: "
                  << (name.rfind('-', 0) == 0 ? "unknown option '" : "unknown command '") << name
                  << "'\n"
                  << kShortUsage << vq::cli::kTryHelp;
        return 2;
    }
    std::vector<std::string> args;
    for (int i = first + 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--") {
            args.insert(args.end(), argv + i, argv + argc);
            break;
        }
        if (a == "--lf")
            vq::listio::setWrittenLineEnd(true);
        else
            args.emplace_back(a);
    }
    for (const auto& a : args) {
        // After "--" even "--help" is a file name.
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            vq::cli::writeStdout(vq::cli::wrapText("usage: veskoqindra-cli " +
                                                       std::string(cmd->name) + " " +
                                                       std::string(cmd->usage),
                                                   0) +
                                 vq::cli::wrapText(cmd->summary, 0));
            return finish(0);
        }
    }
    try {
        int rc = cmd->run(args);
        if (rc == 0) vq::cli::finishRun();
        return finish(rc);
    } catch (const vq::cli::UsageError& e) {
        return vq::cli::usageError(cmd->name, e.what());
    } catch (...) {
        // Anything a command lets through ends as a message and status 1,
        // never as an abort with a core dump.
        return finish(1, vq::cli::errorLine(vq::currentFailure()));
    }
}
