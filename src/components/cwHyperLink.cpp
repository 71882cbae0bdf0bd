#include "components/cwHyperLink.h"

#include "platform/ui/codepage.h"
#include "platform/ui/services.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

QColor colorToQColor(TColor color) {
    if (color & 0x80000000u) {
        const QPalette pal = QApplication::palette();
        switch (color & 0xFFu) {
        case 5:
            return pal.color(QPalette::Base); // window background
        case 8:
            return pal.color(QPalette::Text); // window text
        case 13:
            return pal.color(QPalette::Highlight);
        case 15:
            return pal.color(QPalette::Button); // button face
        case 18:
            return pal.color(QPalette::ButtonText);
        default:
            return pal.color(QPalette::Window);
        }
    }
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

TcwHyperLink::TcwHyperLink(QWidget* AOwner) : QWidget(AOwner) {
    FURL = kDefaultURL;
    FCaption = FURL;
    resize(100, 10);
    // The label's own face, not the parent's: later font changes of the
    // parent never reach it.
    FFont = QFont(QStringLiteral("MS Sans Serif"), 8);
    FFont.setBold(true);
    FFont.setUnderline(true);
    FLinkColor = clBlue;
    FFontColor = FLinkColor;
    FColor = clBtnFace;
    setCursor(Qt::PointingHandCursor);
    update();
}

TcwHyperLink::~TcwHyperLink() = default;

void TcwHyperLink::SetURL(const std::string& Value) {
    // The shown text is the caption, so a new address needs no painting.
    if (Value != FURL) FURL = Value;
}

void TcwHyperLink::SetCaption(const std::string& Value) {
    if (Value == FCaption) return;
    FCaption = Value;
    update();
}

void TcwHyperLink::SetColor(TColor Value) {
    if (Value == FColor) return;
    FColor = Value;
    update();
}

void TcwHyperLink::SetFontName(const std::string& Value) {
    if (Value == FFontName) return;
    FFontName = Value;
    FFont.setFamily(vq::platform::fromCodePage(Value));
    update();
}

void TcwHyperLink::SetShowHint(bool Value) {
    FShowHint = Value;
    setToolTip(FShowHint ? FHint : QString());
}

void TcwHyperLink::SetHint(const QString& Value) {
    FHint = Value;
    setToolTip(FShowHint ? FHint : QString());
}

bool TcwHyperLink::event(QEvent* e) {
    if (e->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        // Opens on the press, not the release; what the opener makes of the
        // address is not examined.
        vq::platform::guarded(window(), [this] {
            vq::platform::services().openDocument(window(), QStringLiteral("open"),
                                                  vq::platform::fromCodePage(FURL));
        });
        // The text stays red while the pointer is over it; the new resting
        // colour shows when it leaves.
        FLinkColor = clFuchsia;
    }
    return QWidget::event(e);
}

void TcwHyperLink::paintEvent(QPaintEvent* e) {
    const QString text = vq::platform::fromCodePage(FCaption);
    const QFontMetrics metrics(FFont);
    // The label follows its caption on every paint; a stored size only
    // lasts until the first one.
    const QSize wanted(metrics.horizontalAdvance(text) + 6, metrics.height() + 2);
    if (size() != wanted) resize(wanted);
    QPainter p(this);
    p.fillRect(e->rect(), colorToQColor(FColor));
    p.setFont(FFont);
    p.setPen(colorToQColor(FFontColor));
    p.drawText(3, 1 + metrics.ascent(), text);
}

void TcwHyperLink::enterEvent(QEnterEvent* e) {
    FFontColor = clRed;
    update();
    QWidget::enterEvent(e);
}

void TcwHyperLink::leaveEvent(QEvent* e) {
    FFontColor = FLinkColor;
    update();
    QWidget::leaveEvent(e);
}
