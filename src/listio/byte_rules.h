#pragma once
// The byte rules of the commands: trimming, ASCII lower-casing (also outside
// double-byte characters) and line-end scanning. Lines are bytes; nothing
// here decodes them.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vq::listio {

// Removes every byte of value 0x20 or less from both ends.
inline std::string_view trimControls(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20)
        --end;
    return text.substr(begin, end - begin);
}

// The byte with A-Z turned into a-z.
inline char lowerByte(char c) {
    return static_cast<unsigned char>(c - 'A') < 26 ? static_cast<char>(c + 32) : c;
}

#if defined(__SSE2__)
// 0xFF in each byte of v that is A-Z: only those land below -128 + 26 once
// shifted by 0x80 - 'A'.
inline __m128i capitalsOf(__m128i v) {
    return _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - 'A'))),
                          _mm_set1_epi8(static_cast<char>(-128 + 26)));
}
// v with A-Z turned into a-z.
inline __m128i lowerBytes(__m128i v) {
    return _mm_or_si128(v, _mm_and_si128(capitalsOf(v), _mm_set1_epi8(0x20)));
}
#endif

// dst[i] = src[i] with the bytes A-Z turned into a-z; dst may be src.
void lowerAscii(const char* src, std::size_t n, char* dst);

// Lead bytes of a double-byte character in code page 936.
inline bool isLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// A-Z turned into a-z except where the byte trails a double-byte character,
// which keeps its code: the pairing starts afresh at src[0]. dst may be src.
void lowerOutsideDoubleBytes(const char* src, std::size_t n, char* dst);

// What one look at a run of bytes tells; inline, as the filters ask it of
// every line.
struct ByteScan {
    bool capitals = false; // holds an ASCII capital letter
    bool high = false;     // holds a byte of 0x80 or more
    bool atSign = false;   // holds an at sign somewhere
};
inline ByteScan scanBytes(const char* p, std::size_t n) {
    ByteScan scan;
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n >= 16) {
        const __m128i at = _mm_set1_epi8('@');
        __m128i caps = _mm_setzero_si128(), all = _mm_setzero_si128(), ats = _mm_setzero_si128();
        // The last block may overlap the one before: each byte's verdict
        // depends on that byte alone.
        for (;; i = i + 32 <= n ? i + 16 : n - 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            caps = _mm_or_si128(caps, capitalsOf(x));
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
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        scan.capitals |= static_cast<unsigned char>(c - 'A') < 26;
        scan.high |= c >= 0x80;
        scan.atSign |= c == '@';
    }
    return scan;
}

// ---- line ends --------------------------------------------------------
//
// The end-of-file mark: for the text-file reader a list's data ends at its
// first one.
inline constexpr char kEndOfFileMark = 0x1A;

// How the lines of a list end. A list is decided by its first line end, the
// first CR or LF before the end-of-file mark: when that is a lone LF (a list
// written on Linux), LF, CR LF and a lone CR all end lines, CR LF being one
// line end and LF CR two; every other list ends its lines at CR or CR LF
// only, and an LF is data of its line. Both kinds read alike up to the
// first line end, so a reader decides while it streams.
enum class LineEnds : unsigned char {
    Undecided, // no CR or LF met yet
    Cr,        // CR or CR LF ends a line; LF is data
    CrOrLf,    // a Linux list: LF ends a line as well
};

// The kind that a first line end of byte `end` (CR or LF) decides.
inline LineEnds decidedBy(char end) {
    return end == '\n' ? LineEnds::CrOrLf : LineEnds::Cr;
}

// The rule itself, plainly, on a whole file's bytes: the lines the text-file
// reader yields. Every way of cutting lines is tested against this one.
std::vector<std::string_view> listLines(std::string_view bytes);

// Where the first line end of [p, p + n) is, n when it holds none: the first
// CR, or in a Linux list and while undecided the first CR or LF.
std::size_t findLineEnd(const char* p, std::size_t n, LineEnds ends);
// Where the last line end of [p, p + n) is, by the same bytes; n when none.
std::size_t findLastLineEnd(const char* p, std::size_t n, LineEnds ends);

// The line ends of 64 bytes from the masks of their CR and LF bytes (bit i
// for byte i): every CR, and in a Linux list every LF that does not follow
// a CR. `crBefore` is 1 when the byte before them is a CR that ends a line,
// and gets the same for the next 64 bytes.
inline std::uint64_t lineEndBits(std::uint64_t cr, std::uint64_t lf, LineEnds ends,
                                 std::uint64_t& crBefore) {
    const std::uint64_t afterCr = (cr << 1) | crBefore;
    crBefore = cr >> 63;
    return ends == LineEnds::CrOrLf ? cr | (lf & ~afterCr) : cr;
}

// The line ends in [p, p + n) of a list of kind `ends` (decided); p starts
// a line, or follows a byte that is no CR.
int64_t countLineEnds(const char* p, std::size_t n, LineEnds ends);

// Copies the lines of [p, p + n) of a list of kind `ends` (decided) to dst,
// each line end written as `eol`, and stops after `room` lines; a line that
// does not end in the block is copied without a line end. dst has room for
// 2 n + 64 bytes. p starts a line, or follows a byte that is no CR.
struct LineConversion {
    std::size_t consumed = 0; // bytes of p taken
    std::size_t written = 0;  // bytes put in dst
    int64_t lines = 0;        // line ends met
    bool open = false;        // the last bytes taken are a line without its end
    bool crLast = false;      // the last byte taken is a CR whose LF may follow it
};
LineConversion convertLines(const char* p, std::size_t n, LineEnds ends, std::string_view eol,
                            int64_t room, char* dst);

// countLineEnds and convertLines use 64-byte vectors where the processor
// has them; tests turn that off to run the 16-byte kernels too.
void allowWideScans(bool allowed);

// Where a block of a text file's bytes may be copied as they stand.
struct BlockScan {
    std::size_t take = 0; // bytes to copy unchanged
    bool loneCr = false;  // the last of them is a CR whose LF is missing
};

// Scans [p, p + n) up to the first lone CR - a CR not followed by LF; a CR
// in the last byte counts, since its LF may come with the next fill - or
// up to the LF that completes the `room`-th CR LF pair, whichever is first.
// Adds the CR LF pairs passed to `crs`.
BlockScan scanBlock(const char* p, std::size_t n, int64_t room, int64_t& crs);

// The same for a Linux list written with LF line ends: scans up to the
// first CR, or through the LF that ends the `room`-th line, whichever is
// first; adds the lines passed to `lfs`. `loneCr` is never set: a CR is
// for convertLines.
BlockScan scanLfBlock(const char* p, std::size_t n, int64_t room, int64_t& lfs);

// The number of CR bytes in [p, p + n): the lines a block ends.
int64_t countCr(const char* p, std::size_t n);

} // namespace vq::listio
