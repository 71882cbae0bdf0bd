// The whole-file loader and saver, and the scratch file a command keeps data
// in past its memory.
#include "listio/listio.h"

#include "listio/byte_rules.h"
#include "listio/errors.h"
#include "listio/fault_seam.h"
#include "listio/file_access.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vq::listio {

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
    // Freeing the blocks of a temporary of some GiB takes a good part of a
    // second, which a stopped check must not wait for.
    if (temp_ >= 0 && written_ >= kCloseApartFrom) closeApart(std::exchange(temp_, -1));
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
