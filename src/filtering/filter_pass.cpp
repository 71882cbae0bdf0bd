#include "filtering/filter_pass.h"

#include "filtering/engine.h"
#include "listio/byte_rules.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// One bit a byte, 64 bytes a word.
using Bits = std::vector<std::uint64_t>;

// The 64 bits of `m` from byte s on, bit 0 for byte s.
inline std::uint64_t window(const Bits& m, std::size_t s) {
    const std::size_t w = s >> 6, r = s & 63;
    // Shifting in two steps makes r = 0 take nothing from the next word.
    return (m[w] >> r) | ((m[w + 1] << 1) << (63 - r));
}

// Bits from..to, both included (from <= to < 64).
inline std::uint64_t span(std::size_t from, std::size_t to) {
    return (~std::uint64_t(0) << from) & (~std::uint64_t(0) >> (63 - to));
}

#if defined(__SSE2__)
inline std::uint64_t bits64(__m128i a, __m128i b, __m128i c, __m128i d) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(a))) |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(b))) << 16 |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(c))) << 32 |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(d))) << 48;
}
#endif

// The valid lines of one block of the input, prepared and each followed by
// a CR, so that the engine decides them all in one scan. Most lines of a
// list are plain lower-case ASCII: for them the prepared line is the
// trimmed line as it stands, so line ends, at signs and trimmed ends are
// found for the whole block at once, sixty-four bytes to a word, and each
// line only looks up its own bits. A longer line, or one with a capital or
// a byte of 0x80 or more, is prepared on its own.
class Batch {
public:
    // Takes the lines of `block`, each ended by a CR (and an LF after it);
    // returns how many there were.
    int64_t fill(std::string_view block) {
        mark(block);
        blockSize_ = block.size();
        if (bytes_.size() < block.size() + 64) bytes_.resize(block.size() + 64);
        used_ = 0;
        ends_.clear();
        const char* b = block.data();
        const std::size_t n = block.size();
        int64_t lines = 0;
        std::size_t s = 0;
        for (std::size_t w = 0; (w << 6) < n; ++w) {
            for (std::uint64_t x = cr_[w]; x; x &= x - 1) {
                const std::size_t c = (w << 6) + static_cast<std::size_t>(__builtin_ctzll(x));
                addMarked(b, s, c);
                ++lines;
                s = c + 1;
                if (s < n && b[s] == '\n') ++s;
            }
        }
        return lines;
    }

    // Adds one line when it is valid. Lower-casing never moves an at sign,
    // so the validity test runs on the trimmed line and spares invalid
    // lines the copy.
    void add(std::string_view raw) {
        const std::string_view line = listio::trimControls(raw);
        if (line.empty() || line.front() == '@') return;
        const listio::ByteScan scan = listio::scanBytes(line.data(), line.size());
        if (!scan.atSign) return;
        char* dst = room(line.size());
        if (!scan.capitals)
            std::memcpy(dst, line.data(), line.size());
        else if (!scan.high)
            listio::lowerAscii(line.data(), line.size(), dst);
        else
            listio::lowerOutsideDoubleBytes(line.data(), line.size(), dst);
        close(line.size());
    }

    template <class Write> void sort(ContainmentEngine& engine, Write&& write) {
        engine.decide(std::string_view(bytes_.data(), used_), ends_, verdicts_);
        std::size_t start = 0;
        for (std::size_t i = 0; i < ends_.size(); ++i) {
            write(std::string_view(bytes_.data() + start, ends_[i] - start), verdicts_[i] != 0);
            start = ends_[i] + 1;
        }
    }

private:
    // A prepared line is never longer than its raw line with its CR, so a
    // block's batch fits in a block's bytes, with room for one wide copy.
    char* room(std::size_t size) {
        if (used_ + size + 1 > bytes_.size()) bytes_.resize(used_ + size + 1);
        return bytes_.data() + used_;
    }
    void close(std::size_t size) {
        used_ += size;
        ends_.push_back(used_);
        bytes_[used_++] = '\r';
    }

    // The line from byte s up to its CR at c.
    void addMarked(const char* b, std::size_t s, std::size_t c) {
        if (c - s > 63) return add(std::string_view(b + s, c - s));
        const std::uint64_t text = window(text_, s) & ((std::uint64_t(1) << (c - s)) - 1);
        if (!text) return; // empty once trimmed: invalid
        const std::size_t ts = static_cast<std::size_t>(__builtin_ctzll(text));
        const std::size_t te = 63 - static_cast<std::size_t>(__builtin_clzll(text));
        const std::uint64_t trimmed = span(ts, te);
        if (window(odd_, s) & trimmed) return add(std::string_view(b + s, c - s));
        if (b[s + ts] == '@' || !(window(at_, s) & trimmed)) return; // invalid
        const std::size_t size = te + 1 - ts;
        char* dst = room(64);
#if defined(__SSE2__)
        // Sixty-four bytes at once, whatever the line's length, where they
        // stand inside the block; the bytes past the line are overwritten
        // by what comes next.
        if (s + ts + 64 <= blockSize_) {
            for (int i = 0; i < 4; ++i)
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(dst + 16 * i),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + s + ts + 16 * i)));
            close(size);
            return;
        }
#endif
        std::memcpy(dst, b + s + ts, size);
        close(size);
    }

    // The bits of a block: CR, at sign, bytes above 0x20, and capitals or
    // high bytes.
    void mark(std::string_view block) {
        const std::size_t n = block.size();
        const std::size_t words = (n + 63) / 64;
        for (Bits* m : {&cr_, &at_, &text_, &odd_}) {
            m->resize(words + 1);
            (*m)[words] = 0; // read by window() past the last line
        }
        alignas(16) char tail[64];
        for (std::size_t w = 0; w < words; ++w) {
            const char* p = block.data() + (w << 6);
            if (n - (w << 6) < 64) {
                // The bytes past the block count as zero: no CR, no text.
                std::memset(tail, 0, sizeof tail);
                std::memcpy(tail, p, n - (w << 6));
                p = tail;
            }
            markWord(w, p);
        }
    }

    void markWord(std::size_t w, const char* p) {
#if defined(__SSE2__)
        __m128i x[4];
        for (int i = 0; i < 4; ++i)
            x[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const __m128i crByte = _mm_set1_epi8('\r'), atByte = _mm_set1_epi8('@'),
                      space = _mm_set1_epi8(0x20),
                      shift = _mm_set1_epi8(static_cast<char>(0x80 - 'A')),
                      below = _mm_set1_epi8(static_cast<char>(-128 + 26));
        auto each = [&](auto f) { return bits64(f(x[0]), f(x[1]), f(x[2]), f(x[3])); };
        cr_[w] = each([&](__m128i v) { return _mm_cmpeq_epi8(v, crByte); });
        at_[w] = each([&](__m128i v) { return _mm_cmpeq_epi8(v, atByte); });
        text_[w] = ~each([&](__m128i v) { return _mm_cmpeq_epi8(_mm_min_epu8(v, space), v); });
        // High bytes have their top bit set; only A to Z land below
        // -128 + 26 once shifted by 0x80 - 'A'.
        odd_[w] = each([&](__m128i v) {
            return _mm_or_si128(v, _mm_cmplt_epi8(_mm_add_epi8(v, shift), below));
        });
#else
        std::uint64_t cr = 0, at = 0, text = 0, odd = 0;
        for (std::size_t i = 0; i < 64; ++i) {
            const unsigned char c = static_cast<unsigned char>(p[i]);
            const std::uint64_t bit = std::uint64_t(1) << i;
            if (c == '\r') cr |= bit;
            if (c == '@') at |= bit;
            if (c > 0x20) text |= bit;
            if (c >= 0x80 || (c >= 'A' && c <= 'Z')) odd |= bit;
        }
        cr_[w] = cr;
        at_[w] = at;
        text_[w] = text;
        odd_[w] = odd;
#endif
    }

    Bits cr_, at_, text_, odd_;
    std::vector<char> bytes_;
    std::size_t used_ = 0;
    std::size_t blockSize_ = 0;
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
            counts.read += batch.fill(lines);
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
