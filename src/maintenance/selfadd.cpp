#include "maintenance/selfadd.h"

#include "listio/byte_rules.h"
#include "listio/listio.h"

namespace vq::maintenance {

void appendAddress(const std::string& fileName, std::string_view text) {
    listio::TextAppender out(fileName);
    // Without this the new address would continue the last one and both
    // would be lost as addresses.
    if (out.endsInsideLine()) out.writeLine({});
    out.writeLine(listio::trimControls(text));
    out.close();
}

} // namespace vq::maintenance
