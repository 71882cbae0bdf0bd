#include "maintenance/folder_merge.h"

#include "listio/listio.h"
#include "platform/folder_search.h"

namespace vq::maintenance {

void lowerAscii(std::string_view in, std::string& out) {
    out.resize(in.size());
    const char* src = in.data();
    char* dst = out.data();
    for (std::size_t i = 0, n = in.size(); i < n; ++i) {
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
    for (bool found = search.findFirst(folder + "/*.txt", entry); found;
         found = search.findNext(entry)) {
        if (entry.attributes == platform::attr::Directory) continue;
        // The separator is added even after a root folder; such a doubled
        // name no longer equals the output's and the sharing rule refuses it.
        std::string fullName = folder + "/" + entry.name;
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
    search.close();
    out.close();
    return lines_;
}

} // namespace vq::maintenance
