#pragma once
// Failures of list-file work and of the commands. Every failure a user can
// see is one of these; the window layer shows what() in the error box and the
// command-line companion prints it.
#include <exception>
#include <string>
#include <string_view>

namespace vq {

// Base of every failure the program reports; carries the text as shown and,
// when the failure is about one file, that file's name as it was opened (the
// command-line companion names it; the window's texts never do).
class Exception : public std::exception {
public:
    explicit Exception(std::string message, std::string fileName = {})
        : message_(std::move(message)), fileName_(std::move(fileName)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::string& fileName() const noexcept { return fileName_; }

private:
    std::string message_;
    std::string fileName_;
};

// Text-file error: a numeric code in the Windows numbering and its text
// ("File not found", "I/O error 32", ...).
class EInOutError : public Exception {
public:
    explicit EInOutError(int code, std::string fileName = {});
    int code() const noexcept { return code_; }
    static std::string textFor(int code);

private:
    int code_;
};

// Whole-file mode failures.
class EFOpenError : public Exception { // "Cannot open file %s"
public:
    explicit EFOpenError(const std::string& fileName);
};
class EFCreateError : public Exception { // "Cannot create file %s"
public:
    explicit EFCreateError(const std::string& fileName);
};
class EWriteError : public Exception { // "Stream write error"
public:
    explicit EWriteError(std::string fileName = {});
};
class EReadError : public Exception { // "Stream read error"
public:
    explicit EReadError(std::string fileName = {});
};

// "'%s' is not a valid integer value"
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Codes of the text-file modes themselves.
namespace iocode {
inline constexpr int FileNotFound = 2;
inline constexpr int PathNotFound = 3;
inline constexpr int TooManyOpenFiles = 4;
inline constexpr int AccessDenied = 5;
inline constexpr int SharingViolation = 32;
inline constexpr int ReadBeyondEnd = 100;
inline constexpr int DiskFull = 101;
inline constexpr int FileNotOpen = 103;
inline constexpr int NotOpenForInput = 104;
inline constexpr int NotOpenForOutput = 105;
inline constexpr int InvalidNumericInput = 106;
// An errno without a counterpart above is reported as this base plus errno.
inline constexpr int UnmappedErrnoBase = 1000;
} // namespace iocode

// Maps errno to the Windows code of the same meaning. `path` lets ENOENT tell
// a missing file (2) from a missing folder (3).
int codeFromErrno(int err, const std::string& path = {});

// The error box's rule: a full stop is appended when the last byte of the
// text sorts above '.'.
std::string withFullStop(std::string_view text);

// What the user is told of the exception being handled: call it inside a
// catch block. The window's error box and the command-line companion both
// take their text from here, so a failure reads the same in either.
struct Failure {
    std::string text;     // without the full stop
    std::string fileName; // the file it is about, when one is known
};
Failure currentFailure();

} // namespace vq
