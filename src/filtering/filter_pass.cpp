#include "filtering/filter_pass.h"

#include "filtering/engine.h"
#include "listio/byte_rules.h"

#include <cstring>

namespace vq::filtering {

namespace {

// Closes an output after another file failed, so that what was written
// reaches the disk; the first failure is the one the user needs to see.
void closeAfterFailure(listio::TextWriter& w) {
    try {
        w.close();
    } catch (...) {
    }
}

// The valid lines of one block of the input, prepared and each followed by
// a CR, so that the engine decides them all in one scan.
class Batch {
public:
    void clear() {
        bytes_.clear();
        ends_.clear();
    }

    // Adds the line when it is valid. Lower-casing never moves an at sign,
    // so the validity test runs on the trimmed line and spares invalid
    // lines the copy.
    void add(std::string_view raw) {
        const std::string_view line = listio::trimControls(raw);
        if (line.empty() || line.front() == '@') return;
        const listio::ByteScan scan = listio::scanBytes(line.data(), line.size());
        if (!scan.atSign) return;
        const std::size_t at = bytes_.size();
        bytes_.resize(at + line.size() + 1);
        char* dst = bytes_.data() + at;
        if (!scan.capitals)
            std::memcpy(dst, line.data(), line.size());
        else if (!scan.high)
            listio::lowerAscii(line.data(), line.size(), dst);
        else
            listio::lowerOutsideDoubleBytes(line.data(), line.size(), dst);
        dst[line.size()] = '\r';
        ends_.push_back(at + line.size());
    }

    template <class Write> void sort(ContainmentEngine& engine, Write&& write) {
        engine.decide(bytes_, ends_, verdicts_);
        std::size_t start = 0;
        for (std::size_t i = 0; i < ends_.size(); ++i) {
            write(std::string_view(bytes_.data() + start, ends_[i] - start), verdicts_[i] != 0);
            start = ends_[i] + 1;
        }
    }

private:
    std::string bytes_;
    std::vector<std::size_t> ends_;
    std::vector<unsigned char> verdicts_;
};

} // namespace

FilterCounts filterList(const std::string& input, const std::string& matchingFile,
                        const std::string& restFile, Rule rule,
                        const std::vector<std::string>& rows, const std::function<void()>& opened,
                        std::size_t readBuffer) {
    // Built before any file is touched, so a matcher that cannot be built
    // creates nothing.
    ContainmentEngine engine(rule, rows);
    FilterCounts counts;
    listio::TextReader in(input, readBuffer);
    listio::TextWriter matching(matchingFile);
    listio::TextWriter rest(restFile);
    if (opened) opened();

    auto write = [&](std::string_view prepared, bool match) {
        if (match) {
            matching.writeLine(prepared);
            ++counts.matching;
        } else {
            rest.writeLine(prepared);
            ++counts.rest;
        }
    };
    Batch batch;
    std::string scratch;
    try {
        while (!in.atEnd()) {
            const std::string_view lines = in.readLines();
            if (lines.empty()) {
                // A line longer than the buffer, decided on its own.
                const std::string_view prepared = prepareLine(in.readLine(), scratch);
                ++counts.read;
                if (isValidLine(prepared)) write(prepared, engine.matches(prepared));
                continue;
            }
            batch.clear();
            // Each line of the block ends at its CR; an LF right after it
            // belongs to that CR.
            const char* p = lines.data();
            const char* end = p + lines.size();
            while (p < end) {
                const char* cr = static_cast<const char*>(std::memchr(p, '\r', end - p));
                batch.add(std::string_view(p, cr - p));
                ++counts.read;
                p = cr + 1;
                if (p < end && *p == '\n') ++p;
            }
            batch.sort(engine, write);
        }
        in.close();
        matching.close();
        rest.close();
    } catch (...) {
        closeAfterFailure(matching);
        closeAfterFailure(rest);
        throw;
    }
    return counts;
}

} // namespace vq::filtering
