#pragma once
// Manual merge: every line of A, then every line of B, copied unchanged into
// the output, each followed by CR LF.
#include "listio/listio.h"

#include <string>

namespace vq::maintenance {

// The merge once A and B are open: the output is created only now, so an
// output that is A or B is refused with 32 before anything is written to
// it. The output, B and A are closed in that order, and a failure to close
// any of them is the merge's failure.
void mergeFiles(listio::TextReader& a, listio::TextReader& b, const std::string& out);
// The same, opening A and then B first.
void mergeFiles(const std::string& a, const std::string& b, const std::string& out);

} // namespace vq::maintenance
