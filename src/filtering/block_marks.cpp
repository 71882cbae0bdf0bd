#include "filtering/block_marks.h"

#include "filtering/filter_pass.h"
#include "listio/byte_rules.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VQ_WIDE_MARKS 1
#endif

namespace vq::filtering {

namespace {

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

// size bytes from src to dst, where both have at least 64 bytes of room.
inline void copyLine(char* dst, const char* src, std::size_t size) {
#if defined(__SSE2__)
    if (size <= 64) {
        for (int i = 0; i < 4; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * i)));
        return;
    }
#endif
    std::memcpy(dst, src, size);
}

// size bytes from src to dst with A to Z lowered, where both have at least
// 64 bytes of room; for text without bytes of 0x80 or more.
inline void copyLowered(char* dst, const char* src, std::size_t size) {
#if defined(__SSE2__)
    if (size <= 64) {
        for (int i = 0; i < 4; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * i),
                             listio::lowerBytes(
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * i))));
        return;
    }
#endif
    listio::lowerAscii(src, size, dst);
}

} // namespace

class Batch::Impl {
public:
    // Takes the lines of `block`, each ended by a line end of its kind;
    // returns how many there were.
    int64_t fill(std::string_view block, listio::LineEnds ends) {
        mark(block, ends);
        blockSize_ = block.size();
        if (bytes_.size() < block.size() + 64) bytes_.resize(block.size() + 64);
        used_ = 0;
        ends_.clear();
        const char* b = block.data();
        const std::size_t n = block.size();
        int64_t lines = 0;
        std::size_t s = 0;
        for (std::size_t w = 0; (w << 6) < n; ++w) {
            for (std::uint64_t x = endBits_[w]; x; x &= x - 1) {
                const std::size_t c = (w << 6) + static_cast<std::size_t>(__builtin_ctzll(x));
                addMarked(b, s, c);
                ++lines;
                s = c + 1;
                if (b[c] == '\r' && s < n && b[s] == '\n') ++s;
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

    // Decides the lines and gathers them, each followed by `eol`, into the
    // text for the matching file and the text for the other one, so that
    // each file gets one write a block.
    void sort(ContainmentEngine& engine, FilterCounts& counts, std::string_view eol) {
        engine.decide(std::string_view(bytes_.data(), used_), ends_, verdicts_);
        // Every output line is its prepared line with its line end, at most
        // one byte more than in the batch; a short line is copied sixty-four
        // bytes at once.
        for (std::string* out : {&out_[0], &out_[1]})
            if (out->size() < used_ + ends_.size() + 64) out->resize(used_ + ends_.size() + 64);
        if (bytes_.size() < used_ + 64) bytes_.resize(used_ + 64);
        char* to[2] = {out_[0].data(), out_[1].data()};
        const char* b = bytes_.data();
        std::size_t start = 0, matching = 0;
        for (std::size_t i = 0; i < ends_.size(); ++i) {
            const std::size_t size = ends_[i] - start;
            const unsigned v = verdicts_[i] != 0;
            matching += v;
            char* d = to[v];
            copyLine(d, b + start, size);
            d[size] = eol.front();
            d[size + 1] = '\n';
            to[v] = d + size + eol.size();
            start = ends_[i] + 1;
        }
        counts.matching += static_cast<int64_t>(matching);
        counts.rest += static_cast<int64_t>(ends_.size() - matching);
        sorted_[0] =
            std::string_view(out_[0].data(), static_cast<std::size_t>(to[0] - out_[0].data()));
        sorted_[1] =
            std::string_view(out_[1].data(), static_cast<std::size_t>(to[1] - out_[1].data()));
    }
    // The lines of the last sort: 1 for the matching file, 0 for the other.
    std::string_view sorted(bool matching) const { return sorted_[matching ? 1 : 0]; }

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

    // The bits of a block: line ends, at sign, bytes above 0x20, and
    // capitals or high bytes.
    void mark(std::string_view block, listio::LineEnds ends) {
        const std::size_t n = block.size();
        const std::size_t words = (n + 63) / 64;
        for (Bits* m : {&endBits_, &at_, &text_, &odd_}) {
            m->resize(words + 1);
            (*m)[words] = 0; // read by window() past the last line
        }
        alignas(16) char tail[64];
        std::uint64_t crBefore = 0;
        for (std::size_t w = 0; w < words; ++w) {
            const char* p = block.data() + (w << 6);
            if (n - (w << 6) < 64) {
                // The bytes past the block count as zero: no CR, no text.
                std::memset(tail, 0, sizeof tail);
                std::memcpy(tail, p, n - (w << 6));
                p = tail;
            }
            markWord(w, p);
            endBits_[w] = listio::lineEndBits(endBits_[w], lf_, ends, crBefore);
        }
    }

    // endBits_[w] gets the CR bytes, lf_ the LF bytes.
    void markWord(std::size_t w, const char* p) {
#if defined(__SSE2__)
        __m128i x[4];
        for (int i = 0; i < 4; ++i)
            x[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const __m128i crByte = _mm_set1_epi8('\r'), lfByte = _mm_set1_epi8('\n'),
                      atByte = _mm_set1_epi8('@'), space = _mm_set1_epi8(0x20);
        auto each = [&](auto f) { return bits64(f(x[0]), f(x[1]), f(x[2]), f(x[3])); };
        endBits_[w] = each([&](__m128i v) { return _mm_cmpeq_epi8(v, crByte); });
        lf_ = each([&](__m128i v) { return _mm_cmpeq_epi8(v, lfByte); });
        at_[w] = each([&](__m128i v) { return _mm_cmpeq_epi8(v, atByte); });
        text_[w] = ~each([&](__m128i v) { return _mm_cmpeq_epi8(_mm_min_epu8(v, space), v); });
        // High bytes have their top bit set.
        odd_[w] = each([&](__m128i v) { return _mm_or_si128(v, listio::capitalsOf(v)); });
#else
        std::uint64_t cr = 0, lf = 0, at = 0, text = 0, odd = 0;
        for (std::size_t i = 0; i < 64; ++i) {
            const unsigned char c = static_cast<unsigned char>(p[i]);
            const std::uint64_t bit = std::uint64_t(1) << i;
            if (c == '\r') cr |= bit;
            if (c == '\n') lf |= bit;
            if (c == '@') at |= bit;
            if (c > 0x20) text |= bit;
            if (c >= 0x80 || (c >= 'A' && c <= 'Z')) odd |= bit;
        }
        endBits_[w] = cr;
        lf_ = lf;
        at_[w] = at;
        text_[w] = text;
        odd_[w] = odd;
#endif
    }

    Bits endBits_, at_, text_, odd_; // line ends, at signs, text, capitals or high bytes
    std::uint64_t lf_ = 0;           // the LF bytes of the word just marked
    std::vector<char> bytes_;
    std::size_t used_ = 0;
    std::size_t blockSize_ = 0;
    std::vector<std::size_t> ends_;
    std::vector<unsigned char> verdicts_;
    std::string out_[2];
    std::string_view sorted_[2];
};

Batch::Batch() : impl_(std::make_unique<Impl>()) {}
Batch::~Batch() = default;

int64_t Batch::fill(std::string_view block, listio::LineEnds ends) {
    return impl_->fill(block, ends);
}

void Batch::sort(ContainmentEngine& engine, FilterCounts& counts, std::string_view eol) {
    impl_->sort(engine, counts, eol);
}

std::string_view Batch::sorted(bool matching) const {
    return impl_->sorted(matching);
}

class InPlaceSort::Impl {
public:
    // Whether this way takes the rows: at most kFewRows distinct ones, none
    // longer than 64 bytes or starting with an LF, which could be the LF of
    // the CR LF before a line.
    static bool takes(const std::vector<std::string>& rows) {
        std::vector<std::string_view> distinct;
        for (const auto& row : rows) {
            if (row.size() > 64 || (!row.empty() && row.front() == '\n')) return false;
            if (!row.empty() && std::find(distinct.begin(), distinct.end(), row) == distinct.end())
                distinct.push_back(row);
            if (distinct.size() > ContainmentEngine::kFewRows) return false;
        }
        return true;
    }

    // Rows as the rule takes them: duplicates are one row; an empty row (or
    // no rows at all) is one that no line holds.
    // `wide`: marks with 64-byte vectors where the processor has them.
    Impl(Rule rule, const std::vector<std::string>& rows, bool wide)
        : every_(rule == Rule::EveryRow) {
#if defined(VQ_WIDE_MARKS)
        wide_ = wide && __builtin_cpu_supports("avx512bw");
#else
        (void)wide;
#endif
        bool emptyRow = rows.empty();
        for (const auto& row : rows) {
            if (row.empty())
                emptyRow = true;
            else if (std::find(rows_.begin(), rows_.end(), row) == rows_.end())
                rows_.push_back(row);
        }
        never_ = every_ ? emptyRow : rows_.empty();
        plainRows_ = std::none_of(rows_.begin(), rows_.end(), [](const std::string& row) {
            return std::any_of(row.begin(), row.end(),
                               [](char ch) { return static_cast<unsigned char>(ch) <= 0x20; });
        });
        byteIndex('\r'); // kCr
        byteIndex('@');  // kAt
        for (const auto& row : rows_) {
            Places p;
            // No line holds a CR: such a row occurs nowhere; nor, in a list
            // written on Linux, one that holds an LF.
            p.none = row.find('\r') != std::string::npos;
            p.lf = row.find('\n') != std::string::npos;
            // A row of up to four bytes is found exactly by its bytes' bits;
            // a longer one by four of them, then compared.
            const std::size_t n = row.size();
            for (const std::size_t k : std::initializer_list<std::size_t>{0, 1, n - 2, n - 1}) {
                if (k >= n || std::find_if(p.bytes.begin(), p.bytes.end(), [&](const auto& b) {
                                  return b.second == k;
                              }) != p.bytes.end())
                    continue;
                p.bytes.emplace_back(byteIndex(row[k]), k);
            }
            p.compare = n > 4;
            places_.push_back(std::move(p));
        }
        // Last unless a row holds it: a list with CR line ends then needs no
        // marks of its LF bytes.
        lf_ = byteIndex('\n');
        lfOnlyForEnds_ = lf_ + 1 == bytes_.size();
#if defined(__SSE2__)
        for (std::size_t j = 0; j < bytes_.size(); ++j)
            splats_[j] = _mm_set1_epi8(bytes_[j]);
#endif
    }

    // Sorts the lines of `block`, each ended by a line end of its kind, into
    // the text for the matching file and the text for the other one, each
    // line followed by `eol`.
    void sort(std::string_view block, listio::LineEnds kind, std::string_view eol,
              FilterCounts& counts) {
        linux_ = kind == listio::LineEnds::CrOrLf;
        marked_ = bytes_.size() - (!linux_ && lfOnlyForEnds_ ? 1 : 0);
        const char* b = block.data();
        const std::size_t n = block.size();
        // An output line is at most one byte longer than its line with its
        // CR, and a short one is copied sixty-four bytes at once.
        for (std::string& out : out_)
            if (out.size() < 2 * n + 64) out.resize(2 * n + 64);
        char* to[2] = {out_[0].data(), out_[1].data()};
        int64_t lines = 0, matching = 0, written = 0;
        std::size_t start = 0; // where the next line starts
        std::array<Plane, 3 + ContainmentEngine::kFewRows> planes{};
        // A line that needs no other change is copied as it stands, its
        // capitals lowered if it has any.
        auto copyOut = [&](char* d, std::size_t from, std::size_t size, bool capitals) {
            const bool room = from + 64 <= n;
            if (capitals)
                room ? copyLowered(d, b + from, size) : listio::lowerAscii(b + from, size, d);
            else
                room ? copyLine(d, b + from, size) : (void)std::memcpy(d, b + from, size);
        };
        const std::size_t words = (n + 63) / 64;
        std::uint64_t crBefore = 0;
        for (std::size_t first = 0; first < words; first += kChunk) {
            const std::size_t count = std::min(kChunk, words - first);
            // A word's row places need the bits of the word after it.
            markWords(b, n, first, count + 1);
            for (std::size_t r = 0; r < rows_.size(); ++r)
                findStarts(b, n, first, count, r);
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t w = first + i;
                const std::uint64_t ends =
                    listio::lineEndBits(marks_[kCr][i], marks_[lf_][i], kind, crBefore);
                const std::uint64_t withAt = linesHolding(ends, marks_[kAt][i], planes[0]);
                const std::uint64_t withHigh = linesHolding(ends, high_[i], planes[1]);
                const std::uint64_t withCaps = linesHolding(ends, caps_[i], planes[2]);
                std::uint64_t matches = every_ ? ~std::uint64_t(0) : 0;
                for (std::size_t r = 0; r < rows_.size(); ++r) {
                    const std::uint64_t holding = linesHolding(ends, starts_[r][i], planes[3 + r]);
                    matches = every_ ? matches & holding : matches | holding;
                }
                if (never_) matches = 0;
                for (std::uint64_t x = ends; x; x &= x - 1) {
                    const std::uint64_t bit = x & -x;
                    const std::size_t c = (w << 6) + static_cast<std::size_t>(__builtin_ctzll(x));
                    const std::size_t s = start;
                    std::size_t size = c - s;
                    start = c + 1;
                    if (b[c] == '\r' && start < n && b[start] == '\n') ++start;
                    ++lines;
                    if (size == 0) continue; // empty: invalid
                    const auto head = static_cast<unsigned char>(b[s]);
                    const auto tail = static_cast<unsigned char>(b[c - 1]);
                    const char* line = b + s;
                    bool verdict;
                    if ((head <= 0x20 || tail <= 0x20) && !(withHigh & bit) && plainRows_) {
                        // Only blanks to trim: no row can hold one, so the
                        // bits tell for the trimmed line as well.
                        std::size_t e = c;
                        while (e > s && static_cast<unsigned char>(b[e - 1]) <= 0x20)
                            --e;
                        std::size_t t = s;
                        while (t < e && static_cast<unsigned char>(b[t]) <= 0x20)
                            ++t;
                        if (t == e || b[t] == '@' || !(withAt & bit)) continue; // invalid
                        verdict = (matches & bit) != 0;
                        size = e - t;
                        copyOut(to[verdict], t, size, withCaps & bit);
                    } else if ((withHigh & bit) || head <= 0x20 || tail <= 0x20) {
                        const std::string_view prepared =
                            prepareLine(std::string_view(line, size), scratch_);
                        if (!isValidLine(prepared)) continue;
                        verdict = holds(prepared);
                        std::memcpy(to[verdict], prepared.data(), prepared.size());
                        size = prepared.size();
                    } else {
                        if (head == '@' || !(withAt & bit)) continue; // invalid
                        verdict = (matches & bit) != 0;
                        copyOut(to[verdict], s, size, withCaps & bit);
                    }
                    char* d = to[verdict];
                    d[size] = eol.front();
                    d[size + 1] = '\n';
                    to[verdict] = d + size + eol.size();
                    matching += verdict;
                    ++written;
                }
            }
        }
        counts.read += lines;
        counts.matching += matching;
        counts.rest += written - matching;
        for (int i = 0; i < 2; ++i)
            sorted_[i] =
                std::string_view(out_[i].data(), static_cast<std::size_t>(to[i] - out_[i].data()));
    }
    // The lines of the last sort: 1 for the matching file, 0 for the other.
    std::string_view sorted(bool matching) const {
        return sorted_[matching ? 1 : 0];
    }

    // The rule on one prepared line.
    bool holds(std::string_view prepared) const {
        if (never_) return false;
        for (const auto& row : rows_)
            if ((prepared.find(row) != std::string_view::npos) != every_) return !every_;
        return every_;
    }

private:
    static constexpr std::size_t kCr = 0, kAt = 1, kMaxBytes = 3 + 4 * ContainmentEngine::kFewRows;
    static constexpr std::size_t kChunk = 64; // words marked at once

    // Where in the marks the bits of `byte` go.
    std::size_t byteIndex(char byte) {
        const auto at = std::find(bytes_.begin(), bytes_.end(), byte);
        if (at != bytes_.end()) return static_cast<std::size_t>(at - bytes_.begin());
        bytes_.push_back(byte);
        return bytes_.size() - 1;
    }

    // Marks `count` words from word `first` on into marks_ and high_, the
    // bytes' places as they stand once A to Z are lowered; the
    // bytes past the block count as zero, and no line reaches them.
    void markWords(const char* b, std::size_t n, std::size_t first, std::size_t count) {
#if defined(VQ_WIDE_MARKS)
        if (wide_) return markWordsWide(b, n, first, count);
#endif
        alignas(16) char tail[64];
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = (first + i) << 6;
            const char* p = b + at;
            if (at + 64 > n) {
                std::memset(tail, 0, sizeof tail);
                if (at < n) std::memcpy(tail, p, n - at);
                p = tail;
            }
            markWord(p, i);
        }
    }

#if defined(VQ_WIDE_MARKS)
    // The same with one 64-byte vector a word.
    __attribute__((target("avx512bw"))) void markWordsWide(const char* b, std::size_t n,
                                                           std::size_t first, std::size_t count) {
        __m512i splats[kMaxBytes];
        for (std::size_t j = 0; j < bytes_.size(); ++j)
            splats[j] = _mm512_set1_epi8(bytes_[j]);
        const __m512i a = _mm512_set1_epi8('A'), letters = _mm512_set1_epi8(26),
                      caseBit = _mm512_set1_epi8(0x20);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = (first + i) << 6;
            // Bytes past the block are not read, and count as zero.
            const __m512i x =
                at + 64 <= n ? _mm512_loadu_si512(b + at)
                : at < n     ? _mm512_maskz_loadu_epi8(~std::uint64_t(0) >> (64 - (n - at)), b + at)
                             : _mm512_setzero_si512();
            const std::uint64_t caps = _mm512_cmplt_epu8_mask(_mm512_sub_epi8(x, a), letters);
            const __m512i lowered = _mm512_mask_add_epi8(x, caps, x, caseBit);
            for (std::size_t j = 0; j < marked_; ++j)
                marks_[j][i] = _mm512_cmpeq_epi8_mask(lowered, splats[j]);
            high_[i] = _mm512_movepi8_mask(x);
            caps_[i] = caps;
        }
    }
#endif

    void markWord(const char* p, std::size_t i) {
#if defined(__SSE2__)
        const __m128i caseBit = _mm_set1_epi8(0x20);
        __m128i x[4], caps[4];
        for (int k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
            caps[k] = listio::capitalsOf(v);
            x[k] = _mm_or_si128(v, _mm_and_si128(caps[k], caseBit));
        }
        caps_[i] = bits64(caps[0], caps[1], caps[2], caps[3]);
        for (std::size_t j = 0; j < marked_; ++j) {
            const __m128i v = splats_[j];
            marks_[j][i] = bits64(_mm_cmpeq_epi8(x[0], v), _mm_cmpeq_epi8(x[1], v),
                                  _mm_cmpeq_epi8(x[2], v), _mm_cmpeq_epi8(x[3], v));
        }
        // Lowering leaves the top bit alone.
        high_[i] = bits64(x[0], x[1], x[2], x[3]);
#else
        for (std::size_t j = 0; j < marked_; ++j)
            marks_[j][i] = 0;
        high_[i] = caps_[i] = 0;
        for (std::size_t k = 0; k < 64; ++k) {
            const unsigned char c = static_cast<unsigned char>(p[k]);
            const char lowered = listio::lowerByte(p[k]);
            const std::uint64_t bit = std::uint64_t(1) << k;
            for (std::size_t j = 0; j < marked_; ++j)
                if (lowered == bytes_[j]) marks_[j][i] |= bit;
            if (c >= 0x80) high_[i] |= bit;
            if (lowered != p[k]) caps_[i] |= bit;
        }
#endif
    }

    // Carried from word to word: the top bit of the last word's marks and
    // the carry of the last addition.
    struct Plane {
        std::uint64_t top = 0, carry = 0;
    };

    // The line ends in `ends` whose line holds a byte marked in `marks`:
    // those where the nearest mark or line end before them is a mark. A
    // one put just above each mark runs up through the bytes that are
    // neither, and lands on the next mark or line end.
    static std::uint64_t linesHolding(std::uint64_t ends, std::uint64_t marks, Plane& p) {
        const std::uint64_t above = (marks << 1) | p.top;
        const std::uint64_t gaps = ~(ends | marks);
        const unsigned __int128 sum =
            static_cast<unsigned __int128>(above) + gaps + static_cast<unsigned __int128>(p.carry);
        p.top = marks >> 63;
        p.carry = static_cast<std::uint64_t>(sum >> 64);
        return static_cast<std::uint64_t>(sum) & ends;
    }

    // The places where row r starts in the `count` words of the chunk
    // from word `first` on.
    void findStarts(const char* b, std::size_t n, std::size_t first, std::size_t count,
                    std::size_t r) {
        std::uint64_t* starts = starts_[r];
        const Places& p = places_[r];
        const bool none = p.none || (p.lf && linux_);
        std::fill(starts, starts + count, none ? 0 : ~std::uint64_t(0));
        if (none) return;
        for (const auto& [index, k] : p.bytes) { // byte k of the row, k bytes on
            const std::uint64_t* m = marks_[index];
            for (std::size_t i = 0; i < count; ++i)
                starts[i] &= (m[i] >> k) | ((m[i + 1] << 1) << (63 - k));
        }
        if (!p.compare) return;
        const std::string& row = rows_[r];
        for (std::size_t i = 0; i < count; ++i) {
            for (std::uint64_t x = starts[i]; x; x &= x - 1) {
                const std::size_t at =
                    ((first + i) << 6) + static_cast<std::size_t>(__builtin_ctzll(x));
                if (at + row.size() > n || !sameLowered(b + at, row)) starts[i] &= ~(x & -x);
            }
        }
    }

    // Whether `text` with A to Z lowered starts with `row`.
    static bool sameLowered(const char* text, const std::string& row) {
        for (std::size_t k = 0; k < row.size(); ++k)
            if (listio::lowerByte(text[k]) != row[k]) return false;
        return true;
    }

    // How a row's starts are found: which bytes' bits, each k bytes on.
    struct Places {
        std::vector<std::pair<std::size_t, std::size_t>> bytes; // mask index, k
        bool compare = false; // the bits only narrow the places down
        bool none = false;    // the row occurs nowhere
        bool lf = false;      // the row holds an LF, which ends lines in a Linux list
    };

    bool every_;
    bool linux_ = false;        // the block is of a list written on Linux
    std::size_t lf_ = 0;        // where the LF bytes' marks are
    bool lfOnlyForEnds_ = true; // no row holds an LF
    std::size_t marked_ = 0;    // how many of bytes_ are marked in this block
    bool never_ = false;
    bool plainRows_ = true; // no row holds a byte of 0x20 or less
    bool wide_ = false;
    std::vector<std::string> rows_;
    std::vector<char> bytes_; // the bytes whose places are marked
#if defined(__SSE2__)
    __m128i splats_[kMaxBytes]; // each of them sixteen times
#endif
    std::vector<Places> places_;
    std::uint64_t marks_[kMaxBytes][kChunk + 1] = {};           // by byte, then word of the chunk
    std::uint64_t high_[kChunk + 1];                            // bytes of 0x80 or more
    std::uint64_t caps_[kChunk + 1];                            // A to Z
    std::uint64_t starts_[ContainmentEngine::kFewRows][kChunk]; // by row: where it starts
    std::string scratch_;
    std::string out_[2];
    std::string_view sorted_[2];
};

bool InPlaceSort::takes(const std::vector<std::string>& rows) {
    return Impl::takes(rows);
}

InPlaceSort::InPlaceSort(Rule rule, const std::vector<std::string>& rows, bool wide)
    : impl_(std::make_unique<Impl>(rule, rows, wide)) {}
InPlaceSort::~InPlaceSort() = default;

void InPlaceSort::sort(std::string_view block, listio::LineEnds kind, std::string_view eol,
                       FilterCounts& counts) {
    impl_->sort(block, kind, eol, counts);
}

std::string_view InPlaceSort::sorted(bool matching) const {
    return impl_->sorted(matching);
}

bool InPlaceSort::holds(std::string_view prepared) const {
    return impl_->holds(prepared);
}

} // namespace vq::filtering
