#include "cli/cli.h"
#include "cli/run_files.h"
#include "maintenance/selfadd.h"

#include <cerrno>
#include <iconv.h>

namespace {

// The lists are GB2312 files, so an address typed in the UTF-8 terminal is
// written in code page 936, as the window writes it. A character GBK cannot
// hold becomes '?'; text that is not UTF-8 at all is taken as it stands.
std::string toCodePage936(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
    std::string out;
    char buf[256];
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, static_cast<size_t>(o - buf));
        if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
        if (errno == EILSEQ) {
            // Valid UTF-8 that GBK lacks: skip one character, write '?'.
            auto lead = static_cast<unsigned char>(*in);
            size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
            bool validUtf8 = len != 0 && len <= inLeft;
            for (size_t i = 1; validUtf8 && i < len; ++i)
                validUtf8 = (static_cast<unsigned char>(in[i]) & 0xC0) == 0x80;
            if (!validUtf8) {
                iconv_close(cd);
                return utf8;
            }
            out += '?';
            in += len;
            inLeft -= len;
        } else {
            iconv_close(cd);
            return utf8; // EINVAL: cut-off UTF-8 at the end
        }
    }
    iconv_close(cd);
    return out;
}

int runAdd(const std::vector<std::string>& args) {
    auto p = vq::cli::parseArgs(args, {}, {});
    if (!p.error.empty()) return vq::cli::usageError("add", p.error);
    if (p.positional.size() != 2)
        return vq::cli::usageError("add", "expects a list file and the address");
    // A line is added to a list file; standard input or output holds none.
    if (p.positional[0] == "-") return vq::cli::usageError("add", "FILE cannot be '-'");
    vq::cli::startRun({p.positional[0]}, {});
    vq::maintenance::appendAddress(p.positional[0], toCodePage936(p.positional[1]));
    vq::cli::printMessage("邮件地址添加完毕!");
    return 0;
}

const vq::cli::Register reg({"add", "FILE TEXT",
                             "append TEXT (trimmed, in code page 936) as a new line of FILE", 40,
                             runAdd});

} // namespace
