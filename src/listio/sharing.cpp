// The sharing rule: every opening of a list takes an open-file-description
// lock, shared for the reader and the loader, exclusive for the writer, the
// appender and the saver.
#include "listio/file_access.h"

#include "listio/byte_rules.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"
#include "listio/listio.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vq::listio {

// Open-file-description locks bind every opening, also two in one process,
// which classic POSIX record locks do not. A file system that cannot lock at
// all (ENOLCK, EINVAL) is used without the sharing rule rather than refused.
Lock lockWhole(int fd, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    fl.l_pid = 0;
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return Lock::Taken;
    return (errno == EAGAIN || errno == EACCES) ? Lock::Conflict : Lock::Taken;
}

// Opened non-blocking, so a FIFO never hangs the open. A split opens
// thousands of files, so this takes four calls: open, lock, status, flags.
FdGuard openList(const std::string& fileName, int flags, short lock, struct stat& st,
                 bool devices) {
    FdGuard fd(sysOpen(fileName, flags | O_NONBLOCK, 0666));
    if (fd.get() < 0) throwErrno(errno, fileName);
    // The lock comes before the status, so that the length the writer goes
    // by is the one the lock now protects from other openings.
    const Lock taken = lockWhole(fd.get(), lock);
    if (::fstat(fd.get(), &st) != 0) throwErrno(errno, fileName);
    const bool regular = S_ISREG(st.st_mode);
    if (!(regular || (devices && S_ISCHR(st.st_mode))))
        throw EInOutError(iocode::AccessDenied, fileName);
    if (regular && taken == Lock::Conflict) throw EInOutError(iocode::SharingViolation, fileName);
    if (!regular && taken == Lock::Taken) {
        // Only lists are shared by the rule: two commands may write
        // /dev/null at once.
        struct flock fl {};
        fl.l_type = F_UNLCK;
        fl.l_whence = SEEK_SET;
        ::fcntl(fd.get(), F_OFD_SETLK, &fl);
    }
    // O_NONBLOCK is the only flag F_SETFL changes that the list was opened
    // with, so setting the open flags clears it without asking for them.
    if (::fcntl(fd.get(), F_SETFL, flags) != 0) throwErrno(errno, fileName);
    return fd;
}

} // namespace vq::listio
