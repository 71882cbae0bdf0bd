#pragma once
// Turns what an access mode did into a short word, so tables of cases can
// state the expected result in one column.
#include "listio/errors.h"

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

} // namespace vqtest
