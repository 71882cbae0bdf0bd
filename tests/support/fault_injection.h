#pragma once
// Injected I/O faults for tests: counts every system call the list-file
// modes make (through the hook of listio/fault_seam.h) and fails the k-th one of a
// chosen kind with a chosen errno, or lets the kernel cut writes short at
// a file size. Inert until an Injector exists; test builds only.
#include "listio/fault_seam.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace vq::listio::faults {

const char* opName(Op op);

// One call seen by the injector.
struct Call {
    Op op;
    std::string path;
    // How many times this path had been opened before this call: 1 for the
    // calls of a path's first opening, 2 for its second, ...
    int opening;
    bool failed = false; // this is the call the injector failed
};

class Injector {
public:
    Injector();  // installs the hook; counts only until armed
    ~Injector(); // removes the hook and any size limit
    Injector(const Injector&) = delete;
    Injector& operator=(const Injector&) = delete;

    // Fails the n-th call (from 1) of this kind, counted from now, with err.
    void failNth(Op op, int n, int err);
    // Lets writes reach at most `bytes` bytes into any file: the write that
    // crosses the limit is short, the next one fails with EFBIG, as on a
    // disk that fills up mid-write. The whole process is affected.
    void limitFileSize(std::uint64_t bytes);
    // Back to the limit the process had.
    void liftLimit();

    // Calls seen since construction or the last reset, in order.
    std::vector<Call> calls() const;
    int count(Op op) const;
    // The call that was failed, if any.
    std::optional<Call> fired() const;
    // Forgets calls and disarms; the hook stays.
    void reset();

private:
    int onCall(Op op, const std::string& path);
    int countLocked(Op op) const;

    mutable std::mutex mutex_; // the list check calls from its worker thread
    std::vector<Call> calls_;
    std::optional<Op> armedOp_;
    int armedN_ = 0, armedErr_ = 0;
    std::optional<Call> fired_;
    bool limited_ = false;
    rlimit savedLimit_{};
    void (*savedSignal_)(int) = nullptr;
};

} // namespace vq::listio::faults
