#include "components/design_fonts.h"

#include <QStringList>

namespace vq::components {

namespace {

QFont fontOf(QStringList families, int px) {
    QFont f;
    f.setFamilies(families);
    f.setPixelSize(px);
    return f;
}

} // namespace

QFont formFont() {
    return fontOf({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")},
                  11);
}

QFont songFont(int px) {
    return fontOf(
        {QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei")},
        px);
}

QFont arialFont(int px) {
    return fontOf(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")},
        px);
}

} // namespace vq::components
