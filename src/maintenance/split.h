#pragma once
// The splitter: counts a list, then copies it into numbered files of a fixed
// number of lines each (base name + index + ".txt").
#include <cstdint>
#include <string>
#include <string_view>

namespace vq::maintenance {

inline constexpr std::string_view kDefaultSplitSize = "1000";
inline constexpr std::string_view kDefaultSplitBase = "qx@mail";

// "<base><index>.txt", the index in decimal without leading zeros.
std::string numberedFileName(std::string_view base, int64_t index);

// The typed size text as a number of lines per file. Text that is no integer
// throws EConvertError; a size below 1 would write empty files without end,
// so it throws vq::Exception naming the typed text.
int32_t splitSizeFromText(std::string_view text);

// The splitting pass: file k gets input lines (k-1)*size+1 .. k*size. At
// least one file is always written, and no empty extra file when the count
// divides evenly. Stops after lineCount lines (the count of the first pass).
// Returns the number of numbered files written.
int64_t splitFile(const std::string& input, int64_t lineCount, int32_t size,
                  std::string_view baseName);

} // namespace vq::maintenance
