#include "listio/byte_rules.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VQ_WIDE_SCANS 1
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

namespace {

// The 16-byte kernel for the masks, and where the processor has them, one
// with 64-byte vectors.
struct NarrowMasks {
    void operator()(const char* p, std::size_t n, std::uint64_t& cr, std::uint64_t& lf) const {
        endMasks(p, n, cr, lf);
    }
    void copy32(char* d, const char* p) const {
#if defined(__SSE2__)
        for (int k = 0; k < 2; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * k),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k)));
#else
        std::memcpy(d, p, 32);
#endif
    }
};

#if defined(VQ_WIDE_SCANS)
struct WideMasks {
    __attribute__((target("avx512bw"))) void
    operator()(const char* p, std::size_t n, std::uint64_t& cr, std::uint64_t& lf) const {
        // Bytes past the end are not read, and count as neither.
        const __m512i x = n >= 64 ? _mm512_loadu_si512(p)
                                  : _mm512_maskz_loadu_epi8(~std::uint64_t(0) >> (64 - n), p);
        cr = _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8('\r'));
        lf = _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8('\n'));
    }
    __attribute__((target("avx512bw"))) void copy32(char* d, const char* p) const {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
};
#endif

template <class Masks>
[[gnu::always_inline]] inline int64_t countLineEndsWith(Masks masks, const char* p, std::size_t n,
                                                        LineEnds ends) {
    int64_t count = 0;
    std::uint64_t crBefore = 0;
    for (std::size_t at = 0; at < n; at += 64) {
        std::uint64_t cr, lf;
        masks(p + at, n - at, cr, lf);
        count += __builtin_popcountll(lineEndBits(cr, lf, ends, crBefore));
    }
    return count;
}

template <class Masks>
[[gnu::always_inline]] inline LineConversion
convertLinesWith(Masks masks, const char* p, std::size_t n, LineEnds ends, std::string_view eol,
                 int64_t room, char* dst) {
    // Kept in locals: the stores through dst could otherwise alias them.
    const char eolFirst = eol.front();
    const std::size_t eolSize = eol.size();
    char* d = dst;
    int64_t lines = 0;
    std::size_t s = 0; // where the next line starts
    std::uint64_t crBefore = 0;
    bool crLast = false;
    for (std::size_t at = 0; at < n; at += 64) {
        std::uint64_t cr, lf;
        masks(p + at, n - at, cr, lf);
        std::uint64_t x = lineEndBits(cr, lf, ends, crBefore);
        if (cr == 0 && at + 128 <= n && room - lines > 64) {
            // Most words of a Linux list: LF ends alone, and every line
            // short enough to copy thirty-two bytes at once, with room in
            // the block behind it.
            for (; x; x &= x - 1) {
                const std::size_t e = at + static_cast<std::size_t>(__builtin_ctzll(x));
                const std::size_t size = e - s;
                if (size > 32) break;
                masks.copy32(d, p + s);
                d[size] = eolFirst;
                d[size + 1] = '\n';
                d += size + eolSize;
                s = e + 1;
                ++lines;
            }
        }
        for (; x; x &= x - 1) {
            const std::size_t e = at + static_cast<std::size_t>(__builtin_ctzll(x));
            const std::size_t size = e - s;
#if defined(__SSE2__)
            // A short line is copied thirty-two or sixty-four bytes at once;
            // what lands past it is overwritten by what comes next.
            if (size <= 64 && s + 64 <= n) {
                for (int k = 0, pieces = size <= 32 ? 2 : 4; k < pieces; ++k)
                    _mm_storeu_si128(
                        reinterpret_cast<__m128i*>(d + 16 * k),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + s + 16 * k)));
            } else
#endif
                std::memcpy(d, p + s, size);
            d[size] = eolFirst;
            d[size + 1] = '\n';
            d += size + eolSize;
            s = e + 1;
            if (p[e] == '\r') {
                if (s == n)
                    crLast = true;
                else if (p[s] == '\n')
                    ++s;
            }
            if (++lines == room) {
                LineConversion c;
                c.consumed = s;
                c.written = static_cast<std::size_t>(d - dst);
                c.lines = lines;
                c.crLast = crLast;
                return c;
            }
        }
    }
    std::memcpy(d, p + s, n - s);
    LineConversion c;
    c.written = static_cast<std::size_t>(d - dst) + (n - s);
    c.consumed = n;
    c.lines = lines;
    c.open = n > s;
    c.crLast = crLast && s == n;
    return c;
}

#if defined(VQ_WIDE_SCANS)
__attribute__((target("avx512bw"))) int64_t countLineEndsWide(const char* p, std::size_t n,
                                                              LineEnds ends) {
    return countLineEndsWith(WideMasks{}, p, n, ends);
}
__attribute__((target("avx512bw"))) LineConversion convertLinesWide(const char* p, std::size_t n,
                                                                    LineEnds ends,
                                                                    std::string_view eol,
                                                                    int64_t room, char* dst) {
    return convertLinesWith(WideMasks{}, p, n, ends, eol, room, dst);
}
#endif

bool& wideAllowed() {
    static bool allowed = true;
    return allowed;
}

bool wideScans() {
#if defined(VQ_WIDE_SCANS)
    static const bool have = __builtin_cpu_supports("avx512bw");
    return have && wideAllowed();
#else
    return false;
#endif
}

} // namespace

void allowWideScans(bool allowed) {
    wideAllowed() = allowed;
}

int64_t countLineEnds(const char* p, std::size_t n, LineEnds ends) {
    if (ends != LineEnds::CrOrLf) return countCr(p, n);
#if defined(VQ_WIDE_SCANS)
    if (wideScans()) return countLineEndsWide(p, n, ends);
#endif
    return countLineEndsWith(NarrowMasks{}, p, n, ends);
}

LineConversion convertLines(const char* p, std::size_t n, LineEnds ends, std::string_view eol,
                            int64_t room, char* dst) {
#if defined(VQ_WIDE_SCANS)
    if (wideScans()) return convertLinesWide(p, n, ends, eol, room, dst);
#endif
    return convertLinesWith(NarrowMasks{}, p, n, ends, eol, room, dst);
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
