#include "listio/byte_rules.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vq::listio {

void lowerAscii(const char* src, std::size_t n, char* dst) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                         lowerBytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i))));
#endif
    for (; i < n; ++i)
        dst[i] = lowerByte(src[i]);
}

void lowerOutsideDoubleBytes(const char* src, std::size_t n, char* dst) {
    // A lead byte followed by a byte that cannot trail changes nothing by
    // being skipped with it, as such a byte is neither a letter nor a lead
    // byte.
    std::size_t i = 0;
    while (i < n) {
        const char c = src[i];
        if (isLeadByte(static_cast<unsigned char>(c)) && i + 1 < n) {
            dst[i] = c;
            dst[i + 1] = src[i + 1];
            i += 2;
        } else {
            dst[i] = lowerByte(c);
            ++i;
        }
    }
}

BlockScan scanBlock(const char* p, std::size_t n, int64_t room, int64_t& crs) {
    std::size_t i = 0;
    int64_t counted = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: a CR in byte j is fine when byte j + 1 is LF.
    // CRs are counted in byte-wide lanes, summed at most every 255 steps so
    // that no lane overflows. A step holding a lone CR is left to the byte
    // loop below, which counts the CRs before it. A step holds at most eight
    // pairs, so the steps of one round cannot reach `room`: the pair that
    // does is always found by the byte loop.
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), zero = _mm_setzero_si128();
    bool lone = false;
    while (!lone && n - i >= 17) {
        const std::size_t steps = static_cast<std::size_t>(std::min<int64_t>(
            {static_cast<int64_t>((n - i - 1) / 16), 255, (room - counted - 1) / 8}));
        if (steps == 0) break;
        __m128i lanes = zero;
        for (std::size_t k = 0; k < steps; ++k, i += 16) {
            const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
            const __m128i isCr = _mm_cmpeq_epi8(here, cr);
            if (_mm_movemask_epi8(_mm_andnot_si128(_mm_cmpeq_epi8(next, lf), isCr)) != 0) {
                lone = true;
                break;
            }
            lanes = _mm_sub_epi8(lanes, isCr);
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        counted += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
    }
#endif
    BlockScan scan{n, false};
    for (; i < n; ++i) {
        if (p[i] != '\r') continue;
        if (i + 1 == n || p[i + 1] != '\n') {
            scan = {i + 1, true};
            break;
        }
        if (++counted == room) {
            scan.take = i + 2;
            break;
        }
    }
    crs += counted;
    return scan;
}

std::vector<std::string_view> listLines(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find(kEndOfFileMark));
    const std::size_t first = bytes.find_first_of("\r\n");
    const bool linuxList = first != std::string_view::npos && bytes[first] == '\n';
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = linuxList ? bytes.find_first_of("\r\n", pos) : bytes.find('\r', pos);
        if (end == std::string_view::npos) end = bytes.size();
        lines.push_back(bytes.substr(pos, end - pos));
        pos = end + 1;
        if (end < bytes.size() && bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n')
            ++pos;
    }
    return lines;
}

namespace {

#if defined(__SSE2__)
inline unsigned endBytes16(const char* p) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
        _mm_cmpeq_epi8(x, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(x, _mm_set1_epi8('\n')))));
}
#endif

// The masks of the CR and LF bytes of 64 bytes at p, all readable.
inline void endMasks(const char* p, std::uint64_t& cr, std::uint64_t& lf) {
#if defined(__SSE2__)
    const __m128i crByte = _mm_set1_epi8('\r'), lfByte = _mm_set1_epi8('\n');
    cr = lf = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        cr |= static_cast<std::uint64_t>(
                  static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, crByte))))
              << (16 * k);
        lf |= static_cast<std::uint64_t>(
                  static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, lfByte))))
              << (16 * k);
    }
#else
    cr = lf = 0;
    for (int i = 0; i < 64; ++i) {
        cr |= std::uint64_t(p[i] == '\r') << i;
        lf |= std::uint64_t(p[i] == '\n') << i;
    }
#endif
}

// The same for the 64 bytes from p on of which only n are there; the rest
// count as neither.
inline void endMasks(const char* p, std::size_t n, std::uint64_t& cr, std::uint64_t& lf) {
    if (n >= 64) return endMasks(p, cr, lf);
    char tail[64] = {};
    std::memcpy(tail, p, n);
    endMasks(tail, cr, lf);
}

} // namespace

std::size_t findLineEnd(const char* p, std::size_t n, LineEnds ends) {
    if (ends == LineEnds::Cr) {
        const void* cr = std::memchr(p, '\r', n);
        return cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - p) : n;
    }
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n >= 16) {
        // The last load may overlap the one before: its earlier bytes are
        // known to be neither CR nor LF.
        for (;; i = i + 32 <= n ? i + 16 : n - 16) {
            if (const unsigned m = endBytes16(p + i))
                return i + static_cast<unsigned>(__builtin_ctz(m));
            if (i + 16 >= n) return n;
        }
    }
#endif
    for (; i < n; ++i)
        if (p[i] == '\r' || p[i] == '\n') return i;
    return n;
}

std::size_t findLastLineEnd(const char* p, std::size_t n, LineEnds ends) {
    if (ends == LineEnds::Cr) {
        const void* cr = ::memrchr(p, '\r', n);
        return cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - p) : n;
    }
#if defined(__SSE2__)
    if (n >= 16) {
        for (std::size_t i = n - 16;; i = i >= 16 ? i - 16 : 0) {
            if (const unsigned m = endBytes16(p + i))
                return i + 31 - static_cast<unsigned>(__builtin_clz(m));
            if (i == 0) return n;
        }
    }
#endif
    for (std::size_t i = n; i-- > 0;)
        if (p[i] == '\r' || p[i] == '\n') return i;
    return n;
}

int64_t countLineEnds(const char* p, std::size_t n, LineEnds ends) {
    if (ends != LineEnds::CrOrLf) return countCr(p, n);
    int64_t count = 0;
    std::uint64_t crBefore = 0;
    for (std::size_t at = 0; at < n; at += 64) {
        std::uint64_t cr, lf;
        endMasks(p + at, n - at, cr, lf);
        count += __builtin_popcountll(lineEndBits(cr, lf, ends, crBefore));
    }
    return count;
}

LineConversion convertLines(const char* p, std::size_t n, LineEnds ends, std::string_view eol,
                            int64_t room, char* dst) {
    LineConversion c;
    std::size_t s = 0; // where the next line starts
    std::uint64_t crBefore = 0;
    for (std::size_t at = 0; at < n; at += 64) {
        std::uint64_t cr, lf;
        endMasks(p + at, n - at, cr, lf);
        for (std::uint64_t x = lineEndBits(cr, lf, ends, crBefore); x; x &= x - 1) {
            const std::size_t e = at + static_cast<std::size_t>(__builtin_ctzll(x));
            char* d = dst + c.written;
#if defined(__SSE2__)
            // A short line is copied sixty-four bytes at once; what lands past
            // it is overwritten by what comes next.
            if (e - s <= 64 && s + 64 <= n) {
                for (int k = 0; k < 4; ++k)
                    _mm_storeu_si128(
                        reinterpret_cast<__m128i*>(d + 16 * k),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + s + 16 * k)));
            } else
#endif
                std::memcpy(d, p + s, e - s);
            d[e - s] = eol.front();
            d[e - s + 1] = '\n';
            c.written += e - s + eol.size();
            s = e + 1;
            if (p[e] == '\r') {
                if (s == n)
                    c.crLast = true;
                else if (p[s] == '\n')
                    ++s;
            }
            if (++c.lines == room) {
                c.consumed = s;
                return c;
            }
        }
    }
    std::memcpy(dst + c.written, p + s, n - s);
    c.written += n - s;
    c.consumed = n;
    c.open = n > s;
    c.crLast = c.crLast && s == n;
    return c;
}

BlockScan scanLfBlock(const char* p, std::size_t n, int64_t room, int64_t& lfs) {
    std::size_t at = 0;
    int64_t counted = 0;
    BlockScan scan{n, false};
    for (; at < n; at += 64) {
        std::uint64_t cr, lf;
        endMasks(p + at, n - at, cr, lf);
        // Only the LFs before the first CR count.
        const std::uint64_t before = cr ? (cr & -cr) - 1 : ~std::uint64_t(0);
        const std::uint64_t ends = lf & before;
        const int here = __builtin_popcountll(ends);
        if (counted + here >= room) {
            // The room-th line ends in these bytes: at the (room - counted)-th LF.
            std::uint64_t x = ends;
            for (int64_t k = room - counted; k > 1; --k)
                x &= x - 1;
            scan.take = at + static_cast<std::size_t>(__builtin_ctzll(x)) + 1;
            counted = room;
            break;
        }
        counted += here;
        if (cr) {
            scan.take = at + static_cast<std::size_t>(__builtin_ctzll(cr));
            break;
        }
    }
    lfs += counted;
    return scan;
}

// The number of CR bytes in [p, p + n).
int64_t countCr(const char* p, std::size_t n) {
    int64_t count = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r'), zero = _mm_setzero_si128();
    while (n - i >= 16) {
        const std::size_t steps = std::min<std::size_t>((n - i) / 16, 255);
        __m128i lanes = zero;
        for (std::size_t k = 0; k < steps; ++k, i += 16)
            lanes = _mm_sub_epi8(
                lanes,
                _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), cr));
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
    }
#endif
    for (; i < n; ++i)
        count += p[i] == '\r';
    return count;
}

} // namespace vq::listio
