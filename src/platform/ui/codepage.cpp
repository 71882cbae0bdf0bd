#include "platform/ui/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace vq::platform {

namespace {

constexpr const char* kCodePage = "GBK";
constexpr auto kStateless = QStringConverter::Flag::Stateless;

// One byte or one double-byte character on its own; empty when the bytes
// are no character of the code page.
QString decodeOne(const char* bytes, qsizetype size) {
    QStringDecoder dec(kCodePage, kStateless);
    QString s = dec(QByteArrayView(bytes, size));
    if (dec.hasError() || s.isEmpty() || s.contains(QChar::ReplacementCharacter)) return {};
    return s;
}

} // namespace

std::string toCodePage(const QString& text) {
    // Characters the code page lacks become '?', as the platform's own
    // conversion does.
    QStringEncoder enc(kCodePage, kStateless);
    if (!enc.isValid()) return text.toStdString();
    QByteArray bytes = enc(text);
    return bytes.toStdString();
}

QString fromCodePage(const std::string& bytes) {
    QStringDecoder dec(kCodePage, kStateless);
    if (!dec.isValid()) return QString::fromStdString(bytes);
    QString whole = dec(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!dec.hasError()) return whole;

    // The converter drops bytes next to an invalid sequence (a lone lead byte
    // swallows the byte after it, a trailing one vanishes), so such text is
    // decoded one character at a time and every bad byte shows as U+FFFD.
    QString out;
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out += QChar(c);
            ++i;
            continue;
        }
        if (c >= 0x81 && c <= 0xFE && i + 1 < n) {
            const auto t = static_cast<unsigned char>(bytes[i + 1]);
            if (t >= 0x40 && t != 0x7F && t != 0xFF) {
                if (QString s = decodeOne(bytes.data() + i, 2); !s.isEmpty()) {
                    out += s;
                    i += 2;
                    continue;
                }
            }
        }
        const QString s = decodeOne(bytes.data() + i, 1);
        out += s.isEmpty() ? QString(QChar::ReplacementCharacter) : s;
        ++i;
    }
    return out;
}

} // namespace vq::platform
