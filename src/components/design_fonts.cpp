#include "components/design_fonts.h"

#include "platform/ui/fixed_colours.h"

#include <QLabel>
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

void showAsRunningCount(QLabel* label) {
    label->setAlignment(Qt::AlignCenter);
    QFont font = arialFont(13);
    font.setBold(true);
    label->setFont(font);
    platform::setTextOnFixedFace(label, QColor(0, 0, 255));
}

} // namespace vq::components
