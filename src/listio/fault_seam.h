#pragma once
// The seam through which the test suite fails the list-file modes' system
// calls on purpose. Only the test programs' copy of the access modes is
// compiled with VQ_FAULT_INJECTION; the programs themselves carry no hook at all.
#ifdef VQ_FAULT_INJECTION
#include <functional>
#include <string>

namespace vq::listio::faults {

enum class Op { Open, Read, Write, Sync, Close, Rename };
// Consulted before each system call: a nonzero return is taken as the errno
// of that call, which is then not made. `path` is the file the call works on
// (for the saver's temporary file, its own name).
using Hook = std::function<int(Op op, const std::string& path)>;
void setHook(Hook hook); // an empty hook removes it
int injected(Op op, const std::string& path);

} // namespace vq::listio::faults

#define VQ_INJECTED(op, path) ::vq::listio::faults::injected(::vq::listio::faults::Op::op, path)
#else
#define VQ_INJECTED(op, path) 0
#endif
