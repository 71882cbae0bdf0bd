#pragma once
// Manual merge: every line of A, then every line of B, copied unchanged into
// the output, each followed by CR LF.
#include "listio/listio.h"

#include <cstdint>
#include <string>

namespace vq::maintenance {

// Copies the reader's remaining lines to the writer; returns how many.
int64_t copyLines(listio::TextReader& in, listio::TextWriter& out);

// The whole merge with the files opened in the window's order: A, B, then
// the output is created (so an output that is A or B is refused with 32).
void mergeFiles(const std::string& a, const std::string& b, const std::string& out);

} // namespace vq::maintenance
