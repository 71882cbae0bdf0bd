// The splitter's integer conversion against the syntax written out digit
// string by digit string, and the refusal texts the user sees.
#include "fuzz_util.h"
#include "listio/errors.h"
#include "maintenance/int_conv.h"
#include "maintenance/split.h"
#include "naive.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<int32_t> expected = naive::toInt(text);
    FUZZ_CHECK(vq::tryStrToInt(text) == expected);

    try {
        const int32_t v = vq::strToInt(text);
        FUZZ_CHECK(expected && v == *expected);
    } catch (const vq::EConvertError& e) {
        FUZZ_CHECK(!expected);
        FUZZ_CHECK(e.message() == "'" + std::string(text) + "' is not a valid integer value");
    }

    // A split size must be a whole number of lines per file.
    try {
        const int32_t lines = vq::maintenance::splitSizeFromText(text);
        FUZZ_CHECK(expected && *expected >= 1 && lines == *expected);
    } catch (const vq::EConvertError&) {
        FUZZ_CHECK(!expected);
    } catch (const vq::Exception&) {
        FUZZ_CHECK(expected && *expected < 1);
    }
    return 0;
}
