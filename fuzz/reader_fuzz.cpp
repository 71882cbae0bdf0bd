// The text-file reader, its block copy, the writer and the whole-file
// loader against the byte-by-byte references. Tiny buffers put line ends,
// CR LF pairs and end-of-file marks on every possible fill boundary; now
// and then the input is repeated into a file of some 150 kilobytes,
// read with the real buffer, so that the copy hands whole blocks to the
// kernel.
#include "fuzz_util.h"
#include "listio/listio.h"
#include "naive.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace vq::listio;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t smallReadBuf = in.ConsumeIntegralInRange<std::size_t>(1, 70);
    const std::size_t writeBuf = in.ConsumeIntegralInRange<std::size_t>(2, 70);
    const std::size_t linesFirst = in.ConsumeIntegralInRange<std::size_t>(0, 8);
    const int64_t piece = in.ConsumeIntegralInRange<int64_t>(1, 9);
    const bool big = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    const bool lf = in.ConsumeBool(); // lines written with LF, as --lf asks
    setWrittenLineEnd(lf);
    const std::string_view eol = writtenLineEnd();
    std::string file = in.ConsumeRemainingBytesAsString();
    std::size_t readBuf = smallReadBuf;
    if (big && !file.empty()) {
        const std::string unit = file;
        while (file.size() < (std::size_t(9) << 14))
            file += unit;
        readBuf = kDefaultBufferSize;
    }

    const std::string path = fuzzutil::scratch("list.txt");
    const std::string out = fuzzutil::scratch("out.txt");
    fuzzutil::writeBytes(path, file);
    const std::vector<std::string> expected = naive::readerLines(file);
    {
        // The rule as the byte rules state it, which every test holds the
        // fast paths to.
        const std::vector<std::string_view> rule = listLines(file);
        FUZZ_CHECK(std::vector<std::string>(rule.begin(), rule.end()) == expected);
    }

    // Line by line, both forms of readLine, and the end test repeated.
    {
        TextReader r(path, readBuf);
        std::vector<std::string> got;
        std::string held;
        while (!r.atEnd()) {
            FUZZ_CHECK(!r.atEnd()); // the end test consumes nothing
            if (got.size() % 2 == 0)
                got.emplace_back(r.readLine());
            else {
                r.readLine(held);
                got.push_back(held);
            }
            FUZZ_CHECK(got.size() <= expected.size());
        }
        FUZZ_CHECK(got == expected);
        FUZZ_CHECK(r.readLine().empty()); // a read at the end yields an empty line
        FUZZ_CHECK(r.atEnd());
        r.close();
    }

    // Some lines read one by one, the rest handed over in blocks, as a merge
    // does after a partial read.
    {
        TextReader r(path, readBuf);
        TextWriter w(out, writeBuf);
        std::size_t n = 0;
        for (; n < linesFirst && !r.atEnd(); ++n)
            w.writeLine(r.readLine());
        int64_t copied = r.copyLinesTo(w);
        w.close();
        r.close();
        FUZZ_CHECK(static_cast<std::size_t>(copied) + n == expected.size());
        FUZZ_CHECK(fuzzutil::readBytes(out) == naive::joinLines(expected, eol));
    }

    // The count, and copies of at most `piece` lines at a time into one
    // file, every other piece lower-cased, as the splitter and the folder
    // merge make them.
    {
        TextReader counter(path, readBuf);
        FUZZ_CHECK(counter.countLines() == static_cast<int64_t>(expected.size()));
        FUZZ_CHECK(counter.atEnd());
        counter.close();

        TextReader r(path, readBuf);
        TextWriter w(out, writeBuf);
        std::string joined;
        std::size_t next = 0;
        for (int k = 0; !r.atEnd(); ++k) {
            LineCopy how;
            how.maxLines = piece;
            how.lowerCase = k % 2 == 1;
            const int64_t got = r.copyLinesTo(w, how);
            FUZZ_CHECK(got == piece || (got > 0 && r.atEnd()));
            for (int64_t i = 0; i < got; ++i) {
                FUZZ_CHECK(next < expected.size());
                std::string line = expected[next++];
                if (how.lowerCase) line = naive::lowerAscii(line);
                joined += line;
                joined += eol;
            }
        }
        w.close();
        r.close();
        FUZZ_CHECK(next == expected.size());
        FUZZ_CHECK(fuzzutil::readBytes(out) == joined);
    }

    // The whole-file loader, from the file and from memory.
    const std::vector<std::string> whole = naive::loaderLines(file);
    FUZZ_CHECK(splitWholeText(file) == whole);
    FUZZ_CHECK(loadLines(path) == whole);

    // The saver writes exactly the joined lines.
    saveLines(out, whole);
    FUZZ_CHECK(fuzzutil::readBytes(out) == naive::joinLines(whole, eol));
    FUZZ_CHECK(fuzzutil::scratchEntries() == 2); // no temporary file left beside it
    return 0;
}
