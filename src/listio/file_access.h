#pragma once
// What the list-file modes share below their classes: the system calls, each
// checked and retried on EINTR and failed on purpose through the fault seam
// in the test programs, the descriptor that closes itself, and the sharing
// rule's opening of a list.
#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

namespace vq::listio {

int sysOpen(const std::string& path, int flags, mode_t mode = 0);
ssize_t sysRead(int fd, const std::string& path, char* data, std::size_t size);
ssize_t sysPread(int fd, const std::string& path, char* data, std::size_t size, off_t at);
// Writes everything; returns 0 or the errno of the failing call. A write
// that takes no byte is a full device.
int sysWriteAll(int fd, const std::string& path, const char* data, std::size_t size);
// Closes the descriptor; returns 0 or the errno. The descriptor is gone
// either way (Linux never leaves it open after close fails).
int sysClose(int fd, const std::string& path);

// Closes a descriptor on a thread of its own, for a file whose blocks take
// long to free; here when no thread can be started.
void closeApart(int fd);
// Written temporaries from this size on are closed apart.
inline constexpr std::size_t kCloseApartFrom = std::size_t(64) << 20;

class FdGuard {
public:
    explicit FdGuard(int fd = -1) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    FdGuard(FdGuard&& other) noexcept : fd_(other.release()) {}
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Inputs are opened with O_NONBLOCK so that a FIFO given as a list never
// hangs the open; once the file is known to be regular, reads block as usual.
bool clearNonBlocking(int fd);

[[noreturn]] void throwErrno(int err, const std::string& path);

enum class Lock { Taken, Conflict };

// Locks the whole file for reading (F_RDLCK) or writing (F_WRLCK).
Lock lockWhole(int fd, short type);

// Opens a list file for one of the text-file modes: the name must lead to a
// regular file (or, where `devices` allows, a character device such as
// /dev/null), which is locked under the sharing rule. `st` gets its status.
FdGuard openList(const std::string& fileName, int flags, short lock, struct stat& st,
                 bool devices = false);

} // namespace vq::listio
