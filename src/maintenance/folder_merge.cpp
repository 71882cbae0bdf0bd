#include "maintenance/folder_merge.h"

#include "listio/listio.h"
#include "platform/folder_search.h"

namespace vq::maintenance {

int64_t FolderMerger::run(const std::string& folder, const std::string& output) {
    listio::TextWriter out(output);
    // The output is known by the file it is, so that spelled through "..", a
    // linked folder or another hard link it is still never read as a list.
    const listio::FileIdentity outputFile = out.identity();
    lines_ = 0;
    platform::FolderSearch search; // ended on every way out, failures included
    platform::FolderEntry entry;
    try {
        for (bool found = search.findFirst(folder + "/*.txt", entry); found;
             found = search.findNext(entry)) {
            if (entry.attributes == platform::attr::Directory) continue;
            std::string fullName = folder;
            if (fullName.empty() || fullName.back() != '/') fullName += '/';
            fullName += entry.name;
            if (listio::identityOf(fullName) == outputFile) continue;
            listio::TextReader in(fullName);
            const int64_t before = lines_;
            listio::LineCopy how;
            how.lowerCase = true;
            how.progress = [&](int64_t copied) {
                lines_ = before + copied;
                if (progress) progress(lines_);
            };
            in.copyLinesTo(out, how);
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
