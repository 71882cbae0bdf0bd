// The text-file reader: a list's lines, by the line-end rule of its first
// line end, in blocks, copies and counts.
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

namespace vq::listio {

namespace {

// A reader of a small file needs no more buffer than the file, which matters
// when a folder of many small lists is merged.
constexpr std::size_t kSmallestReadBuffer = 4096;

} // namespace

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

} // namespace vq::listio
