// The system calls of the list-file modes, and the test programs' fault seam.
#include "listio/file_access.h"

#include "listio/byte_rules.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"
#include "listio/listio.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace vq::listio {

namespace {

OpeningWatcher& watcherSlot() {
    static OpeningWatcher watcher;
    return watcher;
}

} // namespace

int sysOpen(const std::string& path, int flags, mode_t mode) {
    if (const OpeningWatcher& watch = watcherSlot()) watch(path);
    if (int e = VQ_INJECTED(Open, path)) {
        errno = e;
        return -1;
    }
    int fd;
    do
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t sysRead(int fd, [[maybe_unused]] const std::string& path, char* data, std::size_t size) {
    if (int e = VQ_INJECTED(Read, path)) {
        errno = e;
        return -1;
    }
    ssize_t n;
    do
        n = ::read(fd, data, size);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t sysPread(int fd, [[maybe_unused]] const std::string& path, char* data, std::size_t size,
                 off_t at) {
    if (int e = VQ_INJECTED(Read, path)) {
        errno = e;
        return -1;
    }
    ssize_t n;
    do
        n = ::pread(fd, data, size, at);
    while (n < 0 && errno == EINTR);
    return n;
}

int sysWriteAll(int fd, [[maybe_unused]] const std::string& path, const char* data,
                std::size_t size) {
    while (size > 0) {
        if (int e = VQ_INJECTED(Write, path)) return e;
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return ENOSPC;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int sysClose(int fd, [[maybe_unused]] const std::string& path) {
    int e = VQ_INJECTED(Close, path);
    if (::close(fd) != 0 && errno != EINTR && e == 0) e = errno;
    return e;
}

void closeApart(int fd) {
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::system_error&) {
        ::close(fd);
    }
}

bool clearNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

[[noreturn]] void throwErrno(int err, const std::string& path) {
    throw EInOutError(codeFromErrno(err, path), path);
}

void watchOpenings(OpeningWatcher watcher) {
    watcherSlot() = std::move(watcher);
}

#ifdef VQ_FAULT_INJECTION
namespace faults {
namespace {
std::atomic<bool> hookActive{false};
Hook& hookSlot() {
    static Hook hook;
    return hook;
}
} // namespace

void setHook(Hook hook) {
    hookActive.store(false, std::memory_order_release);
    hookSlot() = std::move(hook);
    if (hookSlot()) hookActive.store(true, std::memory_order_release);
}

int injected(Op op, const std::string& path) {
    if (!hookActive.load(std::memory_order_acquire)) return 0;
    return hookSlot()(op, path);
}
} // namespace faults
#endif

} // namespace vq::listio
