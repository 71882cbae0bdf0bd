// The text-file writer and appender, and the line end they write.
#include "listio/listio.h"

#include "listio/byte_rules.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"
#include "listio/file_access.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vq::listio {

namespace {

constexpr std::size_t kAppendWindow = 128;

// The buffer of the writer this thread closed last, for the next one.
std::vector<char>& spareWriterBuffer() {
    thread_local std::vector<char> spare;
    return spare;
}

} // namespace

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

} // namespace vq::listio
