#include "maintenance/split.h"

#include "listio/errors.h"
#include "listio/listio.h"
#include "maintenance/int_conv.h"

#include <algorithm>
#include <stdexcept>

namespace vq::maintenance {

std::string numberedFileName(std::string_view base, int64_t index) {
    std::string name(base);
    name += std::to_string(index);
    name += ".txt";
    return name;
}

int32_t splitSizeFromText(std::string_view text) {
    int32_t size = strToInt(text);
    if (size < 1)
        throw Exception("'" + std::string(text) +
                        "' 不是有效的分割列表基准数，每个分割文件至少须有 1 行!");
    return size;
}

int64_t splitFile(const std::string& input, int64_t lineCount, int32_t size,
                  std::string_view baseName) {
    if (size < 1) throw std::invalid_argument("split size below 1");
    listio::TextReader in(input);
    int64_t index = 1;
    int64_t written = 0;
    do {
        listio::TextWriter out(numberedFileName(baseName, index));
        const int64_t want = std::min<int64_t>(size, lineCount - written);
        // The list may have shrunk since it was counted; copying on would
        // invent empty lines, so the data's end stops the pass.
        listio::LineCopy how;
        how.maxLines = want;
        const int64_t got = in.copyLinesTo(out, how);
        written += got;
        out.close();
        ++index;
        if (got < want || (written < lineCount && in.atEnd())) break;
    } while (written < lineCount);
    in.close();
    return index - 1;
}

} // namespace vq::maintenance
