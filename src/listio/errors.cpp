#include "listio/errors.h"

#include <cerrno>
#include <new>
#include <string>
#include <sys/stat.h>

namespace vq {

EInOutError::EInOutError(int code, std::string fileName)
    : Exception(textFor(code), std::move(fileName)), code_(code) {}

std::string EInOutError::textFor(int code) {
    switch (code) {
    case iocode::FileNotFound:
        return "File not found";
    case iocode::PathNotFound:
        return "Invalid filename";
    case iocode::TooManyOpenFiles:
        return "Too many open files";
    case iocode::AccessDenied:
        return "File access denied";
    case iocode::ReadBeyondEnd:
        return "Read beyond end of file";
    case iocode::DiskFull:
        return "Disk full";
    case iocode::InvalidNumericInput:
        return "Invalid numeric input";
    default:
        return "I/O error " + std::to_string(code);
    }
}

EFOpenError::EFOpenError(const std::string& fileName)
    : Exception("Cannot open file " + fileName, fileName) {}

EFCreateError::EFCreateError(const std::string& fileName)
    : Exception("Cannot create file " + fileName, fileName) {}

EWriteError::EWriteError(std::string fileName)
    : Exception("Stream write error", std::move(fileName)) {}

EReadError::EReadError(std::string fileName)
    : Exception("Stream read error", std::move(fileName)) {}

namespace {

// ENOENT means a missing folder rather than a missing file when the part of
// the name before the last slash does not name an existing folder.
bool folderPartMissing(const std::string& path) {
    if (path.empty()) return true;
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return false; // the current folder exists
    std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat st;
    return ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

} // namespace

// errno values with a Windows counterpart get that code, so the texts a user
// sees match the program's own table. Every other errno becomes
// UnmappedErrnoBase + errno: that range (1000 and up) holds none of the codes
// above, so an unexpected failure can never pose as "File not found" or as a
// sharing violation, and the errno can still be read back from the number.
int codeFromErrno(int err, const std::string& path) {
    switch (err) {
    case ENOENT:
        return folderPartMissing(path) ? iocode::PathNotFound : iocode::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return iocode::PathNotFound;
    case EMFILE:
    case ENFILE:
        return iocode::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ENXIO: // a FIFO without a reader or a socket: not a file we write
        return iocode::AccessDenied;
    case EAGAIN:
    case ETXTBSY:
        return iocode::SharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return iocode::DiskFull;
    default:
        return iocode::UnmappedErrnoBase + err;
    }
}

std::string withFullStop(std::string_view text) {
    std::string s(text);
    if (!s.empty() && static_cast<unsigned char>(s.back()) > static_cast<unsigned char>('.'))
        s.push_back('.');
    return s;
}

Failure currentFailure() {
    try {
        throw;
    } catch (const Exception& e) {
        return {e.message(), e.fileName()};
    } catch (const std::bad_alloc&) {
        return {"Out of memory", {}};
    } catch (const std::exception& e) {
        return {e.what(), {}};
    } catch (...) {
        return {"Unknown failure", {}};
    }
}

} // namespace vq
