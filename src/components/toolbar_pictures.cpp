#include "components/toolbar_pictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace vq::components {

namespace {

// A sheet of paper with ruled lines: the list file every command works on.
void drawSheet(QPainter& p, QRectF r, QColor edge) {
    p.setPen(QPen(edge, 1));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.setPen(QPen(QColor(0, 0, 160), 1));
    for (qreal y = r.top() + 4; y < r.bottom() - 2; y += 4)
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
}

void drawArrow(QPainter& p, QPointF from, QPointF to, QColor c) {
    p.setPen(QPen(c, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    QLineF l(to, from);
    QLineF a = l;
    a.setLength(6);
    a.setAngle(l.angle() + 30);
    QLineF b = l;
    b.setLength(6);
    b.setAngle(l.angle() - 30);
    p.drawLine(a);
    p.drawLine(b);
}

void drawLetter(QPainter& p, QRectF r, const QString& s, QColor c) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(int(r.height()));
    f.setBold(true);
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, s);
}

} // namespace

QPixmap toolbarPicture(ToolPicture which) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor green(0, 128, 0), red(192, 0, 0), blue(0, 0, 192), dark(64, 64, 64);
    switch (which) {
    case ToolPicture::AutoMerge:
        drawSheet(p, {2, 2, 12, 14}, dark);
        drawSheet(p, {2, 16, 12, 14}, dark);
        drawSheet(p, {19, 8, 12, 18}, dark);
        drawArrow(p, {13, 9}, {19, 15}, green);
        drawArrow(p, {13, 23}, {19, 19}, green);
        break;
    case ToolPicture::AutoSplit:
        drawSheet(p, {2, 7, 12, 18}, dark);
        drawSheet(p, {19, 2, 12, 13}, dark);
        drawSheet(p, {19, 17, 12, 13}, dark);
        drawArrow(p, {13, 14}, {19, 8}, QColor(200, 120, 0));
        drawArrow(p, {13, 18}, {19, 24}, QColor(200, 120, 0));
        break;
    case ToolPicture::CheckDuplicates: {
        drawSheet(p, {3, 2, 20, 27}, dark);
        p.setPen(QPen(green, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath tick;
        tick.moveTo(14, 20);
        tick.lineTo(20, 27);
        tick.lineTo(30, 11);
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
        break;
    }
    case ToolPicture::OrFilter:
    case ToolPicture::AndFilter: {
        QPainterPath funnel;
        funnel.moveTo(2, 4);
        funnel.lineTo(30, 4);
        funnel.lineTo(19, 17);
        funnel.lineTo(19, 28);
        funnel.lineTo(13, 24);
        funnel.lineTo(13, 17);
        funnel.closeSubpath();
        p.setPen(QPen(dark, 1));
        p.setBrush(which == ToolPicture::OrFilter ? QColor(90, 160, 255) : QColor(255, 170, 60));
        p.drawPath(funnel);
        drawLetter(p, {0, 0, 32, 13},
                   which == ToolPicture::OrFilter ? QStringLiteral("|") : QStringLiteral("&"),
                   which == ToolPicture::OrFilter ? blue : red);
        break;
    }
    case ToolPicture::Help:
        p.setPen(QPen(dark, 1));
        p.setBrush(QColor(255, 240, 120));
        p.drawEllipse(QRectF(2, 2, 28, 28));
        drawLetter(p, {2, 4, 28, 24}, QStringLiteral("?"), blue);
        break;
    case ToolPicture::Update:
        p.setPen(QPen(dark, 1));
        p.setBrush(QColor(120, 200, 255));
        p.drawEllipse(QRectF(2, 2, 28, 28));
        drawArrow(p, {16, 6}, {16, 26}, green);
        break;
    }
    return pm;
}

QIcon programIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // An envelope with a check mark: mail lists, cleaned.
    p.setPen(QPen(QColor(40, 40, 90), 1.2));
    p.setBrush(QColor(250, 250, 235));
    p.drawRect(QRectF(2, 7, 28, 19));
    p.drawLine(QPointF(2, 7), QPointF(16, 18));
    p.drawLine(QPointF(30, 7), QPointF(16, 18));
    p.setPen(QPen(QColor(0, 150, 0), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(14, 24), QPointF(19, 29));
    p.drawLine(QPointF(19, 29), QPointF(30, 14));
    p.end();
    QIcon icon;
    icon.addPixmap(pm);
    return icon;
}

} // namespace vq::components
