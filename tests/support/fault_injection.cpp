#include "support/fault_injection.h"

#include <algorithm>
#include <csignal>

namespace vq::listio::faults {

const char* opName(Op op) {
    switch (op) {
    case Op::Open:
        return "open";
    case Op::Read:
        return "read";
    case Op::Write:
        return "write";
    case Op::Sync:
        return "sync";
    case Op::Close:
        return "close";
    case Op::Rename:
        return "rename";
    }
    return "?";
}

Injector::Injector() {
    setHook([this](Op op, const std::string& path) { return onCall(op, path); });
}

Injector::~Injector() {
    setHook({});
    liftLimit();
}

int Injector::onCall(Op op, const std::string& path) {
    std::lock_guard lock(mutex_);
    int opening = 0;
    for (const Call& c : calls_)
        if (c.op == Op::Open && c.path == path) ++opening;
    if (op == Op::Open) ++opening;
    calls_.push_back({op, path, opening});
    if (armedOp_ && *armedOp_ == op && countLocked(op) == armedN_ && !fired_) {
        calls_.back().failed = true;
        fired_ = calls_.back();
        return armedErr_;
    }
    return 0;
}

void Injector::failNth(Op op, int n, int err) {
    std::lock_guard lock(mutex_);
    calls_.clear();
    fired_.reset();
    armedOp_ = op;
    armedN_ = n;
    armedErr_ = err;
}

void Injector::limitFileSize(std::uint64_t bytes) {
    if (!limited_) {
        getrlimit(RLIMIT_FSIZE, &savedLimit_);
        // Past the limit the kernel sends SIGXFSZ, which would end the
        // process; ignored, the write fails with EFBIG instead.
        savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        limited_ = true;
    }
    rlimit lim = savedLimit_;
    lim.rlim_cur = std::min<rlim_t>(static_cast<rlim_t>(bytes), savedLimit_.rlim_max);
    setrlimit(RLIMIT_FSIZE, &lim);
}

void Injector::liftLimit() {
    if (!limited_) return;
    setrlimit(RLIMIT_FSIZE, &savedLimit_);
    std::signal(SIGXFSZ, savedSignal_);
    limited_ = false;
}

std::vector<Call> Injector::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int Injector::count(Op op) const {
    std::lock_guard lock(mutex_);
    return countLocked(op);
}

int Injector::countLocked(Op op) const {
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(), [op](const Call& c) { return c.op == op; }));
}

std::optional<Call> Injector::fired() const {
    std::lock_guard lock(mutex_);
    return fired_;
}

void Injector::reset() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    fired_.reset();
    armedOp_.reset();
    liftLimit();
}

} // namespace vq::listio::faults
