#pragma once
// Deliberately plain references for the fuzz targets: each walks the bytes
// one at a time, straight from the rules of the list files and the
// commands, with none of the buffering, block scans or hashing of the real
// code. A target fails when the real code and its reference disagree.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace naive {

constexpr char CR = '\r', LF = '\n', NUL = '\0', MARK = 0x1A;

// Whether the first CR or LF before the first end-of-file mark is an LF.
inline bool writtenOnLinux(std::string_view file) {
    for (const char c : file) {
        if (c == MARK || c == CR) return false;
        if (c == LF) return true;
    }
    return false;
}

// Text-file reader: the data ends at the first end-of-file mark. The first
// CR or LF of the data decides the list: when it is an LF (a list written on
// Linux), a line ends at CR or at LF; otherwise at CR alone, and LF is data.
// An LF right after a CR belongs to that line end.
inline std::vector<std::string> readerLines(std::string_view file) {
    std::string_view data = file;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (file[i] == MARK) {
            data = file.substr(0, i);
            break;
        }
    }
    const bool linuxList = writtenOnLinux(data);
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < data.size()) { // "at end" is false while a byte is left
        std::string line;
        while (pos < data.size() && data[pos] != CR && !(linuxList && data[pos] == LF))
            line += data[pos++];
        if (pos < data.size()) { // stopped at a line end
            const bool cr = data[pos] == CR;
            ++pos;
            if (cr && pos < data.size() && data[pos] == LF) ++pos;
        }
        lines.push_back(line);
    }
    return lines;
}

// Every line followed by `eol`: what the writer makes of a list of lines.
inline std::string joinLines(const std::vector<std::string>& lines, std::string_view eol) {
    std::string out;
    for (const auto& l : lines) {
        out += l;
        out += eol;
    }
    return out;
}

inline std::string joinCrLf(const std::vector<std::string>& lines) {
    return joinLines(lines, "\r\n");
}

// Whole-file loader: the text ends at the first NUL; CR LF, lone CR and lone
// LF each end one line; a line end at the very end adds no empty line.
inline std::vector<std::string> loaderLines(std::string_view file) {
    std::string_view text = file;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (file[i] == NUL) {
            text = file.substr(0, i);
            break;
        }
    }
    std::vector<std::string> lines;
    std::string current;
    bool pending = false; // bytes (or an empty line) since the last line end
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == CR || c == LF) {
            lines.push_back(current);
            current.clear();
            pending = false;
            if (c == CR && i + 1 < text.size() && text[i + 1] == LF) ++i;
        } else {
            current += c;
            pending = true;
        }
    }
    if (pending) lines.push_back(current);
    return lines;
}

// The file as the appender leaves it before its first line: a mark within
// the last 128 bytes cuts the file at the first such mark.
inline std::string preparedForAppend(std::string_view file) {
    std::size_t windowStart = file.size() > 128 ? file.size() - 128 : 0;
    for (std::size_t i = windowStart; i < file.size(); ++i)
        if (file[i] == MARK) return std::string(file.substr(0, i));
    return std::string(file);
}

inline bool isControlOrSpace(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

inline std::string trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isControlOrSpace(s[b]))
        ++b;
    while (e > b && isControlOrSpace(s[e - 1]))
        --e;
    return std::string(s.substr(b, e - b));
}

// Code page 936: a lead byte 0x81-0xFE and a trail byte 0x40-0x7E or
// 0x80-0xFE make one double-byte character, whose bytes never change.
inline bool isLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}
inline bool isTrail(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

// Every byte A-Z as a-z, nothing else changed: the folder merge's rule.
inline std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

// The prepared line of the filters: trimmed, then every ASCII capital that
// is not part of a double-byte character lower-cased.
inline std::string preparedLine(std::string_view raw) {
    std::string t = trim(raw);
    std::string out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(t[i]);
        if (isLead(c) && i + 1 < t.size() && isTrail(static_cast<unsigned char>(t[i + 1]))) {
            out += t[i];
            out += t[i + 1];
            ++i;
        } else if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c + 32);
        } else {
            out += t[i];
        }
    }
    return out;
}

// An address holds an at sign that is not its first byte.
inline bool isValid(std::string_view prepared) {
    for (std::size_t i = 1; i < prepared.size(); ++i)
        if (prepared[i] == '@') return prepared[0] != '@';
    return false;
}

// Containment, position by position; an empty text occurs nowhere.
inline bool occurs(std::string_view needle, std::string_view hay) {
    if (needle.empty()) return false;
    for (std::size_t start = 0; start + needle.size() <= hay.size(); ++start) {
        bool all = true;
        for (std::size_t k = 0; k < needle.size(); ++k)
            if (hay[start + k] != needle[k]) all = false;
        if (all) return true;
    }
    return false;
}

// OR rule: some non-empty row occurs. Every row is tried.
inline bool orRule(const std::vector<std::string>& rows, std::string_view line) {
    bool match = false;
    for (const auto& r : rows)
        if (!r.empty() && occurs(r, line)) match = true;
    return match;
}

// AND rule: a row-failed flag set by every row that does not occur.
inline bool andRule(const std::vector<std::string>& rows, std::string_view line) {
    bool failed = false;
    for (const auto& r : rows)
        if (!occurs(r, line)) failed = true;
    return !failed;
}

// Suppression: a prepared line goes when some line of the suppression lists
// prepares to the same bytes; an empty line never goes.
inline bool suppressed(std::string_view prepared, const std::vector<std::string>& suppression) {
    if (prepared.empty()) return false;
    for (const auto& line : suppression)
        if (preparedLine(line) == prepared) return true;
    return false;
}

// De-duplication by the rules: each line compared with every kept row in
// order, the first occurrence kept.
inline std::vector<std::string> keepFirst(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const auto& line : lines) {
        bool seen = false;
        for (const auto& k : kept) {
            if (k.size() == line.size()) {
                bool same = true;
                for (std::size_t i = 0; i < k.size(); ++i)
                    if (k[i] != line[i]) same = false;
                if (same) {
                    seen = true;
                    break;
                }
            }
        }
        if (!seen) kept.push_back(line);
    }
    return kept;
}

// The integer syntax of typed numbers: leading spaces, then an optional sign
// and decimal digits, or hexadecimal digits after "$", "x", "0x" (any case);
// nothing after the digits; the value must fit in 32 bits (hexadecimal as a
// 32-bit pattern).
inline std::optional<int32_t> toInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::string_view s = text.substr(i);
    auto isDec = [](char c) { return c >= '0' && c <= '9'; };
    auto isHex = [&](char c) {
        return isDec(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    std::string_view hex;
    bool isHexText = false;
    if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
        hex = s.substr(1);
        isHexText = true;
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        hex = s.substr(2);
        isHexText = true;
    }
    if (isHexText) {
        if (hex.empty()) return std::nullopt;
        for (char c : hex)
            if (!isHex(c)) return std::nullopt;
        while (hex.size() > 1 && hex[0] == '0')
            hex.remove_prefix(1);
        if (hex.size() > 8) return std::nullopt;
        uint32_t v = 0;
        for (char c : hex) {
            int d = isDec(c) ? c - '0' : (c | 0x20) - 'a' + 10;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        return static_cast<int32_t>(v);
    }
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;
    for (char c : s)
        if (!isDec(c)) return std::nullopt;
    while (s.size() > 1 && s[0] == '0')
        s.remove_prefix(1);
    // Compare as digit strings: more digits than the limit, or the same
    // number of digits and a larger string, does not fit.
    std::string_view limit = negative ? "2147483648" : "2147483647";
    if (s.size() > limit.size() || (s.size() == limit.size() && s > limit)) return std::nullopt;
    int64_t v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return static_cast<int32_t>(negative ? -v : v);
}

} // namespace naive
