#include "filtering/filter_pass.h"

#include "listio/listio.h"

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
    try {
        while (!in.atEnd()) {
            const std::string_view raw = in.readLine();
            ++counts.read;
            // Lower-casing never moves an at sign, so the validity test can
            // run first and spare invalid lines the copy and the searches.
            const std::string_view line = trimControls(raw);
            if (line.empty() || line.front() == '@') continue;
            const LineScan scan = scanLine(line.data(), line.size());
            if (!scan.atSign) continue;
            const std::string_view prepared = lowered(line, scan, scratch);
            if (parameters.matches(rule, prepared)) {
                matching.writeLine(prepared);
                ++counts.matching;
            } else {
                rest.writeLine(prepared);
                ++counts.rest;
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
