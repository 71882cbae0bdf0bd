#include "filtering/filter_pass.h"

#include "listio/listio.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string.h> // memmem

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vq::filtering {

std::string_view trimControls(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20)
        --end;
    return text.substr(begin, end - begin);
}

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// 0x80 in every byte of `x` that is an ASCII capital letter, eight bytes at
// a time. No byte can carry into its neighbour: each sum stays below 0x100.
inline std::uint64_t capitalMask(std::uint64_t x) {
    const std::uint64_t low7 = x & ~kHighBits;
    const std::uint64_t atLeastA = low7 + kOnes * (0x80 - 'A');
    const std::uint64_t aboveZ = low7 + kOnes * (0x7F - 'Z');
    return atLeastA & ~aboveZ & ~x & kHighBits;
}

inline std::uint64_t load(const char* p, std::size_t n) {
    std::uint64_t x = 0; // zero bytes are no capitals and no high bytes
    std::memcpy(&x, p, n);
    return x;
}

inline unsigned char lowerAscii(unsigned char c) {
    return static_cast<unsigned char>(c + ((static_cast<unsigned char>(c - 'A') < 26u) << 5));
}

// Lead bytes of a double-byte character in code page 936.
inline bool isLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// Blocks of 16 or 8 bytes below; the last block of a line may overlap the
// one before, which costs nothing since each byte's result depends on that
// byte alone.
inline std::size_t nextBlock(std::size_t i, std::size_t block, std::size_t n) {
    return i + 2 * block <= n ? i + block : n - block;
}

#if defined(__SSE2__)
// 0xFF in every byte that is A to Z: only they land below -128 + 26 once
// shifted by 0x80 - 'A'.
inline __m128i capitalBytes(__m128i x) {
    return _mm_cmplt_epi8(_mm_add_epi8(x, _mm_set1_epi8(static_cast<char>(0x80 - 'A'))),
                          _mm_set1_epi8(static_cast<char>(-128 + 26)));
}
inline __m128i load16(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

// What one look at a non-empty trimmed line tells.
struct LineScan {
    bool capitals = false; // holds an ASCII capital letter
    bool high = false;     // holds a byte of 0x80 or more
    bool atSign = false;   // holds an at sign somewhere
};

// Nonzero exactly when `x` has a zero byte.
inline std::uint64_t zeroByte(std::uint64_t x) {
    return (x - kOnes) & ~x & kHighBits;
}

LineScan scanLine(const char* src, std::size_t n) {
    LineScan scan;
#if defined(__SSE2__)
    if (n >= 16) {
        const __m128i at = _mm_set1_epi8('@');
        __m128i caps = _mm_setzero_si128(), all = _mm_setzero_si128(), ats = _mm_setzero_si128();
        for (std::size_t i = 0;; i = nextBlock(i, 16, n)) {
            const __m128i x = load16(src + i);
            caps = _mm_or_si128(caps, capitalBytes(x));
            all = _mm_or_si128(all, x);
            ats = _mm_or_si128(ats, _mm_cmpeq_epi8(x, at));
            if (i + 16 >= n) break;
        }
        scan.capitals = _mm_movemask_epi8(caps) != 0;
        scan.high = _mm_movemask_epi8(all) != 0;
        scan.atSign = _mm_movemask_epi8(ats) != 0;
        return scan;
    }
#endif
    // The zeros that pad a short load are neither capitals, nor high bytes,
    // nor at signs.
    std::uint64_t capitals = 0, bytes = 0, ats = 0;
    if (n >= 8) {
        for (std::size_t i = 0;; i = nextBlock(i, 8, n)) {
            const std::uint64_t x = load(src + i, 8);
            capitals |= capitalMask(x);
            bytes |= x;
            ats |= zeroByte(x ^ (kOnes * '@'));
            if (i + 8 >= n) break;
        }
    } else {
        bytes = load(src, n);
        capitals = capitalMask(bytes);
        ats = zeroByte(bytes ^ (kOnes * '@'));
    }
    scan.capitals = capitals != 0;
    scan.high = (bytes & kHighBits) != 0;
    scan.atSign = ats != 0;
    return scan;
}

// For lines without high bytes only.
void lowerAsciiLine(const char* src, char* dst, std::size_t n) {
#if defined(__SSE2__)
    if (n >= 16) {
        const __m128i caseBit = _mm_set1_epi8(0x20);
        for (std::size_t i = 0;; i = nextBlock(i, 16, n)) {
            const __m128i x = load16(src + i);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                             _mm_or_si128(x, _mm_and_si128(capitalBytes(x), caseBit)));
            if (i + 16 >= n) break;
        }
        return;
    }
#endif
    if (n >= 8) {
        for (std::size_t i = 0;; i = nextBlock(i, 8, n)) {
            std::uint64_t x = load(src + i, 8);
            x |= capitalMask(x) >> 2; // 0x80 >> 2 is the case bit 0x20
            std::memcpy(dst + i, &x, 8);
            if (i + 8 >= n) break;
        }
        return;
    }
    for (std::size_t i = 0; i < n; ++i)
        dst[i] = static_cast<char>(lowerAscii(static_cast<unsigned char>(src[i])));
}

} // namespace

namespace {

// The prepared line of a non-empty trimmed line.
std::string_view lowered(std::string_view line, const LineScan& scan, std::string& scratch) {
    const std::size_t n = line.size();
    const char* src = line.data();
    if (!scan.high) {
        // Plain ASCII, nearly every address: most need no change at all.
        if (!scan.capitals) return line;
        scratch.resize(n);
        lowerAsciiLine(src, scratch.data(), n);
        return scratch;
    }

    // A trail byte of a double-byte character may be a capital letter's
    // code; it belongs to its character and stays as it is. A lead byte
    // followed by a byte that cannot trail changes nothing by being skipped
    // with it, as such a byte is neither a letter nor a lead byte.
    scratch.resize(n);
    auto* dst = reinterpret_cast<unsigned char*>(scratch.data());
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (isLeadByte(c) && i + 1 < n) {
            dst[i] = c;
            dst[i + 1] = s[i + 1];
            i += 2;
        } else {
            dst[i] = lowerAscii(c);
            ++i;
        }
    }
    return scratch;
}

} // namespace

std::string_view prepareLine(std::string_view raw, std::string& scratch) {
    const std::string_view line = trimControls(raw);
    if (line.empty()) return line;
    return lowered(line, scanLine(line.data(), line.size()), scratch);
}

ByteSearcher::ByteSearcher(std::string needle) : needle_(std::move(needle)) {}

namespace {

// Candidates whose first and last bytes both fit are checked in between.
inline bool middleFits(const char* at, const std::string& needle) {
    for (std::size_t k = 1; k + 1 < needle.size(); ++k)
        if (at[k] != needle[k]) return false;
    return true;
}

// The search without vector registers: eight starting positions at a time.
bool occursSwar(const char* hay, std::size_t starts, const std::string& needle) {
    const std::size_t n = needle.size();
    const char first = needle.front(), last = needle.back();
    if (starts < 8) {
        for (std::size_t i = 0; i < starts; ++i)
            if (hay[i] == first && hay[i + n - 1] == last && middleFits(hay + i, needle))
                return true;
        return false;
    }
    const std::uint64_t f = kOnes * static_cast<unsigned char>(first);
    const std::uint64_t l = kOnes * static_cast<unsigned char>(last);
    for (std::size_t i = 0;;) {
        // A zero byte of z is a position where both ends fit.
        const std::uint64_t z = (load(hay + i, 8) ^ f) | (load(hay + i + n - 1, 8) ^ l);
        for (std::uint64_t m = (z - kOnes) & ~z & kHighBits; m; m &= m - 1) {
            // Bytes above the lowest zero may be false hits; middleFits and
            // the end bytes are checked again, so only real ones count.
            const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(m)) >> 3;
            const char* at = hay + i + k;
            if (at[0] == first && at[n - 1] == last && middleFits(at, needle)) return true;
        }
        if (i + 8 >= starts) return false;
        i = nextBlock(i, 8, starts);
    }
}

} // namespace

bool ByteSearcher::occursIn(std::string_view hay) const {
    const std::size_t n = needle_.size();
    if (n == 0 || hay.size() < n) return false;
    // Long parameters go to the C library, whose search stays linear on any
    // input; the short ones that filters use go through the filter below,
    // which is several times faster on address-sized lines.
    if (n > 32) return memmem(hay.data(), hay.size(), needle_.data(), n) != nullptr;
    const char* p = hay.data();
    const std::size_t starts = hay.size() - n + 1;
#if defined(__SSE2__)
    if (starts >= 16) {
        const __m128i f = _mm_set1_epi8(needle_.front());
        const __m128i l = _mm_set1_epi8(needle_.back());
        for (std::size_t i = 0;;) {
            // A set byte marks a start where both end bytes fit.
            const __m128i a = _mm_cmpeq_epi8(f, load16(p + i));
            const __m128i b = _mm_cmpeq_epi8(l, load16(p + i + n - 1));
            for (unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(a, b))); m;
                 m &= m - 1)
                if (middleFits(p + i + static_cast<std::size_t>(__builtin_ctz(m)), needle_))
                    return true;
            if (i + 16 >= starts) return false;
            i = nextBlock(i, 16, starts);
        }
    }
#endif
    return occursSwar(p, starts, needle_);
}

ParameterSearchers::ParameterSearchers(const std::vector<std::string>& rows)
    : hasEmptyRow_(rows.empty()) {
    nonEmpty_.reserve(rows.size());
    for (const auto& row : rows) {
        if (row.empty())
            hasEmptyRow_ = true;
        else
            nonEmpty_.emplace_back(row);
    }
}

bool ParameterSearchers::matches(Rule rule, std::string_view prepared) const {
    // Stopping at the first deciding row gives the same answer as trying
    // every row, since the order of the rows cannot change the result.
    if (rule == Rule::AnyRow) {
        for (const auto& s : nonEmpty_)
            if (s.occursIn(prepared)) return true;
        return false;
    }
    if (hasEmptyRow_) return false; // an empty text occurs in no line
    for (const auto& s : nonEmpty_)
        if (!s.occursIn(prepared)) return false;
    return true;
}

namespace {

// Closes an output after another file failed, so that what was written
// reaches the disk; the first failure is the one the user needs to see.
void closeAfterFailure(listio::TextWriter& w) {
    try {
        w.close();
    } catch (...) {
    }
}

} // namespace

namespace {

// One bit a byte, 64 bytes a word.
using Bits = std::vector<std::uint64_t>;

#if defined(__SSE2__)
inline std::uint64_t bits64(__m128i a, __m128i b, __m128i c, __m128i d) {
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(a))) |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(b))) << 16 |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(c))) << 32 |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(d))) << 48;
}
#endif

// The filter pass over blocks of whole lines. Most lines of a list are
// plain lower-case ASCII: for them the prepared line is the trimmed line as
// it stands in the block, so line ends, at signs, the trimmed ends and the
// places where a parameter may start are found for the whole block at once,
// sixty-four bytes to a word, and each line only looks up its own bits. A
// line with a capital or a byte of 0x80 or more goes the way of a single
// line.
class BlockFilter {
public:
    BlockFilter(Rule rule, const ParameterSearchers& parameters)
        : rule_(rule), rows_(parameters.nonEmptyRows()), hasEmptyRow_(parameters.hasEmptyRow()),
          fits_(rows_.size()) {}

    // Sorts every line of the block: a prepared valid line goes to
    // write(prepared, matches), a line the bits cannot settle to
    // singleLine(raw); an invalid line goes nowhere. Returns the number of
    // lines.
    template <class Line, class Out>
    int64_t run(std::string_view block, Line&& singleLine, Out&& write) {
        mark(block);
        const char* b = block.data();
        const std::size_t n = block.size();
        int64_t lines = 0;
        std::size_t s = 0;
        for (std::size_t w = 0; (w << 6) < n; ++w) {
            for (std::uint64_t x = cr_[w]; x; x &= x - 1) {
                const std::size_t c = (w << 6) + static_cast<std::size_t>(__builtin_ctzll(x));
                line(b, s, c, singleLine, write);
                ++lines;
                s = c + 1;
                if (s < n && b[s] == '\n') ++s;
            }
        }
        return lines;
    }

private:
    // The 64 bits of `m` from byte s on, bit 0 for byte s.
    static std::uint64_t window(const Bits& m, std::size_t s) {
        const std::size_t w = s >> 6, r = s & 63;
        // Shifting in two steps makes r = 0 take nothing from the next word.
        return (m[w] >> r) | ((m[w + 1] << 1) << (63 - r));
    }

    // Bits from..to, both included (from <= to < 64).
    static std::uint64_t span(std::size_t from, std::size_t to) {
        return (~std::uint64_t(0) << from) & (~std::uint64_t(0) >> (63 - to));
    }

    template <class Line, class Out>
    void line(const char* b, std::size_t s, std::size_t c, Line& singleLine, Out& write) {
        // Longer lines are rare and go the single-line way; an address-sized
        // line fits in one window, and each test is a mask with no loop over
        // its bytes.
        if (c - s > 63) {
            singleLine(std::string_view(b + s, c - s));
            return;
        }
        const std::uint64_t text = window(text_, s) & ((std::uint64_t(1) << (c - s)) - 1);
        if (!text) return; // empty once trimmed: invalid
        const std::size_t ts = static_cast<std::size_t>(__builtin_ctzll(text));
        const std::size_t te = 63 - static_cast<std::size_t>(__builtin_clzll(text));
        const std::uint64_t trimmed = span(ts, te);
        if (window(odd_, s) & trimmed) {
            singleLine(std::string_view(b + s, c - s));
            return;
        }
        if (b[s + ts] == '@' || !(window(at_, s) & trimmed)) return; // invalid
        write(std::string_view(b + s + ts, te + 1 - ts), matches(b + s, ts, te, s));
    }

    // True when row k occurs in bytes ts..te of the line at `p`, which
    // starts at s in the block.
    bool occurs(std::size_t k, const char* p, std::size_t ts, std::size_t te,
                     std::size_t s) const {
        const std::string& needle = rows_[k].needle();
        const std::size_t n = needle.size();
        if (te + 1 - ts < n) return false;
        for (std::uint64_t at = window(fits_[k], s) & span(ts, te + 1 - n); at; at &= at - 1) {
            const std::size_t i = static_cast<std::size_t>(__builtin_ctzll(at));
            if (middleFits(p + i, needle)) return true;
        }
        return false;
    }

    bool matches(const char* p, std::size_t ts, std::size_t te, std::size_t s) const {
        if (rule_ == Rule::AnyRow) {
            for (std::size_t k = 0; k < rows_.size(); ++k)
                if (occurs(k, p, ts, te, s)) return true;
            return false;
        }
        if (hasEmptyRow_) return false;
        for (std::size_t k = 0; k < rows_.size(); ++k)
            if (!occurs(k, p, ts, te, s)) return false;
        return true;
    }

    // The bits of a block: CR, at sign, bytes above 0x20, capitals and high
    // bytes, and for each row the places where its first and last bytes fit.
    void mark(std::string_view block) {
        const std::size_t n = block.size();
        const std::size_t words = (n + 63) / 64;
        // Spare words after the block: the last byte of a row is looked up
        // up to a row's length past a place.
        std::size_t spare = 1;
        for (const auto& r : rows_)
            spare = std::max(spare, r.needle().size() / 64 + 2);
        // Every word of the block is written below; only the spare ones
        // need clearing.
        auto size = [&](Bits& m) {
            m.resize(words + spare);
            std::fill(m.begin() + static_cast<std::ptrdiff_t>(words), m.end(), 0);
        };
        for (Bits* m : {&cr_, &at_, &text_, &odd_, &first_, &last_})
            size(*m);
        for (auto& f : fits_)
            size(f);

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
        for (std::size_t k = 0; k < rows_.size(); ++k) {
            const std::string& needle = rows_[k].needle();
            eqBits(first_, block, needle.front());
            eqBits(last_, block, needle.back());
            // A place fits when its byte is the first byte and the byte
            // size - 1 further on is the last.
            const std::size_t q = (needle.size() - 1) >> 6, r = (needle.size() - 1) & 63;
            for (std::size_t w = 0; w < words; ++w) {
                std::uint64_t later = last_[w + q] >> r;
                if (r) later |= last_[w + q + 1] << (64 - r);
                fits_[k][w] = first_[w] & later;
            }
        }
    }

    void markWord(std::size_t w, const char* p) {
#if defined(__SSE2__)
        __m128i x[4];
        for (int i = 0; i < 4; ++i)
            x[i] = load16(p + 16 * i);
        const __m128i crByte = _mm_set1_epi8('\r'), atByte = _mm_set1_epi8('@'),
                      space = _mm_set1_epi8(0x20);
        auto each = [&](auto f) { return bits64(f(x[0]), f(x[1]), f(x[2]), f(x[3])); };
        cr_[w] = each([&](__m128i v) { return _mm_cmpeq_epi8(v, crByte); });
        at_[w] = each([&](__m128i v) { return _mm_cmpeq_epi8(v, atByte); });
        text_[w] = ~each([&](__m128i v) { return _mm_cmpeq_epi8(_mm_min_epu8(v, space), v); });
        odd_[w] = each([&](__m128i v) { return _mm_or_si128(v, capitalBytes(v)); });
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

    static void eqBits(Bits& m, std::string_view block, char byte) {
        const std::size_t n = block.size();
        std::size_t w = 0;
        for (; (w << 6) + 64 <= n; ++w) {
            const char* p = block.data() + (w << 6);
#if defined(__SSE2__)
            const __m128i c = _mm_set1_epi8(byte);
            m[w] = bits64(_mm_cmpeq_epi8(load16(p), c), _mm_cmpeq_epi8(load16(p + 16), c),
                          _mm_cmpeq_epi8(load16(p + 32), c), _mm_cmpeq_epi8(load16(p + 48), c));
#else
            std::uint64_t bits = 0;
            for (std::size_t i = 0; i < 64; ++i)
                bits |= std::uint64_t(p[i] == byte) << i;
            m[w] = bits;
#endif
        }
        // The last, partial word byte by byte; nothing past the block fits.
        std::uint64_t bits = 0;
        for (std::size_t i = w << 6; i < n; ++i)
            bits |= std::uint64_t(block[i] == byte) << (i & 63);
        if ((w << 6) < n) m[w] = bits;
    }

    Rule rule_;
    const std::vector<ByteSearcher>& rows_;
    bool hasEmptyRow_;
    Bits cr_, at_, text_, odd_, first_, last_;
    std::vector<Bits> fits_;
};

} // namespace

FilterCounts filterList(const std::string& input, const std::string& matchingFile,
                        const std::string& restFile, Rule rule,
                        const ParameterSearchers& parameters, const std::function<void()>& opened) {
    FilterCounts counts;
    listio::TextReader in(input);
    listio::TextWriter matching(matchingFile);
    listio::TextWriter rest(restFile);
    if (opened) opened();

    std::string scratch;
    scratch.reserve(256);
    auto write = [&](std::string_view prepared, bool match) {
        if (match) {
            matching.writeLine(prepared);
            ++counts.matching;
        } else {
            rest.writeLine(prepared);
            ++counts.rest;
        }
    };
    // One line the slow way, for what the bits of a block cannot settle.
    auto singleLine = [&](std::string_view raw) {
        // Lower-casing never moves an at sign, so the validity test can run
        // first and spare invalid lines the copy and the searches.
        const std::string_view line = trimControls(raw);
        if (line.empty() || line.front() == '@') return;
        const LineScan scan = scanLine(line.data(), line.size());
        if (!scan.atSign) return;
        const std::string_view prepared = lowered(line, scan, scratch);
        write(prepared, parameters.matches(rule, prepared));
    };
    BlockFilter blocks(rule, parameters);
    try {
        while (!in.atEnd()) {
            const std::string_view lines = in.readLines();
            if (lines.empty()) {
                singleLine(in.readLine()); // a line longer than the buffer
                ++counts.read;
            } else {
                counts.read += blocks.run(lines, singleLine, write);
            }
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
