#include "maintenance/merge.h"

namespace vq::maintenance {

void mergeFiles(listio::TextReader& a, listio::TextReader& b, const std::string& out) {
    listio::TextWriter writer(out);
    a.copyLinesTo(writer);
    b.copyLinesTo(writer);
    writer.close();
    b.close();
    a.close();
}

void mergeFiles(const std::string& a, const std::string& b, const std::string& out) {
    listio::TextReader readerA(a);
    listio::TextReader readerB(b);
    mergeFiles(readerA, readerB, out);
}

} // namespace vq::maintenance
