#pragma once
// Self-add: one typed address appended as a new line at the end of an
// existing list file.
#include <string>
#include <string_view>

namespace vq::maintenance {

// Sample address that pre-fills the input box.
inline constexpr std::string_view kSampleAddress = "someone@example.com";

// Opens fileName with the text-file appender (it must exist; an end-of-file
// mark within its last 128 bytes cuts it), and writes the trimmed text as a
// line. When the remaining file does not end in CR or CR LF, a line end is
// written first so the new address never joins the last one.
void appendAddress(const std::string& fileName, std::string_view text);

} // namespace vq::maintenance
