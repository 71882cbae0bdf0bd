#include "cli/run_files.h"

#include "listio/listio.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vq::cli {

namespace {

constexpr std::array kRunSignals{SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Holds the run's signals while what their handler reads changes.
class SignalHold {
public:
    SignalHold() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kRunSignals)
            sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalHold() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

// An output as the run found it just before a core opened it: a file that
// is not there any more as it was then has been created or emptied by the
// run. Taken on the core's own opening, so an output the core has not
// reached yet (a file it would refuse, a later numbered file) is never
// taken for one of the run's.
// `taken` is published after the rest, so a handler that sees it set finds
// the rest filled: openings need not hold the signals.
struct Before {
    std::atomic<bool> taken{false};
    bool existed = false;
    struct stat st {};
    Before() = default;
    Before(const Before& other) : taken(other.taken.load()), existed(other.existed), st(other.st) {}
};
static_assert(std::atomic<bool>::is_always_lock_free, "read by a signal handler");
static_assert(std::atomic<int64_t>::is_always_lock_free, "read by a signal handler");

bool touched(const Before& b, const char* path) {
    struct stat now;
    if (!b.taken.load(std::memory_order_acquire) || ::stat(path, &now) != 0 ||
        !S_ISREG(now.st_mode))
        return false;
    return !b.existed || now.st_dev != b.st.st_dev || now.st_ino != b.st.st_ino ||
           now.st_ctim.tv_sec != b.st.st_ctim.tv_sec || now.st_ctim.tv_nsec != b.st.st_ctim.tv_nsec;
}

void take(Before& b, const std::string& path) {
    b.existed = ::stat(path.c_str(), &b.st) == 0;
    b.taken.store(true, std::memory_order_release);
}

struct Output {
    std::string name;    // as the core opens it
    std::string removed; // the file it names, links followed
    Before before;
};

// What the signal handler removes. It is filled before the signals are let
// in, or with them held, and only read by the handler.
struct Removal {
    std::vector<Output> outputs;
    // Split: the numbered files base1.txt ... opened so far; all but the
    // last were written by the run. File k is found as it was in slot k % 2:
    // the next file's state goes into the other slot before the count moves
    // on, so the handler never reads a slot that is being filled.
    std::string numberedBase;
    int64_t numberedCount = 0;
    std::atomic<int64_t> numberedOpened{0};
    Before numbered[2];
    std::vector<std::string> temporaries;
    std::string temporaryFolder;
};
Removal removal;

std::string numberedName(int64_t k) {
    return removal.numberedBase + std::to_string(k) + ".txt";
}

// Called before every opening of a core; it holds no signals, which would
// cost two calls for each numbered file of a split.
void noteOpening(const std::string& path) {
    for (auto& out : removal.outputs)
        if (!out.before.taken.load(std::memory_order_relaxed) && out.name == path)
            take(out.before, path);
    const int64_t opened = removal.numberedOpened.load(std::memory_order_relaxed);
    if (opened < removal.numberedCount && path == numberedName(opened + 1)) {
        take(removal.numbered[(opened + 1) % 2], path);
        removal.numberedOpened.store(opened + 1, std::memory_order_release);
    }
}

struct Relay {
    std::string coreName; // the file the core writes
    int fd;               // where its bytes go at the end
};
std::vector<Relay> relays;
// Every file of the run: the name the core uses and the name the user gave.
struct Named {
    std::string core, user;
    bool output;
};
std::vector<Named> named;
bool toStderr = false;
bool ignoredAtStart[kRunSignals.size()] = {};

// Async-signal-safe: stat, unlink and rmdir only, on names built beforehand
// or in a static buffer.
void removeWhatTheRunTouched() {
    for (const auto& out : removal.outputs)
        if (touched(out.before, out.removed.c_str())) ::unlink(out.removed.c_str());
    static char name[PATH_MAX + 32];
    const std::size_t baseLength = removal.numberedBase.size();
    if (baseLength < PATH_MAX) {
        std::memcpy(name, removal.numberedBase.data(), baseLength);
        const int64_t opened = removal.numberedOpened.load(std::memory_order_acquire);
        for (int64_t k = 1; k <= opened; ++k) {
            char digits[24];
            int n = 0;
            for (int64_t v = k; v > 0; v /= 10)
                digits[n++] = static_cast<char>('0' + v % 10);
            std::size_t at = baseLength;
            while (n > 0)
                name[at++] = digits[--n];
            std::memcpy(name + at, ".txt", 5);
            struct stat st;
            const bool written = k < opened ? ::stat(name, &st) == 0 && S_ISREG(st.st_mode)
                                            : touched(removal.numbered[k % 2], name);
            if (written) ::unlink(name);
        }
    }
    for (const auto& t : removal.temporaries)
        ::unlink(t.c_str());
    if (!removal.temporaryFolder.empty()) ::rmdir(removal.temporaryFolder.c_str());
}

extern "C" void onRunSignal(int sig) {
    removeWhatTheRunTouched();
    if (sig == SIGPIPE) {
        // Ends as a reader that went away ends any other command: by SIGPIPE.
        ::signal(SIGPIPE, SIG_DFL);
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        ::raise(SIGPIPE);
        ::sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
    }
    ::_exit(128 + sig);
}

void removeTemporaries() {
    SignalHold hold;
    for (const auto& t : removal.temporaries)
        ::unlink(t.c_str());
    if (!removal.temporaryFolder.empty()) ::rmdir(removal.temporaryFolder.c_str());
    removal.temporaries.clear();
    removal.temporaryFolder.clear();
}

const std::string& temporaryFolder() {
    if (removal.temporaryFolder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/veskoqindra-cli.XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder in " +
                                     pattern.substr(0, pattern.rfind('/')) + ": " +
                                     std::strerror(errno));
        SignalHold hold;
        removal.temporaryFolder = pattern;
        std::atexit(removeTemporaries);
    }
    return removal.temporaryFolder;
}

std::string temporaryFile(const std::string& name) {
    std::string path = temporaryFolder() + "/" + name;
    SignalHold hold;
    removal.temporaries.push_back(path);
    return path;
}

void writeAllTo(int fd, const char* data, std::size_t size, const std::string& coreName) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // A descriptor the shell left non-blocking: wait until it takes more.
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, -1);
            continue;
        }
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            throw EInOutError(codeFromErrno(err), coreName);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string spoolStandardInput() {
    struct stat st;
    // Standard input that is a list file already, from its start, is read
    // in place.
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode) &&
        ::lseek(STDIN_FILENO, 0, SEEK_CUR) == 0)
        return "/dev/stdin";
    const std::string path = temporaryFile("stdin.txt");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    std::vector<char> buf(listio::kDefaultBufferSize);
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // Standard input the shell left non-blocking: wait for more.
            pollfd p{STDIN_FILENO, POLLIN, 0};
            ::poll(&p, 1, -1);
            continue;
        }
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            throw EInOutError(codeFromErrno(err), path);
        }
        if (n == 0) break;
        for (const char* p = buf.data(); n > 0;) {
            ssize_t w = ::write(fd, p, static_cast<std::size_t>(n));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                const int err = w < 0 ? errno : ENOSPC;
                ::close(fd);
                throw std::runtime_error("cannot keep standard input in " + path + ": " +
                                         std::strerror(err));
            }
            p += w;
            n -= w;
        }
    }
    if (::close(fd) != 0)
        throw std::runtime_error("cannot keep standard input in " + path + ": " +
                                 std::strerror(errno));
    return path;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool isNullDevice(const struct stat& st) {
    return S_ISCHR(st.st_mode) && st.st_rdev == makedev(1, 3);
}

void installHandlers(bool first) {
    struct sigaction sa {};
    sa.sa_handler = onRunSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : kRunSignals)
        sigaddset(&sa.sa_mask, s); // one handler at a time
    for (std::size_t i = 0; i < kRunSignals.size(); ++i) {
        if (first) {
            // A signal the shell ignores (a background job's SIGINT) stays ignored.
            struct sigaction old {};
            sigaction(kRunSignals[i], nullptr, &old);
            ignoredAtStart[i] = old.sa_handler == SIG_IGN;
        }
        if (!ignoredAtStart[i]) sigaction(kRunSignals[i], &sa, nullptr);
    }
}

} // namespace

RunNames startRun(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
    if (std::count(inputs.begin(), inputs.end(), "-") > 1)
        throw UsageError("standard input ('-') can be read only once");
    if (std::count(outputs.begin(), outputs.end(), "-") > 1)
        throw UsageError("only one output can be standard output ('-')");

    listio::watchOpenings(noteOpening);
    installHandlers(true);

    RunNames names;
    for (const auto& in : inputs) {
        if (in != "-") {
            names.inputs.push_back(in);
            continue;
        }
        names.inputs.push_back(spoolStandardInput());
    }
    for (std::size_t i = 0; i < inputs.size(); ++i)
        named.push_back({names.inputs[i], inputs[i], false});

    struct stat out {};
    const bool haveStdout = ::fstat(STDOUT_FILENO, &out) == 0;
    for (const auto& name : outputs) {
        struct stat st {};
        int relayFd = -1;
        if (name == "-") {
            relayFd = STDOUT_FILENO;
            toStderr = true;
        } else if (::stat(name.c_str(), &st) == 0) {
            const bool isStdout = haveStdout && sameFile(st, out) && !isNullDevice(st);
            toStderr = toStderr || isStdout;
            if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
                // Opened without waiting: a FIFO nobody reads goes on to the
                // core, which refuses it as it refuses any FIFO.
                relayFd = isStdout ? STDOUT_FILENO
                                   : ::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (relayFd >= 0 && relayFd != STDOUT_FILENO) {
                    int flags = ::fcntl(relayFd, F_GETFL);
                    ::fcntl(relayFd, F_SETFL, flags & ~O_NONBLOCK);
                }
            }
        }
        if (relayFd >= 0) {
            names.outputs.push_back(
                temporaryFile("out" + std::to_string(relays.size() + 1) + ".txt"));
            relays.push_back({names.outputs.back(), relayFd});
            named.push_back({names.outputs.back(), name, true});
            continue;
        }
        names.outputs.push_back(name);
        named.push_back({name, name, true});
        std::error_code ec;
        std::string resolved = std::filesystem::weakly_canonical(name, ec).string();
        SignalHold hold;
        removal.outputs.push_back({name, ec ? name : resolved, {}});
    }
    return names;
}

void addNumberedOutputs(const std::string& base, int64_t count) {
    SignalHold hold;
    removal.numberedBase = base;
    removal.numberedCount = count;
    removal.numberedOpened.store(0);
}

void addAlias(const std::string& coreName, const std::string& knownName) {
    {
        // The core opens the output by this name: that opening is the one
        // a signal's removal looks for.
        SignalHold hold;
        const std::size_t count = removal.outputs.size();
        for (std::size_t i = 0; i < count; ++i)
            if (removal.outputs[i].name == knownName)
                removal.outputs.push_back({coreName, removal.outputs[i].removed, {}});
    }
    for (const auto& n : named)
        if (n.core == knownName) {
            named.push_back({coreName, n.user, n.output});
            return;
        }
    named.push_back({coreName, knownName, false});
}

void finishRun() {
    std::vector<char> buf;
    for (const Relay& r : relays) {
        const int in = ::open(r.coreName.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) continue; // the core wrote nothing (a check without repeats)
        buf.resize(listio::kDefaultBufferSize);
        for (;;) {
            ssize_t n = ::read(in, buf.data(), buf.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                const int err = errno;
                ::close(in);
                throw EInOutError(codeFromErrno(err), r.coreName);
            }
            if (n == 0) break;
            try {
                writeAllTo(r.fd, buf.data(), static_cast<std::size_t>(n), r.coreName);
            } catch (...) {
                ::close(in);
                throw;
            }
        }
        ::close(in);
        if (r.fd != STDOUT_FILENO && ::close(r.fd) != 0) {
            throw EInOutError(codeFromErrno(errno), r.coreName);
        }
    }
    relays.clear();
    removeTemporaries();
}

void catchRunSignals() {
    installHandlers(false);
}

bool stdoutIsAnOutput() {
    return toStderr;
}

bool isRelayed(const std::string& coreName) {
    return std::any_of(relays.begin(), relays.end(),
                       [&](const Relay& r) { return r.coreName == coreName; });
}

std::string errorLine(const Failure& f) {
    const std::string prefix = "veskoqindra-cli: ";
    if (f.fileName.empty()) return prefix + withFullStop(f.text);
    std::string user = f.fileName;
    for (const auto& n : named)
        if (n.core == f.fileName) {
            user = n.user;
            break;
        }
    // A text that names its file ("Cannot open file %s") gets the name the
    // user gave in place of a stand-in; any other text is prefixed with it.
    std::string text = f.text;
    if (text.ends_with(f.fileName)) {
        text.replace(text.size() - f.fileName.size(), f.fileName.size(), user);
        return prefix + withFullStop(text);
    }
    return prefix + user + ": " + withFullStop(text);
}

} // namespace vq::cli
