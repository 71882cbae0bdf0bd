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
