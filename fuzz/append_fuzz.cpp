// The appender's preparation (the 128-byte window, the cut at the first
// end-of-file mark in it) and the self-add built on it, against the rules
// applied to the file's bytes directly.
#include "fuzz_util.h"
#include "listio/listio.h"
#include "maintenance/selfadd.h"
#include "naive.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace vq::listio;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool selfAdd = in.ConsumeBool();
    const bool lf = in.ConsumeBool(); // lines written with LF, as --lf asks
    setWrittenLineEnd(lf);
    const std::string eol = lf ? "\n" : "\r\n";
    // Files around the window's size matter most: marks just inside and
    // just outside the last 128 bytes.
    const std::size_t padding = in.ConsumeIntegralInRange<std::size_t>(0, 300);
    const char padByte = in.ConsumeIntegral<char>();
    std::string file(padding, padByte);
    file += in.ConsumeRandomLengthString(400);
    std::vector<std::string> lines;
    while (in.remaining_bytes() > 0 && lines.size() < 6)
        lines.push_back(in.ConsumeRandomLengthString(40));

    const std::string path = fuzzutil::scratch("list.txt");
    fuzzutil::writeBytes(path, file);
    const std::string prepared = naive::preparedForAppend(file);

    if (selfAdd) {
        // One trimmed address; when the prepared file stops inside a line,
        // a line end goes first so the address keeps a line of its own. A
        // line ends at CR or CR LF, and in a list written on Linux at LF.
        const std::string text = lines.empty() ? std::string() : lines.front();
        vq::maintenance::appendAddress(path, text);
        std::string expected = prepared;
        const std::size_t n = expected.size();
        const bool endsLine =
            n > 0 && (expected[n - 1] == '\r' ||
                      (expected[n - 1] == '\n' &&
                       (naive::writtenOnLinux(file) || (n > 1 && expected[n - 2] == '\r'))));
        if (n > 0 && !endsLine) expected += eol;
        expected += naive::trim(text) + eol;
        FUZZ_CHECK(fuzzutil::readBytes(path) == expected);
        return 0;
    }

    {
        TextAppender a(path);
        for (const auto& l : lines)
            a.writeLine(l);
        a.close();
    }
    FUZZ_CHECK(fuzzutil::readBytes(path) == prepared + naive::joinLines(lines, eol));
    return 0;
}
