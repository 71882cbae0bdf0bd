#include "checking/ui/Unit3.h"

#include "components/design_fonts.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

// The design's outer size, frame and title bar included.
constexpr int kOuterWidth = 305, kOuterHeight = 76;
// What a sizeable frame and a title bar take of it on the design's desktop.
constexpr int kFrameWidth = 8, kFrameHeight = 27;

} // namespace

TForm3::TForm3(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("正在校验网址/邮址列表..."));
    resize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        QRect avail = s->availableGeometry();
        move(avail.center() - QPoint(kOuterWidth / 2, kOuterHeight / 2));
    }

    Label1 = new QLabel(QStringLiteral("0"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(0, 16, 185, 17);
    vq::components::showAsRunningCount(Label1);

    Button1 = new QPushButton(QStringLiteral("终 止"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(208, 8, 57, 33);
    QFont song = vq::components::songFont(13);
    song.setBold(true);
    song.setItalic(true);
    Button1->setFont(song);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

TForm3::~TForm3() = default;

void TForm3::Button1Click() {
    if (stopButton) stopButton->Click();
}
