#include "maintenance/selfadd.h"

#include "listio/errors.h"
#include "listio/listio.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace vq::maintenance {

namespace {

// The appender, asked one more thing before the first write: whether the
// file as prepared (end-of-file mark already cut) stops in the middle of a
// line.
class AddressAppender : public listio::TextAppender {
public:
    using TextAppender::TextAppender;

    bool endsInsideLine() {
        struct stat st;
        if (fstat(fd_, &st) != 0) throw EInOutError(codeFromErrno(errno, fileName_));
        if (st.st_size == 0) return false;
        // A line ends at CR or CR LF only: a lone LF is data of the line.
        char tail[2] = {0, 0};
        const off_t want = st.st_size < 2 ? 1 : 2;
        ssize_t got;
        do {
            got = pread(fd_, tail + 2 - want, static_cast<size_t>(want), st.st_size - want);
        } while (got < 0 && errno == EINTR);
        if (got < 0) throw EInOutError(codeFromErrno(errno, fileName_));
        if (got < want) return false;
        return !(tail[1] == '\r' || (tail[0] == '\r' && tail[1] == '\n'));
    }
};

} // namespace

std::string_view trimControls(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 0x20)
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20)
        --e;
    return text.substr(b, e - b);
}

void appendAddress(const std::string& fileName, std::string_view text) {
    AddressAppender out(fileName);
    std::string_view address = trimControls(text);
    // Without this the new address would continue the last one and both
    // would be lost as addresses.
    if (out.endsInsideLine()) out.writeLine({});
    out.writeLine(address);
    out.close();
}

} // namespace vq::maintenance
