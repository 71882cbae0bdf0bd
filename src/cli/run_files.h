#pragma once
// How a command's files meet the shell: "-" for standard input and output,
// pipes as outputs, a signal that leaves no partial output behind, and the
// file an error is about.
//
// The cores read and write files by name, and their readers take regular
// files only. So "-" as an input is first copied ("spooled") into a file of
// a private temporary folder in $TMPDIR (or /tmp), and an output that is
// standard output or another pipe is written into a file there and copied to
// its pipe once the core is done. The folder goes at the end of the run.
#include "listio/errors.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vq::cli {

// Wrong use of "-": standard input twice, two outputs on standard output.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RunNames {
    std::vector<std::string> inputs, outputs; // the names to hand the cores
};

// Prepares a run: checks the "-" arguments (throws UsageError), spools
// standard input, and from here on SIGINT, SIGTERM, SIGHUP and SIGPIPE
// remove the outputs the run has created or emptied and end it (130, 143,
// 129; SIGPIPE ends it as SIGPIPE does). An output that is a FIFO nobody
// reads is handed on as it is, for the core to refuse.
RunNames startRun(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs);
// The numbered files base1.txt ... of a split, removed like the outputs.
void addNumberedOutputs(const std::string& base, int64_t count);
// Another name the core uses for a file the run knows as knownName (the
// name startRun gave for it), as an absolute one.
void addAlias(const std::string& coreName, const std::string& knownName);
// Copies the outputs kept for standard output or a pipe to it, before the
// command says it is done; a write failure throws EInOutError about that
// output.
void finishRun();
// The list check takes SIGINT and SIGTERM as its stop button while it runs;
// this puts the removing handlers back.
void catchRunSignals();

// True when an output of the run is standard output: the counts and
// messages then go to standard error.
bool stdoutIsAnOutput();
// True when the core's output `coreName` (a name startRun gave) is passed
// on to standard output ("-") or to a pipe: no older text stands under that
// name for a command that writes nothing to leave in place.
bool isRelayed(const std::string& coreName);

// "veskoqindra-cli: FILE: text." or, when the text names its file already,
// "veskoqindra-cli: text."; FILE as the user gave it.
std::string errorLine(const Failure& failure);

} // namespace vq::cli
