// veskoqindra-cli: the program's commands from a shell, on the same cores and
// with the same files, byte for byte.
#include "cli/cli.h"
#include "listio/errors.h"

#include <csignal>
#include <iostream>
#include <new>

namespace {

void printHelp(std::ostream& out) {
    out << "veskoqindra-cli - VeskoQindra V3.4 mailing-list commands\n\n"
           "usage: veskoqindra-cli COMMAND ARGS...\n\n"
           "commands:\n";
    for (const auto& c : vq::cli::commands()) {
        out << "  " << c.name << " " << c.usage << "\n      " << c.summary << "\n";
    }
    out << "\nA failure prints its message on stderr and exits 1; wrong usage exits 2.\n"
           "Put '--' before file names that start with a dash.\n";
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    if (argc < 2) {
        printHelp(std::cerr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printHelp(std::cout);
        return 0;
    }
    const vq::cli::Command* cmd = vq::cli::find(name);
    if (!cmd) {
        std::cerr << "veskoqindra-cli: unknown command '" << name << "'\n";
        printHelp(std::cerr);
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& a : args) {
        // After "--" even "--help" is a file name.
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            std::cout << "usage: veskoqindra-cli " << cmd->name << " " << cmd->usage << "\n"
                      << cmd->summary << "\n";
            return 0;
        }
    }
    try {
        int rc = cmd->run(args);
        std::cout.flush();
        return rc;
    } catch (const vq::Exception& e) {
        std::cout.flush();
        std::cerr << vq::withFullStop(e.message()) << "\n";
        return 1;
    } catch (const std::bad_alloc&) {
        std::cout.flush();
        std::cerr << "Out of memory.\n";
        return 1;
    } catch (const std::exception& e) {
        // Anything else a command lets through still ends as a message and
        // status 1, never as an abort with a core dump.
        std::cout.flush();
        std::cerr << vq::withFullStop(e.what()) << "\n";
        return 1;
    }
}
