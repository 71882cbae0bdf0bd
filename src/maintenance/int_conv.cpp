#include "maintenance/int_conv.h"

#include "listio/errors.h"

#include <string>

namespace vq {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<int32_t> tryStrToInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::string_view rest = text.substr(i);
    if (rest.empty()) return std::nullopt;

    std::size_t hexStart = 0;
    if (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')
        hexStart = 1;
    else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X'))
        hexStart = 2;

    if (hexStart != 0) {
        std::string_view digits = rest.substr(hexStart);
        if (digits.empty()) return std::nullopt;
        uint64_t value = 0;
        for (char c : digits) {
            int d = hexDigit(c);
            if (d < 0) return std::nullopt;
            value = value * 16 + static_cast<uint64_t>(d);
            if (value > 0xFFFFFFFFu) return std::nullopt;
        }
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }

    bool negative = false;
    if (rest[0] == '+' || rest[0] == '-') {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }
    if (rest.empty()) return std::nullopt;
    // Accumulate the magnitude in 64 bits and stop as soon as it leaves the
    // 32-bit range, so any number of digits is safe.
    const uint64_t limit = negative ? 2147483648u : 2147483647u;
    uint64_t value = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > limit) return std::nullopt;
    }
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(value))
                    : static_cast<int32_t>(value);
}

int32_t strToInt(std::string_view text) {
    if (auto v = tryStrToInt(text)) return *v;
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

} // namespace vq
