#include "components/gauge.h"

#include <QPainter>

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Gauge1"));
}

void TGauge::setMaxValue(int64_t v) {
    max_ = v;
    setProgress(progress_);
}

void TGauge::setProgress(int64_t v) {
    if (v < min_) v = min_;
    if (v > max_) v = max_;
    if (v == progress_) return;
    int before = percentDone();
    progress_ = v;
    // Only a change of the shown percentage is worth a repaint; a long list
    // moves the bar thousands of times per percent.
    if (percentDone() != before) update();
}

int TGauge::percentDone() const {
    int64_t span = max_ - min_;
    if (span <= 0) return 0;
    // 64-bit: progress x 100 overflows 32 bits past 21 million lines.
    return static_cast<int>((progress_ - min_) * 100 / span);
}

QString TGauge::text() const {
    return QStringLiteral("%1%").arg(percentDone());
}

void TGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect r = rect();
    p.fillRect(r, palette().color(QPalette::Button));
    QRect inner = r.adjusted(1, 1, -1, -1);
    int filled = inner.width() * percentDone() / 100;
    QRect bar(inner.left(), inner.top(), filled, inner.height());
    p.fillRect(bar, QColor(0, 0, 128)); // navy
    p.setPen(Qt::black);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    // The text reads white over the bar and in the palette's button text over
    // the rest, which has the palette's button face.
    p.setClipRect(inner.adjusted(filled, 0, 0, 0));
    p.setPen(palette().color(QPalette::ButtonText));
    p.drawText(inner, Qt::AlignCenter, text());
    p.setClipRect(bar);
    p.setPen(Qt::white);
    p.drawText(inner, Qt::AlignCenter, text());
}
