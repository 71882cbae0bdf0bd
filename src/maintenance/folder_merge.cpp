#include "maintenance/folder_merge.h"

#include "listio/listio.h"
#include "platform/folder_search.h"

#include <cstdint>
#include <cstring>

namespace vq::maintenance {

void lowerAscii(std::string_view in, std::string& out) {
    out.resize(in.size());
    const char* src = in.data();
    char* dst = out.data();
    const std::size_t n = in.size();
    std::size_t i = 0;
    // Eight bytes at a time: a byte's high bit in `upper` is set exactly when
    // the byte lies in 'A'..'Z', and adding 0x20 there cannot carry into its
    // neighbour. A per-byte loop was the largest cost of a big merge.
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHigh = 0x8080808080808080u;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, src + i, 8);
        const uint64_t low7 = w & ~kHigh;
        const uint64_t atLeastA = low7 + (0x80 - 'A') * kOnes;
        const uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * kOnes;
        const uint64_t upper = (atLeastA ^ aboveZ) & ~w & kHigh;
        w += upper >> 2;
        std::memcpy(dst + i, &w, 8);
    }
    for (; i < n; ++i) {
        char c = src[i];
        dst[i] = static_cast<unsigned char>(c - 'A') < 26 ? static_cast<char>(c + 32) : c;
    }
}

int64_t FolderMerger::run(const std::string& folder, const std::string& output) {
    listio::TextWriter out(output);
    lines_ = 0;
    platform::FolderSearch search; // ended on every way out, failures included
    platform::FolderEntry entry;
    std::string line;
    try {
        for (bool found = search.findFirst(folder + "/*.txt", entry); found;
             found = search.findNext(entry)) {
            if (entry.attributes == platform::attr::Directory) continue;
            // No second separator after the root folder: "//all.txt" would
            // not equal the output's "/all.txt", and the merge would stop
            // on its own output with I/O error 32 instead of skipping it.
            std::string fullName = folder;
            if (fullName.empty() || fullName.back() != '/') fullName += '/';
            fullName += entry.name;
            if (fullName == output) continue;
            listio::TextReader in(fullName);
            while (!in.atEnd()) {
                lowerAscii(in.readLine(), line);
                out.writeLine(line);
                ++lines_;
                if (onLine) onLine(lines_);
            }
            in.close();
        }
    } catch (...) {
        // An input that cannot be opened or read ends the merge, but the lines
        // merged before it are counted and must be in the output; without this
        // the writer would drop its buffer, often the whole merge. When the
        // output itself failed, it is already closed and this close refuses.
        try {
            out.close();
        } catch (...) {
        }
        throw;
    }
    search.close();
    out.close();
    return lines_;
}

} // namespace vq::maintenance
