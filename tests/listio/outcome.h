#pragma once
// Turns what an access mode did into a short word, so tables of cases can
// state the expected result in one column; and compares long byte strings
// without letting a failure print a diff of megabytes.
#include "listio/errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

namespace vqtest {

// "ok", "io <code>", or the text of a whole-file error.
inline std::string outcome(const std::function<void()>& action) {
    try {
        action();
        return "ok";
    } catch (const vq::EInOutError& e) {
        return "io " + std::to_string(e.code());
    } catch (const vq::Exception& e) {
        return e.message();
    }
}

// Names the first differing offset instead of diffing the texts, which for
// large texts takes more memory than the machine has.
inline ::testing::AssertionResult sameBytes(const std::string& actual,
                                            const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    std::size_t at = static_cast<std::size_t>(diff.first - actual.begin());
    return ::testing::AssertionFailure()
           << "sizes " << actual.size() << " and " << expected.size() << ", first difference at "
           << at << ": " << ::testing::PrintToString(actual.substr(at, 20)) << " instead of "
           << ::testing::PrintToString(expected.substr(at, 20));
}

} // namespace vqtest
