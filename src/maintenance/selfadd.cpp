#include "maintenance/selfadd.h"

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
        if (dataEnd() == 0) return false;
        char last = 0;
        ssize_t got;
        do {
            got = pread(fd_, &last, 1, dataEnd() - 1);
        } while (got < 0 && errno == EINTR);
        if (got < 0) throw EInOutError(codeFromErrno(errno, fileName_));
        if (got == 0) return false;
        return last != '\r' && last != '\n';
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
