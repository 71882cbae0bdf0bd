#include "listio/listio.h"

#include "listio/byte_rules.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>

namespace vq::listio {

namespace {

constexpr std::size_t kAppendWindow = 128;
// A reader of a small file needs no more buffer than the file, which matters
// when a folder of many small lists is merged.
constexpr std::size_t kSmallestReadBuffer = 4096;

OpeningWatcher& watcherSlot() {
    static OpeningWatcher watcher;
    return watcher;
}

// ---- system calls, each checked and retried on EINTR --------------------

int sysOpen(const std::string& path, int flags, mode_t mode = 0) {
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

// Writes everything; returns 0 or the errno of the failing call. A write
// that takes no byte is a full device.
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

// Closes the descriptor; returns 0 or the errno. The descriptor is gone
// either way (Linux never leaves it open after close fails).
int sysClose(int fd, [[maybe_unused]] const std::string& path) {
    int e = VQ_INJECTED(Close, path);
    if (::close(fd) != 0 && errno != EINTR && e == 0) e = errno;
    return e;
}

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

// The buffer of the writer this thread closed last, for the next one.
std::vector<char>& spareWriterBuffer() {
    thread_local std::vector<char> spare;
    return spare;
}

// Inputs are opened with O_NONBLOCK so that a FIFO given as a list never
// hangs the open; once the file is known to be regular, reads block as usual.
bool clearNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

enum class Lock { Taken, Conflict };

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

[[noreturn]] void throwErrno(int err, const std::string& path) {
    throw EInOutError(codeFromErrno(err, path), path);
}

// Opens a list file for one of the text-file modes: the name must lead to a
// regular file (or, where `devices` allows, a character device such as
// /dev/null), which is locked under the sharing rule. `st` gets its status.
// Opened non-blocking, so a FIFO never hangs the open. A split opens
// thousands of files, so this takes four calls: open, lock, status, flags.
FdGuard openList(const std::string& fileName, int flags, short lock, struct stat& st,
                 bool devices = false) {
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

} // namespace

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

// ==== text-file reader ====================================================

TextReader::TextReader(const std::string& fileName) : TextReader(fileName, kDefaultBufferSize) {}

TextReader::TextReader(const std::string& fileName, std::size_t bufferSize) : fileName_(fileName) {
    struct stat st;
    FdGuard fd = openList(fileName, O_RDONLY, F_RDLCK, st);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    std::size_t size = std::max<std::size_t>(bufferSize, 1);
    if (st.st_size >= 0 && static_cast<std::uint64_t>(st.st_size) < size)
        size = std::min(size, std::max<std::size_t>(st.st_size + 1, kSmallestReadBuffer));
    buf_.resize(size);
    fd_ = fd.release();
}

TextReader::~TextReader() {
    if (fd_ >= 0) ::close(fd_);
}

void TextReader::checkOpen() const {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    if (pendingError_) throw EInOutError(pendingError_, fileName_);
}

void TextReader::fail(int code) {
    pendingError_ = code;
    eof_ = true;
    pos_ = end_ = 0;
    throw EInOutError(code, fileName_);
}

// Refills the whole buffer; the caller has consumed everything in it.
bool TextReader::fill() {
    pos_ = end_ = 0;
    if (eof_) return false;
    fillOffset_ = readTotal_;
    ssize_t n = sysRead(fd_, fileName_, buf_.data(), buf_.size());
    if (n < 0) fail(codeFromErrno(errno, fileName_));
    readTotal_ += n;
    if (n == 0) {
        eof_ = true;
        return false;
    }
    end_ = static_cast<std::size_t>(n);
    // Cutting the buffer at the mark once per fill keeps the per-line scan to
    // a single memchr for CR.
    if (const void* mark = std::memchr(buf_.data(), kEndOfFileMark, end_)) {
        end_ = static_cast<std::size_t>(static_cast<const char*>(mark) - buf_.data());
        eof_ = true;
    }
    return end_ > 0;
}

bool TextReader::ensureData() {
    for (;;) {
        if (pos_ < end_) {
            if (skipLF_) {
                skipLF_ = false;
                if (buf_[pos_] == '\n') {
                    ++pos_;
                    continue;
                }
            }
            return true;
        }
        if (!fill()) return false;
    }
}

bool TextReader::atEnd() {
    checkOpen();
    return !ensureData();
}

void TextReader::passLineEnd() {
    const char end = buf_[pos_++];
    if (ends_ == LineEnds::Undecided) ends_ = decidedBy(end);
    if (end != '\r') return;
    if (pos_ < end_) {
        if (buf_[pos_] == '\n') ++pos_;
    } else {
        skipLF_ = true; // the LF, if any, comes with the next fill
    }
}

std::string_view TextReader::readLine() {
    checkOpen();
    if (!ensureData()) return {};
    const char* base = buf_.data();
    const char* start = base + pos_;
    const std::size_t avail = end_ - pos_;
    if (const std::size_t at = findLineEnd(start, avail, ends_); at < avail) {
        pos_ += at;
        passLineEnd();
        return {start, at};
    }

    // The line runs past this fill: gather it in long_ until a line end, the
    // mark or the physical end.
    long_.assign(start, avail);
    pos_ = end_;
    while (fill()) {
        const std::size_t at = findLineEnd(base, end_, ends_);
        long_.append(base, at);
        pos_ = at;
        if (at < end_) {
            passLineEnd();
            break;
        }
    }
    return long_;
}

std::string_view TextReader::readLines() {
    checkOpen();
    if (!ensureData()) return {};
    const char* start = buf_.data() + pos_;
    const std::size_t avail = end_ - pos_;
    if (ends_ == LineEnds::Undecided) {
        const std::size_t first = findLineEnd(start, avail, ends_);
        if (first == avail) return {};
        ends_ = decidedBy(start[first]);
    }
    const std::size_t last = findLastLineEnd(start, avail, ends_);
    if (last == avail) return {};
    std::size_t stop = pos_ + last + 1;
    if (start[last] == '\r') {
        if (stop < end_) {
            if (buf_[stop] == '\n') ++stop;
        } else {
            skipLF_ = true; // the LF, if any, comes with the next fill
        }
    }
    const std::string_view lines(start, stop - pos_);
    pos_ = stop;
    return lines;
}

void TextReader::readLine(std::string& line) {
    line.assign(readLine());
}

namespace {

// Below this a block is copied through the writer's buffer; a system call
// per short line would cost more than the copy.
constexpr std::size_t kKernelCopyThreshold = 64 * 1024;

} // namespace

void TextReader::decide(const char* p, std::size_t n) {
    if (ends_ != LineEnds::Undecided) return;
    if (const std::size_t first = findLineEnd(p, n, ends_); first < n) ends_ = decidedBy(p[first]);
}

// The output of a line copy is the input with every line end written as the
// writer's line end, and one after an unterminated last line. Runs of lines
// that already end that way are handed over in one piece; the others are
// rewritten a block at a time straight into the writer's buffer.
int64_t TextReader::copyLinesTo(TextWriter& out, const LineCopy& how) {
    checkOpen();
    const std::string_view eol = out.lineEnd();
    const bool crLf = eol.size() == 2;
    int64_t lines = 0;
    bool lineOpen = false; // the output does not yet end with a line end
    while (lines < how.maxLines && ensureData()) {
        const char* p = buf_.data() + pos_;
        const std::size_t n = end_ - pos_;
        decide(p, n);
        // Until a list is decided its block holds no CR and no LF at all.
        BlockScan scan;
        if (crLf && ends_ != LineEnds::CrOrLf)
            scan = scanBlock(p, n, how.maxLines - lines, lines);
        else if (!crLf && ends_ != LineEnds::Cr)
            scan = scanLfBlock(p, n, how.maxLines - lines, lines);
        if (how.lowerCase)
            out.writeLowered(p, scan.take);
        else if (scan.take >= kKernelCopyThreshold)
            out.copyRaw(fd_, fillOffset_ + static_cast<int64_t>(pos_), p, scan.take);
        else
            out.writeRaw(p, scan.take);
        pos_ += scan.take;
        if (scan.loneCr) {
            out.writeRaw("\n", 1);
            ++lines;
            lineOpen = false;
            if (pos_ == end_) skipLF_ = true; // its LF, if any, is the next fill's first byte
        } else if (scan.take > 0) {
            const char* e = p + scan.take;
            lineOpen = crLf ? !(scan.take >= 2 && e[-2] == '\r' && e[-1] == '\n') : e[-1] != '\n';
        }
        // The rest of the block holds line ends to rewrite.
        while (!scan.loneCr && pos_ < end_ && lines < how.maxLines) {
            // A line end can grow from one byte to two: a piece of the block
            // is rewritten where twice its size fits the writer's buffer.
            const bool direct = out.capacity_ >= 4096;
            const std::size_t k = std::min(end_ - pos_, direct ? (out.capacity_ - 64) / 2 : 4096);
            if (!direct) scratch_.resize(2 * k + 64);
            char* d = direct ? out.space(2 * k + 64) : scratch_.data();
            const LineConversion c =
                convertLines(buf_.data() + pos_, k, ends_, eol, how.maxLines - lines, d);
            if (how.lowerCase) lowerAscii(d, c.written, d);
            if (direct)
                out.added(c.written);
            else
                out.writeRaw(d, c.written);
            pos_ += c.consumed;
            lines += c.lines;
            lineOpen = c.open;
            if (c.crLast) {
                if (pos_ == end_)
                    skipLF_ = true; // its LF, if any, is the next fill's first byte
                else if (buf_[pos_] == '\n')
                    ++pos_;
            }
        }
        if (how.progress) how.progress(lines);
    }
    if (lineOpen) {
        out.writeRaw(eol.data(), eol.size());
        ++lines;
        if (how.progress) how.progress(lines);
    }
    return lines;
}

int64_t TextReader::countLines() {
    checkOpen();
    int64_t lines = 0;
    bool lineOpen = false; // bytes after the last line end
    while (ensureData()) {
        const char* p = buf_.data() + pos_;
        const std::size_t n = end_ - pos_;
        decide(p, n);
        lines += countLineEnds(p, n, ends_);
        pos_ = end_;
        const char last = p[n - 1];
        if (last == '\r') {
            lineOpen = false;
            skipLF_ = true; // its LF, if any, is the next fill's first byte
        } else if (ends_ == LineEnds::CrOrLf) {
            lineOpen = last != '\n';
        } else {
            lineOpen = !(n >= 2 && p[n - 2] == '\r' && last == '\n');
        }
    }
    return lines + (lineOpen ? 1 : 0);
}

int64_t countLines(const std::string& fileName) {
    TextReader in(fileName);
    const int64_t n = in.countLines();
    in.close();
    return n;
}

void TextReader::close() {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    int fd = std::exchange(fd_, -1);
    pos_ = end_ = 0;
    std::vector<char>().swap(buf_);
    std::string().swap(long_);
    std::string().swap(scratch_);
    if (int e = sysClose(fd, fileName_)) throwErrno(e, fileName_);
}

// ==== text-file writer and appender =======================================

TextWriter::TextWriter(const std::string& fileName) : TextWriter(fileName, kDefaultBufferSize) {}

namespace {
bool writesLfOnly = false;
}

void setWrittenLineEnd(bool lfOnly) {
    writesLfOnly = lfOnly;
}

std::string_view writtenLineEnd() {
    return writesLfOnly ? "\n" : "\r\n";
}

TextWriter::TextWriter(const std::string& fileName, std::size_t bufferSize)
    : capacity_(std::max<std::size_t>(bufferSize, 2)), lfOnly_(writesLfOnly) {
    open(fileName);
}

TextWriter::~TextWriter() {
    if (fd_ >= 0) ::close(fd_);
}

void TextWriter::open(const std::string& fileName) {
    fileName_ = fileName;
    // No O_TRUNC: the file is emptied only once the lock is ours, so a create
    // refused under the sharing rule leaves the holder's file as it was.
    // Writing a list to a character device (/dev/null) is fine; folders,
    // FIFOs, sockets and disks are not lists.
    struct stat st;
    FdGuard fd = openList(fileName, O_WRONLY | O_CREAT, F_WRLCK, st, true);
    // An empty file is left alone: on ext4 a truncate makes the close wait
    // for the whole text to be handed to the disk. The length was taken
    // under the lock, and the new opening writes from the start.
    if (S_ISREG(st.st_mode) && st.st_size > 0 && ::ftruncate(fd.get(), 0) != 0)
        throwErrno(errno, fileName);
    // A split opens writers one after another: each takes the buffer the
    // last one closed, rather than clearing a megabyte of its own.
    std::vector<char>& spare = spareWriterBuffer();
    if (spare.size() == capacity_)
        buf_.swap(spare);
    else
        buf_.resize(capacity_);
    used_ = 0;
    fd_ = fd.release();
}

FileIdentity TextWriter::identity() const {
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return {};
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::optional<FileIdentity> identityOf(const std::string& fileName) {
    struct stat st;
    if (::stat(fileName.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

void TextWriter::fail(int code) {
    // What the buffer still holds is dropped: nothing is written after a
    // failure, and the file is released at once.
    used_ = 0;
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    throw EInOutError(code, fileName_);
}

void TextWriter::writeAll(const char* data, std::size_t size) {
    if (int e = sysWriteAll(fd_, fileName_, data, size)) fail(codeFromErrno(e, fileName_));
}

void TextWriter::flush() {
    if (used_ == 0) return;
    std::size_t n = std::exchange(used_, 0);
    writeAll(buf_.data(), n);
}

void TextWriter::writeLowered(const char* data, std::size_t size) {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    while (size > 0) {
        if (used_ == capacity_) flush();
        const std::size_t k = std::min(size, capacity_ - used_);
        lowerAscii(data, k, buf_.data() + used_);
        used_ += k;
        data += k;
        size -= k;
    }
}

char* TextWriter::space(std::size_t size) {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    if (size > capacity_ - used_) flush();
    return buf_.data() + used_;
}

void TextWriter::writeRaw(const char* data, std::size_t size) {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    if (size <= capacity_ - used_) {
        std::memcpy(buf_.data() + used_, data, size);
        used_ += size;
        return;
    }
    flush();
    if (size >= capacity_ / 2) {
        writeAll(data, size); // a big block goes out without a copy
    } else {
        std::memcpy(buf_.data(), data, size);
        used_ = size;
    }
}

void TextWriter::writeLines(std::string_view lines) {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen);
    if (lines.size() < capacity_ / 4) return writeRaw(lines.data(), lines.size());
    flush();
    writeAll(lines.data(), lines.size());
}

// A block the reader has checked is copied by the kernel from file to file:
// on Linux this costs about half of writing it back from our own buffer.
// Where the kernel cannot copy between the two files (a device, another
// file system on an old kernel), the bytes already in memory are written.
void TextWriter::copyRaw(int fromFd, int64_t offset, const char* data, std::size_t size) {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    flush();
    std::size_t done = 0;
    while (kernelCopy_ && done < size) {
        if (int e = VQ_INJECTED(Write, fileName_)) fail(codeFromErrno(e, fileName_));
        off_t from = static_cast<off_t>(offset) + static_cast<off_t>(done);
        ssize_t n = ::copy_file_range(fromFd, &from, fd_, nullptr, size - done, 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                   errno != EOPNOTSUPP && errno != EBADF) {
            fail(codeFromErrno(errno, fileName_));
        } else {
            kernelCopy_ = false; // refused, or the input shrank under us
        }
    }
    if (done < size) writeAll(data + done, size - done);
}

void TextWriter::writeLine(std::string_view line) {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    const std::string_view eol = lineEnd();
    const std::size_t need = line.size() + eol.size();
    if (need > capacity_ - used_) {
        flush();
        if (need > capacity_) {
            // Too long for the buffer: straight to the file, the line end
            // follows through the buffer.
            writeAll(line.data(), line.size());
            std::memcpy(buf_.data(), eol.data(), eol.size());
            used_ = eol.size();
            return;
        }
    }
    char* d = buf_.data() + used_;
    if (!line.empty()) std::memcpy(d, line.data(), line.size());
    std::memcpy(d + line.size(), eol.data(), eol.size());
    used_ += need;
}

void TextWriter::close() {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    flush();
    int fd = std::exchange(fd_, -1);
    spareWriterBuffer().swap(buf_);
    std::vector<char>().swap(buf_);
    if (int e = sysClose(fd, fileName_)) throwErrno(e, fileName_);
}

TextAppender::TextAppender(const std::string& fileName) : fileName_(fileName) {
    struct stat st;
    FdGuard fd = openList(fileName, O_RDWR, F_WRLCK, st);

    // Only the last 128 bytes are searched for an end-of-file mark; an
    // earlier mark stays where it is. The cut waits for the lines. Two bytes
    // more are read: they tell whether the text before a cut at the window's
    // start ends a line.
    const std::size_t n = static_cast<std::size_t>(
        std::min<off_t>(st.st_size, static_cast<off_t>(kAppendWindow + 2)));
    const off_t readStart = st.st_size - static_cast<off_t>(n);
    char bytes[kAppendWindow + 2];
    std::size_t got = 0;
    while (got < n) {
        ssize_t r =
            sysPread(fd.get(), fileName, bytes + got, n - got, readStart + static_cast<off_t>(got));
        if (r < 0) throwErrno(errno, fileName);
        if (r == 0) break; // the file shrank meanwhile
        got += static_cast<std::size_t>(r);
    }
    size_ = readStart + static_cast<off_t>(got);
    cut_ = size_;
    const std::size_t searched = std::min(got, kAppendWindow);
    std::size_t kept = got; // bytes of `bytes` before the cut
    if (const void* mark = std::memchr(bytes + got - searched, kEndOfFileMark, searched)) {
        kept = static_cast<std::size_t>(static_cast<const char*>(mark) - bytes);
        cut_ = readStart + static_cast<off_t>(kept);
        tail_.assign(bytes + kept, got - kept);
    }
    // A line ends at CR or CR LF, and in a list written on Linux at LF too;
    // elsewhere a lone LF is data of the line.
    if (kept > 0) {
        const char last = bytes[kept - 1];
        const char before = kept > 1 ? bytes[kept - 2] : '\0';
        const bool linuxList = firstLineEnds(fd.get(), fileName) == LineEnds::CrOrLf;
        endsInsideLine_ = !(last == '\r' || (last == '\n' && (linuxList || before == '\r')));
    }
    fd_ = fd.release();
}

// The kind of the list, as its first line end before the end-of-file mark
// decides it; the file is read from its start until that line end.
LineEnds TextAppender::firstLineEnds(int fd, const std::string& fileName) {
    char piece[4096];
    for (off_t at = 0;;) {
        const ssize_t r = sysPread(fd, fileName, piece, sizeof piece, at);
        if (r < 0) throwErrno(errno, fileName);
        if (r == 0) return LineEnds::Undecided;
        for (ssize_t i = 0; i < r; ++i) {
            if (piece[i] == kEndOfFileMark) return LineEnds::Undecided;
            if (piece[i] == '\r' || piece[i] == '\n') return decidedBy(piece[i]);
        }
        at += r;
    }
}

TextAppender::~TextAppender() {
    if (fd_ >= 0) ::close(fd_);
}

void TextAppender::writeLine(std::string_view line) {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    pending_.append(line);
    pending_.append(writtenLineEnd());
}

// The lines go where the cut is, in one write: a kill finds the file as it
// was or with the lines in place (the kernel can stop a write for a kill
// only where it crosses a page, during the copy itself). When the lines are shorter than the bytes
// cut, an end-of-file mark follows them until the file is shortened, so a
// kill in between leaves the new list as a reader sees it, with the mark in
// the window where the next append cuts. No step needs room the file did
// not have: putting the cut bytes back after a failure always fits.
void TextAppender::commit() {
    const int64_t end = cut_ + static_cast<int64_t>(pending_.size());
    const bool shorter = end < size_;
    if (shorter) pending_ += kEndOfFileMark;
    std::size_t done = 0;
    while (done < pending_.size()) {
        if (int e = VQ_INJECTED(Write, fileName_)) throwErrno(e, fileName_);
        ssize_t n = ::pwrite(fd_, pending_.data() + done, pending_.size() - done,
                             static_cast<off_t>(cut_) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwErrno(errno, fileName_);
        if (n == 0) throwErrno(ENOSPC, fileName_);
        done += static_cast<std::size_t>(n);
    }
    if (shorter && ::ftruncate(fd_, end) != 0) throwErrno(errno, fileName_);
}

// Back to the bytes the file had at open; best effort, the first failure is
// what the user is told.
void TextAppender::restore() {
    if (!tail_.empty()) {
        [[maybe_unused]] ssize_t put = ::pwrite(fd_, tail_.data(), tail_.size(), cut_);
    }
    [[maybe_unused]] int cut = ::ftruncate(fd_, size_);
}

void TextAppender::close() {
    if (fd_ < 0) throw EInOutError(iocode::FileNotOpen, fileName_);
    // Even without lines, the mark in the window is cut.
    const bool changes = !pending_.empty() || cut_ < size_;
    // A second descriptor keeps the file at hand to put it back when the
    // close itself reports that the lines did not make it.
    FdGuard spare(changes ? ::fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1);
    try {
        if (changes) {
            if (spare.get() < 0) throwErrno(errno, fileName_);
            commit();
        }
        if (int e = sysClose(std::exchange(fd_, -1), fileName_)) throwErrno(e, fileName_);
    } catch (...) {
        if (fd_ < 0) fd_ = spare.release(); // the close failed
        if (fd_ >= 0 && changes) restore();
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
        throw;
    }
    std::string().swap(pending_);
}

// ==== whole-file loader ===================================================

std::vector<std::string> splitWholeText(std::string_view bytes) {
    if (const void* nul = std::memchr(bytes.data(), '\0', bytes.size()))
        bytes =
            bytes.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - bytes.data()));
    std::vector<std::string> lines;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        const char* e = p;
        while (e < end && *e != '\r' && *e != '\n')
            ++e;
        lines.emplace_back(p, e);
        if (e == end) break;
        // CR LF is one line end; a lone CR or a lone LF is one too, so LF CR
        // ends two lines.
        p = (*e == '\r' && e + 1 < end && e[1] == '\n') ? e + 2 : e + 1;
    }
    return lines;
}

std::vector<std::string> loadLines(const std::string& fileName) {
    FdGuard fd(sysOpen(fileName, O_RDONLY | O_NONBLOCK));
    if (fd.get() < 0) throw EFOpenError(fileName);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !clearNonBlocking(fd.get()) ||
        lockWhole(fd.get(), F_RDLCK) == Lock::Conflict)
        throw EFOpenError(fileName);

    std::string text;
    text.resize(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) text.resize(text.size() * 2);
        ssize_t n = sysRead(fd.get(), fileName, text.data() + used, text.size() - used);
        if (n < 0) throw EReadError(fileName);
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    text.resize(used);
    int fdNum = fd.release();
    if (sysClose(fdNum, fileName) != 0) throw EReadError(fileName);
    return splitWholeText(text);
}

// ==== whole-file saver ====================================================

namespace {

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The name a save really replaces: symbolic links are followed so that the
// file a link points to gets the new text and the link stays a link.
// Returns false on a loop of links.
bool followLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(PATH_MAX, '\0');
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return false;
        target.resize(static_cast<std::size_t>(n));
        path = (!target.empty() && target[0] == '/') ? target : folderOf(path) + target;
    }
    return false;
}

constexpr std::string_view kTemporaryPrefix = ".vq-save-";
constexpr std::string_view kTemporarySuffix = ".tmp";

// The process id in the name tells the next save in the folder whether the
// saver that made a left-over temporary still runs.
std::string temporaryName() {
    static std::atomic<unsigned> serial{0};
    return std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" +
           std::to_string(serial.fetch_add(1)) + std::string(kTemporarySuffix);
}

// The process id in a temporary's name, or 0 when the name is not one.
pid_t temporaryOwner(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) return 0;
    name.remove_prefix(kTemporaryPrefix.size());
    pid_t pid = 0;
    std::size_t i = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && pid < 10000000; ++i)
        pid = pid * 10 + (name[i] - '0');
    return i < name.size() && name[i] == '-' ? pid : 0;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A save killed between naming its temporary and renaming it leaves the
// temporary behind; the next save in the folder removes it. A temporary is
// left alone while its process lives or a saver still holds it open.
void removeStaleTemporaries(int folderFd) {
    int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return;
    DIR* folder = ::fdopendir(listFd);
    if (!folder) {
        ::close(listFd);
        return;
    }
    while (const dirent* e = ::readdir(folder)) {
        const pid_t owner = temporaryOwner(e->d_name);
        if (owner <= 0 || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
        FdGuard fd(::openat(folderFd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened, named;
        struct flock fl {};
        fl.l_type = F_RDLCK;
        if (fd.get() < 0 || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
            ::fcntl(fd.get(), F_OFD_SETLK, &fl) != 0 ||
            ::fstatat(folderFd, e->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(opened, named))
            continue;
        ::unlinkat(folderFd, e->d_name, 0);
    }
    ::closedir(folder);
}

// A new file in the folder for the text: unnamed where the file system
// allows (a killed save then leaves nothing), else an exclusively created
// temporary, named `name` from the start (`named` says which). Returns -1
// with errno when the folder allows no new file. A scratch file is read
// back and only ever its owner's.
int createTemporary(int folderFd, [[maybe_unused]] const std::string& folder, std::string& name,
                    bool& named, bool scratch = false) {
    const int access = scratch ? O_RDWR : O_WRONLY;
    const mode_t mode = scratch ? 0600 : 0666;
    name = temporaryName();
    named = false;
    int fd = -1;
    if (int e = VQ_INJECTED(Open, folder + name))
        errno = e; // EOPNOTSUPP plays a file system without unnamed files
    else
        fd = ::openat(folderFd, ".", O_TMPFILE | access | O_CLOEXEC, mode);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    named = true;
    for (int attempt = 0; attempt < 100; ++attempt, name = temporaryName()) {
        fd = ::openat(folderFd, name.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Gives the unnamed file a name in the folder. /proc serves every user;
// without /proc, only a privileged process can link a descriptor itself.
int linkUnnamed(int fd, int folderFd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return -1;
    return ::linkat(fd, "", folderFd, name.c_str(), AT_EMPTY_PATH);
}

// Moves the temporary to a name that must still be free: a command that
// created the name meanwhile keeps its file.
int renameToNewName(int folderFd, const std::string& from, const std::string& to) {
    if (::renameat2(folderFd, from.c_str(), folderFd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // Where renaming cannot refuse an existing name, linking does.
    if (::linkat(folderFd, from.c_str(), folderFd, to.c_str(), 0) != 0) return -1;
    ::unlinkat(folderFd, from.c_str(), 0);
    return 0;
}

// Writes a saved text, whose lines each end in CR LF. Where lines are to
// end in LF alone, every CR goes: a saved line holds none of its own.
int writeSaved(int fd, const std::string& path, std::string_view text, bool lfOnly) {
    if (!lfOnly) return sysWriteAll(fd, path, text.data(), text.size());
    std::string piece;
    while (!text.empty()) {
        const std::string_view part = text.substr(0, std::size_t(1) << 20);
        text.remove_prefix(part.size());
        piece.clear();
        for (std::size_t from = 0; from < part.size();) {
            const std::size_t cr = std::min(part.find('\r', from), part.size());
            piece.append(part.substr(from, cr - from));
            from = cr + 1;
        }
        if (int e = sysWriteAll(fd, path, piece.data(), piece.size())) return e;
    }
    return 0;
}

// Writes the text over the open device itself (/dev/null, a terminal):
// a device cannot be replaced.
void writeToDevice(FdGuard& fd, const std::string& path, std::string_view text, bool lfOnly) {
    if (writeSaved(fd.get(), path, text, lfOnly) != 0) throw EWriteError(path);
    if (sysClose(fd.release(), path) != 0) throw EWriteError(path);
}

} // namespace

void saveText(const std::string& fileName, std::string_view text) {
    TextSaver(fileName).commit(text);
}

TextSaver::TextSaver(std::string fileName)
    : fileName_(std::move(fileName)), lfOnly_(writtenLineEnd().size() == 1) {}

TextSaver::~TextSaver() {
    drop();
}

void TextSaver::drop() {
    if (named_) ::unlinkat(dir_, tempName_.c_str(), 0);
    for (int* fd : {&temp_, &dir_, &device_})
        if (*fd >= 0) ::close(std::exchange(*fd, -1));
    begun_ = named_ = false;
    written_ = 0;
    failure_ = nullptr;
}

void TextSaver::begin(const std::string& folder) {
    begun_ = true;
    folder_ = folder;
    // Everything else is done relative to the folder, so a target whose name
    // is just short enough to open still gets a temporary beside it.
    dir_ = sysOpen(folder.empty() ? "." : folder, O_PATH | O_DIRECTORY);
    if (dir_ < 0) throw EFCreateError(fileName_);
    removeStaleTemporaries(dir_);
    bool named = false;
    temp_ = createTemporary(dir_, folder, tempName_, named);
    if (temp_ < 0) throw EFCreateError(fileName_);
    named_ = named;
    tempPath_ = folder + tempName_; // what the fault seam sees
    // Held until the temporary is closed: a later save in the folder does
    // not take it for litter.
    lockWhole(temp_, F_WRLCK);
}

void TextSaver::write(std::string_view part) noexcept {
    if (failure_ || declined_ || part.empty()) return;
    try {
        if (!begun_ && device_ < 0) {
            std::string target = fileName_;
            if (!followLinks(target)) throw EFCreateError(fileName_);
            // A device (/dev/null) cannot be replaced: it takes the parts as
            // they come. Anything else that is not a file is refused at the
            // save. Neither gets a temporary filled ahead.
            struct stat st;
            if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
                if (!S_ISCHR(st.st_mode)) {
                    declined_ = true;
                    return;
                }
                FdGuard fd(sysOpen(target, O_WRONLY | O_NONBLOCK));
                if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISCHR(st.st_mode) ||
                    !clearNonBlocking(fd.get()))
                    throw EFCreateError(fileName_);
                device_ = fd.release();
            } else {
                begin(folderOf(target));
            }
        }
        if (device_ >= 0) {
            if (writeSaved(device_, fileName_, part, lfOnly_) != 0) throw EWriteError(fileName_);
        } else {
            if (writeSaved(temp_, tempPath_, part, lfOnly_) != 0) throw EWriteError(fileName_);
            // The disk starts on it now, so that the commit waits for less.
            ::sync_file_range(temp_, static_cast<off_t>(written_), static_cast<off_t>(part.size()),
                              SYNC_FILE_RANGE_WRITE);
        }
        written_ += part.size();
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void TextSaver::commit(std::string_view text) {
    commitText(text, true);
}

// `text` is the whole text when `whole`, else what follows the parts.
void TextSaver::commitText(std::string_view text, bool whole) {
    if (device_ >= 0) {
        if (failure_) std::rethrow_exception(failure_);
        FdGuard device(std::exchange(device_, -1));
        return writeToDevice(device, fileName_, whole ? text.substr(written_) : text, lfOnly_);
    }
    std::string target = fileName_;
    if (!followLinks(target)) throw EFCreateError(fileName_);
    const std::string folder = folderOf(target);
    const std::string base = target.substr(folder.size());
    if (base.empty() || base == "." || base == "..") throw EFCreateError(fileName_);

    // The existing target is opened and locked first: a file another opening
    // holds is refused before anything is written, and the lock is kept until
    // the new text has replaced it.
    FdGuard old(sysOpen(target, O_WRONLY | O_NONBLOCK));
    struct stat st {};
    if (old.get() >= 0) {
        if (::fstat(old.get(), &st) != 0 || !clearNonBlocking(old.get()))
            throw EFCreateError(fileName_);
        // A target that became a device since the parts went beside it
        // takes the whole text, when there is one.
        if (S_ISCHR(st.st_mode)) {
            if (!whole && written_ > 0) throw EFCreateError(fileName_);
            return writeToDevice(old, target, text, lfOnly_);
        }
        if (!S_ISREG(st.st_mode) || lockWhole(old.get(), F_WRLCK) == Lock::Conflict)
            throw EFCreateError(fileName_);
        // Its other names would keep the old text, and writing into it in
        // place could lose both texts; such a file is not the saver's to touch.
        if (st.st_nlink > 1) throw EFCreateError(fileName_);
    } else if (errno != ENOENT) {
        throw EFCreateError(fileName_);
    }
    const bool replacing = old.get() >= 0;

    // A link changed while the parts were written can put the target in
    // another folder: the text then starts over beside it, if it is here.
    if (begun_ && folder != folder_) {
        if (!whole) throw EFCreateError(fileName_);
        drop();
    }
    if (!begun_) begin(folder);
    if (failure_) std::rethrow_exception(failure_);

    if (replacing) {
        if (::fchmod(temp_, st.st_mode & 07777) != 0) throw EFCreateError(fileName_);
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
            // Keeping the owner needs privileges; without them the file
            // becomes the saver's own, as any newly written file would.
            [[maybe_unused]] int ignored = ::fchown(temp_, st.st_uid, st.st_gid);
        }
    }
    const std::string_view rest = whole ? text.substr(written_) : text;
    if (writeSaved(temp_, tempPath_, rest, lfOnly_) != 0) throw EWriteError(fileName_);
    // The text must be on disk before the name points at it, or a crash could
    // leave an empty file where the old list was.
    if (int e = VQ_INJECTED(Sync, tempPath_); e != 0 || ::fdatasync(temp_) != 0)
        throw EWriteError(fileName_);
    if (!named_) {
        if (int e = VQ_INJECTED(Rename, tempPath_);
            e != 0 || linkUnnamed(temp_, dir_, tempName_) != 0)
            throw EFCreateError(fileName_);
        named_ = true;
    }
    if (sysClose(std::exchange(temp_, -1), tempPath_) != 0) throw EWriteError(fileName_);

    int moved;
    if (int e = VQ_INJECTED(Rename, tempPath_); e != 0) {
        moved = -1;
    } else if (replacing) {
        // A name that no longer leads to the locked file was removed or
        // replaced by someone else meanwhile; what stands there now stays.
        struct stat now;
        moved = ::fstatat(dir_, base.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, st)
                    ? ::renameat(dir_, tempName_.c_str(), dir_, base.c_str())
                    : -1;
    } else {
        moved = renameToNewName(dir_, tempName_, base);
    }
    if (moved != 0) throw EFCreateError(fileName_);
    named_ = false; // the temporary is the target now
}

// ==== scratch file =========================================================

namespace {

// Bytes an unprivileged process may still write on the file system of
// `folder`, and whether that file system keeps its files in memory.
struct Room {
    bool known = false;
    uint64_t bytes = 0;
    bool inMemory = false;
    dev_t device = 0;
};

Room roomIn(const std::string& folder) {
    Room r;
    struct statfs fs;
    struct stat st;
    if (::statfs(folder.c_str(), &fs) != 0 || ::stat(folder.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
        return r;
    r.known = true;
    r.bytes = static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_bsize);
    r.inMemory = fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC;
    r.device = st.st_dev;
    return r;
}

std::string scratchFolderFor(const std::string& target) {
    std::string followed = target;
    if (!followLinks(followed)) followed = target;
    std::string near = folderOf(followed);
    if (near.empty()) near = "./";
    const char* tmp = std::getenv("TMPDIR");
    std::string far = tmp && *tmp ? tmp : "/tmp";
    if (far.back() != '/') far += '/';
    const Room there = roomIn(far);
    if (!there.known || there.inMemory) return near;
    const Room here = roomIn(near);
    if (here.known && (here.device == there.device || here.bytes >= there.bytes)) return near;
    return far;
}

} // namespace

ScratchFile::ScratchFile(const std::string& target)
    : target_(target), folder_(scratchFolderFor(target)) {
    FdGuard dir(sysOpen(folder_, O_PATH | O_DIRECTORY));
    if (dir.get() < 0) throw EFCreateError(target_);
    // A check killed while its file still had a name left it behind.
    removeStaleTemporaries(dir.get());
    std::string name;
    bool named = false;
    fd_ = createTemporary(dir.get(), folder_, name, named, true);
    if (fd_ < 0) throw EFCreateError(target_);
    path_ = folder_ + name;
    if (named) ::unlinkat(dir.get(), name.c_str(), 0);
}

ScratchFile::~ScratchFile() {
    if (fd_ >= 0) ::close(fd_);
}

uint64_t ScratchFile::append(const char* data, std::size_t size) {
    const uint64_t at = size_;
    if (sysWriteAll(fd_, path_, data, size) != 0) throw EWriteError(target_);
    size_ += size;
    return at;
}

void ScratchFile::read(uint64_t at, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = sysPread(fd_, path_, data, size, static_cast<off_t>(at));
        // The file is this process's own: it cannot have shrunk.
        if (n <= 0) throw EWriteError(target_);
        data += n;
        size -= static_cast<std::size_t>(n);
        at += static_cast<uint64_t>(n);
    }
}

void saveLines(const std::string& fileName, const std::vector<std::string>& lines) {
    std::size_t total = 0;
    for (const auto& l : lines)
        total += l.size() + 2;
    std::string text;
    text.reserve(total);
    for (const auto& l : lines) {
        text += l;
        text += "\r\n";
    }
    saveText(fileName, text);
}

} // namespace vq::listio
