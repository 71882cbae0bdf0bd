#include "maintenance/split.h"

#include "listio/errors.h"
#include "listio/listio.h"
#include "maintenance/int_conv.h"

#include <stdexcept>

namespace vq::maintenance {

int64_t countLines(const std::string& fileName) {
    listio::TextReader in(fileName);
    int64_t count = 0;
    while (!in.atEnd()) {
        in.readLine();
        ++count;
    }
    in.close();
    return count;
}

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
                        "' 不是有效的分割列表基准数，每个分割文件至少须有 1 行");
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
        for (int64_t position = 1; position <= size && written < lineCount; ++position) {
            // The list may have shrunk since it was counted; copying on
            // would invent empty lines, so the data's end stops the pass.
            if (in.atEnd()) break;
            out.writeLine(in.readLine());
            ++written;
        }
        out.close();
        ++index;
        if (written < lineCount && in.atEnd()) break;
    } while (written < lineCount);
    in.close();
    return index - 1;
}

} // namespace vq::maintenance
