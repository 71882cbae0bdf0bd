#pragma once
// The five access modes of list files. Lines are bytes and are never
// decoded. Every opening takes an open-file-description lock so that the
// sharing rule holds between openings in this and other processes:
// reader and loader share, writer, appender and saver are exclusive; a
// conflict is I/O error 32.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "listio/byte_rules.h"

namespace vq::listio {

// Large enough that a list is read and written in a few big system calls.
inline constexpr std::size_t kDefaultBufferSize = std::size_t(1) << 20;

class TextWriter;

// Which file a name leads to: two names are the same file when these match,
// whatever "..", links or hard links they went through.
struct FileIdentity {
    uint64_t device = 0, inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
// Symbolic links followed; nothing when the name leads to no file.
std::optional<FileIdentity> identityOf(const std::string& fileName);

// How TextReader::copyLinesTo copies.
struct LineCopy {
    int64_t maxLines = INT64_MAX; // stop after this many lines
    bool lowerCase = false;       // ASCII A-Z become a-z on the way; no other byte changes
    // Called after each block with the lines copied so far: a caller can show
    // progress, and knows the count when a later block fails.
    std::function<void(int64_t)> progress;
};

// The line end of every written line: CR LF, as every list of the design
// has it, or LF alone, which the command line asks for with --lf so that its
// outputs suit pipelines of Linux tools. Set before any file is written.
void setWrittenLineEnd(bool lfOnly);
std::string_view writtenLineEnd();

// Text-file reader: a line ends at CR or CR LF, and in a list written on
// Linux (one whose first line end is a lone LF) at LF too; elsewhere LF is
// data. The first 0x1A ends the readable data.
class TextReader {
public:
    explicit TextReader(const std::string& fileName); // throws EInOutError
    // Tests use tiny buffers to put line ends on fill boundaries.
    TextReader(const std::string& fileName, std::size_t bufferSize);
    ~TextReader();
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    // True when no byte is left before the end-of-file mark or the file's end.
    // A read failure found here throws EInOutError.
    bool atEnd();
    // The next line; the view stays valid until the next call on this reader.
    // At the end it yields an empty line and consumes nothing.
    std::string_view readLine();
    void readLine(std::string& line);
    // The whole lines the buffer holds from here, as they stand in the file:
    // each ends at its CR, and an LF right after a CR belongs to that CR.
    // Empty at the end, and when the next line does not end in the buffer
    // (readLine then gives it). Valid until the next call on this reader.
    std::string_view readLines();
    // Writes the remaining lines (at most how.maxLines) to `out`, each
    // followed by CR LF, exactly as a loop of atEnd / readLine / writeLine
    // would, but in large blocks. Returns the number of lines.
    int64_t copyLinesTo(TextWriter& out, const LineCopy& how = {});
    // Reads past every remaining line and returns how many there were.
    int64_t countLines();
    void close();
    const std::string& fileName() const { return fileName_; }
    // How this list's lines end, as far as it has been read: decided by the
    // first line end that a read or an end test has met.
    LineEnds lineEnds() const { return ends_; }

private:
    bool fill();                               // false at the end of the readable data
    void decide(const char* p, std::size_t n); // by the first line end in p, if undecided
    void passLineEnd(); // moves past the line end at pos_, deciding the list by it
    bool ensureData();  // false at the end; drops an LF owed to a CR of the last fill
    void checkOpen() const;
    void fail(int code);
    std::string fileName_;
    int fd_ = -1;
    std::vector<char> buf_;
    std::size_t pos_ = 0, end_ = 0;
    bool eof_ = false;       // physical end or end-of-file mark reached in the buffer stream
    int pendingError_ = 0;   // read failure to raise at the next check
    std::string long_;       // a line that spans buffer fills
    std::string scratch_;    // rewritten lines for a writer with a small buffer
    bool skipLF_ = false;    // the last line ended at a CR that was the last byte of a fill
    int64_t fillOffset_ = 0; // where in the file buf_[0] came from
    int64_t readTotal_ = 0;  // bytes read from the file so far
    LineEnds ends_ = LineEnds::Undecided;
};

// Text-file writer: creates or empties the file; every line gets the written
// line end (CR LF unless the command line asked for LF).
class TextWriter {
public:
    explicit TextWriter(const std::string& fileName); // throws EInOutError
    TextWriter(const std::string& fileName, std::size_t bufferSize);
    // Destroyed without close() (a failure is unwinding), the buffer is
    // discarded: nothing more is written after a failure.
    ~TextWriter();
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    void writeLine(std::string_view line);
    // Writes lines that are already whole, each ending in lineEnd(), as they
    // stand: a caller that gathers many lines hands them over at once, and
    // a large run of them goes to the file without a copy into the buffer.
    void writeLines(std::string_view lines);
    // What ends each line of this file: writtenLineEnd() when it was created.
    std::string_view lineEnd() const { return lfOnly_ ? "\n" : "\r\n"; }
    void close();
    const std::string& fileName() const { return fileName_; }
    // The file this writer writes, however its name was spelled.
    FileIdentity identity() const;

protected:
    friend class TextReader; // copyLinesTo hands over whole blocks of lines
    void writeRaw(const char* data, std::size_t size);
    void writeLowered(const char* data, std::size_t size);
    // Room for `size` bytes (at most the buffer's capacity) at the end of
    // the buffer, which the caller fills and then hands over with added().
    char* space(std::size_t size);
    void added(std::size_t size) { used_ += size; }
    // Writes bytes that are also at `offset` in the open file `fromFd`,
    // letting the kernel copy them from file to file.
    void copyRaw(int fromFd, int64_t offset, const char* data, std::size_t size);
    void open(const std::string& fileName);
    void flush();
    void writeAll(const char* data, std::size_t size);
    [[noreturn]] void fail(int code);
    std::size_t capacity_ = kDefaultBufferSize;
    std::string fileName_;
    int fd_ = -1;
    std::vector<char> buf_;
    std::size_t used_ = 0;
    bool kernelCopy_ = true; // false once the kernel refused to copy between these files
    bool lfOnly_ = false;
};

// Text-file appender: the file must exist; a 0x1A within its last 128 bytes
// cuts the file there before the first line is added at its end. The lines
// wait in memory until close, which adds them in one write placed so that a
// failure or a kill leaves the file as it was or with every line added,
// never with part of a line or cut without its lines.
class TextAppender {
public:
    explicit TextAppender(const std::string& fileName); // throws EInOutError
    // Destroyed without close() (a failure is unwinding), nothing is written.
    ~TextAppender();
    TextAppender(const TextAppender&) = delete;
    TextAppender& operator=(const TextAppender&) = delete;

    void writeLine(std::string_view line);
    // Adds the lines. When that fails the file gets back its length and the
    // bytes from the cut on, and the error is thrown.
    void close();
    const std::string& fileName() const { return fileName_; }
    // Whether the text the lines follow (the file up to the cut) stops in
    // the middle of a line: it does not end in CR or CR LF, nor, in a list
    // written on Linux, in LF.
    bool endsInsideLine() const { return endsInsideLine_; }

private:
    static LineEnds firstLineEnds(int fd, const std::string& fileName);
    void commit();
    void restore();
    std::string fileName_;
    int fd_ = -1;
    bool endsInsideLine_ = false;
    std::string pending_;
    int64_t size_ = 0; // the file's length at open
    int64_t cut_ = 0;
    std::string tail_; // the bytes from the cut to the end (at most 128)
};

// The lines of a file as the reader yields them, empty lines included.
int64_t countLines(const std::string& fileName);

// Whole-file loader: the text ends at the first NUL; CR LF, lone CR and lone
// LF end lines; a line end at the very end adds no empty line.
// Throws EFOpenError when the file cannot be opened.
std::vector<std::string> loadLines(const std::string& fileName);
// The loader's cutting rule on text already in memory.
std::vector<std::string> splitWholeText(std::string_view bytes);

// Whole-file saver: every entry followed by the written line end (CR LF
// unless the command line asked for LF), written in one piece into
// a new file beside the target, which then takes the target's name. The
// target is never written in place (only a device is), so a failed or killed
// save leaves the old file or the new one whole, and no temporary file. A
// folder that allows no new file, a target with other hard links, and a name
// that another command created or replaced while the text was written are
// refused with EFCreateError and left as they are.
// Throws EFCreateError or EWriteError.
void saveLines(const std::string& fileName, const std::vector<std::string>& lines);
void saveText(const std::string& fileName, std::string_view text);

// The whole-file saver for a text that is still being made, whose lines
// each end in CR LF and hold no other CR (written as LF where asked): its
// parts go
// into the temporary beside the target as they come, and commit does what
// saveText does, writing only what the parts did not. Nothing done before
// commit shows: the target is not touched, a failure is kept and thrown by
// commit where saveText would throw it, and a saver dropped without commit
// takes its temporary with it. One thread at a time.
class TextSaver {
public:
    explicit TextSaver(std::string fileName);
    ~TextSaver();
    TextSaver(const TextSaver&) = delete;
    TextSaver& operator=(const TextSaver&) = delete;

    // Writes the next bytes of the text; never throws.
    void write(std::string_view part) noexcept;
    // How many bytes of the text the parts have written.
    std::size_t written() const { return written_; }
    // Replaces the target with `text`, whose first written() bytes are the
    // parts. Throws EFCreateError or EWriteError.
    void commit(std::string_view text);

private:
    void begin(const std::string& folder); // creates the temporary; throws
    void drop();                           // forgets the temporary and the parts
    std::string fileName_;
    std::string folder_; // where the temporary is, once begun
    int dir_ = -1, temp_ = -1;
    std::string tempName_, tempPath_;
    bool begun_ = false;
    bool named_ = false;    // the temporary has a name to remove when dropped
    bool declined_ = false; // the target is no file: nothing is written ahead
    std::size_t written_ = 0;
    std::exception_ptr failure_;
    bool lfOnly_; // the text's CR LF line ends are written as LF
};

// Called before every opening the modes make, with the name opened, on the
// thread that opens. The command-line companion learns from it which of its
// outputs a run has touched, to remove them when the run is stopped. One
// watcher at a time; an empty one removes it.
using OpeningWatcher = std::function<void(const std::string& fileName)>;
void watchOpenings(OpeningWatcher watcher);

} // namespace vq::listio
