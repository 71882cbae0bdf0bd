#pragma once
// Turning typed text into a 32-bit integer the way the program has always
// read numbers: leading spaces, then either an optional sign and decimal
// digits, or hexadecimal digits after "$", "x" or "0x" (either case).
#include <cstdint>
#include <optional>
#include <string_view>

namespace vq {

// The value, or nullopt when the text does not follow the syntax or does not
// fit in 32 bits. Hexadecimal text is a 32-bit pattern, so "$FFFFFFFF" is -1.
std::optional<int32_t> tryStrToInt(std::string_view text);

// As above, but a refused text throws EConvertError
// "'<text>' is not a valid integer value".
int32_t strToInt(std::string_view text);

} // namespace vq
