#include "filtering/subtract.h"

#include "filtering/rule.h"
#include "listio/errors.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <tsl/robin_set.h>

namespace vq::filtering {

bool isSuppressed(std::string_view prepared, const std::vector<std::string>& suppressionLines) {
    if (prepared.empty()) return false;
    std::string scratch;
    for (const std::string& line : suppressionLines)
        if (prepareLine(line, scratch) == prepared) return true;
    return false;
}

namespace {

// Blocks are this large unless a line needs more; a key is the block's
// number above 32 bits and the offset within it below.
constexpr std::size_t kBlockBytes = std::size_t(1) << 20;
constexpr unsigned kOffsetBits = 32;

std::size_t hashBytes(std::string_view bytes) {
    return std::hash<std::string_view>{}(bytes);
}

// LEB128: seven bits a byte, the high bit set on all but the last.
std::size_t lengthBytes(std::size_t n) {
    std::size_t bytes = 1;
    while (n >= 0x80) {
        n >>= 7;
        ++bytes;
    }
    return bytes;
}

} // namespace

// Keys are compared through the lines they lead to; every key in the index
// leads to a different line, so two keys are equal only when they are one.
struct PreparedLineSet::Index {
    struct Hash {
        using is_transparent = void;
        const PreparedLineSet* set;
        std::size_t operator()(std::string_view line) const { return hashBytes(line); }
        std::size_t operator()(uint64_t key) const { return hashBytes(set->at(key)); }
    };
    struct Equal {
        using is_transparent = void;
        const PreparedLineSet* set;
        bool operator()(uint64_t a, uint64_t b) const { return a == b; }
        bool operator()(uint64_t key, std::string_view line) const { return set->at(key) == line; }
        bool operator()(std::string_view line, uint64_t key) const { return set->at(key) == line; }
    };
    // The stored hash lets a rebuild move every key without reading its line.
    using Set = tsl::robin_set<uint64_t, Hash, Equal, std::allocator<uint64_t>, true>;

    explicit Index(const PreparedLineSet* owner) : keys(0, Hash{owner}, Equal{owner}) {}
    Set keys;
};

PreparedLineSet::PreparedLineSet() : index_(std::make_unique<Index>(this)) {}
PreparedLineSet::~PreparedLineSet() = default;

std::string_view PreparedLineSet::at(uint64_t key) const {
    const unsigned char* p =
        reinterpret_cast<const unsigned char*>(blocks_[key >> kOffsetBits].get()) +
        (key & ((uint64_t(1) << kOffsetBits) - 1));
    std::size_t n = 0;
    for (unsigned shift = 0;; shift += 7) {
        const unsigned char b = *p++;
        n |= std::size_t(b & 0x7F) << shift;
        if (b < 0x80) break;
    }
    return {reinterpret_cast<const char*>(p), n};
}

uint64_t PreparedLineSet::append(std::string_view line) {
    const std::size_t need = lengthBytes(line.size()) + line.size();
    if (blocks_.empty() || blockSizes_.back() - used_ < need) {
        const std::size_t size = std::max(kBlockBytes, need);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        blockSizes_.push_back(size);
        used_ = 0;
    }
    const uint64_t key = (uint64_t(blocks_.size() - 1) << kOffsetBits) | used_;
    unsigned char* p = reinterpret_cast<unsigned char*>(blocks_.back().get()) + used_;
    for (std::size_t n = line.size();; n >>= 7) {
        *p++ = static_cast<unsigned char>((n & 0x7F) | (n >= 0x80 ? 0x80 : 0));
        if (n < 0x80) break;
    }
    std::memcpy(p, line.data(), line.size());
    used_ += need;
    return key;
}

bool PreparedLineSet::insert(std::string_view line) {
    if (line.empty() || contains(line)) return false;
    index_->keys.insert(append(line));
    return true;
}

bool PreparedLineSet::contains(std::string_view line) const {
    return !line.empty() && index_->keys.find(line) != index_->keys.end();
}

void PreparedLineSet::reserve(std::size_t moreLines) {
    index_->keys.reserve(index_->keys.size() + moreLines);
}

std::size_t PreparedLineSet::size() const {
    return index_->keys.size();
}

std::size_t PreparedLineSet::memoryBytes() const {
    std::size_t bytes = index_->keys.bucket_count() * sizeof(uint64_t) * 2;
    for (std::size_t s : blockSizes_)
        bytes += s;
    return bytes;
}

int64_t addSuppressionFile(PreparedLineSet& set, const std::string& fileName,
                           std::size_t readBuffer) {
    listio::TextReader in(fileName, readBuffer);
    // Counted first, so that the index is sized once for the whole file.
    set.reserve(static_cast<std::size_t>(listio::countLines(fileName)));
    std::string scratch;
    int64_t lines = 0;
    while (!in.atEnd()) {
        const std::string_view prepared = prepareLine(in.readLine(), scratch);
        ++lines;
        if (isValidLine(prepared)) set.insert(prepared);
    }
    in.close();
    return lines;
}

namespace {

// Closes an output after another file failed, so that what was written
// reaches the disk; the first failure is the one the user needs to see.
void closeAfterFailure(std::optional<listio::TextWriter>& w) {
    if (!w) return;
    try {
        w->close();
    } catch (...) {
    }
}

} // namespace

SubtractCounts subtractLists(const std::string& input,
                             const std::vector<std::string>& suppressionFiles,
                             const std::string& keptFile, const std::string& removedFile,
                             const std::function<void()>& opened, std::size_t readBuffer) {
    listio::TextReader in(input, readBuffer);
    std::vector<listio::FileIdentity> inputs;
    if (auto id = listio::identityOf(input)) inputs.push_back(*id);
    PreparedLineSet set;
    for (const std::string& file : suppressionFiles) {
        addSuppressionFile(set, file, readBuffer);
        if (auto id = listio::identityOf(file)) inputs.push_back(*id);
    }
    // The suppression files are closed by now, so the sharing rule alone
    // would let an output empty one of them: refuse that, and an output that
    // is the list or the other output, before any output exists.
    const std::optional<listio::FileIdentity> keptId = listio::identityOf(keptFile),
                                              removedId = listio::identityOf(removedFile);
    for (const auto& [name, id] :
         {std::pair{&keptFile, keptId}, std::pair{&removedFile, removedId}})
        if (id && std::find(inputs.begin(), inputs.end(), *id) != inputs.end())
            throw EInOutError(iocode::SharingViolation, *name);
    if (keptId && keptId == removedId) throw EInOutError(iocode::SharingViolation, removedFile);

    SubtractCounts counts;
    std::optional<listio::TextWriter> kept, removed;
    try {
        kept.emplace(keptFile);
        removed.emplace(removedFile);
        if (opened) opened();
        std::string scratch;
        while (!in.atEnd()) {
            const std::string_view raw = in.readLine();
            ++counts.read;
            const std::string_view prepared = prepareLine(raw, scratch);
            if (!isValidLine(prepared)) continue;
            if (set.contains(prepared)) {
                removed->writeLine(raw);
                ++counts.removed;
            } else {
                kept->writeLine(raw);
                ++counts.kept;
            }
        }
        in.close();
        kept->close();
        removed->close();
    } catch (...) {
        closeAfterFailure(kept);
        closeAfterFailure(removed);
        throw;
    }
    return counts;
}

} // namespace vq::filtering
