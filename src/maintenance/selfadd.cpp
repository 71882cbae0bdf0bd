#include "maintenance/selfadd.h"

#include "listio/byte_rules.h"
#include "listio/errors.h"
#include "listio/listio.h"

#include <cerrno>
#include <unistd.h>

namespace vq::maintenance {

namespace {

// The appender, asked one more thing before the first write: whether the
// file as prepared (up to the end-of-file mark it cuts) stops in the middle
// of a line.
class AddressAppender : public listio::TextAppender {
public:
    using TextAppender::TextAppender;

    bool endsInsideLine() {
        const off_t end = dataEnd();
        if (end == 0) return false;
        // A line ends at CR or CR LF only: a lone LF is data of the line.
        char tail[2] = {0, 0};
        const off_t want = end < 2 ? 1 : 2;
        ssize_t got;
        do {
            got = pread(fd_, tail + 2 - want, static_cast<size_t>(want), end - want);
        } while (got < 0 && errno == EINTR);
        if (got < 0) throw EInOutError(codeFromErrno(errno, fileName_));
        if (got < want) return false;
        return !(tail[1] == '\r' || (tail[0] == '\r' && tail[1] == '\n'));
    }
};

} // namespace

void appendAddress(const std::string& fileName, std::string_view text) {
    AddressAppender out(fileName);
    std::string_view address = listio::trimControls(text);
    // Without this the new address would continue the last one and both
    // would be lost as addresses.
    if (out.endsInsideLine()) out.writeLine({});
    out.writeLine(address);
    out.close();
}

} // namespace vq::maintenance
